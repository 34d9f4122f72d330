#pragma once

#include "model/adaptive/LatticeGeometry.h"
#include "model/adaptive/LatticeTypes.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace orolith::lattice {

// Block coordinates stay small enough for the exact 64-bit in-circle test.
constexpr std::uint32_t MaxBlockPoints = 4096;
// The most neighbours a removal considers.
constexpr std::size_t MaxStar = 32;

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
// out again. A missing (NaN) height leaves a hole: no triangle in the output has a missing
// corner or holds a missing point. Everything it holds is reused from block to block, so after
// the first few blocks meshing allocates nothing.
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

  // The plane through the corners' heights: its height at a, its slopes along x and y.
  struct Plane {
    double za;
    double gx;
    double gy;
  };
  Plane PlaneOf(Pt a, Pt b, Pt c, std::int64_t twiceArea) const noexcept;
  // Calls row(y, lo, hi) for each row of the block's inner points that abc spans, south first,
  // with its inner points lo .. hi on the row, corners left out (none when lo > hi); row returns
  // false to stop.
  template <class Row>
  void ForEachRow(Pt a, Pt b, Pt c, Row&& row) const noexcept;
  Candidate Scan(Pt a, Pt b, Pt c, float stopAbove) const noexcept;
  Candidate ScanMissing(Pt a, Pt b, Pt c, float stopAbove) const noexcept;
  // Slot t has a missing corner.
  bool Missing(std::uint32_t t) const noexcept {
    return std::isnan(Height(Corner(3 * t))) || std::isnan(Height(Corner(3 * t + 1))) ||
           std::isnan(Height(Corner(3 * t + 2)));
  }
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
  bool missing_ = false;              // some height of the block is NaN
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

}  // namespace orolith::lattice
