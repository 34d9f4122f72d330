#pragma once

#include "model/adaptive/LatticeMesher.h"
#include "model/lattice/ModelGrid.h"
#include "model/lattice/SurfaceMesher.h"
#include "model/mesh/FaceSink.h"

#include <cstdint>
#include <vector>

namespace orolith {

// The heights of a piece's lattice as its corners have them: the same lookups, the same
// clamping to the band, the same bytes as the regular grid's corners.
class PieceHeights final : public LatticeHeights {
 public:
  explicit PieceHeights(const PieceLattice& lattice) : lattice_(lattice) {}
  void Fill(const LatticeRect& rect, float* out, std::size_t stride) const override;

 private:
  const PieceLattice& lattice_;
};

// The surface as few triangles over the lattice's points as keep every point within the
// error of its height. Each tile's piece is meshed block by block; each block becomes one
// chunk for the sink, encoded on the thread that meshed it and written on the run's thread in
// the mesher's order, so the file is the same with any number of threads. A piece of no area
// is left out.
class AdaptiveSurface final : public SurfaceMesher {
 public:
  // maxError in model z; threads that mesh blocks at once.
  AdaptiveSurface(float maxError, unsigned threads, FaceSink& sink);

  bool Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
            const CellsDone& cellsDone) override;
  // The outline's kept points, the surface's vertices there.
  PieceOutline Outline(const PieceLattice& lattice) const override;
  std::uint64_t Faces() const noexcept override { return faces_; }

 private:
  FaceSink& sink_;
  LatticeMesher mesher_;
  std::vector<MeshChunk> chunks_;  // one a slot of the mesher
  LatticeOutline kept_;            // of the piece last meshed
  std::uint64_t faces_ = 0;
};

}  // namespace orolith
