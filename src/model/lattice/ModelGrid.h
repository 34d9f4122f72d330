#pragma once

#include "frontpanel/ModelSettings.h"
#include "model/mesh/STLVectors.h"
#include "model/mesh/SurfacePaint.h"
#include "tiles/DemSampler.h"
#include "tiles/SRTM.h"

#include <cstdint>
#include <optional>
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
  long double East;
  long double North;
  std::int64_t Columns;
  std::int64_t Rows;
  long double CellWidth;
  long double CellHeight;

  std::uint64_t Cells() const noexcept { return static_cast<std::uint64_t>(Columns * Rows); }
  // False for the piece of a tile that only touches the region along a whole-degree bound.
  bool HasArea() const noexcept { return East > West && North > South; }
  // Column edge q and row edge r of the lattice, the one place a corner's longitude and latitude
  // come from. The last edge is the clip box's side itself, not a cell step short of it or past
  // it, so that the piece ends where its neighbour begins; edge 0 is the other side exactly.
  long double LatticeLon(std::int64_t q) const noexcept {
    return q == Columns ? East : West + static_cast<long double>(q) * CellWidth;
  }
  long double LatticeLat(std::int64_t r) const noexcept {
    return r == Rows ? North : South + static_cast<long double>(r) * CellHeight;
  }
};

// The piece of the region inside the tile whose south-west corner is westLon, southLat.
TileGrid GridInTile(const ModelSettings& settings, long double gridStep, std::int32_t westLon,
                    std::int32_t southLat) noexcept;

// Region coordinates and elevations to model coordinates, and the one place the model's
// vertical scale is worked out: the band of elevations over the Z extent above the pedestal,
// and the closed solid's floor below the base plane. Every expression keeps the order of
// operations of the model's definition, so a vertex depends only on its longitude and
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
  // At or below the water level (none: NaN, which nothing is below) the surface lies flat at
  // the water's z, so bilinear heights between corners at and above it never dip under it.
  float Z(long double elevation) const noexcept {
    if (elevation <= waterLevel_) return waterZ_;
    if (!(elevation >= zMin_)) return elevation < zMin_ ? belowBand_ : noData_;
    const long double z = (elevation - zMin_) / zSpan_ * zAbovePedestal_ + pedestal_;
    return static_cast<float>(z < 0 ? 0 : (z > zExtent_ ? zExtent_ : z));
  }
  // A height difference in metres as a difference of model z (the adaptive surface's error).
  float HeightZ(double metres) const noexcept {
    return static_cast<float>(metres / (static_cast<double>(zMax_) - static_cast<double>(zMin_)) *
                              (static_cast<double>(zExtent_) - static_cast<double>(pedestal_)));
  }
  // The inverse: a difference of model z in metres (the error a layer height shows).
  double HeightMetres(float modelZ) const noexcept {
    return static_cast<double>(modelZ) /
           (static_cast<double>(zExtent_) - static_cast<double>(pedestal_)) *
           (static_cast<double>(zMax_) - static_cast<double>(zMin_));
  }
  // The Z extent that stands bandMetres at modelPerMetre above a pedestal of basePercent of it.
  static long double ZExtentFor(long double bandMetres, long double modelPerMetre,
                                float basePercent) noexcept {
    return bandMetres * modelPerMetre / (1 - static_cast<long double>(basePercent) / 100);
  }
  // The closed solid's bottom: its floor's thickness below the base plane z = 0.
  float FloorZ() const noexcept { return floorZ_; }
  // The z of water at the level: its height in the band, lowered by the water drop, never
  // below the base plane. Meaningless without a water level.
  float WaterZ() const noexcept { return waterZ_; }

 private:
  long double lonMin_;
  long double lonSpan_;
  long double latMin_;
  long double latSpan_;
  long double xExtent_;
  long double yExtent_;
  long double zMin_;
  long double zMax_;
  long double zSpan_;
  long double zExtent_;
  long double pedestal_;
  long double zAbovePedestal_;
  float noData_;
  // The base plane, beneath the pedestal; the pedestal itself for a band found in the region,
  // which nothing lies below but by the lookup's rounding.
  float belowBand_;
  float floorZ_;
  long double waterLevel_;
  float waterZ_ = 0;
};

// The model's size in model units (millimetres), as ModelScale lays the region out: X is the X
// extent, Y follows from the region's shape on the ground, Z is the Z extent with a closed
// solid's floor below the base plane.
struct ModelDimensions {
  float X;
  float Y;
  float Z;
};
ModelDimensions ModelSize(const ModelSettings& settings);

// The colours of a run's faces: its bands' lower bounds in model z, equal slices of the
// elevation band or the heights given, and the water plane. None without colours.
std::optional<SurfacePaint> PaintOf(const ModelSettings& settings, const ModelScale& scale);

// The boundary of one tile's piece of the top surface, vertex for vertex as the surface has
// it: South and North run west to east through every column edge, West and East south to
// north through every row edge; each list shares its end vertices with its two neighbours.
struct PieceOutline {
  std::vector<Vec3> South;
  std::vector<Vec3> North;
  std::vector<Vec3> West;
  std::vector<Vec3> East;
};

// The lattice of one piece with what its corners are made of: each column edge's longitude, model
// x and place among the tile's samples, each row edge's alike, worked out once a tile. Every
// corner of the piece, in any cell, any band and the solid's outline, is Corner(q, r): one
// lookup from the same two stored places, so a lattice point has the same bytes wherever it is
// written and no two expressions have to agree for the surface to close.
class PieceLattice {
 public:
  struct Edge {
    long double degrees = 0;
    TSRTM::AxisPosition position;  // unused without a tile
    float model = 0;               // x of a column edge, y of a row edge
  };

  // The lattice of grid over tile; tile null for a piece with no data, whose corners all lie at
  // z = 0. The tile must stay loaded while the lattice is in use; the room is kept for the next.
  // With raster, the corners' heights are the raster's own, sampled here all at once, and the
  // tile serves for what else its kind tells; throws as DemSampler::Sample does.
  void Reset(const TileGrid& grid, const ModelScale& scale, const TSRTM* tile,
             DemSampler* raster = nullptr);

  const TileGrid& Grid() const noexcept { return grid_; }
  const TSRTM* Tile() const noexcept { return tile_; }
  // The raster the corners were sampled from, for points of the piece besides them; null when
  // they come from the tile.
  DemSampler* Raster() const noexcept { return raster_; }
  const Edge& Column(std::int64_t q) const noexcept {
    return columns_[static_cast<std::size_t>(q)];
  }
  const Edge& Row(std::int64_t r) const noexcept { return rows_[static_cast<std::size_t>(r)]; }
  float Z(std::int64_t q, std::int64_t r) const noexcept {
    if (!sampledZ_.empty()) return sampledZ_[Index(q, r)];
    return tile_ ? scale_->Z(tile_->ElevationOf(Column(q).position, Row(r).position)) : 0.0F;
  }
  // Z of the corners of columns q0 .. q0 + columns - 1 and rows r0 .. r0 + rows - 1, corner
  // (q, r) at out[(q - q0) * qStride + (r - r0) * rStride]: the same values as Z, the choice of
  // their source made once.
  void FillZ(std::int64_t q0, std::int64_t r0, std::int64_t columns, std::int64_t rows, float* out,
             std::size_t qStride, std::size_t rStride) const noexcept;
  Vec3 Corner(std::int64_t q, std::int64_t r) const noexcept {
    return MakeVec(Column(q).model, Row(r).model, Z(q, r));
  }

 private:
  TileGrid grid_{};
  const ModelScale* scale_ = nullptr;
  const TSRTM* tile_ = nullptr;
  std::vector<Edge> columns_;  // 0 .. Columns
  std::vector<Edge> rows_;     // 0 .. Rows
  DemSampler* raster_ = nullptr;
  std::vector<float> sampledZ_;  // row by row, with a raster; empty without

  std::size_t Index(std::int64_t q, std::int64_t r) const noexcept {
    return static_cast<std::size_t>(r * (grid_.Columns + 1) + q);
  }
};

// The outline of a piece for a closed solid: the border corners of its lattice, so that the
// closure meets the surface to the byte.
PieceOutline OutlineOf(const PieceLattice& lattice);

// Whether the piece's lattice encloses area in the model: a piece narrower or lower than a
// float step would give faces that are lines.
bool EnclosesArea(const PieceLattice& lattice) noexcept;

}  // namespace orolith
