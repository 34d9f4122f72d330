#include "model/adaptive/AdaptiveSurface.h"

namespace orolith {
namespace {

// The outline's kept points as the vertices the surface has there.
std::vector<Vec3> Vertices(const PieceLattice& lattice, const std::vector<LatticeSample>& side) {
  std::vector<Vec3> out;
  out.reserve(side.size());
  for (const LatticeSample& p : side) {
    out.push_back(MakeVec(lattice.Column(p.Q).model, lattice.Row(p.R).model, p.Z));
  }
  return out;
}

}  // namespace

void PieceHeights::Fill(const LatticeRect& rect, float* out, std::size_t stride) const {
  for (std::uint32_t r = 0; r < rect.Rows; ++r) {
    float* row = out + r * stride;
    for (std::uint32_t q = 0; q < rect.Columns; ++q) row[q] = lattice_.Z(rect.Q0 + q, rect.R0 + r);
  }
}

bool EnclosesArea(const PieceLattice& lattice) noexcept {
  const TileGrid& g = lattice.Grid();
  return lattice.Column(0).model != lattice.Column(g.Columns).model &&
         lattice.Row(0).model != lattice.Row(g.Rows).model;
}

AdaptiveSurface::AdaptiveSurface(float maxError, unsigned threads, FaceSink& sink)
    : sink_(sink), mesher_({.MaxError = maxError, .Threads = threads}) {}

PieceOutline AdaptiveSurface::Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
                                   const std::function<void(std::uint64_t)>& cellsDone) {
  const TileGrid& g = lattice.Grid();
  const PieceHeights heights(lattice);
  chunk_.PieceLon = lon;
  chunk_.PieceLat = lat;
  // The piece's size makes the chunks pieces' chunks, whose vertices a sink numbers by lattice
  // point and keeps only while a later block can share them.
  chunk_.PieceColumns = static_cast<std::uint32_t>(g.Columns);
  chunk_.PieceRows = static_cast<std::uint32_t>(g.Rows);
  const LatticeOutline kept =
      mesher_.Mesh(heights, static_cast<std::uint32_t>(g.Columns),
                   static_cast<std::uint32_t>(g.Rows), [&](const MeshedBlock& block) {
                     chunk_.Clear();
                     chunk_.Vertices.reserve(block.Points.size());
                     chunk_.Lattice.reserve(block.Points.size());
                     for (const LatticeSample& p : block.Points) {
                       chunk_.Vertices.push_back(
                           MakeVec(lattice.Column(p.Q).model, lattice.Row(p.R).model, p.Z));
                       chunk_.Lattice.push_back({p.Q, p.R});
                     }
                     chunk_.Triangles.reserve(block.Triangles.size());
                     for (const LatticeTriangle& t : block.Triangles)
                       chunk_.Triangles.push_back({t.A, t.B, t.C});
                     sink_.Encode(chunk_);
                     sink_.Write(chunk_);
                     faces_ += block.Triangles.size();
                     cellsDone(std::uint64_t{block.Rect.Columns - 1} * (block.Rect.Rows - 1));
                   });
  return {Vertices(lattice, kept.South), Vertices(lattice, kept.North),
          Vertices(lattice, kept.West), Vertices(lattice, kept.East)};
}

}  // namespace orolith
