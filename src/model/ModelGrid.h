#pragma once

#include "frontpanel/ModelSettings.h"
#include "model/STLVectors.h"
#include "tiles/SRTM.h"

#include <cstdint>
#include <vector>

namespace orolith {

// The grid step of a run in degrees. Kept wider than the field's 16 bits would allow, so that
// large pixel sizes don't wrap; a cell wider than a tile simply leaves one cell.
long double GridStep(const ModelSettings& settings) noexcept;

// The part of the region inside one tile (its piece), cut into cells of the grid step. The
// piece's lattice of cell corners has column edges 0 .. Columns and row edges 0 .. Rows.
struct TileGrid {
  long double West;
  long double South;
  std::int64_t Columns;
  std::int64_t Rows;
  long double CellWidth;
  long double CellHeight;

  std::uint64_t Cells() const noexcept { return static_cast<std::uint64_t>(Columns * Rows); }
  // The west edge of column q and the south edge of row r; a cell's other edge is one cell
  // width (height) further. Every vertex of the tile's piece is worked out from these.
  long double ColumnWest(std::int64_t q) const noexcept {
    return West + static_cast<long double>(q) * CellWidth;
  }
  long double RowSouth(std::int64_t r) const noexcept {
    return South + static_cast<long double>(r) * CellHeight;
  }
  // Column edge q and row edge r of the lattice. The last edge is the last cell's west (south)
  // edge and one cell further, as the cells have it, not an edge of a cell beyond the grid.
  long double LatticeLon(std::int64_t q) const noexcept {
    return q < Columns ? ColumnWest(q) : ColumnWest(q - 1) + CellWidth;
  }
  long double LatticeLat(std::int64_t r) const noexcept {
    return r < Rows ? RowSouth(r) : RowSouth(r - 1) + CellHeight;
  }
};

// The piece of the region inside the tile whose south-west corner is westLon, southLat.
TileGrid GridInTile(const ModelSettings& settings, long double gridStep, std::int32_t westLon,
                    std::int32_t southLat) noexcept;

// Region coordinates and elevations to model coordinates. Every expression keeps the order
// of operations of the model's definition, so a vertex depends only on its longitude and
// latitude: equal inputs give equal bytes, which is what lets cells share corners.
class ModelScale {
 public:
  explicit ModelScale(const ModelSettings& s);

  float X(long double lon) const noexcept {
    return static_cast<float>((lon - lonMin_) / lonSpan_ * xExtent_);
  }
  float Y(long double lat) const noexcept {
    return static_cast<float>((lat - latMin_) / latSpan_ * yExtent_);
  }
  // Below the band the surface drops to the base plane, beneath the pedestal. No data (NaN)
  // stays NaN on a surface, whose cells there make no faces, and lies on the base plane of a
  // closed solid, as a missing tile's fill does.
  float Z(long double elevation) const noexcept {
    if (!(elevation >= zMin_)) return elevation < zMin_ ? 0.0F : noData_;
    const long double z = (elevation - zMin_) / zSpan_ * zAbovePedestal_ + pedestal_;
    return static_cast<float>(z < 0 ? 0 : (z > zExtent_ ? zExtent_ : z));
  }

 private:
  long double lonMin_;
  long double lonSpan_;
  long double latMin_;
  long double latSpan_;
  long double xExtent_;
  long double yExtent_;
  long double zMin_;
  long double zSpan_;
  long double zExtent_;
  long double pedestal_;
  long double zAbovePedestal_;
  float noData_;
};

// The boundary of one tile's piece of the top surface, vertex for vertex as the surface has
// it: South and North run west to east through every column edge, West and East south to
// north through every row edge; each list shares its end vertices with its two neighbours.
struct PieceOutline {
  std::vector<Vec3> South;
  std::vector<Vec3> North;
  std::vector<Vec3> West;
  std::vector<Vec3> East;
};

// The outline of a tile's piece for a closed solid, vertex for vertex as the meshers make the
// lattice's border (the same edges, the same lookups, the same scale), so that the closure
// meets the surface to the byte. Without a tile (a piece with no data) every z is 0.
PieceOutline OutlineOf(const TileGrid& grid, const ModelScale& scale, const TSRTM* tile);

}  // namespace orolith
