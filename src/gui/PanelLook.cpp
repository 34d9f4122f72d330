#include "gui/PanelLook.h"

#include <qdrawutil.h>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

namespace orolith {

void TGroupBox::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QFontMetrics metrics(font());
  const QRect titleRect(6, 0, metrics.horizontalAdvance(title()) + 2, metrics.height());
  painter.save();
  painter.setClipRegion(QRegion(rect()).subtracted(QRegion(titleRect)));
  // An etched line, as classic group boxes have.
  qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1);
  painter.restore();
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(titleRect, Qt::AlignCenter, title());
}

QFont PanelFont(const char* family, int pixelSize, QFont::StyleHint fallback) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixelSize);
  font.setStyleHint(fallback);
  // The controls are sized for Tahoma, a narrow face; a wider stand-in is narrowed to fit. Set
  // either way, so that no control inherits the narrowing from the window.
  const bool narrow = fallback == QFont::SansSerif && !QFontInfo(font).exactMatch();
  font.setStretch(narrow ? QFont::SemiCondensed : QFont::Unstretched);
  return font;
}

}  // namespace orolith
