#include "model/lattice/ModelGrid.h"

#include "frontpanel/TSystem.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace orolith {
namespace {

constexpr long double DegreesToRadians = 0.017453292519943295769L;
// Metres to a degree, on both axes and at every latitude.
constexpr long double MetresPerDegree = 100000.0L;

}  // namespace

long double GridStep(const ModelSettings& s) noexcept {
  return static_cast<long double>(std::max(s.XYResolution, 1)) / MetresPerDegree;
}

TileGrid GridInTile(const ModelSettings& s, long double gridStep, std::int32_t westLon,
                    std::int32_t southLat) noexcept {
  const long double west = ClampFloat(s.LonMin, westLon, westLon + 1);
  const long double east = ClampFloat(s.LonMax, westLon, westLon + 1);
  const long double south = ClampFloat(s.LatMin, southLat, southLat + 1);
  const long double north = ClampFloat(s.LatMax, southLat, southLat + 1);
  // The one is added even when the division comes out whole: a full tile at a step of
  // 0.001 degree has 1001 columns.
  const auto columns = static_cast<std::int64_t>(std::trunc((east - west) / gridStep)) + 1;
  const auto rows = static_cast<std::int64_t>(std::trunc((north - south) / gridStep)) + 1;
  return {west,
          south,
          east,
          north,
          columns,
          rows,
          (east - west) / static_cast<long double>(columns),
          (north - south) / static_cast<long double>(rows)};
}

ModelScale::ModelScale(const ModelSettings& s)
    : lonMin_(s.LonMin),
      lonSpan_(s.LonMax - s.LonMin),
      latMin_(s.LatMin),
      latSpan_(s.LatMax - s.LatMin),
      xExtent_(s.XExtent),
      yExtent_(std::fabs((s.LatMax - s.LatMin) * s.XExtent / (s.LonMax - s.LonMin) /
                         std::cos((s.LatMax + s.LatMin) / 2 * DegreesToRadians))),
      zMin_(s.ZMin),
      zMax_(s.ZMax),
      zSpan_(s.ZMax - s.ZMin),
      zExtent_(s.ZExtent),
      pedestal_(static_cast<long double>(s.ZBasePercent) * s.ZExtent / 100),
      zAbovePedestal_(zExtent_ - pedestal_),
      noData_(s.Solid ? 0.0F : std::numeric_limits<float>::quiet_NaN()),
      belowBand_(s.ElevationAuto ? static_cast<float>(pedestal_) : 0.0F),
      floorZ_(static_cast<float>(-(static_cast<long double>(s.FloorPercent) * s.ZExtent / 100))),
      waterLevel_(std::numeric_limits<long double>::quiet_NaN()) {
  if (!s.Extras.WaterLevel) return;
  const long double level = *s.Extras.WaterLevel;
  const float surface = Z(level);
  waterZ_ = std::max(0.0F, surface - std::max(0.0F, s.Extras.WaterDrop));
  waterLevel_ = level;
}

std::optional<SurfacePaint> PaintOf(const ModelSettings& s, const ModelScale& scale) {
  const PrintExtras& extras = s.Extras;
  if (!extras.Colours) return std::nullopt;
  std::vector<float> bounds;
  if (!extras.BandHeights.empty()) {
    for (const float metres : extras.BandHeights) bounds.push_back(scale.Z(metres));
  } else {
    const int bands = std::clamp(extras.ColourBands, 1, MaxColourBands);
    for (int k = 1; k < bands; ++k)
      bounds.push_back(scale.Z(s.ZMin + (s.ZMax - s.ZMin) * k / bands));
  }
  std::optional<float> water;
  if (extras.WaterLevel) water = scale.WaterZ();
  return SurfacePaint(std::move(bounds), water);
}

ModelDimensions ModelSize(const ModelSettings& settings) {
  const ModelScale scale(settings);
  return {scale.X(settings.LonMax), scale.Y(settings.LatMax),
          settings.ZExtent - (settings.Solid ? scale.FloorZ() : 0.0F)};
}

void PieceLattice::Reset(const TileGrid& grid, const ModelScale& scale, const TSRTM* tile,
                         DemSampler* raster) {
  grid_ = grid;
  scale_ = &scale;
  tile_ = tile;
  raster_ = tile != nullptr ? raster : nullptr;
  sampledZ_.clear();
  columns_.resize(static_cast<std::size_t>(grid.Columns) + 1);
  rows_.resize(static_cast<std::size_t>(grid.Rows) + 1);
  for (std::int64_t q = 0; q <= grid.Columns; ++q) {
    Edge& e = columns_[static_cast<std::size_t>(q)];
    e.degrees = grid.LatticeLon(q);
    e.model = scale.X(e.degrees);
    if (tile) e.position = tile->LonPosition(e.degrees);
  }
  for (std::int64_t r = 0; r <= grid.Rows; ++r) {
    Edge& e = rows_[static_cast<std::size_t>(r)];
    e.degrees = grid.LatticeLat(r);
    e.model = scale.Y(e.degrees);
    if (tile) e.position = tile->LatPosition(e.degrees);
  }
  if (raster_ == nullptr) return;
  const auto perRow = static_cast<std::size_t>(grid.Columns) + 1;
  sampledZ_.resize(perRow * (static_cast<std::size_t>(grid.Rows) + 1));
  raster_->Sample(
      static_cast<std::size_t>(grid.Rows) + 1, perRow,
      [&](std::size_t r, double* lon, double* lat) {
        for (std::size_t q = 0; q < perRow; ++q) {
          lon[q] = static_cast<double>(columns_[q].degrees);
          lat[q] = static_cast<double>(rows_[r].degrees);
        }
      },
      sampledZ_.data());
  for (float& z : sampledZ_) z = scale.Z(z);
}

void PieceLattice::FillZ(std::int64_t q0, std::int64_t r0, std::int64_t columns, std::int64_t rows,
                         float* out, std::size_t qStride, std::size_t rStride) const noexcept {
  const auto at = [&](std::int64_t q, std::int64_t r) -> float& {
    return out[static_cast<std::size_t>(q) * qStride + static_cast<std::size_t>(r) * rStride];
  };
  // Row by row across the columns, so that neighbouring lookups share the tile's cache lines.
  if (!sampledZ_.empty()) {
    for (std::int64_t r = 0; r < rows; ++r) {
      const float* row = &sampledZ_[Index(q0, r0 + r)];
      for (std::int64_t q = 0; q < columns; ++q) at(q, r) = row[q];
    }
  } else if (tile_ != nullptr) {
    for (std::int64_t r = 0; r < rows; ++r) {
      const TSRTM::AxisPosition& lat = Row(r0 + r).position;
      for (std::int64_t q = 0; q < columns; ++q) {
        at(q, r) = scale_->Z(tile_->ElevationOf(Column(q0 + q).position, lat));
      }
    }
  } else {
    for (std::int64_t r = 0; r < rows; ++r) {
      for (std::int64_t q = 0; q < columns; ++q) at(q, r) = 0.0F;
    }
  }
}

bool EnclosesArea(const PieceLattice& lattice) noexcept {
  const TileGrid& g = lattice.Grid();
  return lattice.Column(0).model != lattice.Column(g.Columns).model &&
         lattice.Row(0).model != lattice.Row(g.Rows).model;
}

PieceOutline OutlineOf(const PieceLattice& lattice) {
  const TileGrid& g = lattice.Grid();
  PieceOutline o;
  const auto columns = static_cast<std::size_t>(g.Columns);
  const auto rows = static_cast<std::size_t>(g.Rows);
  o.South.reserve(columns + 1);
  o.North.reserve(columns + 1);
  o.West.reserve(rows + 1);
  o.East.reserve(rows + 1);
  for (std::int64_t q = 0; q <= g.Columns; ++q) {
    o.South.push_back(lattice.Corner(q, 0));
    o.North.push_back(lattice.Corner(q, g.Rows));
  }
  for (std::int64_t r = 0; r <= g.Rows; ++r) {
    o.West.push_back(lattice.Corner(0, r));
    o.East.push_back(lattice.Corner(g.Columns, r));
  }
  return o;
}

}  // namespace orolith
