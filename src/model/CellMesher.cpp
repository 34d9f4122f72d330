#include "model/CellMesher.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace orolith {
namespace {

// A centre takes one of the 101 fractions of its cell's width, so a column of cells has 101
// possible centre longitudes: where a column has more rows than that, working each of them out
// once is cheaper than working out each centre's. (The same table of latitudes for a row would
// be as large as 101 rows and miss the cache on every lookup.)
constexpr std::size_t WorthATable = std::tuple_size_v<CentreFractions::Values>;

// Cells a band holds at most (one column may hold more): 2 MB of STL records at four faces a
// cell.
constexpr std::size_t BandCells = 10000;

constexpr std::uint32_t Off = LatticePoint::Off;

std::uint32_t Edge(std::int64_t edge) noexcept {
  return static_cast<std::uint32_t>(edge);
}

// Appends value to a list of distinct neighbours unless it ends the list already; returns
// its entry. The entry keeps the first lattice edge given for it other than Off.
template <typename T>
std::uint32_t Distinct(std::vector<T>& values, std::vector<std::uint32_t>& edges, std::size_t& n,
                       T value, std::uint32_t edge) noexcept {
  if (n == 0 || values[n - 1] != value) {
    values[n] = value;
    edges[n] = edge;
    ++n;
  } else if (edges[n - 1] == Off) {
    edges[n - 1] = edge;
  }
  return static_cast<std::uint32_t>(n - 1);
}

}  // namespace

CentreFractions::CentreFractions(std::uint64_t seed) {
  std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
  engine_.seed(sequence);
  // k from -500 to 499: the centre keeps to the middle three quarters of its cell.
  for (double& fraction : values_) {
    const int k = static_cast<int>(Below(1000)) - 500;
    fraction = k * 0.00075 + 0.5;
  }
}

// A row's north edge is the next row's south edge on the lattice only where both fall on the
// same latitude; the last row's north edge ends the lattice.
void CellMesher::RowTable::Prepare(const TileGrid& g, const TSRTM& tile, const ModelScale& scale) {
  grid = g;
  const auto rows = static_cast<std::size_t>(g.Rows);
  southLat.resize(rows);
  southIndex.resize(rows);
  northIndex.resize(rows);
  lats.resize(2 * rows);
  latRow.resize(2 * rows);
  std::size_t n = 0;
  for (std::size_t r = 0; r < rows; ++r) {
    southLat[r] = g.RowSouth(static_cast<std::int64_t>(r));
    southIndex[r] = Distinct(lats, latRow, n, southLat[r], Edge(static_cast<std::int64_t>(r)));
    northIndex[r] =
        Distinct(lats, latRow, n, southLat[r] + g.CellHeight, r + 1 == rows ? Edge(g.Rows) : Off);
  }
  lats.resize(n);
  latRow.resize(n);
  corners.resize(n);
  for (std::size_t i = 0; i < n; ++i) corners[i] = {tile.LatPosition(lats[i]), scale.Y(lats[i])};
}

CellMesher::CellMesher(const ModelScale& scale, CentreFractions& fractions, unsigned workers)
    : scale_(scale), fractions_(fractions), scratch_(std::max(workers, 1U)) {}

std::size_t CellMesher::StartTile(const TileGrid& grid, const TSRTM& tile, std::int32_t lon,
                                  std::int32_t lat) {
  tile_ = &tile;
  lon_ = lon;
  lat_ = lat;
  rows_.Prepare(grid, tile, scale_);
  const auto rows = static_cast<std::size_t>(grid.Rows);
  perBand_ =
      std::min(grid.Columns, static_cast<std::int64_t>(std::max<std::size_t>(1, BandCells / rows)));
  const auto columns = static_cast<std::size_t>(perBand_);
  const std::size_t lats = rows_.lats.size();
  const bool table = rows >= WorthATable;
  for (Scratch& s : scratch_) {
    s.westLon.resize(columns);
    s.westIndex.resize(columns);
    s.eastIndex.resize(columns);
    s.lons.resize(2 * columns);
    s.lonColumn.resize(2 * columns);
    s.corners.resize(2 * columns);
    s.zs.resize(2 * columns * lats);
    s.centres.resize(columns * rows);
    s.centreLons.resize(table ? columns * WorthATable : 0);
  }
  return static_cast<std::size_t>((grid.Columns + perBand_ - 1) / perBand_);
}

std::int64_t CellMesher::BandColumns(std::size_t band) const noexcept {
  return std::min(perBand_, rows_.grid.Columns - static_cast<std::int64_t>(band) * perBand_);
}

void CellMesher::Prepare(Band& band) {
  const auto columns = static_cast<std::size_t>(BandColumns(band.Index));
  const std::size_t cells = columns * rows_.southLat.size();
  band.Input.resize(2 * cells);  // fu, fv of each cell, in cell order
  for (std::uint8_t& draw : band.Input) draw = fractions_.Next();
  const std::size_t vertices = 2 * columns * rows_.lats.size() + cells;
  band.Mesh.Vertices.reserve(vertices);
  band.Mesh.Lattice.reserve(vertices);
  band.Mesh.Triangles.reserve(4 * cells);
}

CellMesher::AxisPoint CellMesher::CentreLon(long double lonW, long double fu) const noexcept {
  const long double lon = lonW + fu * rows_.grid.CellWidth;
  return {tile_->LonPosition(lon), scale_.X(lon)};
}

void CellMesher::Mesh(unsigned worker, Band& band) {
  Scratch& s = scratch_[worker];
  const TSRTM& tile = *tile_;
  const RowTable& rows = rows_;
  const TileGrid& g = rows.grid;
  const CentreFractions::Values& fractions = fractions_.Table();
  const std::int64_t first = static_cast<std::int64_t>(band.Index) * perBand_;
  const auto columns = static_cast<std::size_t>(BandColumns(band.Index));
  const std::size_t cellRows = rows.southLat.size();
  const std::size_t lats = rows.lats.size();
  const std::size_t kinds = fractions.size();
  const bool gaps = tile.Kind() == TileKind::Dem;

  // A column's east edge is the next column's west edge on the lattice only where both fall
  // on the same longitude: inside the band the next column says so, at its end the grid.
  std::size_t lons = 0;
  for (std::size_t j = 0; j < columns; ++j) {
    const std::int64_t q = first + static_cast<std::int64_t>(j);
    const long double lonW = g.ColumnWest(q);
    const long double lonE = lonW + g.CellWidth;
    std::uint32_t eastEdge = Off;
    if (q + 1 == g.Columns || (j + 1 == columns && lonE == g.ColumnWest(q + 1))) {
      eastEdge = Edge(q + 1);
    }
    s.westLon[j] = lonW;
    s.westIndex[j] = Distinct(s.lons, s.lonColumn, lons, lonW, Edge(q));
    s.eastIndex[j] = Distinct(s.lons, s.lonColumn, lons, lonE, eastEdge);
  }
  for (std::size_t k = 0; k < lons; ++k) {
    s.corners[k] = {tile.LonPosition(s.lons[k]), scale_.X(s.lons[k])};
  }
  if (!s.centreLons.empty()) {
    for (std::size_t j = 0; j < columns; ++j) {
      for (std::size_t k = 0; k < kinds; ++k) {
        s.centreLons[j * kinds + k] = CentreLon(s.westLon[j], fractions[k]);
      }
    }
  }

  for (std::size_t i = 0; i < lats; ++i) {
    for (std::size_t k = 0; k < lons; ++k) {
      s.zs[k * lats + i] =
          scale_.Z(tile.ElevationOf(s.corners[k].position, rows.corners[i].position));
    }
  }
  for (std::size_t r = 0; r < cellRows; ++r) {
    const long double lat = rows.southLat[r];
    for (std::size_t j = 0; j < columns; ++j) {
      const std::size_t cell = j * cellRows + r;
      const std::uint8_t fu = band.Input[2 * cell];
      const std::uint8_t fv = band.Input[2 * cell + 1];
      const AxisPoint lon = s.centreLons.empty() ? CentreLon(s.westLon[j], fractions[fu])
                                                 : s.centreLons[j * kinds + fu];
      const long double centreLat = lat + fractions[fv] * g.CellHeight;
      s.centres[cell] =
          MakeVec(lon.model, scale_.Y(centreLat),
                  scale_.Z(tile.ElevationOf(lon.position, tile.LatPosition(centreLat))));
    }
  }

  // The corners first, vertex k * lats + i at longitude k and latitude i, then the centres
  // of the cells that use theirs.
  MeshChunk& mesh = band.Mesh;
  mesh.Clear();
  mesh.PieceLon = lon_;
  mesh.PieceLat = lat_;
  for (std::size_t k = 0; k < lons; ++k) {
    for (std::size_t i = 0; i < lats; ++i) {
      mesh.Vertices.push_back(
          MakeVec(s.corners[k].model, rows.corners[i].model, s.zs[k * lats + i]));
      const bool onLattice = s.lonColumn[k] != Off && rows.latRow[i] != Off;
      mesh.Lattice.push_back(onLattice ? LatticePoint{s.lonColumn[k], rows.latRow[i]}
                                       : LatticePoint{});
    }
  }
  for (std::size_t j = 0; j < columns; ++j) {
    const auto west = static_cast<std::uint32_t>(s.westIndex[j] * lats);
    const auto east = static_cast<std::uint32_t>(s.eastIndex[j] * lats);
    const float* zW = &s.zs[west];
    const float* zE = &s.zs[east];
    for (std::size_t r = 0; r < cellRows; ++r) {
      const Vec3& c = s.centres[j * cellRows + r];
      const std::uint32_t south = rows.southIndex[r];
      const std::uint32_t north = rows.northIndex[r];
      const std::uint32_t nw = west + north;
      const std::uint32_t sw = west + south;
      const std::uint32_t se = east + south;
      const std::uint32_t ne = east + north;
      // A cell that touches no data (only the user's raster has none) leaves a hole.
      if (gaps && std::isnan(zW[north] + zW[south] + zE[south] + zE[north] + c.z)) continue;
      // Corners run counter-clockwise seen from above, so every normal points up.
      const float z = zW[north];
      if (z == zW[south] && z == zE[south] && z == zE[north] && z == c.z) {
        mesh.Triangles.push_back({nw, sw, ne});
        mesh.Triangles.push_back({sw, se, ne});
      } else {
        const auto centre = static_cast<std::uint32_t>(mesh.Vertices.size());
        mesh.Vertices.push_back(c);
        mesh.Lattice.push_back({});
        mesh.Triangles.push_back({nw, sw, centre});
        mesh.Triangles.push_back({sw, se, centre});
        mesh.Triangles.push_back({se, ne, centre});
        mesh.Triangles.push_back({ne, nw, centre});
      }
    }
  }
}

}  // namespace orolith
