#include "gui/WindowLayout.h"

#include <algorithm>

namespace orolith {

WindowLayout ArrangeWindow(QSize client, int scrollBarExtent) {
  using namespace layout;
  const int width = std::max(client.width(), 0);
  const int height = std::max(client.height(), 0);
  const int room = std::max(width - MinPreviewWidth, 0);
  // A horizontal scroll bar takes height from the panel, which may then need a vertical one.
  bool down = height < MinFrontHeight;
  bool across = FrontPanelWidth + (down ? scrollBarExtent : 0) > room;
  if (across && !down && height - scrollBarExtent < MinFrontHeight) {
    down = true;
  }
  const int frontWidth = std::min(FrontPanelWidth + (down ? scrollBarExtent : 0), room);
  WindowLayout arranged;
  arranged.Front = QRect(0, 0, frontWidth, height);
  arranged.FrontPanel =
      QSize(FrontPanelWidth, std::max(height - (across ? scrollBarExtent : 0), MinFrontHeight));
  arranged.Preview = QRect(frontWidth, 0, width - frontWidth, height);
  return arranged;
}

FrontPanelRows ArrangeFrontPanel(int height) {
  using namespace layout;
  const int statusTop = std::max(height, MinFrontHeight) - BottomMargin - StatusRowHeight;
  return {QRect(8, LogTop, FrontPanelWidth - 16, statusTop - RowGap - LogTop),
          QRect(8, statusTop, FrontPanelWidth - 16, StatusRowHeight)};
}

QRect FittedWindow(QSize preferred, const QRect& available, const QMargins& frame) {
  const QSize room(available.width() - frame.left() - frame.right(),
                   available.height() - frame.top() - frame.bottom());
  return {available.topLeft(), preferred.boundedTo(room).expandedTo(layout::MinWindow)};
}

}  // namespace orolith
