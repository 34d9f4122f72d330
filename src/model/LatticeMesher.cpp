#include "model/LatticeMesher.h"

#include "model/BorderSimplify.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <thread>
#include <utility>

namespace orolith {
namespace {

constexpr std::uint32_t None = std::numeric_limits<std::uint32_t>::max();
// Block coordinates stay small enough for the exact 64-bit in-circle test.
constexpr std::uint32_t MaxBlockPoints = 4096;
// Base blocks a side that may become one block where the borders between them are straight.
constexpr std::uint32_t GroupBlocks = 4;
// The queue of triangles over the error sorts them into buckets by the leading bits of their
// error, 64 a doubling: the worst bucket first, the last in first within a bucket. Errors
// within 1.1 % of each other are close enough to take in any order, and a bucket costs no
// comparisons.
constexpr std::uint32_t BucketShift = 23 - 6;
// Removal passes over a block's inserted points, and the most neighbours a removal considers.
constexpr int MaxRemovalPasses = 4;
constexpr std::size_t MaxStar = 32;

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

// The kept points of a block's four sides, both corners included: South and North by their
// column, West and East by their row, counted in the piece from the block's corner (Q0, R0).
struct BlockSides {
  std::span<const std::uint32_t> South;
  std::span<const std::uint32_t> North;
  std::span<const std::uint32_t> West;
  std::span<const std::uint32_t> East;
  std::uint32_t Q0 = 0;
  std::uint32_t R0 = 0;
};

// Meshes one block: its sides' kept points form the boundary, then greedy insertion adds the
// worst lattice point of the worst triangle until every triangle is within the error, keeping
// the triangulation Delaunay; last, points that the finished surface no longer needs are taken
// out again. Everything it holds is reused from block to block, so after the first few blocks
// meshing allocates nothing.
//
// Triangles live in slots: slot t has corners ver_[3t..3t+2], counter-clockwise, and half-edge
// 3t+i runs from corner i to corner i+1; twin_ holds the opposite half-edge, None on the block's
// outline.
class BlockMesher {
 public:
  void Reserve(std::uint32_t side) {
    const std::size_t points = static_cast<std::size_t>(side) * side;
    heights_.reserve(points);
    pts_.reserve(points);
    ver_.reserve(6 * points);
    twin_.reserve(6 * points);
    error_.reserve(2 * points);
    cand_.reserve(2 * points);
    bucketOf_.reserve(2 * points);
    pendingFlag_.reserve(2 * points);
    next_.reserve(2 * points);
    prev_.reserve(2 * points);
  }

  float* Heights(std::uint32_t width, std::uint32_t height) {
    width_ = static_cast<std::int32_t>(width);
    height_ = static_cast<std::int32_t>(height);
    heights_.resize(static_cast<std::size_t>(width) * height);
    return heights_.data();
  }

  void Mesh(const BlockSides& sides, float maxError);

  // The live triangles with their points in piece coordinates.
  void Output(const LatticeRect& rect, std::vector<LatticeSample>& points,
              std::vector<LatticeTriangle>& triangles);

  std::uint32_t Removed() const noexcept { return removed_; }

 private:
  float Height(Pt p) const noexcept {
    return heights_[static_cast<std::size_t>(p.y) * static_cast<std::size_t>(width_) +
                    static_cast<std::size_t>(p.x)];
  }
  Pt Corner(std::uint32_t e) const noexcept { return pts_[ver_[e]]; }

  std::uint32_t AddVertex(Pt p) {
    pts_.push_back(p);
    return static_cast<std::uint32_t>(pts_.size() - 1);
  }
  std::uint32_t NewSlot() {
    const auto t = static_cast<std::uint32_t>(error_.size());
    ver_.resize(ver_.size() + 3, None);
    twin_.resize(twin_.size() + 3, None);
    error_.push_back(-1);
    cand_.push_back(0);
    bucketOf_.push_back(None);
    next_.push_back(None);
    prev_.push_back(None);
    pendingFlag_.push_back(0);
    return t;
  }
  void SetCorners(std::uint32_t t, std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept {
    ver_[3 * t] = a;
    ver_[3 * t + 1] = b;
    ver_[3 * t + 2] = c;
    Touch(t);
  }
  void Link(std::uint32_t e, std::uint32_t f) noexcept {
    twin_[e] = f;
    if (f != None) twin_[f] = e;
  }
  // t changed: out of the queue, into the list of slots to scan again.
  void Touch(std::uint32_t t) {
    if (bucketOf_[t] != None) QueueRemove(t);
    if (!pendingFlag_[t]) {
      pendingFlag_[t] = 1;
      pending_.push_back(t);
    }
    if (outlining_) touched_.push_back(t);
  }

  Candidate Scan(Pt a, Pt b, Pt c, float stopAbove) const noexcept;
  void Flush();

  void SplitInside(std::uint32_t t, std::uint32_t v);
  void SplitEdge(std::uint32_t e, std::uint32_t v);
  void Legalize();
  void InsertSide(std::span<const std::uint32_t> along, std::uint32_t origin, bool horizontal,
                  std::int32_t fixed, bool reverse, std::uint32_t from, std::uint32_t to);
  std::uint32_t FindHullEdge(std::uint32_t from, std::uint32_t to, bool recentOnly) const;

  void RemoveNeedless();
  bool TryRemove(std::uint32_t v, std::uint8_t pass);

  void QueuePush(std::uint32_t t);
  std::uint32_t QueuePop() noexcept;
  void QueueRemove(std::uint32_t t) noexcept;

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  float maxError_ = 0;
  std::uint32_t boundaryPoints_ = 0;  // vertices 0 .. boundaryPoints_ - 1 lie on the outline
  std::uint32_t removed_ = 0;
  std::vector<float> heights_;  // row by row, south first
  std::vector<Pt> pts_;         // vertex coordinates
  std::vector<std::uint32_t> ver_;
  std::vector<std::uint32_t> twin_;
  std::vector<float> error_;  // of each slot's worst point
  std::vector<std::uint32_t> cand_;
  std::vector<std::uint32_t> bucketOf_;  // None: not queued
  std::vector<std::uint8_t> pendingFlag_;
  std::vector<std::uint32_t> buckets_;  // the first slot of each, or None
  std::vector<std::uint32_t> next_;     // within a bucket
  std::vector<std::uint32_t> prev_;
  std::uint32_t bucketBase_ = 0;  // of the error aimed at: the lowest bucket
  std::uint32_t top_ = 0;         // every bucket from here up is empty
  std::size_t queued_ = 0;
  std::vector<std::uint32_t> pending_;
  bool outlining_ = false;              // inserting the outline's points: keep touched_
  std::vector<std::uint32_t> touched_;  // slots written since the last insertion began
  std::vector<std::uint32_t> legalize_;
  std::vector<std::uint32_t> vertexEdge_;  // a half-edge out of each vertex, for the removals
  std::vector<std::uint8_t> retry_;        // the removal pass, counted from 1, that tries a vertex
  std::vector<std::uint32_t> outputIndex_;
  // The star of the vertex being removed, its ring twice over so that walking it from any
  // vertex needs no wrap-around.
  struct Star {
    std::array<std::uint32_t, MaxStar> edges;  // half-edges out of the vertex, counter-clockwise
    std::array<std::uint32_t, MaxStar> ring;   // their far ends
    std::array<std::uint32_t, MaxStar> outer;  // the twins of the ring's edges
    std::array<Pt, 2 * MaxStar> pts;
    std::array<Pt, 2 * MaxStar> around;  // pts less the vertex
    std::array<double, 2 * MaxStar> z;
    std::array<std::pair<double, std::size_t>, MaxStar> fans;  // v's offset from a fan, its u
  };
  Star star_;
};

Candidate BlockMesher::Scan(Pt a, Pt b, Pt c, float stopAbove) const noexcept {
  Candidate best;
  const std::int64_t twiceArea = Orient(a, b, c);
  // Pick's theorem: a lattice triangle of area one half holds no lattice point but its corners,
  // one of area one holds one more, halfway along the edge whose ends are two even steps apart.
  if (twiceArea <= 1) return best;
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
  for (const float h : heights_) largest = std::max(largest, std::fabs(h));
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
    const double z = (static_cast<double>(wu) * s.z[j] - static_cast<double>(after) * s.z[exit] +
                      static_cast<double>(before) * s.z[exit + 1]) /
                     static_cast<double>(wu + before - after);
    const double off = std::fabs(z - hv);
    if (!(off <= maxError_)) continue;
    const Pt pu = s.pts[j];
    bool valid = true;
    for (std::size_t f = j + 1; f + 1 < j + k && valid; ++f) {
      valid = Orient(pu, s.pts[f], s.pts[f + 1]) > 0;
    }
    if (valid) s.fans[fans++] = {off, j};
  }
  // The fans that keep v itself closest first: they are the likeliest to keep the rest.
  std::sort(s.fans.begin(), s.fans.begin() + static_cast<std::ptrdiff_t>(fans));
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
    if (ver_[3 * t] == None) continue;
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

// The blocks of a piece and the kept points of every border between and around them.
//
// The piece is cut into base blocks of at most BlockPoints a side. A square group of up to
// GroupBlocks x GroupBlocks base blocks, or a quarter of one, becomes one block where every
// border inside it would be a straight line within the error: there a border adds nothing
// but its forced corners and the two triangles more that a flat block needs, which over sea
// or plains would be most of the surface. Borders run along the lines between base blocks;
// the corners of the blocks on either side cut them into runs, each simplified on its own
// samples, so that both sides keep the same points.
struct PiecePlan {
  // Base blocks [i0, i1) x [j0, j1) of one block.
  struct Span {
    std::uint32_t i0;
    std::uint32_t j0;
    std::uint32_t i1;
    std::uint32_t j1;
  };
  std::vector<std::uint32_t> qs;  // base block column edges, 0 .. columns
  std::vector<std::uint32_t> rs;  // base block row edges, 0 .. rows
  std::vector<Span> blocks;       // west to east by their west edge, then south to north
  // The kept points of the borders on each base column edge (their rows) and each base row
  // edge (their columns), ascending.
  std::vector<std::vector<std::uint32_t>> vertical;
  std::vector<std::vector<std::uint32_t>> horizontal;

  std::uint32_t BaseColumns() const { return static_cast<std::uint32_t>(qs.size() - 1); }
  std::uint32_t BaseRows() const { return static_cast<std::uint32_t>(rs.size() - 1); }
  LatticeRect Rect(std::uint32_t b) const {
    const Span& s = blocks[b];
    return {qs[s.i0], rs[s.j0], qs[s.i1] - qs[s.i0] + 1, rs[s.j1] - rs[s.j0] + 1};
  }
  // The kept points of a line from one lattice index to another, both ends included.
  static std::span<const std::uint32_t> Along(const std::vector<std::uint32_t>& line,
                                              std::uint32_t from, std::uint32_t to) {
    const auto first = std::lower_bound(line.begin(), line.end(), from);
    const auto last = std::upper_bound(first, line.end(), to);
    return {line.data() + (first - line.begin()), static_cast<std::size_t>(last - first)};
  }
};

// Edges of count blocks over cells cells, as even as whole cells allow.
void SplitEvenly(std::uint32_t cells, std::uint32_t maxCells, std::vector<std::uint32_t>& edges) {
  const std::uint32_t count = std::max<std::uint32_t>(1, (cells + maxCells - 1) / maxCells);
  edges.resize(count + 1);
  for (std::uint32_t i = 0; i <= count; ++i) {
    edges[i] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(cells) * i / count);
  }
}

}  // namespace

struct LatticeMesher::Impl {
  struct Slot {
    std::uint32_t block = 0;
    bool done = false;
    std::exception_ptr error;
    std::vector<LatticeSample> points;
    std::vector<LatticeTriangle> triangles;
    std::uint32_t removed = 0;
  };

  explicit Impl(const LatticeMeshOptions& o) : options(o) {
    options.BlockPoints =
        std::clamp<std::uint32_t>(options.BlockPoints, 2, (MaxBlockPoints - 1) / GroupBlocks + 1);
    options.Threads = std::max(1U, options.Threads);
    meshers.resize(options.Threads);
    for (BlockMesher& m : meshers) m.Reserve(GroupBlocks * (options.BlockPoints - 1) + 1);
    slots.resize(options.Threads > 1 ? 2 * options.Threads : 1);
    if (options.Threads > 1) {
      workers.reserve(options.Threads);
      for (unsigned i = 0; i < options.Threads; ++i) {
        workers.emplace_back([this, i](std::stop_token stop) { Work(stop, meshers[i]); });
      }
    }
  }

  void Plan(const LatticeHeights& h, std::uint32_t columns, std::uint32_t rows);
  void Group(std::uint32_t i0, std::uint32_t j0, std::uint32_t size);
  // Simplifies the samples of line from lattice index first to last into kept, once per run.
  void Simplify(std::uint32_t first, std::uint32_t last);
  void MeshBlock(BlockMesher& mesher, Slot& slot) const;
  void Work(const std::stop_token& stop, BlockMesher& mesher);
  void Start(Slot& slot);
  void WaitFor(const Slot& slot);
  void Drain();

  LatticeMeshOptions options;
  const LatticeHeights* heights = nullptr;
  PiecePlan plan;
  PolylineSimplifier simplifier;
  std::vector<float> line;
  std::vector<std::uint32_t> kept;
  // Per base border segment, whether it simplifies to its two ends: segment j of base column
  // edge i at i * BaseRows() + j, segment i of base row edge j at j * BaseColumns() + i.
  std::vector<std::uint8_t> straightVertical;
  std::vector<std::uint8_t> straightHorizontal;
  std::vector<std::uint32_t> owner;  // the block of each base block, i * BaseRows() + j
  std::vector<std::uint8_t> corner;  // base grid points that are a block's corner
  std::vector<BlockMesher> meshers;  // one a thread
  std::vector<Slot> slots;
  std::mutex mutex;
  std::condition_variable_any queued;
  std::condition_variable finished;
  std::deque<Slot*> queue;            // waiting for a worker
  unsigned running = 0;               // slots a worker is meshing
  std::vector<std::jthread> workers;  // last: stopped and joined before all they use goes
};

void LatticeMesher::Impl::Simplify(std::uint32_t first, std::uint32_t last) {
  const std::span<const float> samples(line.data() + first, last - first + 1);
  float largest = 0;
  for (const float z : samples) largest = std::max(largest, std::fabs(z));
  simplifier.Simplify(samples, AimedError(options.MaxError, largest), kept);
  for (std::uint32_t& k : kept) k += first;
}

void LatticeMesher::Impl::Group(std::uint32_t i0, std::uint32_t j0, std::uint32_t size) {
  const std::uint32_t columns = plan.BaseColumns();
  const std::uint32_t rows = plan.BaseRows();
  if (i0 >= columns || j0 >= rows) return;
  const std::uint32_t i1 = std::min(i0 + size, columns);
  const std::uint32_t j1 = std::min(j0 + size, rows);
  bool straight = true;
  for (std::uint32_t i = i0 + 1; i < i1 && straight; ++i) {
    for (std::uint32_t j = j0; j < j1 && straight; ++j) {
      straight = straightVertical[static_cast<std::size_t>(i) * rows + j] != 0;
    }
  }
  for (std::uint32_t j = j0 + 1; j < j1 && straight; ++j) {
    for (std::uint32_t i = i0; i < i1 && straight; ++i) {
      straight = straightHorizontal[static_cast<std::size_t>(j) * columns + i] != 0;
    }
  }
  if (size == 1 || straight) {
    plan.blocks.push_back({i0, j0, i1, j1});
    return;
  }
  const std::uint32_t half = size / 2;
  Group(i0, j0, half);
  Group(i0, j0 + half, half);
  Group(i0 + half, j0, half);
  Group(i0 + half, j0 + half, half);
}

void LatticeMesher::Impl::Plan(const LatticeHeights& h, std::uint32_t columns, std::uint32_t rows) {
  heights = &h;
  SplitEvenly(columns, options.BlockPoints - 1, plan.qs);
  SplitEvenly(rows, options.BlockPoints - 1, plan.rs);
  const std::uint32_t baseColumns = plan.BaseColumns();
  const std::uint32_t baseRows = plan.BaseRows();
  line.resize(std::max(columns, rows) + 1);
  const auto fillVertical = [&](std::uint32_t i) {
    h.Fill({plan.qs[i], 0, 1, rows + 1}, line.data(), 1);
  };
  const auto fillHorizontal = [&](std::uint32_t j) {
    h.Fill({0, plan.rs[j], columns + 1, 1}, line.data(), 1);
  };

  // Which base borders are straight within the error.
  straightVertical.assign(static_cast<std::size_t>(baseColumns + 1) * baseRows, 0);
  straightHorizontal.assign(static_cast<std::size_t>(baseRows + 1) * baseColumns, 0);
  for (std::uint32_t i = 1; i < baseColumns; ++i) {
    fillVertical(i);
    for (std::uint32_t j = 0; j < baseRows; ++j) {
      Simplify(plan.rs[j], plan.rs[j + 1]);
      straightVertical[static_cast<std::size_t>(i) * baseRows + j] = kept.size() == 2 ? 1 : 0;
    }
  }
  for (std::uint32_t j = 1; j < baseRows; ++j) {
    fillHorizontal(j);
    for (std::uint32_t i = 0; i < baseColumns; ++i) {
      Simplify(plan.qs[i], plan.qs[i + 1]);
      straightHorizontal[static_cast<std::size_t>(j) * baseColumns + i] = kept.size() == 2 ? 1 : 0;
    }
  }

  // The blocks, their owners and their corners.
  plan.blocks.clear();
  for (std::uint32_t i = 0; i < baseColumns; i += GroupBlocks) {
    for (std::uint32_t j = 0; j < baseRows; j += GroupBlocks) Group(i, j, GroupBlocks);
  }
  std::sort(plan.blocks.begin(), plan.blocks.end(),
            [](const PiecePlan::Span& a, const PiecePlan::Span& b) {
              return a.i0 != b.i0 ? a.i0 < b.i0 : a.j0 < b.j0;
            });
  owner.assign(static_cast<std::size_t>(baseColumns) * baseRows, 0);
  corner.assign(static_cast<std::size_t>(baseColumns + 1) * (baseRows + 1), 0);
  for (std::uint32_t b = 0; b < plan.blocks.size(); ++b) {
    const PiecePlan::Span& s = plan.blocks[b];
    for (std::uint32_t i = s.i0; i < s.i1; ++i) {
      for (std::uint32_t j = s.j0; j < s.j1; ++j)
        owner[static_cast<std::size_t>(i) * baseRows + j] = b;
    }
    for (const std::uint32_t i : {s.i0, s.i1}) {
      for (const std::uint32_t j : {s.j0, s.j1})
        corner[static_cast<std::size_t>(i) * (baseRows + 1) + j] = 1;
    }
  }

  // The borders, run by run: a run goes on through base grid points that are no block's corner.
  const auto runs = [&](std::uint32_t segments, const std::vector<std::uint32_t>& edges,
                        auto&& border, auto&& isCorner, std::vector<std::uint32_t>& out) {
    out.clear();
    for (std::uint32_t s = 0; s < segments;) {
      if (!border(s)) {
        ++s;
        continue;
      }
      std::uint32_t e = s + 1;
      while (e < segments && border(e) && !isCorner(e)) ++e;
      Simplify(edges[s], edges[e]);
      for (const std::uint32_t k : kept) {
        if (out.empty() || out.back() != k) out.push_back(k);
      }
      s = e;
    }
  };
  plan.vertical.resize(baseColumns + 1);
  for (std::uint32_t i = 0; i <= baseColumns; ++i) {
    fillVertical(i);
    runs(
        baseRows, plan.rs,
        [&](std::uint32_t j) {
          return i == 0 || i == baseColumns ||
                 owner[static_cast<std::size_t>(i - 1) * baseRows + j] !=
                     owner[static_cast<std::size_t>(i) * baseRows + j];
        },
        [&](std::uint32_t j) {
          return corner[static_cast<std::size_t>(i) * (baseRows + 1) + j] != 0;
        },
        plan.vertical[i]);
  }
  plan.horizontal.resize(baseRows + 1);
  for (std::uint32_t j = 0; j <= baseRows; ++j) {
    fillHorizontal(j);
    runs(
        baseColumns, plan.qs,
        [&](std::uint32_t i) {
          return j == 0 || j == baseRows ||
                 owner[static_cast<std::size_t>(i) * baseRows + j - 1] !=
                     owner[static_cast<std::size_t>(i) * baseRows + j];
        },
        [&](std::uint32_t i) {
          return corner[static_cast<std::size_t>(i) * (baseRows + 1) + j] != 0;
        },
        plan.horizontal[j]);
  }
}

void LatticeMesher::Impl::MeshBlock(BlockMesher& mesher, Slot& slot) const {
  const LatticeRect rect = plan.Rect(slot.block);
  const PiecePlan::Span& s = plan.blocks[slot.block];
  const std::uint32_t east = rect.Q0 + rect.Columns - 1;
  const std::uint32_t north = rect.R0 + rect.Rows - 1;
  float* out = mesher.Heights(rect.Columns, rect.Rows);
  heights->Fill(rect, out, rect.Columns);
  mesher.Mesh({PiecePlan::Along(plan.horizontal[s.j0], rect.Q0, east),
               PiecePlan::Along(plan.horizontal[s.j1], rect.Q0, east),
               PiecePlan::Along(plan.vertical[s.i0], rect.R0, north),
               PiecePlan::Along(plan.vertical[s.i1], rect.R0, north), rect.Q0, rect.R0},
              options.MaxError);
  mesher.Output(rect, slot.points, slot.triangles);
  slot.removed = mesher.Removed();
}

void LatticeMesher::Impl::Work(const std::stop_token& stop, BlockMesher& mesher) {
  std::unique_lock lock(mutex);
  for (;;) {
    queued.wait(lock, stop, [this] { return !queue.empty(); });
    if (stop.stop_requested()) return;
    Slot& slot = *queue.front();
    queue.pop_front();
    ++running;
    lock.unlock();
    try {
      MeshBlock(mesher, slot);
    } catch (...) {
      slot.error = std::current_exception();
    }
    lock.lock();
    --running;
    slot.done = true;
    finished.notify_all();
  }
}

void LatticeMesher::Impl::Start(Slot& slot) {
  slot.done = false;
  slot.error = nullptr;
  if (workers.empty()) {
    try {
      MeshBlock(meshers.front(), slot);
    } catch (...) {
      slot.error = std::current_exception();
    }
    slot.done = true;
    return;
  }
  {
    const std::lock_guard lock(mutex);
    queue.push_back(&slot);
  }
  queued.notify_one();
}

void LatticeMesher::Impl::WaitFor(const Slot& slot) {
  if (workers.empty()) return;
  std::unique_lock lock(mutex);
  finished.wait(lock, [&] { return slot.done; });
}

// Nothing of this piece stays queued or in a worker's hands.
void LatticeMesher::Impl::Drain() {
  if (workers.empty()) return;
  std::unique_lock lock(mutex);
  queue.clear();
  finished.wait(lock, [this] { return running == 0; });
}

LatticeMesher::LatticeMesher(const LatticeMeshOptions& options)
    : impl_(std::make_unique<Impl>(options)) {}

LatticeMesher::~LatticeMesher() = default;

LatticeOutline LatticeMesher::Mesh(const LatticeHeights& heights, std::uint32_t columns,
                                   std::uint32_t rows, const BlockSink& onBlock,
                                   LatticeMeshStats* stats) {
  Impl& m = *impl_;
  if (columns == 0 || rows == 0) throw std::invalid_argument("lattice mesher: empty piece");
  m.Plan(heights, columns, rows);

  // The outline's heights come a line of the lattice at a time, as its runs were simplified.
  LatticeOutline outline;
  const auto side = [&](const std::vector<std::uint32_t>& kept, const LatticeRect& along,
                        bool byColumn, std::vector<LatticeSample>& to) {
    heights.Fill(along, m.line.data(), 1);
    for (const std::uint32_t k : kept) {
      to.push_back(byColumn ? LatticeSample{k, along.R0, m.line[k]}
                            : LatticeSample{along.Q0, k, m.line[k]});
    }
  };
  side(m.plan.horizontal.front(), {0, 0, columns + 1, 1}, true, outline.South);
  side(m.plan.horizontal.back(), {0, rows, columns + 1, 1}, true, outline.North);
  side(m.plan.vertical.front(), {0, 0, 1, rows + 1}, false, outline.West);
  side(m.plan.vertical.back(), {columns, 0, 1, rows + 1}, false, outline.East);

  LatticeMeshStats counted;
  const auto blocks = static_cast<std::uint32_t>(m.plan.blocks.size());
  counted.Blocks = blocks;
  const auto slotCount = static_cast<std::uint32_t>(m.slots.size());
  std::uint32_t next = 0;
  try {
    for (std::uint32_t emitted = 0; emitted < blocks; ++emitted) {
      while (next < blocks && next - emitted < slotCount) {
        Impl::Slot& slot = m.slots[next % slotCount];
        slot.block = next++;
        m.Start(slot);
      }
      Impl::Slot& slot = m.slots[emitted % slotCount];
      m.WaitFor(slot);
      if (slot.error) std::rethrow_exception(slot.error);
      counted.Triangles += slot.triangles.size();
      counted.Points += slot.points.size();
      counted.Removed += slot.removed;
      onBlock({slot.block, m.plan.Rect(slot.block), slot.points, slot.triangles});
    }
  } catch (...) {
    m.Drain();
    throw;
  }
  if (stats) *stats = counted;
  return outline;
}

}  // namespace orolith
