#pragma once

#include "model/adaptive/BlockMesher.h"
#include "model/adaptive/BorderSimplify.h"
#include "model/adaptive/LatticeTypes.h"

#include <cstdint>
#include <span>
#include <vector>

namespace orolith::lattice {

// Base blocks a side that may become one block where the borders between them are straight.
constexpr std::uint32_t GroupBlocks = 4;

// The blocks of a piece and the kept points of every border between and around them.
//
// The piece is cut into base blocks of at most BlockPoints a side. A square group of up to
// GroupBlocks x GroupBlocks base blocks, or a quarter of one, becomes one block where every
// border inside it would be a straight line within the error: there a border adds nothing
// but its forced corners and the two triangles more that a flat block needs, which over sea
// or plains would be most of the surface. Borders run along the lines between base blocks;
// the corners of the blocks on either side cut them into runs, each simplified on its own
// samples, so that both sides keep the same points.
//
// Working a plan out reads the lattice a line at a time, never a block; the object keeps its
// scratch space from piece to piece.
class PiecePlan {
 public:
  void Make(const LatticeHeights& heights, std::uint32_t columns, std::uint32_t rows,
            std::uint32_t blockPoints, float maxError);

  std::uint32_t Blocks() const { return static_cast<std::uint32_t>(blocks_.size()); }
  // Blocks come west to east by their west edge, then south to north.
  LatticeRect Rect(std::uint32_t b) const;
  BlockSides Sides(std::uint32_t b) const;

  // The kept points of the piece's outline, as lattice indexes along each side, ascending.
  const std::vector<std::uint32_t>& South() const { return horizontal_.front(); }
  const std::vector<std::uint32_t>& North() const { return horizontal_.back(); }
  const std::vector<std::uint32_t>& West() const { return vertical_.front(); }
  const std::vector<std::uint32_t>& East() const { return vertical_.back(); }

 private:
  // Base blocks [i0, i1) x [j0, j1) of one block.
  struct Span {
    std::uint32_t i0;
    std::uint32_t j0;
    std::uint32_t i1;
    std::uint32_t j1;
  };

  std::uint32_t BaseColumns() const { return static_cast<std::uint32_t>(qs_.size() - 1); }
  std::uint32_t BaseRows() const { return static_cast<std::uint32_t>(rs_.size() - 1); }
  void FillColumnEdge(std::uint32_t i);
  void FillRowEdge(std::uint32_t j);
  // Simplifies the samples of line_ from lattice index first to last into kept_.
  void Simplify(std::uint32_t first, std::uint32_t last);
  void FindStraightBorders();
  void Group(std::uint32_t i0, std::uint32_t j0, std::uint32_t size);
  void MakeBlocks();
  void SimplifyBorders();

  const LatticeHeights* heights_ = nullptr;
  std::uint32_t columns_ = 0;
  std::uint32_t rows_ = 0;
  float maxError_ = 0;
  std::vector<std::uint32_t> qs_;  // base block column edges, 0 .. columns
  std::vector<std::uint32_t> rs_;  // base block row edges, 0 .. rows
  std::vector<Span> blocks_;
  // The kept points of the borders on each base column edge (their rows) and each base row
  // edge (their columns), ascending.
  std::vector<std::vector<std::uint32_t>> vertical_;
  std::vector<std::vector<std::uint32_t>> horizontal_;

  PolylineSimplifier simplifier_;
  std::vector<float> line_;
  std::vector<std::uint32_t> kept_;
  // Per base border segment, whether it simplifies to its two ends: segment j of base column
  // edge i at i * BaseRows() + j, segment i of base row edge j at j * BaseColumns() + i.
  std::vector<std::uint8_t> straightVertical_;
  std::vector<std::uint8_t> straightHorizontal_;
  std::vector<std::uint32_t> owner_;  // the block of each base block, i * BaseRows() + j
  std::vector<std::uint8_t> corner_;  // base grid points that are a block's corner
};

}  // namespace orolith::lattice
