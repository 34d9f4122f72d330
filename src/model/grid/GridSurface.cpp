#include "model/grid/GridSurface.h"

namespace orolith {

GridSurface::GridSurface(const ModelScale& scale, std::uint64_t seed, unsigned threads, bool closed,
                         FaceSink& sink)
    : fractions_(seed),
      mesher_(scale, fractions_, threads),
      closed_(closed),
      pipeline_(threads, sink) {}

bool GridSurface::Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
                       const CellsDone& cellsDone) {
  const TileGrid& grid = lattice.Grid();
  if (closed_ && !EnclosesArea(lattice)) {
    fractions_.SkipCells(grid.Cells());
    cellsDone(grid.Cells());
    return false;
  }
  const std::size_t bands = mesher_.StartTile(lattice, lon, lat);
  const auto rows = static_cast<std::uint64_t>(grid.Rows);
  pipeline_.Run(mesher_, bands, [&](const Band& band) {
    faces_ += band.Mesh.Triangles.size();
    for (std::int64_t q = mesher_.BandColumns(band.Index); q > 0; --q) cellsDone(rows);
  });
  return true;
}

}  // namespace orolith
