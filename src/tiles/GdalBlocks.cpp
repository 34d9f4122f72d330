#include "tiles/GdalBlocks.h"

#include "base/Errors.h"
#include "base/NumberText.h"

#include <cpl_string.h>
#include <cpl_vsi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace orolith::gdal {
namespace {

constexpr std::int64_t MaxBlockBytes = std::int64_t{256} << 20;
// TIFF tiles come in multiples of 16 pixels a side.
constexpr int TileStep = 16;
// As many blocks of a level as are looked at one by one for a file cut short.
constexpr std::int64_t BlocksLookedAt = std::int64_t{1} << 16;

bool IsGeoTiff(GDALRasterBandH band) {
  GDALDatasetH dataset = GDALGetBandDataset(band);
  GDALDriverH driver = dataset != nullptr ? GDALGetDatasetDriver(dataset) : nullptr;
  return driver != nullptr && EQUAL(GDALGetDriverShortName(driver), "GTiff");
}

// The band and its overviews, the band first.
std::vector<GDALRasterBandH> Levels(GDALRasterBandH band) {
  std::vector<GDALRasterBandH> levels{band};
  for (int i = 0; i < GDALGetOverviewCount(band); ++i) {
    if (GDALRasterBandH overview = GDALGetOverview(band, i)) levels.push_back(overview);
  }
  return levels;
}

struct Grid {
  int BlockWidth = 0;
  int BlockHeight = 0;
  std::int64_t Across = 0;
  std::int64_t Down = 0;
};

Grid BlocksOf(GDALRasterBandH level) {
  Grid grid;
  GDALGetBlockSize(level, &grid.BlockWidth, &grid.BlockHeight);
  if (grid.BlockWidth > 0 && grid.BlockHeight > 0) {
    grid.Across =
        (std::int64_t{GDALGetRasterBandXSize(level)} + grid.BlockWidth - 1) / grid.BlockWidth;
    grid.Down =
        (std::int64_t{GDALGetRasterBandYSize(level)} + grid.BlockHeight - 1) / grid.BlockHeight;
  }
  return grid;
}

// Where block bx, by of a GeoTIFF band lies: its offset or size in bytes, 0 for a block never
// written.
std::uint64_t BlockItem(GDALRasterBandH band, const char* what, std::int64_t bx, std::int64_t by) {
  const std::string key = FormatText('.', "BLOCK_%s_%d_%d", {what, bx, by});
  const char* text = GDALGetMetadataItem(band, key.c_str(), "TIFF");
  return text == nullptr ? 0 : std::strtoull(text, nullptr, 10);
}

}  // namespace

void CheckBlockSizes(GDALRasterBandH band, const std::string& fileName) {
  const bool tiff = IsGeoTiff(band);
  const std::int64_t sampleBytes =
      std::max(GDALGetDataTypeSizeBytes(GDALGetRasterDataType(band)), 1);
  const int longer = std::max(GDALGetRasterBandXSize(band), GDALGetRasterBandYSize(band));
  const std::int64_t longest = (std::int64_t{longer} + TileStep - 1) / TileStep * TileStep;
  for (GDALRasterBandH level : Levels(band)) {
    const Grid grid = BlocksOf(level);
    const std::int64_t width = grid.BlockWidth;
    const std::int64_t height = grid.BlockHeight;
    const bool strip = width == GDALGetRasterBandXSize(level);
    if (tiff && !strip && (width % TileStep != 0 || height % TileStep != 0)) {
      throw CannotOpenFile(fileName, FormatText('.',
                                                "The raster is stored in tiles of %d x %d pixels, "
                                                "not in multiples of 16",
                                                {width, height}));
    }
    if (width <= 0 || height <= 0 || width * height * sampleBytes > MaxBlockBytes ||
        (tiff && (width > longest || height > longest))) {
      throw CannotOpenFile(fileName,
                           FormatText('.',
                                      "The raster is stored in blocks of %d x %d pixels, too large "
                                      "to read",
                                      {width, height}));
    }
  }
}

void CheckBlocksInside(GDALRasterBandH band, std::uint64_t fileBytes, const std::string& fileName) {
  if (!IsGeoTiff(band)) return;
  for (GDALRasterBandH level : Levels(band)) {
    const Grid grid = BlocksOf(level);
    const std::int64_t firstRow = grid.Across * grid.Down <= BlocksLookedAt ? 0 : grid.Down - 1;
    for (std::int64_t by = firstRow; by < grid.Down; ++by) {
      for (std::int64_t bx = 0; bx < grid.Across; ++bx) {
        if (BlockItem(level, "OFFSET", bx, by) + BlockItem(level, "SIZE", bx, by) > fileBytes) {
          throw CannotOpenFile(fileName, "The file ends inside the raster's heights");
        }
      }
    }
  }
}

std::optional<DeflatedFloatLayout> FindDeflatedFloatLayout(GDALRasterBandH band) {
  GDALDatasetH dataset = GDALGetBandDataset(band);
  const auto is = [&](const char* item, const char* value) {
    const char* found = GDALGetMetadataItem(dataset, item, "IMAGE_STRUCTURE");
    return found != nullptr && EQUAL(found, value);
  };
  const char* description = GDALGetDescription(dataset);
  if (GDALGetRasterDataType(band) != GDT_Float32 || GDALGetRasterCount(dataset) != 1 ||
      !EQUAL(GDALGetDriverShortName(GDALGetDatasetDriver(dataset)), "GTiff") ||
      !is("COMPRESSION", "DEFLATE") || !is("PREDICTOR", "3") ||
      GDALGetMetadataItem(band, "NBITS", "IMAGE_STRUCTURE") != nullptr || description == nullptr ||
      std::string_view(description).starts_with("/vsi")) {
    return std::nullopt;
  }
  // A big-endian file orders the bytes of its samples otherwise.
  std::array<char, 2> order{};
  VSILFILE* file = VSIFOpenL(description, "rb");
  const bool read =
      file != nullptr && VSIFReadL(order.data(), 1, order.size(), file) == order.size();
  if (file != nullptr) VSIFCloseL(file);
  if (!read || order[0] != 'I' || order[1] != 'I') return std::nullopt;
  DeflatedFloatLayout layout;
  layout.Width = GDALGetRasterBandXSize(band);
  layout.Height = GDALGetRasterBandYSize(band);
  GDALGetBlockSize(band, &layout.BlockWidth, &layout.BlockHeight);
  if (layout.Width <= 0 || layout.Height <= 0 || layout.BlockWidth <= 0 ||
      layout.BlockHeight <= 0) {
    return std::nullopt;
  }
  const Grid grid = BlocksOf(band);
  for (std::int64_t by = 0; by < grid.Down; ++by) {
    for (std::int64_t bx = 0; bx < grid.Across; ++bx) {
      layout.Offsets.push_back(BlockItem(band, "OFFSET", bx, by));
      layout.Sizes.push_back(BlockItem(band, "SIZE", bx, by));
      // A block that was never written reads as no data through GDAL.
      if (layout.Offsets.back() == 0 || layout.Sizes.back() == 0) return std::nullopt;
    }
  }
  return layout;
}

}  // namespace orolith::gdal
