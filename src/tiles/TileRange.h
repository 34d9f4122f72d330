#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace orolith {

// The whole degree a region bound contributes to a tile loop: the degree below a fractional
// bound, one less than a negative whole bound (-5 gives -6), a non-negative whole bound itself.
inline std::int32_t TileIndex(long double bound) noexcept {
  // Bounds come from clamped fields; the guard only keeps odd input (NaN, 1e30) defined.
  if (std::isnan(bound)) return 0;
  bound = std::clamp(bound, -1e9L, 1e9L);
  return static_cast<std::int32_t>(std::trunc(bound >= 0 ? bound : bound - 1));
}

// Whole-degree tile indexes of a region, both ends inclusive.
struct TileRange {
  std::int32_t West;
  std::int32_t East;
  std::int32_t South;
  std::int32_t North;

  std::uint64_t Count() const noexcept {
    return static_cast<std::uint64_t>(East - West + 1) *
           static_cast<std::uint64_t>(North - South + 1);
  }
};

inline TileRange TileRangeOf(long double lonMin, long double lonMax, long double latMin,
                             long double latMax) noexcept {
  return {TileIndex(lonMin), TileIndex(lonMax), TileIndex(latMin), TileIndex(latMax)};
}

// Visits the tiles west to east in the outer loop, south to north in the inner loop.
template <typename Visit>
void ForEachTile(const TileRange& range, Visit&& visit) {
  for (std::int32_t lon = range.West; lon <= range.East; ++lon) {
    for (std::int32_t lat = range.South; lat <= range.North; ++lat) {
      visit(lon, lat);
    }
  }
}

}  // namespace orolith
