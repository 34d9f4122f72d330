#include "model/SizeEstimate.h"

#include <cmath>

namespace orolith {

long double AdaptiveFaces(long double cells, long double squareDegrees, float maxError) noexcept {
  // Mountains of up to 2000 m relief, measured on N44W072: within e metres they need about
  // 2.25 M / e^1.17 triangles a square degree however fine the lattice, and no adaptive mesh
  // has more than the lattice's two a cell. The two limits are joined as resistances are, which
  // follows the counts measured there at 30 to 200 m cells from 6 % below to 27 % above.
  const long double terrain =
      2.25e6L * squareDegrees / std::pow(static_cast<long double>(maxError), 1.17L);
  const long double lattice = 2 * cells;
  return 1 / (1 / lattice + 1 / terrain);
}

SizeEstimate EstimateSize(const ModelSettings& s) noexcept {
  // From the pixel field's value as typed, not the whole metres the grid steps by.
  const long double perDegree = 100000.0L / static_cast<long double>(s.XYPixelSize);
  long double faces = perDegree * perDegree * ((s.LonMax - s.LonMin) * 4) * (s.LatMax - s.LatMin);
  if (s.MaxError > 0)
    faces = AdaptiveFaces(faces / 4, (s.LonMax - s.LonMin) * (s.LatMax - s.LatMin), s.MaxError);
  // Two wall faces and one bottom face for each cell along the region's four sides.
  if (s.Solid) faces += 6 * perDegree * ((s.LonMax - s.LonMin) + (s.LatMax - s.LatMin));
  return {faces, faces * 0.00005L};
}

}  // namespace orolith
