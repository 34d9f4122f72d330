#pragma once

#include "base/Files.h"
#include "model/mesh/FaceSink.h"
#include "model/mesh/STLVectors.h"
#include "model/mesh/SurfacePaint.h"
#include "model/writers/ThreeMf.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orolith {

// Package indices of vertices by a key: one flat table of open addressing whose room is kept,
// so that numbering allocates only while the table still grows. Key is trivially copyable and
// has ==; Hash maps it to 64 well-mixed bits.
template <typename Key, typename Hash>
class IndexTable {
 public:
  IndexTable() { slots_.resize(MinCapacity); }

  const std::uint32_t* Find(const Key& key) const noexcept {
    for (std::size_t i = Home(key);; i = (i + 1) & Mask()) {
      const Slot& slot = slots_[i];
      if (!slot.used) return nullptr;
      if (slot.key == key) return &slot.index;
    }
  }
  // A key not in the table.
  void Insert(const Key& key, std::uint32_t index) {
    if (2 * (size_ + 1) > slots_.size())
      Rebuild(2 * slots_.size(), [](const Key&) { return true; });
    Place(slots_, key, index);
    ++size_;
  }
  // Keeps the entries whose key keep(key) is true.
  template <typename Keep>
  void RetainIf(Keep keep) {
    Rebuild(slots_.size(), keep);
  }
  void Clear() noexcept {
    for (Slot& slot : slots_) slot.used = false;
    size_ = 0;
  }
  std::size_t Size() const noexcept { return size_; }

 private:
  static constexpr std::size_t MinCapacity = 1024;
  struct Slot {
    Key key{};
    std::uint32_t index = 0;
    bool used = false;
  };

  std::size_t Mask() const noexcept { return slots_.size() - 1; }
  std::size_t Home(const Key& key) const noexcept {
    return static_cast<std::size_t>(Hash{}(key)) & Mask();
  }
  void Place(std::vector<Slot>& slots, const Key& key, std::uint32_t index) noexcept {
    std::size_t i = static_cast<std::size_t>(Hash{}(key)) & (slots.size() - 1);
    while (slots[i].used) i = (i + 1) & (slots.size() - 1);
    slots[i] = {key, index, true};
  }
  template <typename Keep>
  void Rebuild(std::size_t capacity, Keep keep) {
    spare_.assign(capacity, Slot{});
    size_ = 0;
    for (const Slot& slot : slots_) {
      if (slot.used && keep(slot.key)) {
        Place(spare_, slot.key, slot.index);
        ++size_;
      }
    }
    slots_.swap(spare_);
  }

  std::vector<Slot> slots_;  // a power of two, at most half used
  std::vector<Slot> spare_;  // the room a rebuild fills
  std::size_t size_ = 0;
};

// The 3MF FaceSink: the faces of a run as one mesh object in a ThreeMfWriter package, each
// vertex written once. Vertices are numbered in the order the chunks come, each chunk's in its
// order; triangles follow in the chunks' order with their corners in order, so the package
// holds the STL's faces, face for face.
//
// A vertex already written is found without a table of every vertex: within a piece by its
// lattice point, among the points of earlier chunks that a later chunk can still share (those
// on the edges of their chunk's rectangle of lattice, east of the newest chunk's west edge:
// for bands of columns, the band before's east edge); across pieces and where the closure
// meets the surface by its bytes, among the vertices on the pieces' borders and the closure's.
// Memory is that of the pieces' borders, the closure's vertices and the writer's chunks.
//
// A face whose corners are not three distinct points (two of them equal to the byte: a cell
// of no width, where a piece only touches the region) has no area and no direction, and a
// 3MF triangle needs three distinct vertices: it is left out of the package. Every other face
// is written, and only the vertices those faces use: a mesher's vertex that no face kept (a
// corner over a hole of the raster, which has no height) never reaches the package.
class ThreeMfSink final : public FaceSink {
 public:
  // paint: the colours of the surface's faces (the closure's stay unpainted); none: no colour.
  explicit ThreeMfSink(const std::string& fileName, AtomicOutputFile::WaitHook whileWaiting = {},
                       const ThreeMfOptions& options = {},
                       std::optional<SurfacePaint> paint = std::nullopt);

  // Marks the faces with three distinct corners and their paint (a byte a face: 0 left out,
  // else the paint + 1), then the vertices those faces use (a byte a vertex).
  void Encode(MeshChunk& chunk) const override;
  void Write(const MeshChunk& chunk) override;
  void Finish() override { writer_.Finish(); }

  // Triangles and vertices in the package, and the faces left out for a repeated corner.
  std::uint64_t Count() const noexcept { return writer_.Count(); }
  std::uint64_t VertexCount() const noexcept { return writer_.VertexCount(); }
  std::uint64_t LeftOut() const noexcept { return leftOut_; }

 private:
  struct Bits {
    std::uint32_t x;
    std::uint32_t y;
    std::uint32_t z;
    bool operator==(const Bits&) const = default;
  };
  struct BitsHash {
    std::uint64_t operator()(const Bits& b) const noexcept;
  };
  struct PointHash {
    std::uint64_t operator()(std::uint64_t point) const noexcept;
  };

  void StartChunkOfPiece(const MeshChunk& chunk);
  std::uint32_t ByBytes(const Vec3& v);

  std::optional<SurfacePaint> paint_;
  ThreeMfWriter writer_;
  std::optional<std::pair<std::int32_t, std::int32_t>> piece_;  // the tile of the piece written
  // The current piece's lattice points (column edge << 32 | row edge) that a later chunk may
  // share.
  IndexTable<std::uint64_t, PointHash> shared_;
  IndexTable<Bits, BitsHash> borders_;  // the pieces' borders and the closure's vertices
  std::uint32_t west_ = 0;              // the current chunk's rectangle of lattice
  std::uint32_t east_ = 0;
  std::uint32_t south_ = 0;
  std::uint32_t north_ = 0;
  std::uint32_t retainedFrom_ = 0;      // the column edge west of which shared_ holds nothing
  std::vector<std::uint32_t> indices_;  // the current chunk's vertices in the package
  std::uint64_t leftOut_ = 0;
};

}  // namespace orolith
