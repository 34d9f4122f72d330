#include "model/adaptive/BorderSimplify.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace orolith {

void PolylineSimplifier::Reserve(std::size_t samples) {
  hops_.reserve(samples);
  from_.reserve(samples);
}

// Shortest path from the first sample to the last over the segments that stay within the error.
// The segments out of a sample are found in one sweep: the slopes that pass within the error of
// every sample swept so far form a window, a segment is acceptable when its own slope lies in
// it, and the sweep ends when the window closes. (Acceptable segments are not a prefix: a
// longer one may pass where a shorter one does not, so the farthest reach alone is not the
// fewest points.)
void PolylineSimplifier::Simplify(std::span<const float> heights, float maxError,
                                  std::vector<std::uint32_t>& kept) {
  kept.clear();
  const std::size_t n = heights.size();
  if (n == 0) return;
  if (n <= 2) {
    for (std::size_t i = 0; i < n; ++i) kept.push_back(static_cast<std::uint32_t>(i));
    return;
  }
  constexpr std::uint32_t Unreached = std::numeric_limits<std::uint32_t>::max();
  hops_.assign(n, Unreached);
  from_.assign(n, 0);
  hops_[0] = 0;
  const double e = std::max(0.0F, maxError);
  const std::size_t last = n - 1;
  for (std::size_t i = 0; i < last; ++i) {
    // Unreached: every path to i was cut below. A path through i can't beat, nor tie with, the
    // best one to the end known so far.
    if (hops_[i] == Unreached) continue;
    const std::uint32_t next = hops_[i] + 1;
    if (next >= hops_[last]) continue;
    const auto reach = [&](std::size_t j) {
      if (next < hops_[j]) {
        hops_[j] = next;
        from_[j] = static_cast<std::uint32_t>(i);
      }
    };
    const double hi0 = heights[i];
    // From a missing sample, over missing ones only: a segment with a missing end is left out
    // of the surface, and one over a sample with data would leave that sample out with it.
    if (std::isnan(hi0)) {
      for (std::size_t j = i + 1; j < n; ++j) {
        reach(j);
        if (!std::isnan(heights[j])) break;
      }
      continue;
    }
    double lo = -std::numeric_limits<double>::infinity();
    double hi = std::numeric_limits<double>::infinity();
    for (std::size_t j = i + 1; j < n; ++j) {
      // A missing sample is kept, and never passed over.
      if (std::isnan(heights[j])) {
        if (j == i + 1) reach(j);
        break;
      }
      const double run = static_cast<double>(j - i);
      const double rise = static_cast<double>(heights[j]) - hi0;
      // slope within [lo, hi], multiplied out by run > 0
      if (rise >= lo * run && rise <= hi * run) reach(j);
      lo = std::max(lo, (rise - e) / run);
      hi = std::min(hi, (rise + e) / run);
      if (lo > hi) break;
    }
  }
  for (std::size_t at = last;; at = from_[at]) {
    kept.push_back(static_cast<std::uint32_t>(at));
    if (at == 0) break;
  }
  std::reverse(kept.begin(), kept.end());
}

}  // namespace orolith
