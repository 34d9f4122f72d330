#pragma once

// The lattice of a tile's piece as the adaptive mesher's stages share it: rectangles of lattice
// points, their heights, and the points and triangles a block is meshed into.

#include <cstddef>
#include <cstdint>

namespace orolith {

// Lattice points Columns x Rows from (Q0, R0): column q, row r is the corner of cells at the
// west edge of column q and the south edge of row r of a tile's piece.
struct LatticeRect {
  std::uint32_t Q0 = 0;
  std::uint32_t R0 = 0;
  std::uint32_t Columns = 0;
  std::uint32_t Rows = 0;
};

// The heights of one tile piece's lattice, in model z. Blocks ask for their own points and
// the borders they share are asked for again on their own, so Fill must give a point the same
// height every time. A NaN height is a missing point: the surface leaves a hole there, with no
// triangle that has it for a corner or covers it. Called from the meshing threads, several at
// once.
class LatticeHeights {
 public:
  virtual ~LatticeHeights() = default;
  // out[row * stride + column] for every point of rect, row 0 the southern.
  virtual void Fill(const LatticeRect& rect, float* out, std::size_t stride) const = 0;
};

struct LatticeSample {
  std::uint32_t Q = 0;
  std::uint32_t R = 0;
  float Z = 0;
};

// Corners are indexes into the block's points, counter-clockwise seen from above.
struct LatticeTriangle {
  std::uint32_t A = 0;
  std::uint32_t B = 0;
  std::uint32_t C = 0;
};

}  // namespace orolith
