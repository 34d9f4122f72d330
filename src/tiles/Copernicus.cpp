#include "tiles/Copernicus.h"

#include "base/Errors.h"
#include "base/Files.h"
#include "base/NumberText.h"
#include "tiles/GdalRaster.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace orolith {
namespace {

// One opened tile, its layout checked.
struct OpenTile {
  gdal::Dataset dataset;
  GDALRasterBandH band = nullptr;
  int columns = 0;
  std::optional<double> nodata;
  std::string fileName;
};

std::string Degrees(std::int32_t lon, std::int32_t lat) {
  return FormatText(
      '.', "%d %s %d %s",
      {lat < 0 ? -lat : lat, lat < 0 ? "S" : "N", lon < 0 ? -lon : lon, lon < 0 ? "W" : "E"});
}

OpenTile Open(const std::string& fileName, std::int32_t lon, std::int32_t lat) {
  static constexpr const char* drivers[] = {"GTiff", nullptr};
  // The georeferencing is the file's own, whatever a side file might say.
  static constexpr const char* options[] = {"GEOREF_SOURCES=INTERNAL", nullptr};
  OpenTile tile;
  tile.fileName = fileName;
  tile.dataset = gdal::OpenRaster(fileName, {drivers, options, true});
  tile.band = gdal::SingleBand(tile.dataset.get(), fileName);
  tile.columns = CopernicusColumns(lat);
  const int width = GDALGetRasterXSize(tile.dataset.get());
  const int height = GDALGetRasterYSize(tile.dataset.get());
  if (width != tile.columns || height != CopernicusRows) {
    throw CannotOpenFile(
        fileName, FormatText('.',
                             "The raster has %d rows of %d columns; a Copernicus tile at %s "
                             "has %d rows of %d columns",
                             {height, width, Degrees(lon, lat), CopernicusRows, tile.columns}));
  }
  std::array<double, 6> geo{};
  if (GDALGetGeoTransform(tile.dataset.get(), geo.data()) != CE_None) {
    throw CannotOpenFile(fileName, "The raster has no georeferencing");
  }
  // The first pixel's centre on the tile's north-west corner, the spacing dividing a degree.
  const double dx = 1.0 / tile.columns;
  const double dy = 1.0 / CopernicusRows;
  const std::array<double, 6> expected{lon - dx / 2, dx, 0, lat + 1 + dy / 2, 0, -dy};
  const std::array<double, 6> tolerance{dx / 100, dx / 1e4, dx / 1e4, dy / 100, dy / 1e4, dy / 1e4};
  for (std::size_t i = 0; i < geo.size(); ++i) {
    if (!(std::abs(geo[i] - expected[i]) <= tolerance[i])) {
      throw CannotOpenFile(fileName, "The raster is not georeferenced as the Copernicus tile at " +
                                         Degrees(lon, lat));
    }
  }
  int hasNodata = 0;
  const double nodata = GDALGetRasterNoDataValue(tile.band, &hasNodata);
  if (hasNodata != 0) tile.nodata = nodata;
  return tile;
}

// Turns the band's no-data values and NaN in count heights into voids.
void MarkVoids(float* heights, std::size_t count, const std::optional<double>& nodata) {
  const float marker = nodata && std::isfinite(*nodata) ? static_cast<float>(*nodata) : NAN;
  for (std::size_t i = 0; i < count; ++i) {
    const float h = heights[i];
    heights[i] = (std::isnan(h) || h == marker) ? TSRTM::VoidHeight : h;
  }
}

// The first count values of the tile's first row, from west to east.
std::vector<float> FirstRow(const OpenTile& tile, int count) {
  std::vector<float> row(static_cast<std::size_t>(count));
  gdal::WindowReader(tile.band, tile.fileName).Read(0, 0, count, 1, [&](int) {
    return row.data();
  });
  MarkVoids(row.data(), row.size(), tile.nodata);
  return row;
}

std::optional<OpenTile> OpenNeighbour(const std::string& folder, std::int32_t lon,
                                      std::int32_t lat) {
  if (lat < -90 || lat > 89) return std::nullopt;
  // East of the antimeridian lies its west.
  if (lon > 179) lon -= 360;
  const std::string fileName = folder + CopernicusTileName(lon, lat);
  if (!FileExists(fileName)) return std::nullopt;
  return Open(fileName, lon, lat);
}

// Linear interpolation of values (columns + 1 of them, the last on the east edge) at count + 1
// points as evenly spread: a row of a neighbour with another spacing. Between a void and
// anything, a void.
void Resample(const std::vector<float>& values, int columns, float* out, int count) {
  for (int c = 0; c <= count; ++c) {
    const std::int64_t scaled = static_cast<std::int64_t>(c) * columns;
    const auto i = static_cast<std::size_t>(scaled / count);
    const std::int64_t remainder = scaled % count;
    if (remainder == 0) {
      out[c] = values[i];
      continue;
    }
    const float a = values[i];
    const float b = values[i + 1];
    const float f = static_cast<float>(remainder) / static_cast<float>(count);
    out[c] = (a < TSRTM::VoidThreshold || b < TSRTM::VoidThreshold) ? TSRTM::VoidHeight
                                                                    : a + f * (b - a);
  }
}

}  // namespace

int CopernicusColumns(std::int32_t lat) noexcept {
  // The degrees from the equator of the tile's edge nearest to it.
  const std::int32_t from = lat >= 0 ? lat : -(lat + 1);
  if (from < 50) return 3600;
  if (from < 60) return 2400;
  if (from < 70) return 1800;
  if (from < 80) return 1200;
  if (from < 85) return 720;
  return 360;
}

std::string CopernicusTileName(std::int32_t lon, std::int32_t lat) {
  return FormatText(
      '.', "Copernicus_DSM_COG_10_%s%.2d_00_%s%.3d_00_DEM.tif",
      {lat >= 0 ? "N" : "S", lat < 0 ? -lat : lat, lon >= 0 ? "E" : "W", lon < 0 ? -lon : lon});
}

void LoadCopernicusTile(TSRTM& tile, const std::string& fileName, std::int16_t lon,
                        std::int16_t lat) {
  const OpenTile own = Open(fileName, lon, lat);
  const int columns = own.columns;
  const int width = columns + 1;  // grid columns
  const int rows = CopernicusRows + 1;
  const auto at = [&](float* grid, int row) {
    return grid + static_cast<std::ptrdiff_t>(row) * width;
  };
  const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(width);
  auto grid = std::make_unique_for_overwrite<float[]>(count);
  float* g = grid.get();

  // The file's first row is the north edge, grid row CopernicusRows; its last lies one spacing
  // north of the south edge, grid row 1.
  gdal::WindowReader(own.band, fileName).Read(0, 0, columns, CopernicusRows, [&](int y) {
    return at(g, CopernicusRows - y);
  });
  for (int r = 1; r < rows; ++r) MarkVoids(at(g, r), static_cast<std::size_t>(columns), own.nodata);

  const std::size_t slash = fileName.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
  const auto east = OpenNeighbour(folder, lon + 1, lat);
  const auto south = OpenNeighbour(folder, lon, lat - 1);
  const auto southEast = OpenNeighbour(folder, lon + 1, lat - 1);

  if (east) {
    std::vector<float> column(CopernicusRows);
    gdal::WindowReader(east->band, east->fileName).Read(0, 0, 1, CopernicusRows, [&](int y) {
      return &column[static_cast<std::size_t>(y)];
    });
    MarkVoids(column.data(), column.size(), east->nodata);
    for (int y = 0; y < CopernicusRows; ++y) {
      at(g, CopernicusRows - y)[columns] = column[static_cast<std::size_t>(y)];
    }
  } else {
    for (int r = 1; r < rows; ++r) at(g, r)[columns] = at(g, r)[columns - 1];
  }

  if (south) {
    std::vector<float> row = FirstRow(*south, south->columns);
    // The south row's east end: the south-east tile's first sample, else the south tile's last.
    row.push_back(southEast ? FirstRow(*southEast, 1).front() : row.back());
    Resample(row, south->columns, at(g, 0), columns);
  } else {
    std::copy_n(at(g, 1), width, at(g, 0));
  }

  tile.AdoptHeights(std::move(grid), TileKind::Cop30, static_cast<std::int16_t>(rows),
                    static_cast<std::int16_t>(width), lon, lat, fileName);
}

}  // namespace orolith
