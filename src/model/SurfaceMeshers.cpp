#include "model/SurfaceMeshers.h"

#include "model/adaptive/AdaptiveSurface.h"
#include "model/grid/GridSurface.h"

namespace orolith {
namespace {

// The adaptive surface's error in model z: half a layer height as it is when it follows the
// layer, else the metres through the model's vertical scale.
float SurfaceError(const ModelSettings& s, const ModelScale& scale) {
  return s.MaxErrorAuto ? s.LayerHeight / 2 : scale.HeightZ(s.MaxError);
}

}  // namespace

std::unique_ptr<SurfaceMesher> OpenSurfaceMesher(const ModelSettings& s, const ModelScale& scale,
                                                 std::uint64_t seed, unsigned threads,
                                                 FaceSink& sink) {
  if (s.MaxError > 0) {
    return std::make_unique<AdaptiveSurface>(SurfaceError(s, scale), threads, sink);
  }
  return std::make_unique<GridSurface>(scale, seed, threads, s.Solid, sink);
}

}  // namespace orolith
