#include "model/grid/GridSurface.h"

namespace orolith {
namespace {

// The run's thread draws the centres and writes the faces, feeding the file (or the 3MF
// compressor).
constexpr auto Caller = OrderedPipeline::Owner::Feeds;

}  // namespace

GridSurface::GridSurface(const ModelScale& scale, std::uint64_t seed, unsigned threads, bool closed,
                         FaceSink& sink)
    : sink_(sink),
      fractions_(seed),
      mesher_(scale, fractions_, OrderedPipeline::MakingThreads(threads, Caller)),
      closed_(closed),
      bands_(threads > 1 ? 2 * std::size_t{threads} + 1 : 1),
      pipeline_(
          threads, Caller, bands_.size(),
          [this](unsigned thread, std::size_t slot) {
            mesher_.Mesh(thread, bands_[slot]);
            sink_.Encode(bands_[slot].Mesh);
          },
          [this](std::size_t slot) {
            const Band& band = bands_[slot];
            sink_.Write(band.Mesh);
            faces_ += band.Mesh.Triangles.size();
            for (std::int64_t q = mesher_.BandColumns(band.Index); q > 0; --q) (*cellsDone_)(rows_);
          }) {}

bool GridSurface::Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
                       const CellsDone& cellsDone) {
  const TileGrid& grid = lattice.Grid();
  if (closed_ && !EnclosesArea(lattice)) {
    fractions_.SkipCells(grid.Cells());
    cellsDone(grid.Cells());
    return false;
  }
  rows_ = static_cast<std::uint64_t>(grid.Rows);
  cellsDone_ = &cellsDone;
  pipeline_.Run(mesher_.StartTile(lattice, lon, lat), [this](std::size_t index, std::size_t slot) {
    bands_[slot].Index = index;
    mesher_.Prepare(bands_[slot]);
  });
  return true;
}

}  // namespace orolith
