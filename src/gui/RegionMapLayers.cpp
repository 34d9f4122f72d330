// The map's layers beside the tiles: the online base map, the geography and place names, the
// user's raster, the found place, the model's size beside the region and the legend.

#include "gui/RegionMap.h"

#include "acquisition/MapTileCache.h"
#include "model/ModelSetup.h"
#include "preview/GeoLayers.h"
#include "preview/Places.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace orolith {
namespace {

// Tiles fetched for one view at most: the tile servers forbid bulk downloads.
constexpr std::size_t MaxOnlineTiles = 48;
// Names drawn at most, the most important first, none over another.
constexpr int MaxNames = 60;

QPointF At(const MapView& view, double lon, double lat) {
  const PixelPoint p = ToPixel(view, {lon, lat});
  return {p.X, p.Y};
}

struct LineLook {
  GeoKind Kind;
  QColor Colour;
  double Width;
  Qt::PenStyle Style;
};
constexpr int LookCount = 4;
const std::array<LineLook, LookCount> LineLooks{{
    {GeoKind::River, QColor(90, 150, 210), 1.0, Qt::SolidLine},
    {GeoKind::LakeShore, QColor(40, 110, 190), 1.2, Qt::SolidLine},
    {GeoKind::SeaShore, QColor(30, 80, 150), 1.4, Qt::SolidLine},
    {GeoKind::Border, QColor(150, 40, 150), 1.4, Qt::DashLine},
}};

}  // namespace

void TRegionMap::SetOnlineMap(bool on) {
  if (on == OnlineMap()) return;
  if (on) {
    online_ = new TOnlineTiles(this);
    online_->SetSource(onlineUrl_.empty() ? MapTileCache::OpenStreetMapUrl : onlineUrl_,
                       onlineFolder_.empty() ? MapTileCache::DefaultFolder() : onlineFolder_);
    connect(online_, &TOnlineTiles::TileArrived, this, qOverload<>(&QWidget::update));
    RequestOnlineTiles();
  } else {
    delete online_;
    online_ = nullptr;
  }
  update();
}

void TRegionMap::SetOnlineSource(const std::string& baseUrl, const std::filesystem::path& folder) {
  onlineUrl_ = baseUrl;
  onlineFolder_ = folder;
  if (online_ != nullptr) {
    online_->SetSource(baseUrl, folder);
    RequestOnlineTiles();
  }
}

void TRegionMap::RequestOnlineTiles() {
  if (online_ == nullptr) return;
  online_->Request(WebTilesInView(view_, WebZoomFor(view_), MaxOnlineTiles));
}

void TRegionMap::PaintOnline(QPainter& painter) const {
  if (online_ == nullptr) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  for (const WebTile& tile : WebTilesInView(view_, WebZoomFor(view_), MaxOnlineTiles)) {
    const QImage picture = online_->Picture(tile);
    if (picture.isNull()) continue;
    const GeoBox box = WebTileBox(tile);
    // A Mercator tile's rows are not evenly spaced in latitude: drawn in strips of 16 rows.
    const int strips = 16;
    const double rowsPerStrip = picture.height() / static_cast<double>(strips);
    for (int s = 0; s < strips; ++s) {
      const double north = WebRowLatitude(tile.Zoom, tile.Y + s / double{strips});
      const double south = WebRowLatitude(tile.Zoom, tile.Y + (s + 1) / double{strips});
      const QRectF target(At(view_, box.West, north), At(view_, box.East, south));
      painter.drawImage(target, picture,
                        QRectF(0, s * rowsPerStrip, picture.width(), rowsPerStrip));
    }
  }
  // The tiles' licence asks for this wherever they are shown.
  const QString credit = QStringLiteral("\u00A9 OpenStreetMap contributors");
  QFont small = font();
  small.setPixelSize(11);
  painter.setFont(small);
  const QFontMetrics metrics(small);
  const QRect where(width() - metrics.horizontalAdvance(credit) - 14, 4,
                    metrics.horizontalAdvance(credit) + 10, metrics.height() + 4);
  painter.fillRect(where, QColor(255, 255, 255, 210));
  painter.setPen(Qt::black);
  painter.drawText(where, Qt::AlignCenter, credit);
}

void TRegionMap::PaintGeography(QPainter& painter) const {
  const GeoLayers& layers = GeoLayers::Builtin();
  const int level = GeoLayers::LevelFor(view_.Scale);
  const GeoBox box = ViewBox(view_);
  painter.setRenderHint(QPainter::Antialiasing);
  QPolygonF line;
  for (const LineLook& look : LineLooks) {
    // Rivers only where they are more than a tangle.
    if (look.Kind == GeoKind::River && level == 0) continue;
    painter.setPen(QPen(look.Colour, look.Width, look.Style));
    layers.ForEachLine(look.Kind, level, box, [&](std::span<const GeoVertex> vertices) {
      line.clear();
      for (const GeoVertex& v : vertices) line << At(view_, v.Lon, v.Lat);
      painter.drawPolyline(line);
    });
  }
  painter.setRenderHint(QPainter::Antialiasing, false);
}

void TRegionMap::PaintRaster(QPainter& painter) const {
  const RasterView& raster = raster_->View();
  if (raster.Extent && !raster.Shade.isNull()) {
    const GeoBox& e = *raster.Extent;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(At(view_, e.West, e.North), At(view_, e.East, e.South)), raster.Shade);
  }
  if (raster.Outline.size() < 2) return;
  QPolygonF outline;
  for (const GeoPoint& p : raster.Outline) outline << At(view_, p.Lon, p.Lat);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(200, 110, 0), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawPolygon(outline);
  painter.setRenderHint(QPainter::Antialiasing, false);
}

void TRegionMap::PaintPlaces(QPainter& painter) const {
  QFont small = font();
  small.setPixelSize(11);
  painter.setFont(small);
  const QFontMetrics metrics(small);
  std::vector<QRectF> taken;
  int drawn = 0;
  Places::Builtin().ForEachIn(ViewBox(view_), [&](const Place& place) {
    const QPointF at = At(view_, place.Lon, place.Lat);
    const QString name = QString::fromStdString(place.Name);
    const QRectF label(at.x() + 5, at.y() - metrics.ascent() / 2.0 - 1,
                       metrics.horizontalAdvance(name) + 4, metrics.height() + 2);
    const QRectF spot = label.united(QRectF(at - QPointF(4, 4), QSizeF(8, 8)));
    if (std::any_of(taken.begin(), taken.end(),
                    [&](const QRectF& other) { return other.intersects(spot); })) {
      return true;
    }
    taken.push_back(spot.adjusted(-3, -2, 3, 2));
    painter.setPen(QColor(30, 30, 30));
    painter.setBrush(place.Kind == PlaceKind::Peak ? QColor(120, 70, 20) : QColor(40, 40, 40));
    if (place.Kind == PlaceKind::Peak) {
      const QPolygonF triangle{at + QPointF(0, -4), at + QPointF(4, 3), at + QPointF(-4, 3)};
      painter.drawPolygon(triangle);
    } else {
      painter.drawEllipse(at, 2.5, 2.5);
    }
    // A halo keeps the name readable over any ground.
    QPainterPath text;
    text.addText(label.left() + 2, label.top() + metrics.ascent() + 1, small, name);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(text, QPen(QColor(255, 255, 255, 200), 3));
    painter.fillPath(text, QColor(20, 20, 20));
    painter.setRenderHint(QPainter::Antialiasing, false);
    return ++drawn < MaxNames;
  });
  painter.setBrush(Qt::NoBrush);
}

void TRegionMap::PaintModelSize(QPainter& painter, const QRectF& box) const {
  // The rectangle as it is drawn, with the rest of the front panel.
  FrontPanelValues panel = panel_;
  panel.Long1 = region_.Long1;
  panel.Long2 = region_.Long2;
  panel.Lat1 = region_.Lat1;
  panel.Lat2 = region_.Lat2;
  const PlannedSize planned = PlannedModelSize(panel);
  QString text = QStringLiteral("%1 \u00D7 %2")
                     .arg(static_cast<double>(planned.Size.X), 0, 'f', 1)
                     .arg(static_cast<double>(planned.Size.Y), 0, 'f', 1);
  if (planned.ZKnown) {
    text += QStringLiteral(" \u00D7 %1").arg(static_cast<double>(planned.Size.Z), 0, 'f', 1);
  }
  text += QStringLiteral(" mm");
  QFont small = font();
  small.setPixelSize(12);
  small.setBold(true);
  painter.setFont(small);
  const QFontMetrics metrics(small);
  const QSizeF room(metrics.horizontalAdvance(text) + 10, metrics.height() + 4);
  // Under the rectangle's bottom-right corner, kept on the screen.
  QPointF corner(box.right() - room.width(), box.bottom() + 4);
  corner.setX(std::clamp(corner.x(), 2.0, width() - room.width() - 2));
  corner.setY(std::clamp(corner.y(), 2.0, height() - room.height() - 2));
  const QRectF where(corner, room);
  painter.fillRect(where, QColor(255, 255, 255, 220));
  painter.setPen(QColor(200, 30, 30));
  painter.drawText(where, Qt::AlignCenter, text);
}

void TRegionMap::PaintLegend(QPainter& painter) const {
  QFont small = font();
  small.setPixelSize(11);
  painter.setFont(small);
  const QFontMetrics metrics(small);
  const int line = metrics.height() + 2;
  int width = 0;
  for (const CoverageLook& look : CoverageLooks) {
    width = std::max(width, metrics.horizontalAdvance(QString::fromLatin1(look.Name)));
  }
  const int lines = static_cast<int>(LegendOrder.size());
  const QRect box(6, height() - 6 - lines * line - 8, width + 32, lines * line + 8);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 210));
  painter.drawRect(box);
  int y = box.top() + 4;
  for (const TileCoverage coverage : LegendOrder) {
    const CoverageLook& look = LookOf(coverage);
    painter.setPen(QColor(60, 60, 60));
    painter.setBrush(QColor::fromRgba(static_cast<QRgb>(look.Tint)));
    painter.drawRect(box.left() + 5, y + 2, 14, line - 5);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(box.left() + 24, y + metrics.ascent()), QString::fromLatin1(look.Name));
    y += line;
  }
  if (!pointerText_.isEmpty()) {
    const int textWidth = metrics.horizontalAdvance(pointerText_) + 10;
    const QRect where(this->width() - textWidth - 6, height() - line - 10, textWidth, line + 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 210));
    painter.drawRect(where);
    painter.setPen(Qt::black);
    painter.drawText(where, Qt::AlignCenter, pointerText_);
  }
}

void TRegionMap::PaintFound(QPainter& painter) const {
  if (!found_) return;
  const QPointF at = At(view_, found_->Lon, found_->Lat);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(0, 90, 200), 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(at, 9, 9);
  painter.drawLine(at - QPointF(14, 0), at - QPointF(5, 0));
  painter.drawLine(at + QPointF(5, 0), at + QPointF(14, 0));
  painter.drawLine(at - QPointF(0, 14), at - QPointF(0, 5));
  painter.drawLine(at + QPointF(0, 5), at + QPointF(0, 14));
  QFont bold = font();
  bold.setPixelSize(12);
  bold.setBold(true);
  QPainterPath text;
  text.addText(at + QPointF(16, -8), bold, foundName_);
  painter.strokePath(text, QPen(QColor(255, 255, 255, 220), 3));
  painter.fillPath(text, QColor(0, 70, 170));
  painter.setRenderHint(QPainter::Antialiasing, false);
}

}  // namespace orolith
