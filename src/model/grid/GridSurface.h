#pragma once

#include "base/OrderedPipeline.h"
#include "model/grid/CellMesher.h"
#include "model/lattice/SurfaceMesher.h"
#include "model/mesh/FaceSink.h"

#include <cstdint>
#include <vector>

namespace orolith {

// The regular grid as a model's surface. Each piece's cells are cut into bands: the run's
// thread draws a band's centres in cell order, the pipeline's threads mesh it and encode it for
// the sink, and the run's thread writes the bands in order. The draws run across the whole run,
// so the faces depend on the seed and the settings alone, not on the threads. Two bands a
// thread and one more are in flight at most (one with one thread), each at most 2 MB of STL.
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
  FaceSink& sink_;
  CentreFractions fractions_;
  CellMesher mesher_;
  bool closed_;
  std::uint64_t faces_ = 0;
  std::uint64_t rows_ = 0;                // of the piece being meshed
  const CellsDone* cellsDone_ = nullptr;  // of the piece being meshed
  std::vector<Band> bands_;               // one a slot of the pipeline
  OrderedPipeline pipeline_;              // last: no band in flight once it goes
};

}  // namespace orolith
