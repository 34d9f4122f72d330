#include "model/adaptive/BlockMesher.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace orolith::lattice {
namespace {

// Removal passes over a block's inserted points.
constexpr int MaxRemovalPasses = 4;

}  // namespace

// Greedy insertion puts a point where the surface is worst at the time, and points that come
// later often make an earlier one needless. A vertex is needless when a fan from one of its
// neighbours over the ring around it keeps every lattice point of the ring within the error;
// it then goes, and two triangles with it. The first pass tries every inserted vertex, later
// ones only the neighbours of those removed, whose surroundings changed.
void BlockMesher::RemoveNeedless() {
  vertexEdge_.assign(pts_.size(), None);
  const auto slots = static_cast<std::uint32_t>(error_.size());
  for (std::uint32_t e = 0; e < 3 * slots; ++e) {
    if (ver_[e] != None) vertexEdge_[ver_[e]] = e;
  }
  retry_.assign(pts_.size(), 1);
  for (int pass = 0; pass < MaxRemovalPasses; ++pass) {
    std::uint32_t found = 0;
    for (auto v = boundaryPoints_; v < pts_.size(); ++v) {
      if (retry_[v] != pass + 1) continue;
      if (vertexEdge_[v] != None && TryRemove(v, static_cast<std::uint8_t>(pass + 1))) ++found;
    }
    removed_ += found;
    if (found == 0) break;
  }
}

// When v goes, its neighbours are tried again: later in this pass (counted from 1) those it
// has not reached yet, in the next one the others.
bool BlockMesher::TryRemove(std::uint32_t v, std::uint8_t pass) {
  Star& s = star_;
  std::size_t k = 0;
  const std::uint32_t first = vertexEdge_[v];
  std::uint32_t e = first;
  do {
    if (k == MaxStar) return false;
    s.edges[k] = e;
    s.ring[k] = ver_[Next(e)];
    s.outer[k] = twin_[Next(e)];
    ++k;
    e = twin_[Prev(e)];
    if (e == None) return false;  // on the outline
  } while (e != first);

  const Pt pv = pts_[v];
  const double hv = Height(pv);
  for (std::size_t i = 0; i < k; ++i) {
    const Pt p = pts_[s.ring[i]];
    // Next to a hole a fan could leave out what the star covers.
    if (missing_ && std::isnan(Height(p))) return false;
    s.pts[i] = s.pts[i + k] = p;
    s.around[i] = s.around[i + k] = {p.x - pv.x, p.y - pv.y};
    s.z[i] = s.z[i + k] = Height(p);
  }
  // Twice the area of (v, ring i, ring j), or, the same, of (ring i, ring j, v).
  const auto cross = [&](std::size_t i, std::size_t j) {
    return static_cast<std::int64_t>(s.around[i].x) * s.around[j].y -
           static_cast<std::int64_t>(s.around[i].y) * s.around[j].x;
  };
  // v's own height under each fan first, which rules out most fans. The fan from ring vertex j
  // holds v in its triangle on the ring edge (i, i+1) where the ray from j through v leaves
  // the ring; the ring runs round v, so i only moves on as j does.
  std::size_t fans = 0;
  std::size_t leaves = 1;
  for (std::size_t j = 0; j < k; ++j) {
    std::size_t exit = std::max(leaves, j + 1);
    std::int64_t before = cross(j, exit);
    std::int64_t after = 0;
    for (; exit + 1 < j + k; ++exit, before = after) {
      after = cross(j, exit + 1);
      if (before >= 0 && after <= 0) break;
    }
    if (exit + 1 == j + k) continue;
    leaves = exit;
    const std::int64_t wu = cross(exit, exit + 1);
    // The fan's height at v is the weighted sum over twice the area, which is positive; the
    // division waits for the fans that pass.
    const auto area = static_cast<double>(wu + before - after);
    const double weighted = static_cast<double>(wu) * s.z[j] -
                            static_cast<double>(after) * s.z[exit] +
                            static_cast<double>(before) * s.z[exit + 1] - hv * area;
    if (!(std::fabs(weighted) <= maxError_ * area)) continue;
    const double off = std::fabs(weighted) / area;
    const Pt pu = s.pts[j];
    bool valid = true;
    for (std::size_t f = j + 1; f + 1 < j + k && valid; ++f) {
      valid = Orient(pu, s.pts[f], s.pts[f + 1]) > 0;
    }
    if (valid) s.fans[fans++] = {off, j};
  }
  // The fans that keep v itself closest first: they are the likeliest to keep the rest.
  // Seldom more than a few: by insertion.
  for (std::size_t n = 1; n < fans; ++n) {
    for (std::size_t m = n; m > 0 && s.fans[m] < s.fans[m - 1]; --m)
      std::swap(s.fans[m], s.fans[m - 1]);
  }
  for (std::size_t n = 0; n < fans; ++n) {
    const std::size_t j = s.fans[n].second;
    const Pt pu = s.pts[j];
    bool valid = true;
    for (std::size_t f = j + 1; f + 1 < j + k && valid; ++f) {
      valid = Scan(pu, s.pts[f], s.pts[f + 1], maxError_).error <= maxError_;
    }
    if (!valid) continue;

    // The fan replaces the star: triangle i of the fan, (u, ring i, ring i+1), takes the slot of
    // the star's triangle on the same ring edge; the two star triangles at u go.
    const std::uint32_t u = s.ring[j];
    const auto wrap = [&](std::size_t i) { return i < k ? i : i - k; };
    const auto slot = [&](std::size_t i) { return s.edges[wrap(i)] / 3; };
    for (std::size_t f = 1; f + 1 < k; ++f) {
      const std::size_t i = wrap(j + f);
      const std::uint32_t t = slot(i);
      ver_[3 * t] = u;
      ver_[3 * t + 1] = s.ring[i];
      ver_[3 * t + 2] = s.ring[wrap(i + 1)];
      Link(3 * t + 1, s.outer[i]);
      Link(3 * t, f == 1 ? s.outer[j] : 3 * slot(i + k - 1) + 2);
      Link(3 * t + 2, f + 2 == k ? s.outer[wrap(j + k - 1)] : 3 * slot(i + 1));
      vertexEdge_[s.ring[i]] = 3 * t + 1;
    }
    vertexEdge_[u] = 3 * slot(j + 1);
    vertexEdge_[s.ring[wrap(j + k - 1)]] = 3 * slot(j + k - 2) + 2;
    for (const std::size_t i : {j, wrap(j + k - 1)}) {
      const std::uint32_t t = slot(i);
      ver_[3 * t] = ver_[3 * t + 1] = ver_[3 * t + 2] = None;
    }
    vertexEdge_[v] = None;
    for (std::size_t i = 0; i < k; ++i) {
      const std::uint32_t w = s.ring[i];
      if (w >= boundaryPoints_) retry_[w] = static_cast<std::uint8_t>(w > v ? pass : pass + 1);
    }
    return true;
  }
  return false;
}

}  // namespace orolith::lattice
