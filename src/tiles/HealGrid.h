#pragma once

#include "tiles/SRTM.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

namespace orolith {

// Repairs the voids of rows firstRow .. lastRow - 1 of grid (rows × columns, row-major) in
// place, in one pass in row order (see HealVoids): a void becomes the mean of the usable
// samples in the window of radius around it, rows healed before it included, or fill when
// there is none. Sample is a 16-bit metre or a Float32 height, whose replacements keep their
// fraction. NaN, no data at all, is neither a void nor a neighbour. The rows outside the range
// serve as neighbours alone, so that a grid read a few rows at a time heals as it would whole.
template <typename Sample>
std::int32_t HealGrid(Sample* grid, int rows, int columns, std::int32_t radius, Sample fill,
                      int firstRow, int lastRow) {
  std::int32_t count = 0;
  const auto at = [&](int r) { return grid + static_cast<std::ptrdiff_t>(r) * columns; };
  // A window wider than the grid sees the whole grid; the cap keeps r + radius from
  // overflowing.
  radius = std::min(radius, std::max(rows, columns));
  const auto heal = [&](int r, int c) {
    // Wide enough for any window, so a large radius can't overflow the sum.
    std::conditional_t<std::is_integral_v<Sample>, std::int64_t, double> sum = 0;
    std::int32_t valid = 0;
    const int cFirst = std::max(c - radius, 0);
    const int rLast = std::min(r + radius, rows - 1);
    const int cLast = std::min(c + radius, columns - 1);
    for (int wr = std::max(r - radius, 0); wr <= rLast; ++wr) {
      const Sample* row = at(wr);
      for (int wc = cFirst; wc <= cLast; ++wc) {
        const bool usable = row[wc] >= 0;
        sum += usable ? row[wc] : 0;
        valid += usable ? 1 : 0;
      }
    }
    return valid > 0 ? static_cast<Sample>(sum / valid) : fill;
  };
  // Voids are rare: a block of a row whose smallest sample is no void is passed over whole.
  // Healing never makes a new void, so a block found clean stays clean.
  constexpr int blockWidth = 64;
  constexpr auto threshold = static_cast<Sample>(TSRTM::VoidThreshold);
  for (int r = std::max(firstRow, 0); r < std::min(lastRow, rows); ++r) {
    Sample* row = at(r);
    for (int c0 = 0; c0 < columns; c0 += blockWidth) {
      const int c1 = std::min(c0 + blockWidth, columns);
      Sample lowest = threshold;
      for (int c = c0; c < c1; ++c) lowest = std::min(lowest, row[c]);
      if (!(lowest < threshold)) continue;
      for (int c = c0; c < c1; ++c) {
        if (!(row[c] < threshold)) continue;
        ++count;
        row[c] = heal(r, c);
      }
    }
  }
  return count;
}

}  // namespace orolith
