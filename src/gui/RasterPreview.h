#pragma once

#include "preview/MapGeometry.h"
#include "preview/TileShade.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>

#include <optional>
#include <string>
#include <vector>

namespace orolith {

// The user's raster as the map shows it: its outline, its extent and a hillshade over the
// extent, read on a thread of its own from an overview of at most 512 pixels a side.
struct RasterView {
  std::string Path;
  std::vector<GeoPoint> Outline;
  std::optional<GeoBox> Extent;
  QImage Shade;  // over Extent, north up; null when it could not be read
};

class TRasterPreview : public QObject {
  Q_OBJECT

 public:
  explicit TRasterPreview(QObject* parent = nullptr);
  ~TRasterPreview() override;

  // Reads the raster at path (empty: none) unless it is the one shown; Ready follows.
  void Show(const std::string& path);
  const RasterView& View() const noexcept { return view_; }

 signals:
  void Ready();
  // From the worker thread to this object's own.
  void Delivered(const orolith::RasterView& view);

 private:
  void Deliver(const RasterView& view);

  QThreadPool pool_;
  RasterView view_;
  std::string asked_;
};

}  // namespace orolith

Q_DECLARE_METATYPE(orolith::RasterView)
