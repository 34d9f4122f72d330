#pragma once

// Exact lattice predicates and the row scan that the block mesher builds on. Block coordinates
// are small integers, so orientation and in-circle tests are exact in 64 bits.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace orolith::lattice {

constexpr std::uint32_t None = std::numeric_limits<std::uint32_t>::max();

// A lattice point in block coordinates.
struct Pt {
  std::int32_t x;
  std::int32_t y;
};

// Twice the signed area of abc: positive when abc runs counter-clockwise.
inline std::int64_t Orient(Pt a, Pt b, Pt c) noexcept {
  return static_cast<std::int64_t>(b.x - a.x) * (c.y - a.y) -
         static_cast<std::int64_t>(b.y - a.y) * (c.x - a.x);
}

// d strictly inside the circle through the counter-clockwise a, b, c; exact.
inline bool InCircle(Pt a, Pt b, Pt c, Pt d) noexcept {
  const std::int64_t adx = a.x - d.x;
  const std::int64_t ady = a.y - d.y;
  const std::int64_t bdx = b.x - d.x;
  const std::int64_t bdy = b.y - d.y;
  const std::int64_t cdx = c.x - d.x;
  const std::int64_t cdy = c.y - d.y;
  const std::int64_t ad = adx * adx + ady * ady;
  const std::int64_t bd = bdx * bdx + bdy * bdy;
  const std::int64_t cd = cdx * cdx + cdy * cdy;
  return adx * (bdy * cd - bd * cdy) - ady * (bdx * cd - bd * cdx) + ad * (bdx * cdy - bdy * cdx) >
         0;
}

// The error the single-precision scans aim at, so that the exact surface keeps within
// maxError: they land a few units in the last place of the largest height off the exact plane.
inline float AimedError(float maxError, float largestHeight) noexcept {
  const float slack = 8 * largestHeight * std::numeric_limits<float>::epsilon();
  return std::max(0.0F, maxError - slack);
}

inline std::uint32_t Next(std::uint32_t e) noexcept {
  return e % 3 == 2 ? e - 2 : e + 1;
}
inline std::uint32_t Prev(std::uint32_t e) noexcept {
  return e % 3 == 0 ? e + 2 : e - 1;
}

// The worst lattice point of a triangle: its error and where it is (y * width + x).
struct Candidate {
  float error = -1;  // below zero: the triangle holds no point to check
  std::uint32_t at = 0;
};

// Raises best to the worst of n points of a row, the first of them where several tie, when it
// is worse: the plane's height at point i is zr + dz * i, and the row's first point is at offset.
inline void RowWorst(const float* row, std::int32_t n, float zr, float dz, std::uint32_t offset,
                     Candidate& best) noexcept {
  if (n == 1) {
    // The commonest row of all, in a small triangle; zr + dz * 0 is zr to the bit.
    const float e = std::fabs(zr - row[0]);
    if (e > best.error) {
      best.error = e;
      best.at = offset;
    }
    return;
  }
#if defined(__SSE2__)
  // Four points at a time. A short last group reads past the row's end, into the block's next
  // row (rows scanned are never the last), and keeps those lanes out with an error of -1.
  const __m128 base = _mm_set1_ps(zr);
  const __m128 slope = _mm_set1_ps(dz);
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
  const __m128 lanes = _mm_setr_ps(0, 1, 2, 3);
  const __m128 none = _mm_set1_ps(-1);
  const __m128 count = _mm_set1_ps(static_cast<float>(n));
  __m128 worst = _mm_set1_ps(best.error);
  for (std::int32_t i = 0; i < n; i += 4) {
    const __m128 index = _mm_add_ps(_mm_set1_ps(static_cast<float>(i)), lanes);
    const __m128 z = _mm_add_ps(base, _mm_mul_ps(slope, index));
    __m128 error = _mm_and_ps(magnitude, _mm_sub_ps(z, _mm_loadu_ps(row + i)));
    if (n - i < 4) {
      const __m128 valid = _mm_cmplt_ps(index, count);
      error = _mm_or_ps(_mm_and_ps(valid, error), _mm_andnot_ps(valid, none));
    }
    if (_mm_movemask_ps(_mm_cmpgt_ps(error, worst)) == 0) continue;
    __m128 most = _mm_max_ps(error, _mm_shuffle_ps(error, error, _MM_SHUFFLE(1, 0, 3, 2)));
    most = _mm_max_ps(most, _mm_shuffle_ps(most, most, _MM_SHUFFLE(2, 3, 0, 1)));
    const int lane =
        __builtin_ctz(static_cast<unsigned>(_mm_movemask_ps(_mm_cmpeq_ps(error, most))));
    best.error = _mm_cvtss_f32(most);
    best.at = offset + static_cast<std::uint32_t>(i + lane);
    worst = most;
  }
#else
  for (std::int32_t i = 0; i < n; ++i) {
    const float e = std::fabs(zr + dz * static_cast<float>(i) - row[i]);
    if (e > best.error) {
      best.error = e;
      best.at = offset + static_cast<std::uint32_t>(i);
    }
  }
#endif
}

// Where a row meets an edge, x = x0 + (y - y0) * dx / dy, is an integer or at least 1 / dy away
// from one, and 1 / dy is far above the rounding of the double arithmetic for block
// coordinates; a nudge well between the two makes the rounding to the lattice exact.
constexpr double EdgeNudge = 1.0 / (1 << 20);
inline std::int32_t CeilOnEdge(double x) noexcept {
  const double v = x - EdgeNudge;
  const auto t = static_cast<std::int32_t>(v);  // v > -1: truncation is the floor or the ceiling
  return t + (static_cast<double>(t) < v ? 1 : 0);
}
inline std::int32_t FloorOnEdge(double x) noexcept {
  return static_cast<std::int32_t>(x + EdgeNudge);  // never negative
}

}  // namespace orolith::lattice
