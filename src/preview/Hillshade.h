#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orolith {

// A hillshade picture: Side × Side pixels 0xAARRGGBB, row 0 in the north. What the shading makes
// and the cache keeps.
struct TileShade {
  int Side = 0;
  std::vector<std::uint32_t> Pixels;

  std::size_t Bytes() const { return Pixels.size() * sizeof(std::uint32_t); }
};

}  // namespace orolith
