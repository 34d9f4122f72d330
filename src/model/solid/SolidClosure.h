#pragma once

#include "model/lattice/ModelGrid.h"
#include "model/mesh/FaceSink.h"
#include "tiles/TileRange.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace orolith {

// Closes the top surface into one solid: walls down from its outer edge to a flat bottom at
// floorZ, strips where neighbouring tiles' pieces meet at different heights, and a flat fill
// at the base plane z = 0 where a tile is missing. It keeps only the pieces' outlines, so
// the surface itself can be written before it closes.
//
// Every face of the closure lies in a vertical plane (a seam or an outer side of the region),
// in the plane of a fill or in the bottom. Where pieces meet at a corner, the vertical line
// through it is cut at every height one of them has there, so that each edge on it is shared
// by exactly two faces.
class SolidClosure {
 public:
  SolidClosure(const TileRange& tiles, float floorZ);

  // The piece of a loaded tile. False, and the piece left out, when it encloses no area (the
  // tile beyond a whole-degree bound): the caller then makes no faces for it.
  bool AddSurface(std::int32_t lon, std::int32_t lat, PieceOutline outline);
  // The piece of a tile the surface has no data for; its outline's heights are not used.
  void AddMissing(std::int32_t lon, std::int32_t lat, PieceOutline outline);

  // Writes the closing faces to sink, after the surface's, every normal pointing out of the
  // solid, and returns their number: none when no piece has a surface.
  std::uint64_t Close(FaceSink& sink) const;

 private:
  struct Piece {
    PieceOutline Outline;
    bool Filled;
  };
  bool Add(std::int32_t lon, std::int32_t lat, PieceOutline outline, bool filled);

  TileRange tiles_;
  float floorZ_;
  std::vector<std::optional<Piece>> pieces_;  // column by column, south to north
};

}  // namespace orolith
