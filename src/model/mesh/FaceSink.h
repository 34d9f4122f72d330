#pragma once

#include "model/mesh/STLVectors.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orolith {

// Where a vertex lies on the lattice of cell corners of its tile piece: column edge
// 0 .. Columns and row edge 0 .. Rows of the piece's TileGrid (LatticeLon, LatticeLat).
struct LatticePoint {
  static constexpr std::uint32_t Off = 0xFFFFFFFF;
  std::uint32_t Column = Off;
  std::uint32_t Row = Off;

  bool OnLattice() const noexcept { return Column != Off && Row != Off; }
};

// Three vertices of a chunk by index, in the file's corner order: counter-clockwise seen from
// outside the model (from above, on the surface).
struct Triangle {
  std::uint32_t A;
  std::uint32_t B;
  std::uint32_t C;
};

// Bytes a sink makes of a chunk; the room is kept from one chunk to the next and never
// cleared, so that encoding allocates only while chunks still grow.
class ChunkBytes {
 public:
  // size bytes whose old content is not kept.
  unsigned char* Resize(std::size_t size) {
    if (size > capacity_) {
      data_ = std::make_unique_for_overwrite<unsigned char[]>(size);
      capacity_ = size;
    }
    size_ = size;
    return data_.get();
  }
  const unsigned char* Data() const noexcept { return data_.get(); }
  std::size_t Size() const noexcept { return size_; }

 private:
  std::unique_ptr<unsigned char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

// Faces of one tile piece as a mesher made them (a band of cell columns, a block of the
// lattice), or a batch of the closure's faces: vertices, where each lies on the lattice, and
// triangles over them. A vertex may be used by no triangle (a corner over a hole in the data,
// whose height is NaN); a sink writes only what the triangles use.
struct MeshChunk {
  // The piece's tile (its south-west corner in whole degrees); 0, 0 for the closure's faces.
  std::int32_t PieceLon = 0;
  std::int32_t PieceLat = 0;
  // The piece's lattice: column edges 0 .. PieceColumns, row edges 0 .. PieceRows. No columns
  // for the closure's faces, which belong to no piece.
  std::uint32_t PieceColumns = 0;
  std::uint32_t PieceRows = 0;
  std::vector<Vec3> Vertices;
  std::vector<LatticePoint> Lattice;  // one a vertex
  std::vector<Triangle> Triangles;
  ChunkBytes Encoded;  // the sink's, from its Encode to its Write

  bool OfPiece() const noexcept { return PieceColumns > 0; }
  void Clear() noexcept {
    Vertices.clear();
    Lattice.clear();
    Triangles.clear();
  }
};

// Where the faces of a model go: a file format's writer. Meshers fill chunks, a sink turns
// them into its bytes. What a sink may rely on:
// - Threads: Encode runs on the meshing threads, several at once, each on a chunk of its own,
//   and may only read the sink (Encode is const). Write and Finish run on the run's thread,
//   one call at a time; Encode of later chunks may run meanwhile.
// - Order: Write gets every chunk once, after its Encode, in the model's order: the surface
//   tile by tile as the run visits them, each tile's chunks in order, then the closure's
//   faces. Finish comes once, after the last Write. A run that fails destroys the sink
//   without Finish; it must then leave no file behind (and keep an old one).
// - Lifetime: a chunk is the sink's from the start of its Encode to the end of its Write;
//   then its storage is reused for a later chunk. The sink outlives every chunk.
// - Vertices: within one piece, vertices at the same lattice point are equal to the byte,
//   whichever chunks they are in; a sink that writes each vertex once numbers them by piece
//   and lattice point. A piece's chunks come by their west edge (the lowest column edge of
//   their lattice points), west to east; a chunk shares lattice points with a later one only
//   on the edges of the rectangle of lattice its points span, and none west of that later
//   chunk's west edge. Off the lattice a vertex of a piece's chunk (a cell's centre) is its
//   chunk's own. Pieces share no lattice points: where two pieces meet, and where the
//   closure meets the surface, a sink finds the shared vertices by their bytes (on the border
//   of a piece, column edge 0 or PieceColumns, row edge 0 or PieceRows); so do the closure's
//   faces among themselves.
// - Errors: Write and Finish may throw; a file error may also be kept until Finish, so that
//   the run's log stops at the same line however early the disk fails.
class FaceSink {
 public:
  FaceSink() = default;
  FaceSink(const FaceSink&) = delete;
  FaceSink& operator=(const FaceSink&) = delete;
  virtual ~FaceSink() = default;

  virtual void Encode(MeshChunk& chunk) const = 0;
  virtual void Write(const MeshChunk& chunk) = 0;
  virtual void Finish() = 0;
};

// Faces made one at a time (the closure's) gathered into chunks for a sink, encoded and written
// on the calling thread. Each face has three vertices of its own, off the lattice.
class FaceBatch {
 public:
  explicit FaceBatch(FaceSink& sink);

  void Add(const Vec3& a, const Vec3& b, const Vec3& c) {
    const auto first = static_cast<std::uint32_t>(chunk_.Vertices.size());
    chunk_.Vertices.insert(chunk_.Vertices.end(), {a, b, c});
    chunk_.Triangles.push_back({first, first + 1, first + 2});
    if (chunk_.Triangles.size() == BatchFaces) Flush();
  }
  // Hands the faces gathered so far to the sink.
  void Flush();
  std::uint64_t Count() const noexcept { return count_; }

 private:
  // 200 kB of STL records: a write of useful size, and few faces held back from the file.
  static constexpr std::size_t BatchFaces = 1 << 12;

  FaceSink& sink_;
  MeshChunk chunk_;
  std::uint64_t count_ = 0;
};

}  // namespace orolith
