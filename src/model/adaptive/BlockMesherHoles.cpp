#include "model/adaptive/BlockMesher.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <utility>

// The scan of blocks where some lattice points have no height (a raster's no-data cells), kept
// apart so that the scan of every other block stays as fast as it was.
namespace orolith::lattice {

BlockMesher::Plane BlockMesher::PlaneOf(Pt a, Pt b, Pt c, std::int64_t twiceArea) const noexcept {
  const double za = Height(a);
  const double zb = Height(b);
  const double zc = Height(c);
  const double perArea = 1.0 / static_cast<double>(twiceArea);
  return {za, ((zb - za) * (c.y - a.y) - (zc - za) * (b.y - a.y)) * perArea,
          ((zc - za) * (b.x - a.x) - (zb - za) * (c.x - a.x)) * perArea};
}

// Scan's walk over the rows, apart from it so that blocks without a hole keep its speed.
template <class Row>
void BlockMesher::ForEachRow(Pt a, Pt b, Pt c, Row&& row) const noexcept {
  Pt v0 = a;
  Pt v1 = b;
  Pt v2 = c;
  if (v1.y < v0.y) std::swap(v0, v1);
  if (v2.y < v1.y) std::swap(v1, v2);
  if (v1.y < v0.y) std::swap(v0, v1);
  // Only the block's inner points: the outline's are settled by its border's simplification.
  const std::int32_t yFirst = std::max(v0.y, 1);
  const std::int32_t yLast = std::min(v2.y, height_ - 2);
  if (yFirst > yLast) return;
  const std::int32_t xLimit = width_ - 2;

  // v1 left of the long edge v0 -> v2: the short edges bound the rows on the left.
  const bool shortLeft = Orient(v0, v2, v1) > 0;
  const double longSlope = static_cast<double>(v2.x - v0.x) / (v2.y - v0.y);
  const double lowSlope = v1.y > v0.y ? static_cast<double>(v1.x - v0.x) / (v1.y - v0.y) : 0;
  const double highSlope = v2.y > v1.y ? static_cast<double>(v2.x - v1.x) / (v2.y - v1.y) : 0;

  // Row by row: where the long and the short edge cross the row, each a step further.
  double xLong = v0.x + (yFirst - v0.y) * longSlope;
  double xShort =
      yFirst < v1.y ? v0.x + (yFirst - v0.y) * lowSlope : v1.x + (yFirst - v1.y) * highSlope;
  double shortSlope = yFirst < v1.y ? lowSlope : highSlope;
  for (std::int32_t y = yFirst; y <= yLast; ++y, xLong += longSlope, xShort += shortSlope) {
    if (y == v1.y) {
      xShort = v1.x;
      shortSlope = highSlope;
    }
    std::int32_t lo = CeilOnEdge(shortLeft ? xShort : xLong);
    std::int32_t hi = FloorOnEdge(shortLeft ? xLong : xShort);
    // A corner is a vertex already, and being an extreme point it ends its row.
    const auto skip = [&](const Pt& p) {
      const bool on = p.y == y;
      lo += on && lo == p.x ? 1 : 0;
      hi -= on && hi == p.x ? 1 : 0;
    };
    skip(v0);
    skip(v1);
    skip(v2);
    lo = std::max(lo, 1);
    hi = std::min(hi, xLimit);
    if (!row(y, lo, hi)) return;
  }
}

// In a block with missing points a triangle is within the error when it keeps its points as a
// triangle without them does, or when it has a missing corner and no other point with data: it
// is left out, and so covers none. Any other point is over the error: a missing one under a
// triangle with data (the first found), or a point with data under one without, the nearest to a
// missing corner, so that the hole's rim fills in from the hole outwards.
Candidate BlockMesher::ScanMissing(Pt a, Pt b, Pt c, float stopAbove) const noexcept {
  Candidate best;
  std::array<Pt, 3> gaps{};
  std::size_t corners = 0;
  for (const Pt p : {a, b, c}) {
    if (std::isnan(Height(p))) gaps[corners++] = p;
  }
  constexpr float Over = std::numeric_limits<float>::infinity();
  const auto at = [&](std::int32_t x, std::int32_t y) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  };
  if (corners == 0) {
    const Plane plane = PlaneOf(a, b, c, Orient(a, b, c));
    const auto dz = static_cast<float>(plane.gx);
    ForEachRow(a, b, c, [&](std::int32_t y, std::int32_t lo, std::int32_t hi) {
      if (lo > hi) return true;
      const std::size_t offset = at(lo, y);
      for (std::int32_t x = lo; x <= hi; ++x) {
        if (std::isnan(heights_[at(x, y)])) {
          best = {Over, static_cast<std::uint32_t>(at(x, y))};
          return false;
        }
      }
      const auto zr = static_cast<float>(plane.za + plane.gy * (y - a.y) + plane.gx * (lo - a.x));
      RowWorst(heights_.data() + offset, hi - lo + 1, zr, dz, static_cast<std::uint32_t>(offset),
               best);
      return !(best.error > stopAbove);
    });
    return best;
  }
  std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
  ForEachRow(a, b, c, [&](std::int32_t y, std::int32_t lo, std::int32_t hi) {
    for (std::int32_t x = lo; x <= hi; ++x) {
      if (std::isnan(heights_[at(x, y)])) continue;
      for (std::size_t k = 0; k < corners; ++k) {
        const std::int64_t dx = x - gaps[k].x;
        const std::int64_t dy = y - gaps[k].y;
        if (dx * dx + dy * dy < nearest) {
          nearest = dx * dx + dy * dy;
          best = {Over, static_cast<std::uint32_t>(at(x, y))};
        }
      }
    }
    return true;
  });
  return best;
}

}  // namespace orolith::lattice
