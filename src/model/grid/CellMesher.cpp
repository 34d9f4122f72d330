#include "model/grid/CellMesher.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
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

CellMesher::CellMesher(const ModelScale& scale, CentreFractions& fractions, unsigned threads)
    : scale_(scale), fractions_(fractions), scratch_(std::max(threads, 1U)) {}

std::size_t CellMesher::StartTile(const PieceLattice& lattice, std::int32_t lon, std::int32_t lat) {
  if (lattice.Tile() == nullptr)
    throw std::logic_error("A piece with no tile has no cells to mesh");
  lattice_ = &lattice;
  centreZ_.clear();
  lon_ = lon;
  lat_ = lat;
  const TileGrid& grid = lattice.Grid();
  const auto rows = static_cast<std::size_t>(grid.Rows);
  perBand_ =
      std::min(grid.Columns, static_cast<std::int64_t>(std::max<std::size_t>(1, BandCells / rows)));
  const auto columns = static_cast<std::size_t>(perBand_);
  const bool table = rows >= WorthATable;
  for (Scratch& s : scratch_) {
    s.zs.resize((columns + 1) * (rows + 1));
    s.centres.resize(columns * rows);
    s.centreLons.resize(table ? columns * WorthATable : 0);
  }
  if (lattice.Raster() != nullptr) SampleCentres(lattice);
  return static_cast<std::size_t>((grid.Columns + perBand_ - 1) / perBand_);
}

void CellMesher::SampleCentres(const PieceLattice& lattice) {
  const TileGrid& g = lattice.Grid();
  const auto columns = static_cast<std::size_t>(g.Columns);
  const auto rows = static_cast<std::size_t>(g.Rows);
  // The draws the bands will make, made ahead on a copy: two a cell, column after column.
  CentreFractions ahead = fractions_;
  std::vector<std::uint8_t> draws(2 * columns * rows);
  for (std::uint8_t& draw : draws) draw = ahead.Next();
  const CentreFractions::Values& fractions = fractions_.Table();
  centreZ_.resize(columns * rows);
  lattice.Raster()->Sample(
      rows, columns,
      [&](std::size_t row, double* lon, double* lat) {
        const long double south = lattice.Row(static_cast<std::int64_t>(row)).degrees;
        for (std::size_t j = 0; j < columns; ++j) {
          const std::size_t cell = j * rows + row;
          const long double west = lattice.Column(static_cast<std::int64_t>(j)).degrees;
          lon[j] = static_cast<double>(west + fractions[draws[2 * cell]] * g.CellWidth);
          lat[j] = static_cast<double>(south + fractions[draws[2 * cell + 1]] * g.CellHeight);
        }
      },
      centreZ_.data());
  for (float& z : centreZ_) z = scale_.Z(z);
}

std::int64_t CellMesher::BandColumns(std::size_t band) const noexcept {
  return std::min(perBand_, lattice_->Grid().Columns - static_cast<std::int64_t>(band) * perBand_);
}

void CellMesher::Prepare(Band& band) {
  const auto columns = static_cast<std::size_t>(BandColumns(band.Index));
  const auto rows = static_cast<std::size_t>(lattice_->Grid().Rows);
  const std::size_t cells = columns * rows;
  band.Input.resize(2 * cells);  // fu, fv of each cell, in cell order
  for (std::uint8_t& draw : band.Input) draw = fractions_.Next();
  const std::size_t vertices = (columns + 1) * (rows + 1) + cells;
  band.Mesh.Vertices.reserve(vertices);
  band.Mesh.Lattice.reserve(vertices);
  band.Mesh.Triangles.reserve(4 * cells);
}

CellMesher::AxisPoint CellMesher::CentreLon(long double lonW, long double fu) const noexcept {
  const long double lon = lonW + fu * lattice_->Grid().CellWidth;
  return {lattice_->Tile()->LonPosition(lon), scale_.X(lon)};
}

void CellMesher::Mesh(unsigned thread, Band& band) {
  Scratch& s = scratch_[thread];
  const PieceLattice& lattice = *lattice_;
  const TSRTM& tile = *lattice.Tile();
  const TileGrid& g = lattice.Grid();
  const CentreFractions::Values& fractions = fractions_.Table();
  const std::int64_t first = static_cast<std::int64_t>(band.Index) * perBand_;
  const auto columns = static_cast<std::size_t>(BandColumns(band.Index));
  const auto cellRows = static_cast<std::size_t>(g.Rows);
  const std::size_t lats = cellRows + 1;
  const std::size_t lons = columns + 1;
  const std::size_t kinds = fractions.size();
  const bool gaps = tile.Kind() == TileKind::Dem;
  const auto q = [first](std::size_t k) { return first + static_cast<std::int64_t>(k); };
  const auto r = [](std::size_t i) { return static_cast<std::int64_t>(i); };

  if (!s.centreLons.empty()) {
    for (std::size_t j = 0; j < columns; ++j) {
      for (std::size_t k = 0; k < kinds; ++k) {
        s.centreLons[j * kinds + k] = CentreLon(lattice.Column(q(j)).degrees, fractions[k]);
      }
    }
  }
  lattice.FillZ(first, 0, static_cast<std::int64_t>(lons), static_cast<std::int64_t>(lats),
                s.zs.data(), lats, 1);
  // The centres' heights from the tile, or as sampled from the raster when the piece began.
  const auto centres = [&](const auto& heightAt) {
    for (std::size_t row = 0; row < cellRows; ++row) {
      const long double lat = lattice.Row(r(row)).degrees;
      for (std::size_t j = 0; j < columns; ++j) {
        const std::size_t cell = j * cellRows + row;
        const std::uint8_t fu = band.Input[2 * cell];
        const std::uint8_t fv = band.Input[2 * cell + 1];
        const AxisPoint lon = s.centreLons.empty()
                                  ? CentreLon(lattice.Column(q(j)).degrees, fractions[fu])
                                  : s.centreLons[j * kinds + fu];
        const long double centreLat = lat + fractions[fv] * g.CellHeight;
        s.centres[cell] = MakeVec(lon.model, scale_.Y(centreLat), heightAt(lon, centreLat, row, j));
      }
    }
  };
  if (centreZ_.empty()) {
    centres([&](const AxisPoint& lon, long double lat, std::size_t, std::size_t) {
      return scale_.Z(tile.ElevationOf(lon.position, tile.LatPosition(lat)));
    });
  } else {
    const auto piece = static_cast<std::size_t>(g.Columns);
    const float* z = centreZ_.data() + static_cast<std::size_t>(first);
    centres([&](const AxisPoint&, long double, std::size_t row, std::size_t j) {
      return z[row * piece + j];
    });
  }

  // The corners first, vertex k * lats + i at column edge first + k and row edge i, then the
  // centres of the cells that use theirs.
  MeshChunk& mesh = band.Mesh;
  mesh.Clear();
  mesh.PieceLon = lon_;
  mesh.PieceLat = lat_;
  mesh.PieceColumns = static_cast<std::uint32_t>(g.Columns);
  mesh.PieceRows = static_cast<std::uint32_t>(g.Rows);
  for (std::size_t k = 0; k < lons; ++k) {
    const float x = lattice.Column(q(k)).model;
    for (std::size_t i = 0; i < lats; ++i) {
      mesh.Vertices.push_back(MakeVec(x, lattice.Row(r(i)).model, s.zs[k * lats + i]));
      mesh.Lattice.push_back({static_cast<std::uint32_t>(q(k)), static_cast<std::uint32_t>(i)});
    }
  }
  for (std::size_t j = 0; j < columns; ++j) {
    const auto west = static_cast<std::uint32_t>(j * lats);
    const auto east = static_cast<std::uint32_t>((j + 1) * lats);
    const float* zW = &s.zs[west];
    const float* zE = &s.zs[east];
    for (std::size_t row = 0; row < cellRows; ++row) {
      const Vec3& c = s.centres[j * cellRows + row];
      const auto south = static_cast<std::uint32_t>(row);
      const auto north = south + 1;
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
