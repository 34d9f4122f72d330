#pragma once

#include "base/Files.h"
#include "model/mesh/STLVectors.h"
#include "model/writers/ThreeMfOptions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orolith {

// Writes a 3MF package while its mesh is still being made, holding neither the vertices nor
// the triangles: one object of type model with one mesh, one build item, millimetres, the
// program and version in the Application metadata. Each vertex is written as the shortest text
// that reads back to the same float; the triangles index the vertices in the order added.
//
// The model part needs every vertex before the first triangle. The vertices' text is deflated
// straight into the package and the triangles' text into an unnamed file in the temporary
// folder; at Finish that second deflate stream follows the first (which ends on a byte
// boundary, not as a final block) as one stream, their CRCs combined. Both are compressed in
// chunks of ChunkItems on the worker threads, each chunk primed with the text before it, so
// compression hardly suffers and the bytes don't depend on the threads. Memory is the
// 4 x Threads + 2 chunks that circulate and a chunk's text for each thread, some 15 MB with two
// threads, whatever the mesh's size.
//
// The file promises what StlFileWriter's does: it appears under its name only when Finish
// succeeds, beside it nothing is left on failure or interrupt, a pipe or a device is written as
// a stream (a pipe gets the zip with data descriptors, no seeking), a file that is overwritten
// in place (AtomicOutputFile::WritesInPlace) waits whole in the temporary folder until Finish.
// A file that can't be made throws from the constructor; errors of the writes are kept, not
// thrown, until Finish, and vertices and triangles after one are still counted. The parts
// carry no time of their own (1 January 1980, the earliest a zip can hold): the same mesh
// makes the same bytes.
class ThreeMfWriter {
 public:
  // whileWaiting: called while the file waits for a pipe's reader (AtomicOutputFile).
  explicit ThreeMfWriter(const std::string& fileName, AtomicOutputFile::WaitHook whileWaiting = {},
                         const ThreeMfOptions& options = {});
  ThreeMfWriter(const ThreeMfWriter&) = delete;
  ThreeMfWriter& operator=(const ThreeMfWriter&) = delete;
  ~ThreeMfWriter();

  // The vertex's index: 0, 1, 2, ... in the order added.
  std::uint32_t AddVertex(const Vec3& v) {
    if (vertexNext_ == vertexEnd_) NextVertices();
    *vertexNext_++ = {std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
                      std::bit_cast<std::uint32_t>(v.z)};
    return static_cast<std::uint32_t>(vertexCount_++);
  }
  // Three distinct vertices, added before or after, counter-clockwise seen from outside.
  // paint: 0 for none, else colour 1 .. Colours.size() of the options.
  void AddTriangle(std::uint32_t v1, std::uint32_t v2, std::uint32_t v3, std::uint32_t paint = 0) {
    if (triangleNext_ == triangleEnd_) NextTriangles();
    // Indices stay below 2^31; their top bits carry the paint.
    *triangleNext_++ = {v1 | paint << 31, v2 | (paint & 2) << 30, v3 | (paint & 4) << 29};
    highestIndex_ = std::max({highestIndex_, v1, v2, v3});
    ++triangleCount_;
  }

  using Item = ThreeMfItem;

  // A piece of mesh made apart from the rest, as a meshing thread makes a band of cells before
  // it knows how many vertices came before it. Its triangles' corners are local: below
  // shared.size() a corner c stands for shared[c], a vertex added before (the edge of the
  // piece next to it); from there on for the piece's own vertices in order. Returns the index
  // of the piece's first vertex. A corner beyond the piece is the caller's fault:
  // std::invalid_argument, nothing added.
  std::uint32_t AddPiece(std::span<const Vec3> vertices, std::span<const Item> triangles,
                         std::span<const std::uint32_t> shared);

  std::uint64_t VertexCount() const noexcept { return vertexCount_; }
  // Triangles, as StlFileWriter counts faces.
  std::uint64_t Count() const noexcept { return triangleCount_; }

  // Completes the package under its name, or throws the first FileError met on the way
  // ("Cannot write file ... File too large" for more than MaxThreeMfVertices vertices).
  // A triangle over a vertex never added is the caller's fault: std::invalid_argument.
  void Finish();

 private:
  void NextVertices();
  void NextTriangles();

  class Impl;
  std::unique_ptr<Impl> impl_;
  Item* vertexNext_ = nullptr;
  Item* vertexEnd_ = nullptr;
  Item* triangleNext_ = nullptr;
  Item* triangleEnd_ = nullptr;
  std::uint64_t vertexCount_ = 0;
  std::uint64_t triangleCount_ = 0;
  std::uint32_t highestIndex_ = 0;
};

}  // namespace orolith
