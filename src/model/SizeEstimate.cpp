#include "model/SizeEstimate.h"

#include "base/NumberText.h"
#include "model/lattice/ModelGrid.h"

#include <array>
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

std::vector<std::string> ModelSizeLines(const ModelSettings& s, char sep) {
  const ModelDimensions size = ModelSize(s);
  const long double faces = EstimateSize(s).Faces;
  std::vector<std::string> lines{
      FormatText(sep, "Model size : %.1f x %.1f x %.1f mm, about %.0f triangles",
                 {size.X, size.Y, size.Z, faces})};
  if (faces <= SlicerTriangles) return lines;
  const std::string advice = "Slicers advise simplifying a model of more than 1000000 triangles; ";
  ModelSettings adaptive = s;
  // The layer height's own error, unless the model already keeps to it.
  if (s.MaxError <= 0) {
    adaptive.MaxError = static_cast<float>(ModelScale(s).HeightMetres(s.LayerHeight / 2));
    const long double count = EstimateSize(adaptive).Faces;
    if (count <= SlicerTriangles) {
      lines.push_back(FormatText(
          sep, "%s--max-error auto (Auto by Max. error, %.2f mm layers) makes about %.0f",
          {advice, s.LayerHeight, count}));
      return lines;
    }
  }
  constexpr std::array<float, 13> ladder{0.1F, 0.2F, 0.5F, 1,   2,   5,   10,
                                         20,   50,   100,  200, 500, 1000};
  for (const float error : ladder) {
    if (error <= s.MaxError) continue;
    adaptive.MaxError = error;
    const long double count = EstimateSize(adaptive).Faces;
    if (count > SlicerTriangles) continue;
    lines.push_back(
        FormatText(sep, "%s--max-error %.2f (metres) makes about %.0f", {advice, error, count}));
    return lines;
  }
  lines.push_back(advice + "a larger XY pixel size makes fewer");
  return lines;
}

}  // namespace orolith
