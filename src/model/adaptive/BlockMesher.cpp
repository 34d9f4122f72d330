#include "model/adaptive/BlockMesher.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace orolith::lattice {
namespace {

// The queue of triangles over the error sorts them into buckets by the leading bits of their
// error, 64 a doubling: the worst bucket first, the last in first within a bucket. Errors
// within 1.1 % of each other are close enough to take in any order, and a bucket costs no
// comparisons.
constexpr std::uint32_t BucketShift = 23 - 6;

}  // namespace

Candidate BlockMesher::Scan(Pt a, Pt b, Pt c, float stopAbove) const noexcept {
  Candidate best;
  const std::int64_t twiceArea = Orient(a, b, c);
  // Pick's theorem: a lattice triangle of area one half holds no lattice point but its corners,
  // one of area one holds one more, halfway along the edge whose ends are two even steps apart.
  if (twiceArea <= 1) return best;
  if (missing_) return ScanMissing(a, b, c, stopAbove);
  if (twiceArea == 2) {
    for (const auto& [p, q] : {std::pair{a, b}, std::pair{b, c}, std::pair{c, a}}) {
      if ((p.x - q.x) % 2 != 0 || (p.y - q.y) % 2 != 0) continue;
      const Pt m{(p.x + q.x) / 2, (p.y + q.y) / 2};
      if (m.x < 1 || m.y < 1 || m.x > width_ - 2 || m.y > height_ - 2) return best;
      best.error = std::fabs((Height(p) + Height(q)) * 0.5F - Height(m));
      best.at = static_cast<std::uint32_t>(m.y) * static_cast<std::uint32_t>(width_) +
                static_cast<std::uint32_t>(m.x);
      return best;
    }
  }
  Pt v0 = a;
  Pt v1 = b;
  Pt v2 = c;
  if (v1.y < v0.y) std::swap(v0, v1);
  if (v2.y < v1.y) std::swap(v1, v2);
  if (v1.y < v0.y) std::swap(v0, v1);
  // Only the block's inner points: the outline's are settled by its border's simplification.
  const std::int32_t yFirst = std::max(v0.y, 1);
  const std::int32_t yLast = std::min(v2.y, height_ - 2);
  if (yFirst > yLast) return best;
  const std::int32_t xLimit = width_ - 2;

  const double za = Height(a);
  const double zb = Height(b);
  const double zc = Height(c);
  const double perArea = 1.0 / static_cast<double>(twiceArea);
  const double gx = ((zb - za) * (c.y - a.y) - (zc - za) * (b.y - a.y)) * perArea;
  const double gy = ((zc - za) * (b.x - a.x) - (zb - za) * (c.x - a.x)) * perArea;
  const auto dz = static_cast<float>(gx);
  // v1 left of the long edge v0 -> v2: the short edges bound the rows on the left.
  const bool shortLeft = Orient(v0, v2, v1) > 0;
  const double longSlope = static_cast<double>(v2.x - v0.x) / (v2.y - v0.y);
  const double lowSlope = v1.y > v0.y ? static_cast<double>(v1.x - v0.x) / (v1.y - v0.y) : 0;
  const double highSlope = v2.y > v1.y ? static_cast<double>(v2.x - v1.x) / (v2.y - v1.y) : 0;

  // Row by row: where the long and the short edge cross the row, and the plane's height at
  // x = 0, each a step further (sums of doubles, far inside the nudge and the float rounding).
  double xLong = v0.x + (yFirst - v0.y) * longSlope;
  double xShort =
      yFirst < v1.y ? v0.x + (yFirst - v0.y) * lowSlope : v1.x + (yFirst - v1.y) * highSlope;
  double shortSlope = yFirst < v1.y ? lowSlope : highSlope;
  double zRow = za + gy * (yFirst - a.y) - gx * a.x;
  for (std::int32_t y = yFirst; y <= yLast;
       ++y, xLong += longSlope, xShort += shortSlope, zRow += gy) {
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
    if (lo > hi) continue;
    const auto zr = static_cast<float>(zRow + gx * lo);
    const std::size_t offset = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                               static_cast<std::size_t>(lo);
    RowWorst(heights_.data() + offset, hi - lo + 1, zr, dz, static_cast<std::uint32_t>(offset),
             best);
    if (best.error > stopAbove) return best;
  }
  return best;
}

void BlockMesher::Flush() {
  for (const std::uint32_t t : pending_) {
    pendingFlag_[t] = 0;
    if (ver_[3 * t] == None) continue;
    const Candidate c = Scan(Corner(3 * t), Corner(3 * t + 1), Corner(3 * t + 2),
                             std::numeric_limits<float>::infinity());
    error_[t] = c.error;
    cand_[t] = c.at;
    if (c.error > maxError_) QueuePush(t);
  }
  pending_.clear();
}

/*        c                 c
 *       / \               /|\
 *      /   \             / | \
 *     /  v  \    =>     /  v  \
 *    /       \         / /   \ \
 *   a---------b       a---------b
 */
void BlockMesher::SplitInside(std::uint32_t t, std::uint32_t v) {
  const std::uint32_t a = ver_[3 * t];
  const std::uint32_t b = ver_[3 * t + 1];
  const std::uint32_t c = ver_[3 * t + 2];
  const std::uint32_t hab = twin_[3 * t];
  const std::uint32_t hbc = twin_[3 * t + 1];
  const std::uint32_t hca = twin_[3 * t + 2];
  const std::uint32_t t0 = t;
  const std::uint32_t t1 = NewSlot();
  const std::uint32_t t2 = NewSlot();
  SetCorners(t0, a, b, v);
  SetCorners(t1, b, c, v);
  SetCorners(t2, c, a, v);
  Link(3 * t0, hab);
  Link(3 * t1, hbc);
  Link(3 * t2, hca);
  Link(3 * t0 + 1, 3 * t1 + 2);
  Link(3 * t1 + 1, 3 * t2 + 2);
  Link(3 * t2 + 1, 3 * t0 + 2);
  legalize_.push_back(3 * t0);
  legalize_.push_back(3 * t1);
  legalize_.push_back(3 * t2);
}

// v on the half-edge e = x -> y of triangle (x, y, o); its twin, when there is one, lies in
// (y, x, q). Each of the two triangles becomes two.
void BlockMesher::SplitEdge(std::uint32_t e, std::uint32_t v) {
  const std::uint32_t tA = e / 3;
  const std::uint32_t x = ver_[e];
  const std::uint32_t y = ver_[Next(e)];
  const std::uint32_t o = ver_[Prev(e)];
  const std::uint32_t hyo = twin_[Next(e)];
  const std::uint32_t hox = twin_[Prev(e)];
  const std::uint32_t f = twin_[e];
  const std::uint32_t a1 = NewSlot();
  SetCorners(tA, x, v, o);
  SetCorners(a1, v, y, o);
  Link(3 * tA + 1, 3 * a1 + 2);
  Link(3 * tA + 2, hox);
  Link(3 * a1 + 1, hyo);
  legalize_.push_back(3 * tA + 2);
  legalize_.push_back(3 * a1 + 1);
  if (f == None) {
    twin_[3 * tA] = None;
    twin_[3 * a1] = None;
    return;
  }
  const std::uint32_t tB = f / 3;
  const std::uint32_t q = ver_[Prev(f)];
  const std::uint32_t hxq = twin_[Next(f)];
  const std::uint32_t hqy = twin_[Prev(f)];
  const std::uint32_t b1 = NewSlot();
  SetCorners(tB, y, v, q);
  SetCorners(b1, v, x, q);
  Link(3 * tA, 3 * b1);
  Link(3 * a1, 3 * tB);
  Link(3 * tB + 1, 3 * b1 + 2);
  Link(3 * tB + 2, hqy);
  Link(3 * b1 + 1, hxq);
  legalize_.push_back(3 * tB + 2);
  legalize_.push_back(3 * b1 + 1);
}

/* Each queued half-edge lies opposite the new vertex in a triangle around it. Where the vertex
 * on the far side lies inside that triangle's circumcircle, the edge flips:
 *
 *           y                     y
 *          /|\                   / \
 *         / | \                 /   \
 *        /  |  \      flip     /     \
 *       p   |   q     =>      p-------q
 *        \  |  /               \     /
 *         \ | /                 \   /
 *          \|/                   \ /
 *           x                     x
 *
 * and the two edges of the far side come up in turn. A flip rewrites only the two slots of its
 * edge, and no other queued edge lies in either, so queued edges never go stale.
 */
void BlockMesher::Legalize() {
  while (!legalize_.empty()) {
    const std::uint32_t e = legalize_.back();
    legalize_.pop_back();
    const std::uint32_t f = twin_[e];
    if (f == None) continue;
    const std::uint32_t x = ver_[e];
    const std::uint32_t y = ver_[Next(e)];
    const std::uint32_t p = ver_[Prev(e)];
    const std::uint32_t q = ver_[Prev(f)];
    if (!InCircle(pts_[x], pts_[y], pts_[p], pts_[q])) continue;
    const std::uint32_t tA = e / 3;
    const std::uint32_t tB = f / 3;
    const std::uint32_t hyp = twin_[Next(e)];
    const std::uint32_t hpx = twin_[Prev(e)];
    const std::uint32_t hxq = twin_[Next(f)];
    const std::uint32_t hqy = twin_[Prev(f)];
    SetCorners(tA, p, x, q);
    SetCorners(tB, q, y, p);
    Link(3 * tA, hpx);
    Link(3 * tA + 1, hxq);
    Link(3 * tA + 2, 3 * tB + 2);
    Link(3 * tB, hqy);
    Link(3 * tB + 1, hyp);
    legalize_.push_back(3 * tA + 1);
    legalize_.push_back(3 * tB);
  }
}

// The outline half-edge from -> to; only among the slots of the last insertion when
// recentOnly.
std::uint32_t BlockMesher::FindHullEdge(std::uint32_t from, std::uint32_t to,
                                        bool recentOnly) const {
  const auto match = [&](std::uint32_t t) -> std::uint32_t {
    for (std::uint32_t i = 0; i < 3; ++i) {
      const std::uint32_t e = 3 * t + i;
      if (ver_[e] == from && ver_[Next(e)] == to && twin_[e] == None) return e;
    }
    return None;
  };
  if (recentOnly) {
    for (const std::uint32_t t : touched_) {
      if (const std::uint32_t e = match(t); e != None) return e;
    }
  } else {
    for (std::uint32_t t = 0; t < error_.size(); ++t) {
      if (const std::uint32_t e = match(t); e != None) return e;
    }
  }
  throw std::logic_error("lattice mesher: lost the outline edge");
}

// Adds the kept points strictly between the two corners of one side, from the corner `from`
// towards `to`: each lands on the outline edge from the point before to `to`.
void BlockMesher::InsertSide(std::span<const std::uint32_t> along, std::uint32_t origin,
                             bool horizontal, std::int32_t fixed, bool reverse, std::uint32_t from,
                             std::uint32_t to) {
  if (along.size() <= 2) return;
  std::uint32_t edge = FindHullEdge(from, to, false);
  for (std::size_t k = 1; k + 1 < along.size(); ++k) {
    const auto at = static_cast<std::int32_t>(along[reverse ? along.size() - 1 - k : k] - origin);
    const std::uint32_t v = AddVertex(horizontal ? Pt{at, fixed} : Pt{fixed, at});
    touched_.clear();
    SplitEdge(edge, v);
    Legalize();
    edge = FindHullEdge(v, to, true);
  }
}

void BlockMesher::Mesh(const BlockSides& sides, float maxError) {
  pts_.clear();
  ver_.clear();
  twin_.clear();
  error_.clear();
  cand_.clear();
  bucketOf_.clear();
  pendingFlag_.clear();
  next_.clear();
  prev_.clear();
  top_ = 0;
  queued_ = 0;
  pending_.clear();
  removed_ = 0;

  float largest = 0;
  bool missing = false;
  for (const float h : heights_) {
    largest = std::max(largest, std::fabs(h));
    missing = missing || std::isnan(h);
  }
  missing_ = missing;
  maxError_ = AimedError(maxError, largest);
  // A positive float's bits sort as the float does.
  std::uint32_t bits;
  std::memcpy(&bits, &maxError_, sizeof bits);
  bucketBase_ = bits >> BucketShift;
  buckets_.assign((0x7F800000U >> BucketShift) - bucketBase_ + 1, None);

  const std::int32_t east = width_ - 1;
  const std::int32_t north = height_ - 1;
  const std::uint32_t sw = AddVertex({0, 0});
  const std::uint32_t se = AddVertex({east, 0});
  const std::uint32_t ne = AddVertex({east, north});
  const std::uint32_t nw = AddVertex({0, north});
  const std::uint32_t t0 = NewSlot();
  const std::uint32_t t1 = NewSlot();
  SetCorners(t0, sw, se, ne);
  SetCorners(t1, sw, ne, nw);
  Link(3 * t0 + 2, 3 * t1);
  outlining_ = true;
  InsertSide(sides.South, sides.Q0, true, 0, false, sw, se);
  InsertSide(sides.East, sides.R0, false, east, false, se, ne);
  InsertSide(sides.North, sides.Q0, true, north, true, ne, nw);
  InsertSide(sides.West, sides.R0, false, 0, true, nw, sw);
  outlining_ = false;
  boundaryPoints_ = static_cast<std::uint32_t>(pts_.size());
  Flush();

  while (queued_ != 0) {
    const std::uint32_t t = QueuePop();
    const std::uint32_t at = cand_[t];
    const Pt p{static_cast<std::int32_t>(at % static_cast<std::uint32_t>(width_)),
               static_cast<std::int32_t>(at / static_cast<std::uint32_t>(width_))};
    const std::uint32_t v = AddVertex(p);
    std::uint32_t onEdge = None;
    for (std::uint32_t i = 0; i < 3; ++i) {
      if (Orient(Corner(3 * t + i), Corner(3 * t + (i + 1) % 3), p) == 0) onEdge = 3 * t + i;
    }
    if (onEdge == None) {
      SplitInside(t, v);
    } else {
      SplitEdge(onEdge, v);
    }
    Legalize();
    Flush();
  }

  RemoveNeedless();
}

void BlockMesher::Output(const LatticeRect& rect, std::vector<LatticeSample>& points,
                         std::vector<LatticeTriangle>& triangles) {
  outputIndex_.assign(pts_.size(), None);
  points.clear();
  triangles.clear();
  const auto slots = static_cast<std::uint32_t>(error_.size());
  std::size_t live = 0;
  for (std::uint32_t t = 0; t < slots; ++t) live += ver_[3 * t] != None ? 1 : 0;
  triangles.reserve(live);
  points.reserve(std::min(pts_.size(), live + 2));
  const auto index = [&](std::uint32_t v) {
    if (outputIndex_[v] == None) {
      outputIndex_[v] = static_cast<std::uint32_t>(points.size());
      const Pt p = pts_[v];
      points.push_back({rect.Q0 + static_cast<std::uint32_t>(p.x),
                        rect.R0 + static_cast<std::uint32_t>(p.y), Height(p)});
    }
    return outputIndex_[v];
  };
  for (std::uint32_t t = 0; t < slots; ++t) {
    if (ver_[3 * t] == None || (missing_ && Missing(t))) continue;
    const std::uint32_t a = index(ver_[3 * t]);
    const std::uint32_t b = index(ver_[3 * t + 1]);
    const std::uint32_t c = index(ver_[3 * t + 2]);
    triangles.push_back({a, b, c});
  }
}

void BlockMesher::QueuePush(std::uint32_t t) {
  std::uint32_t bits;
  std::memcpy(&bits, &error_[t], sizeof bits);
  const std::uint32_t b = (bits >> BucketShift) - bucketBase_;
  const std::uint32_t head = buckets_[b];
  next_[t] = head;
  prev_[t] = None;
  if (head != None) prev_[head] = t;
  buckets_[b] = t;
  bucketOf_[t] = b;
  if (b >= top_) top_ = b + 1;
  ++queued_;
}

std::uint32_t BlockMesher::QueuePop() noexcept {
  while (buckets_[top_ - 1] == None) --top_;
  const std::uint32_t t = buckets_[top_ - 1];
  QueueRemove(t);
  return t;
}

void BlockMesher::QueueRemove(std::uint32_t t) noexcept {
  const std::uint32_t b = bucketOf_[t];
  bucketOf_[t] = None;
  if (prev_[t] != None) {
    next_[prev_[t]] = next_[t];
  } else {
    buckets_[b] = next_[t];
  }
  if (next_[t] != None) prev_[next_[t]] = prev_[t];
  --queued_;
}

}  // namespace orolith::lattice
