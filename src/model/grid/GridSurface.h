#pragma once

#include "model/grid/BandPipeline.h"
#include "model/grid/CellMesher.h"
#include "model/lattice/SurfaceMesher.h"
#include "model/mesh/FaceSink.h"

#include <cstdint>

namespace orolith {

// The regular grid as a model's surface: each piece's cells meshed band by band on the meshing
// threads (CellMesher) and written in order. The centre fractions are drawn in cell order
// across the whole run, so the faces depend on the seed and the settings alone.
class GridSurface final : public SurfaceMesher {
 public:
  // closed: the surface is closed into a solid, which leaves out a piece of no area (its cells
  // keep their draws, so that every cell after them keeps its centre); an open surface keeps
  // its faces, lines as they are.
  GridSurface(const ModelScale& scale, std::uint64_t seed, unsigned threads, bool closed,
              FaceSink& sink);

  bool Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
            const CellsDone& cellsDone) override;
  PieceOutline Outline(const PieceLattice& lattice) const override { return OutlineOf(lattice); }
  std::uint64_t Faces() const noexcept override { return faces_; }

 private:
  CentreFractions fractions_;
  CellMesher mesher_;
  bool closed_;
  std::uint64_t faces_ = 0;
  BandPipeline pipeline_;  // last: no band in flight once it goes
};

}  // namespace orolith
