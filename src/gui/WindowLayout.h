#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

namespace orolith {

namespace layout {
// The front panel's width: its groups, the rows under them and the log.
inline constexpr int FrontPanelWidth = 810;
// The window as it opens where the screen has room: the map and 3D view beside the front panel.
inline constexpr int PreviewWidth = 560;
inline constexpr int WindowHeight = 817;
// The front panel from top to bottom: the groups, the download label, the DEM file's row and
// the data root's row, then the log, and the status row at the bottom.
inline constexpr int LogTop = 318;
inline constexpr int MinLogHeight = 100;
inline constexpr int StatusRowHeight = 25;
inline constexpr int RowGap = 6;
inline constexpr int BottomMargin = 8;
// Below this height the front panel scrolls rather than squeeze its log.
inline constexpr int MinFrontHeight =
    LogTop + MinLogHeight + RowGap + StatusRowHeight + BottomMargin;
// Narrower than this, the map and the 3D view would show nothing useful; the front panel
// scrolls sideways instead.
inline constexpr int MinPreviewWidth = 120;
inline constexpr QSize MinWindow{MinPreviewWidth + 280, 240};
}  // namespace layout

// Where the window's parts go for a client area: the front panel in the area that scrolls it,
// at the left; the map and the 3D view beside it, with all the width left.
struct WindowLayout {
  QRect Front;
  // The front panel itself: its width always, and the height the window gives it, but never
  // less than it needs.
  QSize FrontPanel;
  QRect Preview;
};

// scrollBarExtent: the width of a vertical scroll bar, which the front panel's area gets
// beside the panel when the window is too short for it.
WindowLayout ArrangeWindow(QSize client, int scrollBarExtent);

// The rows of a front panel of height that grow with it: the log, and the status row under it.
struct FrontPanelRows {
  QRect Log;
  QRect Status;
};
FrontPanelRows ArrangeFrontPanel(int height);

// A window of client size preferred placed in the screen's free area available, its frame
// (margins around the client area) included: the frame's top left corner (where QWidget::move
// puts it) and the client size, shrunk to fit.
QRect FittedWindow(QSize preferred, const QRect& available, const QMargins& frame);

}  // namespace orolith
