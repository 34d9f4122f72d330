#include "model/writers/ThreeMfSink.h"

#include "base/Interrupt.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace orolith {
namespace {

bool Same(const Vec3& a, const Vec3& b) noexcept {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::uint64_t Mix(std::uint64_t h) noexcept {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDULL;
  h ^= h >> 33;
  return h;
}

// A package with a coordinate that is no number is refused by its readers; a mesher never
// makes one for a face, so one here is a fault to stop at rather than a file to write.
const Vec3& Checked(const Vec3& v) {
  if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) {
    throw std::logic_error("A face of the model has a corner with no finite position");
  }
  return v;
}

ThreeMfOptions WithColours(ThreeMfOptions options, const std::optional<SurfacePaint>& paint) {
  if (paint) options.Colours = paint->Colours();
  return options;
}

}  // namespace

std::uint64_t ThreeMfSink::BitsHash::operator()(const Bits& b) const noexcept {
  return Mix((std::uint64_t{b.x} << 32 | b.y) * 0x9E3779B97F4A7C15ULL + b.z);
}

std::uint64_t ThreeMfSink::PointHash::operator()(std::uint64_t point) const noexcept {
  return Mix(point);
}

ThreeMfSink::ThreeMfSink(const std::string& fileName, AtomicOutputFile::WaitHook whileWaiting,
                         const ThreeMfOptions& options, std::optional<SurfacePaint> paint)
    : paint_(std::move(paint)),
      writer_(fileName, std::move(whileWaiting), WithColours(options, paint_)) {}

void ThreeMfSink::Encode(MeshChunk& chunk) const {
  const std::size_t triangles = chunk.Triangles.size();
  unsigned char* distinct = chunk.Encoded.Resize(triangles + chunk.Vertices.size());
  unsigned char* used = distinct + triangles;
  std::fill_n(used, chunk.Vertices.size(), 0);
  const Vec3* v = chunk.Vertices.data();
  const SurfacePaint* paint = paint_ && chunk.OfPiece() ? &*paint_ : nullptr;
  for (const Triangle& t : chunk.Triangles) {
    const bool kept = !Same(v[t.A], v[t.B]) && !Same(v[t.B], v[t.C]) && !Same(v[t.C], v[t.A]);
    const std::uint32_t colour = paint ? paint->Of(v[t.A], v[t.B], v[t.C]) : 0;
    *distinct++ = kept ? static_cast<unsigned char>(colour + 1) : 0;
    if (kept) used[t.A] = used[t.B] = used[t.C] = 1;
  }
}

void ThreeMfSink::StartChunkOfPiece(const MeshChunk& chunk) {
  const std::pair piece{chunk.PieceLon, chunk.PieceLat};
  if (piece_ != piece) {
    piece_ = piece;
    shared_.Clear();
    retainedFrom_ = 0;
  }
  west_ = south_ = LatticePoint::Off;
  east_ = north_ = 0;
  for (const LatticePoint& p : chunk.Lattice) {
    if (!p.OnLattice()) continue;
    west_ = std::min(west_, p.Column);
    east_ = std::max(east_, p.Column);
    south_ = std::min(south_, p.Row);
    north_ = std::max(north_, p.Row);
  }
  // No later chunk starts west of this one.
  if (west_ > retainedFrom_) {
    const std::uint32_t west = retainedFrom_ = west_;
    shared_.RetainIf([west](std::uint64_t point) { return point >> 32 >= west; });
  }
}

std::uint32_t ThreeMfSink::ByBytes(const Vec3& v) {
  const Bits bits{std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
                  std::bit_cast<std::uint32_t>(v.z)};
  if (const std::uint32_t* found = borders_.Find(bits)) return *found;
  const std::uint32_t index = writer_.AddVertex(v);
  borders_.Insert(bits, index);
  return index;
}

void ThreeMfSink::Write(const MeshChunk& chunk) {
  // The package's data reaches the file in large pieces, a small model's only at Finish: a stop
  // is seen here, a chunk at a time, as the STL writer sees it at each of its writes.
  ThrowIfInterrupted();
  const std::size_t count = chunk.Vertices.size();
  const unsigned char* distinct = chunk.Encoded.Data();
  const unsigned char* used = distinct + chunk.Triangles.size();
  indices_.resize(count);
  if (!chunk.OfPiece()) {
    for (std::size_t i = 0; i < count; ++i) {
      if (used[i]) indices_[i] = ByBytes(Checked(chunk.Vertices[i]));
    }
  } else {
    StartChunkOfPiece(chunk);
    for (std::size_t i = 0; i < count; ++i) {
      if (!used[i]) continue;
      const LatticePoint p = chunk.Lattice[i];
      const Vec3& v = Checked(chunk.Vertices[i]);
      const bool edge = p.OnLattice() && (p.Column == west_ || p.Column == east_ ||
                                          p.Row == south_ || p.Row == north_);
      if (!edge) {
        indices_[i] = writer_.AddVertex(v);
        continue;
      }
      const std::uint64_t point = std::uint64_t{p.Column} << 32 | p.Row;
      if (const std::uint32_t* found = shared_.Find(point)) {
        indices_[i] = *found;
        continue;
      }
      const bool border =
          p.Column == 0 || p.Column == chunk.PieceColumns || p.Row == 0 || p.Row == chunk.PieceRows;
      indices_[i] = border ? ByBytes(v) : writer_.AddVertex(v);
      shared_.Insert(point, indices_[i]);
    }
  }
  for (const Triangle& t : chunk.Triangles) {
    if (const unsigned char mark = *distinct++) {
      writer_.AddTriangle(indices_[t.A], indices_[t.B], indices_[t.C], mark - 1U);
    } else {
      ++leftOut_;
    }
  }
}

}  // namespace orolith
