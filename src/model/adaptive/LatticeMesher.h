#pragma once

#include "model/adaptive/LatticeTypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace orolith {

// One meshed block. Its points are the lattice points its triangles use, each once; a point
// on a border shared with the next block appears in both.
struct MeshedBlock {
  std::uint32_t Index = 0;  // in the order blocks are handed out
  // The block's own among LatticeMesher::Slots() from its meshing to its hand-out: what a
  // caller keeps by slot is the block's alone meanwhile.
  unsigned Slot = 0;
  LatticeRect Rect;
  std::span<const LatticeSample> Points;
  std::span<const LatticeTriangle> Triangles;
};

// The points the surface keeps on the outline of a piece: South and North run west to east,
// West and East south to north, and each shares its end points with its two neighbours.
// Exactly these points are the surface's vertices on the outline.
struct LatticeOutline {
  std::vector<LatticeSample> South;
  std::vector<LatticeSample> North;
  std::vector<LatticeSample> West;
  std::vector<LatticeSample> East;
};

struct LatticeMeshOptions {
  // In model z; every lattice point lies within it of the surface above or below it.
  float MaxError = 0;
  // Lattice points a base block side holds at most (2 to 1024). Where the borders between
  // 4 x 4 or 2 x 2 base blocks are straight within the error (sea, plains), they are one block.
  std::uint32_t BlockPoints = 128;
  // Blocks meshed at once (at least 1).
  unsigned Threads = 1;
};

// Counters of one piece, for logs and benchmarks.
struct LatticeMeshStats {
  std::uint32_t Blocks = 0;
  std::uint64_t Triangles = 0;
  std::uint64_t Points = 0;   // counted once per block that uses it
  std::uint64_t Removed = 0;  // points inserted and taken out again as needless
};

using BlockSink = std::function<void(const MeshedBlock&)>;
using BlockMade = std::function<void(const MeshedBlock&)>;

// Triangulates the lattice of a tile piece with vertices at lattice points, so that the surface
// lies within the error of every lattice point's height, with few triangles.
//
// The piece is cut into blocks of at most BlockPoints a side (four times that over straight
// ground), meshed independently and, with more than one thread, at the same time. A border two
// blocks share is simplified on its own samples alone, before either block; both keep exactly
// its points, so the surface has no crack and no T-junction. The piece's outline is simplified
// the same way. The output is the same bytes whatever the number of threads.
//
// Memory: one block's heights and mesh a thread, the finished blocks that wait for their turn,
// and the kept points of the borders; never the whole piece's heights. The object meshes one
// piece at a time and keeps its threads and buffers from piece to piece.
class LatticeMesher {
 public:
  explicit LatticeMesher(const LatticeMeshOptions& options);
  ~LatticeMesher();
  LatticeMesher(const LatticeMesher&) = delete;
  LatticeMesher& operator=(const LatticeMesher&) = delete;

  // Meshes the piece of columns x rows cells ((columns + 1) x (rows + 1) lattice points) and
  // hands its blocks to onBlock one by one on the calling thread, by their west edge west to
  // east, then by their south edge south to north. made, when given, sees each block first,
  // on the thread that meshed it, several at once. An exception from heights, made or onBlock
  // ends the piece after the blocks in flight are done and goes to the caller.
  LatticeOutline Mesh(const LatticeHeights& heights, std::uint32_t columns, std::uint32_t rows,
                      const BlockSink& onBlock, LatticeMeshStats* stats = nullptr,
                      const BlockMade& made = {});

  // Blocks that are meshed and not yet handed out at most.
  unsigned Slots() const noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orolith
