#include "gui/RasterPreview.h"

#include "tiles/DemRaster.h"

#include <exception>

namespace orolith {
namespace {

constexpr int OverviewSide = 512;
constexpr std::uint32_t RasterTint = 0xFFE8D8B0;

RasterView ReadView(const std::string& path) {
  RasterView view;
  view.Path = path;
  try {
    DemRaster raster(path);
    for (const auto& point : raster.Outline(32)) view.Outline.push_back({point[0], point[1]});
    if (const std::optional<DemExtent> e = raster.Extent()) {
      view.Extent = GeoBox{e->West, e->East, e->South, e->North};
      const RasterShade shade = ShadeOverview(raster.Overview(OverviewSide), RasterTint);
      if (!shade.Pixels.empty()) {
        view.Shade = QImage(reinterpret_cast<const uchar*>(shade.Pixels.data()), shade.Columns,
                            shade.Rows, shade.Columns * 4, QImage::Format_ARGB32)
                         .copy();
      }
    }
  } catch (const std::exception&) {
    // A file that is no raster shows nothing; the model run says why.
  }
  return view;
}

}  // namespace

TRasterPreview::TRasterPreview(QObject* parent) : QObject(parent) {
  qRegisterMetaType<RasterView>();
  pool_.setMaxThreadCount(1);
  connect(this, &TRasterPreview::Delivered, this, &TRasterPreview::Deliver, Qt::QueuedConnection);
}

TRasterPreview::~TRasterPreview() {
  pool_.clear();
  pool_.waitForDone();
}

void TRasterPreview::Show(const std::string& path) {
  if (path == asked_) return;
  asked_ = path;
  pool_.clear();
  if (path.empty()) {
    Deliver(RasterView{});
    return;
  }
  pool_.start([this, path] { emit Delivered(ReadView(path)); });
}

void TRasterPreview::Deliver(const RasterView& view) {
  // An answer to a file asked for before is of no use any more.
  if (view.Path != asked_) return;
  view_ = view;
  emit Ready();
}

}  // namespace orolith
