#include "model/SurfaceMeshers.h"

#include "model/adaptive/AdaptiveSurface.h"
#include "model/grid/GridSurface.h"

namespace orolith {

std::unique_ptr<SurfaceMesher> OpenSurfaceMesher(const ModelSettings& s, const ModelScale& scale,
                                                 std::uint64_t seed, unsigned threads,
                                                 FaceSink& sink) {
  if (s.MaxError > 0) {
    return std::make_unique<AdaptiveSurface>(scale.HeightZ(s.MaxError), threads, sink);
  }
  return std::make_unique<GridSurface>(scale, seed, threads, s.Solid, sink);
}

}  // namespace orolith
