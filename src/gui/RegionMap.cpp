#include "gui/RegionMap.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace orolith {
namespace {

const QColor OffGlobe(43, 47, 54);
const QColor Paper(238, 236, 228);
const QColor GridLine(30, 30, 30, 110);
const QColor RegionLine(200, 30, 30);
const QColor RegionFill(255, 255, 255, 48);

QColor FromArgb(std::uint32_t argb) {
  return QColor::fromRgba(static_cast<QRgb>(argb));
}

PixelPoint At(const QPointF& p) {
  return {p.x(), p.y()};
}

QPointF At(const PixelPoint& p) {
  return {p.X, p.Y};
}

// The rectangle on the screen of degrees west..east, south..north.
QRectF ScreenRect(const MapView& view, double west, double east, double south, double north) {
  return QRectF(At(ToPixel(view, {west, north})), At(ToPixel(view, {east, south})));
}

Qt::CursorShape CursorFor(unsigned edges) {
  switch (edges) {
    case WestEdge:
    case EastEdge:
      return Qt::SizeHorCursor;
    case NorthEdge:
    case SouthEdge:
      return Qt::SizeVerCursor;
    default:
      return Qt::CrossCursor;
  }
}

}  // namespace

TRegionMap::TRegionMap(QWidget* parent)
    : QWidget(parent), shader_(new TTileShader(this)), raster_(new TRasterPreview(this)) {
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  setCursor(Qt::CrossCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
  view_ = FitRegion(BoxOf(region_), width(), height());
  connect(shader_, &TTileShader::TileShaded, this, &TRegionMap::TakeTile);
  connect(raster_, &TRasterPreview::Ready, this, [this] {
    update();
    emit RasterShown();
  });
  // A tile downloaded meanwhile, or removed, shows when the map next looks.
  refresh_.setInterval(2000);
  connect(&refresh_, &QTimer::timeout, this, [this] {
    if (!shader_->Busy()) RequestTiles();
  });
  refresh_.start();
  // A wheel turned quickly asks once for the tiles of where it stopped.
  requestSoon_.setSingleShot(true);
  requestSoon_.setInterval(40);
  connect(&requestSoon_, &QTimer::timeout, this, &TRegionMap::RequestTiles);
}

void TRegionMap::SetTileSearch(const DataFolders& folders, const TileBlocks& blocked) {
  shader_->SetSearch(folders, blocked);
  RequestTiles();
}

void TRegionMap::SetRegion(const RegionFields& fields) {
  if (fields == region_) return;
  region_ = fields;
  update();
}

void TRegionMap::FitToRegion() {
  fitPending_ = !isVisible();
  Show(FitRegion(BoxOf(region_), width(), height()));
}

void TRegionMap::RefreshTiles() {
  RequestTiles();
}

const TilePicture* TRegionMap::PictureAt(std::int32_t lon, std::int32_t lat) const {
  const auto found = tiles_.find({lon, lat});
  return found == tiles_.end() ? nullptr : &found->second.Picture;
}

void TRegionMap::Show(const MapView& view) {
  view_ = view;
  update();
  requestSoon_.start();
}

void TRegionMap::SetModelPanel(const FrontPanelValues& panel) {
  panel_ = panel;
  update();
}

void TRegionMap::CentreOn(GeoPoint point, const QString& name) {
  found_ = point;
  foundName_ = name;
  fitPending_ = false;
  // Some 20 km from top to bottom.
  MapView view = view_;
  view.CentreLon = point.Lon;
  view.CentreLat = point.Lat;
  view.Scale = std::max(height(), 1) / 0.2;
  Show(Resized(view, width(), height()));
}

void TRegionMap::SetRaster(const std::string& path) {
  raster_->Show(path);
}

void TRegionMap::RequestTiles() {
  RequestOnlineTiles();
  const std::optional<TileRange> range = VisibleTiles(view_);
  if (!range || range->Count() > MaxShadedTiles) {
    shader_->Request({});
    return;
  }
  const int side = ShadeSideFor(view_.Scale);
  std::vector<TileRequest> wanted;
  wanted.reserve(static_cast<std::size_t>(range->Count()));
  ForEachTile(*range, [&](std::int32_t lon, std::int32_t lat) {
    wanted.push_back({lon, lat, side});
  });
  // The middle of the map first.
  const auto distance = [this](const TileRequest& t) {
    return std::hypot(t.Lon + 0.5 - view_.CentreLon, t.Lat + 0.5 - view_.CentreLat);
  };
  std::sort(wanted.begin(), wanted.end(),
            [&](const TileRequest& a, const TileRequest& b) { return distance(a) < distance(b); });
  shader_->Request(wanted);
  // Pictures far out of view go, once there are many.
  if (tiles_.size() > wanted.size() + 64) {
    std::erase_if(tiles_, [&](const auto& entry) {
      const auto [lon, lat] = entry.first;
      return lon < range->West - 2 || lon > range->East + 2 || lat < range->South - 2 ||
             lat > range->North + 2;
    });
  }
}

void TRegionMap::TakeTile(const ShadedTile& tile) {
  const auto key = std::make_pair(tile.Tile.Lon, tile.Tile.Lat);
  const auto found = tiles_.find(key);
  // A picture for an earlier zoom only stands in until the right one comes.
  if (found != tiles_.end() && tile.Tile.Side != ShadeSideFor(view_.Scale)) return;
  if (found != tiles_.end() && found->second.Side == tile.Tile.Side &&
      found->second.Picture.Shade == tile.Picture.Shade &&
      found->second.Picture.Coverage == tile.Picture.Coverage) {
    return;
  }
  Shown shown{tile.Tile.Side, tile.Picture, {}};
  if (const auto& shade = shown.Picture.Shade) {
    shown.Image = QImage(reinterpret_cast<const uchar*>(shade->Pixels.data()), shade->Side,
                         shade->Side, shade->Side * 4, QImage::Format_RGB32);
  }
  tiles_[key] = std::move(shown);
  update();
}

void TRegionMap::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), OffGlobe);
  const QRectF screen = QRectF(rect()).adjusted(-1, -1, 1, 1);
  painter.fillRect(ScreenRect(view_, -180, 180, -90, 90).intersected(screen), Paper);
  PaintOnline(painter);
  PaintGeography(painter);
  PaintTiles(painter);
  PaintRaster(painter);
  PaintGrid(painter);
  PaintPlaces(painter);
  PaintRegion(painter);
  PaintFound(painter);
  PaintLegend(painter);
}

void TRegionMap::PaintTiles(QPainter& painter) const {
  const QRectF screen = QRectF(rect()).adjusted(-1, -1, 1, 1);
  const std::optional<TileRange> range = VisibleTiles(view_);
  if (!range) return;
  if (range->Count() > MaxShadedTiles) {
    painter.setPen(Qt::black);
    painter.drawText(rect().adjusted(0, 8, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                     QStringLiteral("Zoom in to see the tiles"));
    return;
  }
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  // The geography underneath shows through a missing tile, and faintly through a shaded one.
  QColor missing = FromArgb(LookOf(TileCoverage::Missing).Tint);
  missing.setAlpha(45);
  QColor hatch = missing.darker(140);
  hatch.setAlpha(80);
  painter.setOpacity(0.85);
  ForEachTile(*range, [&](std::int32_t lon, std::int32_t lat) {
    const auto found = tiles_.find({lon, lat});
    if (found == tiles_.end()) return;
    const Shown& shown = found->second;
    const QRectF whole = ScreenRect(view_, lon, lon + 1.0, lat, lat + 1.0);
    const QRectF target = whole.intersected(screen);
    if (target.isEmpty()) return;
    if (shown.Image.isNull()) {
      painter.fillRect(target, missing);
      painter.fillRect(target, QBrush(hatch, Qt::BDiagPattern));
      return;
    }
    // Only the part in view is drawn: a tile at the largest zoom is far wider than the screen.
    // A degree of longitude is narrower on the map than one of latitude.
    const double acrossPerPixel = shown.Image.width() / whole.width();
    const double downPerPixel = shown.Image.height() / whole.height();
    const QRectF source((target.left() - whole.left()) * acrossPerPixel,
                        (target.top() - whole.top()) * downPerPixel,
                        target.width() * acrossPerPixel, target.height() * downPerPixel);
    painter.drawImage(target, shown.Image, source);
  });
  painter.setOpacity(1);
}

void TRegionMap::PaintGrid(QPainter& painter) const {
  const std::optional<TileRange> range = VisibleTiles(view_);
  if (!range) return;
  const int step = GridStep(view_.Scale);
  painter.setPen(QPen(GridLine, 1));
  const auto first = [step](std::int32_t from) {
    return static_cast<std::int32_t>(std::ceil(from / static_cast<double>(step))) * step;
  };
  const double top = std::max(ToPixel(view_, {0, 90}).Y, 0.0);
  const double bottom = std::min(ToPixel(view_, {0, -90}).Y, static_cast<double>(height()));
  const double left = std::max(ToPixel(view_, {-180, 0}).X, 0.0);
  const double right = std::min(ToPixel(view_, {180, 0}).X, static_cast<double>(width()));
  for (std::int32_t lon = first(range->West); lon <= range->East + 1; lon += step) {
    const double x = ToPixel(view_, {static_cast<double>(lon), 0}).X;
    painter.drawLine(QPointF(x, top), QPointF(x, bottom));
  }
  for (std::int32_t lat = first(range->South); lat <= range->North + 1; lat += step) {
    const double y = ToPixel(view_, {0, static_cast<double>(lat)}).Y;
    painter.drawLine(QPointF(left, y), QPointF(right, y));
  }
  // Names where a tile is wide enough to hold one.
  if (view_.Scale < 64 || range->Count() > MaxShadedTiles) return;
  QFont small = font();
  small.setPixelSize(11);
  painter.setFont(small);
  painter.setPen(QColor(20, 20, 20));
  ForEachTile(*range, [&](std::int32_t lon, std::int32_t lat) {
    const PixelPoint corner = ToPixel(view_, {static_cast<double>(lon), lat + 1.0});
    // A tile all but off the left edge would put its name over its neighbour's.
    if (ToPixel(view_, {lon + 1.0, 0}).X < 60) return;
    const QString name = QString::fromStdString(TileFileName(lon, lat)).chopped(4);
    const QPointF at(std::max(corner.X, 0.0) + 4, std::max(corner.Y, 0.0) + 14);
    painter.drawText(at, name);
  });
}

void TRegionMap::PaintRegion(QPainter& painter) const {
  const GeoBox box = BoxOf(region_);
  const QRectF screen = QRectF(rect()).adjusted(-8, -8, 8, 8);
  const QRectF whole = ScreenRect(view_, box.West, box.East, box.South, box.North);
  const QRectF shown = whole.intersected(screen);
  painter.setRenderHint(QPainter::Antialiasing, false);
  // A region smaller than a pixel still shows where it is.
  if (whole.width() < 3 && whole.height() < 3) {
    painter.setPen(QPen(RegionLine, 2));
    painter.drawEllipse(whole.center(), 6, 6);
    return;
  }
  if (shown.isEmpty()) return;
  PaintModelSize(painter, whole);
  painter.fillRect(shown, RegionFill);
  painter.setPen(QPen(RegionLine, 2));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(shown);
  painter.setBrush(RegionLine);
  for (const QPointF& handle :
       {whole.topLeft(), whole.topRight(), whole.bottomLeft(), whole.bottomRight()}) {
    if (screen.contains(handle)) painter.drawRect(QRectF(handle - QPointF(3, 3), QSizeF(6, 6)));
  }
}

void TRegionMap::resizeEvent(QResizeEvent* /*event*/) {
  if (fitPending_) {
    FitToRegion();
  } else {
    Show(Resized(view_, width(), height()));
  }
}

void TRegionMap::mousePressEvent(QMouseEvent* event) {
  pressAt_ = At(event->position());
  viewAtPress_ = view_;
  regionAtPress_ = region_;
  drawing_ = false;
  if (event->button() == Qt::LeftButton) {
    edges_ = EdgeAt(view_, BoxOf(region_), pressAt_, EdgeReach);
    drag_ = edges_ != NoEdge ? Drag::Edges : Drag::Draw;
  } else if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
    drag_ = Drag::Pan;
    setCursor(Qt::ClosedHandCursor);
  }
}

void TRegionMap::mouseMoveEvent(QMouseEvent* event) {
  const PixelPoint at = At(event->position());
  ShowPointer(at);
  FollowPointer(at);
}

void TRegionMap::mouseReleaseEvent(QMouseEvent* event) {
  const bool ends = (drag_ == Drag::Pan && event->button() != Qt::LeftButton) ||
                    (drag_ != Drag::Pan && event->button() == Qt::LeftButton);
  if (!ends) return;
  FollowPointer(At(event->position()));
  drag_ = Drag::None;
  setCursor(CursorFor(EdgeAt(view_, BoxOf(region_), At(event->position()), EdgeReach)));
}

void TRegionMap::FollowPointer(PixelPoint at) {
  switch (drag_) {
    case Drag::None:
      setCursor(CursorFor(EdgeAt(view_, BoxOf(region_), at, EdgeReach)));
      return;
    case Drag::Draw:
      // A click is no region; a few pixels of movement make one.
      if (!drawing_ && std::hypot(at.X - pressAt_.X, at.Y - pressAt_.Y) < 3) return;
      drawing_ = true;
      emit RegionDrawn(DrawnRegion(view_, pressAt_, at));
      return;
    case Drag::Edges:
      emit RegionDrawn(DragEdges(view_, regionAtPress_, edges_, pressAt_, at));
      return;
    case Drag::Pan:
      Show(PanBy(viewAtPress_, at.X - pressAt_.X, at.Y - pressAt_.Y));
      return;
  }
}

void TRegionMap::ShowPointer(PixelPoint at) {
  pointerText_ = QString::fromStdString(orolith::PointerText(ToGeo(view_, at)));
  update();
}

void TRegionMap::leaveEvent(QEvent* /*event*/) {
  pointerText_.clear();
  update();
}

void TRegionMap::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) return;
  Show(ZoomAbout(view_, At(event->position()), std::pow(1.25, steps)));
  event->accept();
}

}  // namespace orolith
