#pragma once

#include "model/lattice/ModelGrid.h"

#include <cstdint>
#include <functional>

namespace orolith {

// One way of making a model's top surface from its pieces, the run handing it the lattice of
// each tile's piece in turn: the regular grid (grid/GridSurface) or the adaptive surface
// (adaptive/AdaptiveSurface). A mesher writes its faces to the sink it was made with, through
// Encode on its meshing threads and Write on the run's; another mesher is another sibling.
class SurfaceMesher {
 public:
  // Called on the run's thread with the cells whose faces were just written.
  using CellsDone = std::function<void(std::uint64_t cells)>;

  SurfaceMesher() = default;
  SurfaceMesher(const SurfaceMesher&) = delete;
  SurfaceMesher& operator=(const SurfaceMesher&) = delete;
  virtual ~SurfaceMesher() = default;

  // Meshes the piece of the tile at lon, lat and writes its faces. False when the mesher
  // leaves the piece out (one of no area, whose faces would be lines): its cells are done at
  // once, and a solid leaves the piece out as well.
  virtual bool Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
                    const CellsDone& cellsDone) = 0;
  // The outline of the piece just meshed, vertex for vertex as its surface has it, for the
  // closed solid to meet.
  virtual PieceOutline Outline(const PieceLattice& lattice) const = 0;
  // Faces written so far.
  virtual std::uint64_t Faces() const noexcept = 0;
};

}  // namespace orolith
