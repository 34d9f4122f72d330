#include "tiles/Copernicus.h"

#include "base/Errors.h"
#include "base/NumberText.h"
#include "base/OrderedPipeline.h"
#include "tiles/DeflatedBlocks.h"
#include "tiles/GdalBlocks.h"
#include "tiles/GdalRaster.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <functional>
#include <map>
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
  // Where its blocks lie when they are stored as the bucket stores them: read without GDAL.
  std::optional<DeflatedFloatLayout> deflated;
};

std::string Degrees(std::int32_t lon, std::int32_t lat) {
  return FormatText(
      '.', "%d %s %d %s",
      {lat < 0 ? -lat : lat, lat < 0 ? "S" : "N", lon < 0 ? -lon : lon, lon < 0 ? "W" : "E"});
}

constexpr const char* TileDrivers[] = {"GTiff", nullptr};
// The georeferencing is the file's own, whatever a side file might say.
constexpr const char* TileOptions[] = {"GEOREF_SOURCES=INTERNAL", nullptr};
constexpr gdal::OpenRequest TileRequest{TileDrivers, TileOptions, true};

gdal::Dataset OpenFile(const std::string& fileName) {
  return gdal::OpenRaster(fileName, TileRequest);
}

// The tile at lon, lat in dataset, opened from fileName, once its layout is checked.
OpenTile Checked(gdal::Dataset dataset, const std::string& fileName, std::int32_t lon,
                 std::int32_t lat) {
  OpenTile tile;
  tile.fileName = fileName;
  tile.dataset = std::move(dataset);
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
  // Before a block is held anywhere, GDAL's cache included.
  gdal::CheckBlockSizes(tile.band, fileName);
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

OpenTile Open(const std::string& fileName, std::int32_t lon, std::int32_t lat) {
  OpenTile tile = Checked(OpenFile(fileName), fileName, lon, lat);
  tile.deflated = gdal::FindDeflatedFloatLayout(tile.band);
  return tile;
}

// The checks of a tile about to be put in place: Float32 heights, and every block of them
// inside the file's bytes, so that a transfer cut short is caught before the tile is loaded.
void CheckWhole(const OpenTile& tile, std::uint64_t fileBytes) {
  if (GDALGetRasterDataType(tile.band) != GDT_Float32) {
    throw CannotOpenFile(tile.fileName, "The raster's heights are not Float32");
  }
  gdal::CheckBlocksInside(tile.band, fileBytes, tile.fileName);
}

// The height the band's no-data value stands for; NaN when it has none, or when it is NaN.
float NoDataMarker(const std::optional<double>& nodata) {
  return nodata && std::isfinite(*nodata) ? static_cast<float>(*nodata) : NAN;
}

// Turns the band's no-data values and NaN in count heights into voids.
void MarkVoids(float* heights, std::size_t count, const std::optional<double>& nodata) {
  const float marker = NoDataMarker(nodata);
  for (std::size_t i = 0; i < count; ++i) {
    const float h = heights[i];
    heights[i] = (std::isnan(h) || h == marker) ? TSRTM::VoidHeight : h;
  }
}

// The window of a tile at x0, y0, width × height pixels, and where each of its rows goes (the
// address of its first value).
struct Piece {
  const OpenTile* source = nullptr;
  int x0 = 0;
  int y0 = 0;
  int width = 0;
  int height = 0;
  std::function<float*(int y)> row;
  // Set for a neighbour's piece: a failure to read it marks the neighbour here instead of
  // ending the load.
  std::atomic<bool>* broken = nullptr;
};

// One thread's readers of the pieces. Blocks stored as the bucket stores them are read from the
// file by a reader of the thread's own. Others are GDAL's to read, and a GDAL data set serves
// one thread at a time: the calling thread reads through the tiles' own handles, every other
// thread opens the files again.
class PieceReader {
 public:
  explicit PieceReader(bool ownHandles) : ownHandles_(ownHandles) {}

  void Read(const Piece& piece) {
    const auto rows = [&](int y) { return piece.row(piece.y0 + y); };
    const OpenTile& tile = *piece.source;
    if (tile.deflated) {
      auto found = deflated_.find(&tile);
      if (found == deflated_.end()) {
        DeflatedFloatReader reader(tile.fileName, *tile.deflated, NoDataMarker(tile.nodata),
                                   TSRTM::VoidHeight);
        found = deflated_.emplace(&tile, std::move(reader)).first;
      }
      found->second.Read(piece.x0, piece.y0, piece.width, piece.height, rows);
      return;
    }
    ReaderOf(tile).Read(piece.x0, piece.y0, piece.width, piece.height, rows);
    for (int y = piece.y0; y < piece.y0 + piece.height; ++y) {
      MarkVoids(piece.row(y), static_cast<std::size_t>(piece.width), tile.nodata);
    }
  }

 private:
  gdal::WindowReader& ReaderOf(const OpenTile& tile) {
    if (const auto found = readers_.find(&tile); found != readers_.end()) return found->second;
    GDALRasterBandH band = tile.band;
    if (!ownHandles_) {
      datasets_.push_back(OpenFile(tile.fileName));
      band = gdal::SingleBand(datasets_.back().get(), tile.fileName);
    }
    return readers_.emplace(&tile, gdal::WindowReader(band, tile.fileName)).first->second;
  }

  bool ownHandles_;
  std::vector<gdal::Dataset> datasets_;
  std::map<const OpenTile*, gdal::WindowReader> readers_;
  std::map<const OpenTile*, DeflatedFloatReader> deflated_;
};

// Reads the pieces, the costliest first, on as many threads as the work may use: inflating the
// blocks is the bulk of a load. All are handed out at once, a slot each, so that no thread waits
// for an earlier piece to be done before it takes up the next. Throws the first piece's failure.
void ReadPieces(const std::vector<Piece>& pieces) {
  const auto threads = static_cast<unsigned>(std::min<std::size_t>(WorkThreads(), pieces.size()));
  std::vector<PieceReader> readers;
  constexpr auto owner = OrderedPipeline::Owner::Helps;
  for (unsigned thread = 0; thread < OrderedPipeline::MakingThreads(threads, owner); ++thread)
    readers.emplace_back(thread == 0);
  std::vector<std::size_t> pieceIn(std::max<std::size_t>(pieces.size(), 1));  // by slot
  const auto read = [&](unsigned thread, std::size_t slot) {
    const Piece& piece = pieces[pieceIn[slot]];
    if (piece.broken == nullptr) {
      readers[thread].Read(piece);
    } else if (!*piece.broken) {
      try {
        readers[thread].Read(piece);
      } catch (const FileError&) {
        *piece.broken = true;
      }
    }
  };
  OrderedPipeline pipeline(threads, owner, pieceIn.size(), read, [](std::size_t) {});
  pipeline.Run(pieces.size(), [&](std::size_t index, std::size_t slot) { pieceIn[slot] = index; });
}

// A neighbour's edge where there is a neighbour to take it from. One that can't be opened or
// read is passed over as a missing one is: it may lie outside the region, whose run it must not
// end, and inside it its own load tells why.
struct Neighbour {
  std::optional<OpenTile> tile;
  std::atomic<bool> broken{false};

  bool Usable() const noexcept { return tile && !broken; }
};

void OpenNeighbour(Neighbour& neighbour, const std::string& folder, std::int32_t lon,
                   std::int32_t lat) {
  if (lat < -90 || lat > 89) return;
  // East of the antimeridian lies its west.
  if (lon > 179) lon -= 360;
  const std::string fileName = folder + CopernicusTileName(lon, lat);
  try {
    if (TileFileExists(fileName)) neighbour.tile = Open(fileName, lon, lat);
  } catch (const FileError&) {
    neighbour.tile.reset();
  }
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

void CheckCopernicusTile(const std::string& fileName, std::int32_t lon, std::int32_t lat) {
  const OpenTile tile = Open(fileName, lon, lat);
  VSIStatBufL stat{};
  if (VSIStatL(fileName.c_str(), &stat) != 0) throw CannotOpenFile(fileName, errno);
  CheckWhole(tile, static_cast<std::uint64_t>(stat.st_size));
}

void CheckCopernicusTile(std::span<const std::byte> bytes, const std::string& shownName,
                         std::int32_t lon, std::int32_t lat) {
  const gdal::MemoryFile file(bytes);
  CheckWhole(Checked(gdal::OpenRaster(file, shownName, TileRequest), shownName, lon, lat),
             bytes.size());
}

void LoadCopernicusTile(TSRTM& tile, const std::string& fileName, std::int16_t lon,
                        std::int16_t lat) {
  const OpenTile own = Open(fileName, lon, lat);
  const std::size_t slash = fileName.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
  Neighbour east;
  Neighbour south;
  Neighbour southEast;
  OpenNeighbour(east, folder, lon + 1, lat);
  OpenNeighbour(south, folder, lon, lat - 1);
  OpenNeighbour(southEast, folder, lon + 1, lat - 1);

  const int columns = own.columns;
  const int width = columns + 1;  // grid columns
  const int rows = CopernicusRows + 1;
  const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(width);
  auto grid = std::make_unique_for_overwrite<float[]>(count);
  float* g = grid.get();
  const auto at = [g, width](int row) { return g + static_cast<std::ptrdiff_t>(row) * width; };

  // The file's first row is the north edge, grid row CopernicusRows; its last lies one spacing
  // north of the south edge, grid row 1. The tile is read block by block, the east neighbour's
  // first column in its blocks' rows, so that the threads share the work evenly.
  std::vector<Piece> pieces;
  int blockWidth = 0;
  int blockHeight = 0;
  GDALGetBlockSize(own.band, &blockWidth, &blockHeight);
  blockWidth = std::max(blockWidth, 1);
  blockHeight = std::max(blockHeight, 1);
  for (int y0 = 0; y0 < CopernicusRows; y0 += blockHeight) {
    const int height = std::min(blockHeight, CopernicusRows - y0);
    for (int x0 = 0; x0 < columns; x0 += blockWidth) {
      pieces.push_back({&own, x0, y0, std::min(blockWidth, columns - x0), height,
                        [&at, x0](int y) { return at(CopernicusRows - y) + x0; }});
    }
  }
  if (east.tile) {
    int eastWidth = 0;
    int eastHeight = 0;
    GDALGetBlockSize(east.tile->band, &eastWidth, &eastHeight);
    eastHeight = std::max(eastHeight, 1);
    for (int y0 = 0; y0 < CopernicusRows; y0 += eastHeight) {
      pieces.push_back({&*east.tile, 0, y0, 1, std::min(eastHeight, CopernicusRows - y0),
                        [&](int y) { return at(CopernicusRows - y) + columns; }, &east.broken});
    }
  }
  std::vector<float> southRow;
  if (south.tile) {
    southRow.resize(static_cast<std::size_t>(south.tile->columns) + 1);
    pieces.push_back({&*south.tile, 0, 0, south.tile->columns, 1,
                      [&](int) { return southRow.data(); }, &south.broken});
    if (southEast.tile) {
      pieces.push_back(
          {&*southEast.tile, 0, 0, 1, 1, [&](int) { return &southRow.back(); }, &southEast.broken});
    }
  }
  ReadPieces(pieces);

  if (!east.Usable()) {
    for (int r = 1; r < rows; ++r) at(r)[columns] = at(r)[columns - 1];
  }
  if (south.Usable()) {
    // The south row's east end: the south-east tile's first sample, else the south tile's last.
    if (!southEast.Usable()) southRow.back() = southRow[southRow.size() - 2];
    Resample(southRow, south.tile->columns, at(0), columns);
  } else {
    std::copy_n(at(1), width, at(0));
  }

  tile.AdoptHeights(std::move(grid), TileKind::Cop30, static_cast<std::int16_t>(rows),
                    static_cast<std::int16_t>(width), lon, lat, fileName);
}

std::vector<std::int16_t> ReadReducedCopernicusTile(const std::string& fileName, std::int32_t lon,
                                                    std::int32_t lat, int side) {
  const OpenTile tile = Checked(OpenFile(fileName), fileName, lon, lat);
  GDALDatasetH dataset = tile.dataset.get();
  GDALRasterBandH band = tile.band;
  const int n = std::clamp(side, 2, CopernicusRows);
  const auto count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  std::vector<float> heights(count);
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.eResampleAlg = GRIORA_NearestNeighbour;
  const gdal::ErrorCapture capture;
  if (GDALRasterIOEx(band, GF_Read, 0, 0, GDALGetRasterXSize(dataset), GDALGetRasterYSize(dataset),
                     heights.data(), n, n, GDT_Float32, 0, 0, &extra) != CE_None) {
    throw CannotReadFile(fileName, capture.Reason("The raster's heights can't be read"));
  }
  const float marker = NoDataMarker(tile.nodata);
  std::vector<std::int16_t> samples(count);
  for (std::size_t i = 0; i < count; ++i) {
    const float h = heights[i];
    // NaN fails both bounds, as no-data and heights beyond 16 bits do.
    samples[i] = h != marker && h > -32000.0F && h < 32767.0F
                     ? static_cast<std::int16_t>(std::lround(h))
                     : std::int16_t{-32768};
  }
  return samples;
}

}  // namespace orolith
