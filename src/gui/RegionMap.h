#pragma once

#include "frontpanel/ModelSettings.h"
#include "gui/OnlineTiles.h"
#include "gui/RasterPreview.h"
#include "gui/TileShader.h"
#include "preview/MapGeometry.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace orolith {

// The map beside the front panel: coastlines, borders, lakes, rivers and place names (and
// OpenStreetMap's tiles when asked for) under the hillshade of the data root's tiles around the
// region, each tile tinted by what the coverage check says of it, the user's raster with its
// outline, a whole-degree grid with the tiles' names, and the region as a rectangle with the
// model's size beside it. A left drag draws a new region, a left drag on one of
// the rectangle's edges moves it; both go to the fields, and the rectangle follows the fields.
// The wheel zooms about the pointer, a right or middle drag moves the map.
class TRegionMap : public QWidget {
  Q_OBJECT

 public:
  // Above this many tiles in view the map draws the grid alone.
  static constexpr std::uint64_t MaxShadedTiles = 900;
  // How close to an edge of the rectangle a press takes hold of it, in pixels.
  static constexpr double EdgeReach = 5;

  explicit TRegionMap(QWidget* parent = nullptr);

  // Where the tiles are looked for; the tiles in view are searched again.
  void SetTileSearch(const DataFolders& folders, const TileBlocks& blocked);
  // The rectangle, as the fields hold it.
  void SetRegion(const RegionFields& fields);
  // Shows the region with a margin around it (once the map has its size, if it has none yet).
  void FitToRegion();
  // Searches the tiles in view again, for tiles that came or went.
  void RefreshTiles();
  // The front panel's values (extents, scale, exaggeration, pedestal, solid), for the model's
  // size shown beside the rectangle.
  void SetModelPanel(const FrontPanelValues& panel);
  // Centres the map on point, some kilometres around it in view, marked with name.
  void CentreOn(GeoPoint point, const QString& name);
  // Asks for a region as a drag does.
  void RequestRegion(const RegionFields& fields) { emit RegionDrawn(fields); }
  // OpenStreetMap's tiles under the geography; off by default.
  void SetOnlineMap(bool on);
  bool OnlineMap() const { return online_ != nullptr; }
  // Where the online tiles come from and are kept (tests point it at a local server).
  void SetOnlineSource(const std::string& baseUrl, const std::filesystem::path& folder);
  // The user's raster (empty: none); RasterShown follows once it has been read.
  void SetRaster(const std::string& path);
  const RasterView& Raster() const { return raster_->View(); }
  // The corner's text for the pointer's place; empty when the pointer is off the map.
  const QString& PointerText() const { return pointerText_; }

  const MapView& View() const { return view_; }
  const RegionFields& Region() const { return region_; }
  // The tile as last shaded, when it has been.
  const TilePicture* PictureAt(std::int32_t lon, std::int32_t lat) const;
  // True while tiles in view are still being shaded.
  bool Shading() const { return shader_->Busy(); }

 signals:
  // A drag asks for this region.
  void RegionDrawn(const orolith::RegionFields& fields);
  void RasterShown();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  enum class Drag { None, Draw, Edges, Pan };
  struct Shown {
    int Side = 0;
    TilePicture Picture;
    QImage Image;  // over Picture's pixels
  };

  void Show(const MapView& view);
  void RequestTiles();
  void TakeTile(const ShadedTile& tile);
  void FollowPointer(PixelPoint at);
  void ShowPointer(PixelPoint at);

  void PaintTiles(QPainter& painter) const;
  void PaintGrid(QPainter& painter) const;
  void PaintRegion(QPainter& painter) const;
  void PaintLegend(QPainter& painter) const;
  // RegionMapLayers.cpp
  void RequestOnlineTiles();
  void PaintOnline(QPainter& painter) const;
  void PaintGeography(QPainter& painter) const;
  void PaintRaster(QPainter& painter) const;
  void PaintPlaces(QPainter& painter) const;
  void PaintModelSize(QPainter& painter, const QRectF& box) const;
  void PaintFound(QPainter& painter) const;

  TTileShader* shader_;
  TRasterPreview* raster_;
  TOnlineTiles* online_ = nullptr;
  std::string onlineUrl_;
  std::filesystem::path onlineFolder_;
  FrontPanelValues panel_;
  std::optional<GeoPoint> found_;
  QString foundName_;
  QTimer refresh_;
  QTimer requestSoon_;
  MapView view_;
  RegionFields region_;
  bool fitPending_ = true;
  std::map<std::pair<std::int32_t, std::int32_t>, Shown> tiles_;

  Drag drag_ = Drag::None;
  PixelPoint pressAt_;
  MapView viewAtPress_;
  RegionFields regionAtPress_;
  unsigned edges_ = NoEdge;
  bool drawing_ = false;
  QString pointerText_;
};

}  // namespace orolith
