#pragma once

// An independent check of a meshed block against its lattice, shared by the tests and the
// adaptive benchmark. It knows nothing of how the mesher works: it rasterises each triangle
// over the lattice points in exact integer arithmetic and measures heights in double.

#include "model/adaptive/LatticeMesher.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace orolith::test {

struct BlockCheck {
  double WorstError = 0;         // over every lattice point of the block
  std::uint64_t Uncovered = 0;   // lattice points no triangle covers
  std::uint64_t Overlapped = 0;  // lattice points strictly inside more than one triangle
  std::uint64_t NotCounterClockwise = 0;
  std::uint64_t OutsideRect = 0;  // triangle corners outside the block
  std::int64_t TwiceArea = 0;     // in lattice units; the block's is 2 (Columns-1) (Rows-1)
};

// heights: the block's lattice points row by row, south first (rect.Columns a row).
inline BlockCheck CheckBlock(const MeshedBlock& block, std::span<const float> heights) {
  BlockCheck c;
  const LatticeRect& rect = block.Rect;
  const std::int64_t w = rect.Columns;
  const std::int64_t h = rect.Rows;
  // Per point: how many triangles hold it strictly inside (above bit 0), and whether any holds
  // it at all (bit 0).
  std::vector<std::uint32_t> seen(static_cast<std::size_t>(w * h), 0);
  for (const LatticeTriangle& t : block.Triangles) {
    const LatticeSample* p[3] = {&block.Points[t.A], &block.Points[t.B], &block.Points[t.C]};
    std::int64_t x[3];
    std::int64_t y[3];
    bool outside = false;
    for (int k = 0; k < 3; ++k) {
      x[k] = static_cast<std::int64_t>(p[k]->Q) - rect.Q0;
      y[k] = static_cast<std::int64_t>(p[k]->R) - rect.R0;
      outside = outside || x[k] < 0 || y[k] < 0 || x[k] >= w || y[k] >= h;
    }
    if (outside) {
      ++c.OutsideRect;
      continue;
    }
    const std::int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
    c.TwiceArea += area;
    if (area <= 0) {
      ++c.NotCounterClockwise;
      continue;
    }
    const std::int64_t x0 = std::min({x[0], x[1], x[2]});
    const std::int64_t x1 = std::max({x[0], x[1], x[2]});
    const std::int64_t y0 = std::min({y[0], y[1], y[2]});
    const std::int64_t y1 = std::max({y[0], y[1], y[2]});
    for (std::int64_t py = y0; py <= y1; ++py) {
      for (std::int64_t px = x0; px <= x1; ++px) {
        // Barycentric weights times twice the area, exact.
        const std::int64_t wa = (x[1] - px) * (y[2] - py) - (y[1] - py) * (x[2] - px);
        const std::int64_t wb = (x[2] - px) * (y[0] - py) - (y[2] - py) * (x[0] - px);
        const std::int64_t wc = (x[0] - px) * (y[1] - py) - (y[0] - py) * (x[1] - px);
        if (wa < 0 || wb < 0 || wc < 0) continue;
        const auto at = static_cast<std::size_t>(py * w + px);
        seen[at] |= 1;
        if (wa > 0 && wb > 0 && wc > 0) {
          seen[at] += 2;
          if (seen[at] >= 4) ++c.Overlapped;
        }
        const double z = (static_cast<double>(wa) * p[0]->Z + static_cast<double>(wb) * p[1]->Z +
                          static_cast<double>(wc) * p[2]->Z) /
                         static_cast<double>(area);
        c.WorstError = std::max(c.WorstError, std::fabs(z - static_cast<double>(heights[at])));
      }
    }
  }
  for (const std::uint32_t k : seen) c.Uncovered += k == 0 ? 1 : 0;
  return c;
}

}  // namespace orolith::test
