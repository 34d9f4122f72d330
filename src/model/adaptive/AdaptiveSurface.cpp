#include "model/adaptive/AdaptiveSurface.h"

namespace orolith {
namespace {

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
  lattice_.FillZ(rect.Q0, rect.R0, rect.Columns, rect.Rows, out, 1, stride);
}

AdaptiveSurface::AdaptiveSurface(float maxError, unsigned threads, FaceSink& sink)
    : sink_(sink), mesher_({.MaxError = maxError, .Threads = threads}), chunks_(mesher_.Slots()) {}

bool AdaptiveSurface::Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
                           const CellsDone& cellsDone) {
  const TileGrid& g = lattice.Grid();
  if (!EnclosesArea(lattice)) {
    cellsDone(g.Cells());
    return false;
  }
  const PieceHeights heights(lattice);
  const auto made = [&](const MeshedBlock& block) {
    MeshChunk& chunk = chunks_[block.Slot];
    chunk.Clear();
    chunk.PieceLon = lon;
    chunk.PieceLat = lat;
    // The piece's size makes the chunk a piece's chunk, whose vertices a sink numbers by lattice
    // point and keeps only while a later block can share them.
    chunk.PieceColumns = static_cast<std::uint32_t>(g.Columns);
    chunk.PieceRows = static_cast<std::uint32_t>(g.Rows);
    chunk.Vertices.reserve(block.Points.size());
    chunk.Lattice.reserve(block.Points.size());
    for (const LatticeSample& p : block.Points) {
      chunk.Vertices.push_back(MakeVec(lattice.Column(p.Q).model, lattice.Row(p.R).model, p.Z));
      chunk.Lattice.push_back({p.Q, p.R});
    }
    chunk.Triangles.reserve(block.Triangles.size());
    for (const LatticeTriangle& t : block.Triangles) chunk.Triangles.push_back({t.A, t.B, t.C});
    sink_.Encode(chunk);
  };
  const auto written = [&](const MeshedBlock& block) {
    sink_.Write(chunks_[block.Slot]);
    faces_ += block.Triangles.size();
    cellsDone(std::uint64_t{block.Rect.Columns - 1} * (block.Rect.Rows - 1));
  };
  kept_ = mesher_.Mesh(heights, static_cast<std::uint32_t>(g.Columns),
                       static_cast<std::uint32_t>(g.Rows), written, nullptr, made);
  return true;
}

PieceOutline AdaptiveSurface::Outline(const PieceLattice& lattice) const {
  return {Vertices(lattice, kept_.South), Vertices(lattice, kept_.North),
          Vertices(lattice, kept_.West), Vertices(lattice, kept_.East)};
}

}  // namespace orolith
