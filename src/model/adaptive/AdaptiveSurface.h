#pragma once

#include "model/adaptive/LatticeMesher.h"
#include "model/lattice/ModelGrid.h"
#include "model/mesh/FaceSink.h"

#include <cstdint>
#include <functional>

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

// Whether the piece's lattice encloses area in the model: a piece narrower or lower than a
// float step would give faces that are lines.
bool EnclosesArea(const PieceLattice& lattice) noexcept;

// The surface as few triangles over the lattice's points as keep every point within the
// error of its height. Each tile's piece is meshed block by block; each block becomes one
// chunk for the sink, written on the calling thread in the mesher's order, so the file is
// the same with any number of threads.
class AdaptiveSurface {
 public:
  // maxError in model z; threads that mesh blocks at once.
  AdaptiveSurface(float maxError, unsigned threads, FaceSink& sink);

  // Meshes the piece of the tile at lon, lat and writes its faces; cellsDone(n) after each
  // block with the n cells it covered. Returns the outline the surface keeps, for a solid.
  PieceOutline Mesh(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat,
                    const std::function<void(std::uint64_t)>& cellsDone);

  std::uint64_t Faces() const noexcept { return faces_; }

 private:
  FaceSink& sink_;
  LatticeMesher mesher_;
  MeshChunk chunk_;
  std::uint64_t faces_ = 0;
};

}  // namespace orolith
