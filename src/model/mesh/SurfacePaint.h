#pragma once

#include "model/mesh/STLVectors.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orolith {

// The colours of the surface's faces. A face takes one colour whole, by the height of its
// centroid: band k when the centroid's z lies at or above the k-th of the bands' lower bounds
// and below the next, so a cell may show two colours across its diagonal but never one face
// two. A face whose three corners lie on the water plane is water. Colour numbers run from 1:
// the bands from the lowest up, then water.
class SurfacePaint {
 public:
  // bounds: the z where each band above the first begins, ascending; waterZ: the water plane.
  SurfacePaint(std::vector<float> bounds, std::optional<float> waterZ);

  std::uint32_t Of(const Vec3& a, const Vec3& b, const Vec3& c) const noexcept {
    if (water_ && a.z == *water_ && b.z == *water_ && c.z == *water_) return waterColour_;
    const float centroid = (a.z + b.z + c.z) / 3;
    std::uint32_t colour = 1;
    for (const float bound : bounds_) colour += centroid >= bound ? 1 : 0;
    return colour;
  }
  // 0xRRGGBB of colour 1, 2, ...: greens to browns to snow over the bands, blue water.
  std::vector<std::uint32_t> Colours() const;

 private:
  std::vector<float> bounds_;
  std::optional<float> water_;
  std::uint32_t waterColour_;
};

}  // namespace orolith
