#pragma once

#include "model/STLVectors.h"
#include "tiles/TileRange.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace orolith {

// The boundary of one tile's piece of the top surface, vertex for vertex as the surface has
// it: South and North run west to east through every column edge, West and East south to
// north through every row edge; each list shares its end vertices with its two neighbours.
struct PieceOutline {
  std::vector<Vec3> South;
  std::vector<Vec3> North;
  std::vector<Vec3> West;
  std::vector<Vec3> East;
};

using FaceSink = std::function<void(const Vec3& a, const Vec3& b, const Vec3& c)>;

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

  // Emits the closing faces, every normal pointing out of the solid. Nothing when no piece
  // has a surface.
  void Close(const FaceSink& emit) const;

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
