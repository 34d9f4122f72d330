#include "base/Errors.h"
#include "base/Interrupt.h"
#include "support/DataRoot.h"
#include "support/PatchedTiles.h"
#include "support/Pipes.h"
#include "support/Rasters.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"
#include "tiles/Copernicus.h"
#include "tiles/GdalBlocks.h"
#include "tiles/GdalRaster.h"
#include "tiles/SRTM.h"
#include "tiles/TileSource.h"

#include <gdal_utils.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orolith {
namespace {

namespace fs = std::filesystem;

TEST(CopernicusColumns, NarrowWithTheLatitudeBandOfTheTilesEdgeNearestTheEquator) {
  const std::vector<std::pair<int, int>> cases = {
      {0, 3600},   {49, 3600},  {50, 2400},  {55, 2400},  {59, 2400},  {60, 1800},  {69, 1800},
      {70, 1200},  {79, 1200},  {80, 720},   {84, 720},   {85, 360},   {89, 360},   {-1, 3600},
      {-50, 3600}, {-51, 2400}, {-60, 2400}, {-61, 1800}, {-70, 1800}, {-71, 1200}, {-80, 1200},
      {-81, 720},  {-85, 720},  {-86, 360},  {-90, 360}};
  for (const auto& [lat, columns] : cases) EXPECT_EQ(CopernicusColumns(lat), columns) << lat;
}

TEST(CopernicusTileName, NamesTheSouthWestCornerAsTheBucketDoes) {
  const std::vector<std::tuple<int, int, std::string>> cases = {
      {7, 46, "Copernicus_DSM_COG_10_N46_00_E007_00_DEM.tif"},
      {-66, -46, "Copernicus_DSM_COG_10_S46_00_W066_00_DEM.tif"},
      {0, 0, "Copernicus_DSM_COG_10_N00_00_E000_00_DEM.tif"},
      {-1, -1, "Copernicus_DSM_COG_10_S01_00_W001_00_DEM.tif"},
      {179, 89, "Copernicus_DSM_COG_10_N89_00_E179_00_DEM.tif"},
      {-180, -90, "Copernicus_DSM_COG_10_S90_00_W180_00_DEM.tif"}};
  for (const auto& [lon, lat, name] : cases) EXPECT_EQ(CopernicusTileName(lon, lat), name);
}

// The Copernicus layout of an SRTM-1 tile: its samples without the east column and the south
// row, as a Float32 COG under the bucket's name and georeferencing.
std::string CopernicusFromSrtm(const TSRTM& srtm, const std::string& folder) {
  return test::WriteCopernicusTile(
      folder, srtm.WestLon(), srtm.SouthLat(),
      [&](double lon, double lat) {
        const auto column = std::lround((lon - srtm.WestLon()) * 3600);
        const auto row = std::lround((lat - srtm.SouthLat()) * 3600);
        return srtm.Sample(static_cast<int>(row), static_cast<int>(column));
      },
      "COG");
}

TEST(LoadCopernicusTile, GivesARealSrtmTilesHeightsAwayFromTheEdgesItLeavesToNeighbours) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_1/S46W066.hgt");
  const test::TempDir dir;
  TSRTM srtm;
  srtm.LoadFromFile(test::SharedData("SRTM_1/S46W066.hgt"), -66, -46);
  const std::string path = CopernicusFromSrtm(srtm, dir.Root());

  TSRTM cop;
  LoadCopernicusTile(cop, path, -66, -46);
  EXPECT_EQ(cop.Kind(), TileKind::Cop30);
  EXPECT_EQ(cop.SourceName(), path);
  ASSERT_EQ(cop.Rows(), 3601);
  ASSERT_EQ(cop.Columns(), 3601);
  EXPECT_EQ(cop.WestLon(), -66);
  EXPECT_EQ(cop.SouthLat(), -46);
  int differ = 0;
  for (int r = 1; r < 3601; ++r) {
    for (int c = 0; c < 3600; ++c) differ += cop.Height(r, c) != srtm.Sample(r, c);
  }
  EXPECT_EQ(differ, 0);
  // With no neighbour in the folder the last column and row repeat.
  for (int r = 1; r < 3601; ++r) differ += cop.Height(r, 3600) != cop.Height(r, 3599);
  for (int c = 0; c < 3601; ++c) differ += cop.Height(0, c) != cop.Height(1, c);
  EXPECT_EQ(differ, 0);

  // Corners of cells anywhere but in the last column and the south row, and points between.
  std::mt19937_64 random(46066);
  std::uniform_real_distribution<double> away(1.0 / 3600, 3599.0 / 3600);
  int far = 0;
  for (int i = 0; i < 200000; ++i) {
    const long double lon = -66 + away(random);
    const long double lat = -46 + away(random);
    const long double expected = srtm.ElevationAt(lon, lat);
    const long double got = cop.ElevationAt(lon, lat);
    far += std::abs(static_cast<double>(got - expected)) > 1e-9;
  }
  for (int r = 2; r < 3601; r += 7) {
    for (int c = 0; c < 3599; c += 7) {
      const long double lon = -66 + c / 3600.0L;
      const long double lat = -46 + r / 3600.0L;
      far += std::abs(static_cast<double>(cop.ElevationAt(lon, lat) - srtm.ElevationAt(lon, lat))) >
             1e-9;
    }
  }
  EXPECT_EQ(far, 0);
  std::int16_t srtmLow = 0;
  std::int16_t srtmHigh = 0;
  std::int16_t copLow = 0;
  std::int16_t copHigh = 0;
  srtm.GetElevationRange(srtmLow, srtmHigh);
  cop.GetElevationRange(copLow, copHigh);
  EXPECT_EQ(copHigh, srtmHigh);
  EXPECT_GE(copLow, srtmLow);
}

// A plane whose heights at the pixel centres of every Copernicus spacing are whole decimetres:
// 720 m a degree east (0.2 m a column at 3600 columns, 0.6 m at 1200), 360 m a degree north.
double Plane(double lon, double lat) {
  return 1000 + 720 * (lon - 10) + 360 * (lat - 54);
}

struct PlaneCase {
  int lat;
  int columns;       // the tile's own
  int southColumns;  // its south neighbour's
};

void PrintTo(const PlaneCase& p, std::ostream* out) {
  *out << p.lat << " N, " << p.columns << " columns, " << p.southColumns << " south of it";
}

class CopernicusPlane : public ::testing::TestWithParam<PlaneCase> {};

TEST_P(CopernicusPlane, GivesThePlaneAtEveryLatticePointWithItsNeighbours) {
  const PlaneCase p = GetParam();
  ASSERT_EQ(CopernicusColumns(p.lat), p.columns);
  ASSERT_EQ(CopernicusColumns(p.lat - 1), p.southColumns);
  const test::TempDir dir;
  const auto plane = [&](double lon, double lat) { return Plane(lon, lat - (p.lat - 55)); };
  const std::string own = test::WriteCopernicusTile(dir.Root(), 10, p.lat, plane);
  const std::vector<std::pair<int, int>> neighbours = {
      {11, p.lat}, {10, p.lat - 1}, {11, p.lat - 1}};
  for (const auto& [lon, lat] : neighbours) {
    test::WriteCopernicusTile(dir.Root(), lon, lat, plane);
  }

  TSRTM tile;
  LoadCopernicusTile(tile, own, 10, static_cast<std::int16_t>(p.lat));
  ASSERT_EQ(tile.Rows(), 3601);
  ASSERT_EQ(tile.Columns(), p.columns + 1);
  EXPECT_EQ(tile.HealVoids(3), 0);
  // The lattice of a 111 m model over the whole tile, its edges included.
  constexpr int steps = 900;
  int off = 0;
  double worst = 0;
  for (int i = 0; i <= steps; ++i) {
    for (int j = 0; j <= steps; ++j) {
      const long double lon = 10 + static_cast<long double>(i) / steps;
      const long double lat = p.lat + static_cast<long double>(j) / steps;
      const double error = std::abs(static_cast<double>(tile.ElevationAt(lon, lat)) -
                                    plane(static_cast<double>(lon), static_cast<double>(lat)));
      worst = std::max(worst, error);
      off += error > 1e-3;
    }
  }
  EXPECT_EQ(off, 0) << "worst error " << worst << " m";
  EXPECT_EQ(tile.LastError(), "");
}

TEST_P(CopernicusPlane, RepeatsItsLastColumnAndRowWithoutNeighbours) {
  const PlaneCase p = GetParam();
  const test::TempDir dir;
  const auto plane = [&](double lon, double lat) { return Plane(lon, lat - (p.lat - 55)); };
  const std::string own = test::WriteCopernicusTile(dir.Root(), 10, p.lat, plane);

  TSRTM tile;
  LoadCopernicusTile(tile, own, 10, static_cast<std::int16_t>(p.lat));
  const int last = p.columns;
  int differ = 0;
  for (int r = 1; r <= CopernicusRows; ++r)
    differ += tile.Height(r, last) != tile.Height(r, last - 1);
  for (int c = 0; c <= last; ++c) differ += tile.Height(0, c) != tile.Height(1, c);
  EXPECT_EQ(differ, 0);
  // Inside, the plane; in the last column the heights of the column before it.
  const long double west = 10.25L;
  const long double lat = p.lat + 0.5L;
  EXPECT_NEAR(static_cast<double>(tile.ElevationAt(west, lat)), plane(10.25, p.lat + 0.5), 1e-3);
  const long double east = 11 - 0.25L / p.columns;
  EXPECT_NEAR(static_cast<double>(tile.ElevationAt(east, lat)),
              plane(11 - 1.0 / p.columns, p.lat + 0.5), 1e-3);
}

INSTANTIATE_TEST_SUITE_P(NorthOf50, CopernicusPlane,
                         ::testing::Values(PlaneCase{55, 2400, 2400}, PlaneCase{70, 1200, 1800}),
                         [](const auto& test) {
                           return "At" + std::to_string(test.param.lat) + "N";
                         });

TEST(LoadCopernicusTile, TurnsNoDataAndNaNIntoVoidsThatHealing) {
  const test::TempDir dir;
  const std::string path = dir.Root() + CopernicusTileName(7, 46);
  test::WriteRaster(path,
                    {.Width = 3600,
                     .Height = 3600,
                     .Geo = test::CopernicusGeo(7, 46),
                     .Srs = "EPSG:4326",
                     .NoData = -9999,
                     .Options = test::BucketLayout("GTiff")},
                    [](int x, int y) {
                      if (x == 100 && y == 200) return -9999.0;
                      if (x == 300 && y == 400) return double{NAN};
                      return 500.25;
                    });
  TSRTM tile;
  LoadCopernicusTile(tile, path, 7, 46);
  EXPECT_EQ(tile.Height(3600 - 200, 100), TSRTM::VoidHeight);
  EXPECT_EQ(tile.Height(3600 - 400, 300), TSRTM::VoidHeight);
  std::int16_t low = 0;
  std::int16_t high = 0;
  tile.GetElevationRange(low, high);
  EXPECT_EQ(low, -32768);
  EXPECT_EQ(tile.HealVoids(3), 2);
  EXPECT_EQ(tile.Height(3600 - 200, 100), 500.25F);
  tile.GetElevationRange(low, high);
  EXPECT_EQ(low, 500);
  EXPECT_EQ(high, 500);
}

// Storage of a tile, and its name in the test's output.
struct Layout {
  const char* what;
  std::vector<std::string> options;
};

TEST(LoadCopernicusTile, ReadsTheSameHeightsWhateverTheStorage) {
  // Fractions, negative heights, no-data and NaN, and a block of nothing but no-data, which a
  // sparse file leaves out.
  const auto height = [](int x, int y) {
    if (x >= 1024 && x < 2048 && y < 1024) return -9999.0;
    if ((x * 7 + y * 13) % 977 == 0) return -9999.0;
    if ((x * 11 + y * 3) % 1291 == 0) return double{NAN};
    return std::sin(x * 0.013) * 900 + std::cos(y * 0.007) * 400 + (x * 31 + y * 17) % 10 * 0.1;
  };
  const std::vector<Layout> layouts = {
      {"the bucket's: deflated 1024-pixel blocks, floating-point predictor",
       test::BucketLayout("GTiff")},
      {"deflated 256-pixel blocks, floating-point predictor, blocks of no-data left out",
       {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=DEFLATE", "PREDICTOR=3",
        "SPARSE_OK=TRUE"}},
      {"deflated strips, no predictor", {"COMPRESS=DEFLATE"}},
      {"LZW blocks, floating-point predictor", {"TILED=YES", "COMPRESS=LZW", "PREDICTOR=3"}},
      {"plain strips", {}}};
  const test::TempDir dir;
  std::vector<float> first;
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.what);
    const test::TempDir folder;
    const std::string path = folder.Root() + CopernicusTileName(7, 46);
    test::WriteRaster(path,
                      {.Width = 3600,
                       .Height = 3600,
                       .Geo = test::CopernicusGeo(7, 46),
                       .Srs = "EPSG:4326",
                       .NoData = -9999,
                       .Options = layout.options},
                      height);
    TSRTM tile;
    LoadCopernicusTile(tile, path, 7, 46);
    const std::vector<float> heights(tile.Heights(), tile.Heights() + 3601 * 3601);
    if (first.empty()) {
      first = heights;
      EXPECT_EQ(tile.Height(3600, 1), static_cast<float>(height(1, 0)));
      EXPECT_EQ(tile.Height(3600, 0), TSRTM::VoidHeight);
      EXPECT_EQ(tile.Height(3000, 1500), TSRTM::VoidHeight);
      EXPECT_EQ(tile.Height(3600 - 1280, 3), TSRTM::VoidHeight);
      continue;
    }
    int differ = 0;
    for (std::size_t i = 0; i < heights.size(); ++i) {
      differ += std::memcmp(&heights[i], &first[i], sizeof(float)) != 0;
    }
    EXPECT_EQ(differ, 0);
  }
}

// The bucket's tiles are read past GDAL; anything else falls back to it.
TEST(FindDeflatedFloatLayout, KnowsTheBucketsBlocksAndNothingElse) {
  const test::TempDir dir;
  const auto layoutOf = [&](const std::string& driver, const std::vector<std::string>& options) {
    const std::string path = dir.Root() + driver + std::to_string(options.size()) + ".tif";
    test::WriteRaster(path, {.Width = 2400, .Height = 3600, .Driver = driver, .Options = options},
                      [](int x, int y) { return x + y; });
    const gdal::Dataset dataset = gdal::OpenRaster(path, {});
    return gdal::FindDeflatedFloatLayout(gdal::SingleBand(dataset.get(), path));
  };
  const auto bucket = layoutOf("COG", test::BucketLayout("COG"));
  ASSERT_TRUE(bucket);
  EXPECT_EQ(bucket->BlocksAcross(), 3);
  EXPECT_EQ(bucket->Offsets.size(), 3U * 4);
  EXPECT_TRUE(std::none_of(bucket->Sizes.begin(), bucket->Sizes.end(),
                           [](std::uint64_t size) { return size == 0; }));
  EXPECT_TRUE(layoutOf("GTiff", test::BucketLayout("GTiff")));
  EXPECT_FALSE(layoutOf("GTiff", {"TILED=YES", "COMPRESS=LZW", "PREDICTOR=3"}));
  EXPECT_FALSE(
      layoutOf("GTiff", {"TILED=YES", "COMPRESS=DEFLATE", "PREDICTOR=3", "ENDIANNESS=BIG"}));
  EXPECT_FALSE(layoutOf("GTiff", {"COMPRESS=DEFLATE"}));
}

TEST(LoadCopernicusTile, ResamplesASouthNeighbourOfOtherSpacingAndTakesTheCornerFromTheSouthEast) {
  // At 50 N the tile has 2400 columns and its south neighbour 3600.
  const test::TempDir dir;
  const auto plane = [](double lon, double lat) { return Plane(lon, lat + 4); };
  const std::string own = test::WriteCopernicusTile(dir.Root(), 10, 50, plane);
  test::WriteCopernicusTile(dir.Root(), 10, 49, plane);
  TSRTM tile;
  LoadCopernicusTile(tile, own, 10, 50);
  int off = 0;
  for (int c = 0; c < 2400; ++c) {
    off += std::abs(tile.Height(0, c) - Plane(10 + c / 2400.0, 54)) > 1e-3;
  }
  EXPECT_EQ(off, 0);
  // No east or south-east neighbour: the corner repeats the south tile's last sample.
  EXPECT_NEAR(tile.Height(0, 2400), Plane(10 + 3599.0 / 3600, 54), 1e-3);

  test::WriteCopernicusTile(dir.Root(), 11, 49, [](double, double) { return 42.0; });
  LoadCopernicusTile(tile, own, 10, 50);
  EXPECT_EQ(tile.Height(0, 2400), 42.0F);
}

TEST(LoadCopernicusTile, FindsTheEastNeighbourOfTheAntimeridianInTheWest) {
  const test::TempDir dir;
  const std::string own =
      test::WriteCopernicusTile(dir.Root(), 179, 65, [](double, double) { return 10.0; });
  test::WriteCopernicusTile(dir.Root(), -180, 65, [](double, double) { return 20.0; });
  TSRTM tile;
  LoadCopernicusTile(tile, own, 179, 65);
  EXPECT_EQ(tile.Height(100, 1800), 20.0F);
  EXPECT_EQ(tile.Height(100, 1799), 10.0F);
}

// A raster that is no Copernicus tile, or no longer whole, and the start of the reason given.
struct BadTile {
  const char* what;
  std::function<void(const std::string& path)> write;
  std::string reason;
};

TEST(LoadCopernicusTile, RefusesWhatIsNoWholeCopernicusTileAndKeepsTheTileItHeld) {
  const auto layout = [](int width, int height, std::array<double, 6> geo, int bands = 1) {
    return [=](const std::string& path) {
      test::WriteRaster(path,
                        {.Width = width,
                         .Height = height,
                         .Geo = geo,
                         .Srs = "EPSG:4326",
                         .Bands = bands,
                         .Options = test::BucketLayout("GTiff")},
                        [](int, int) { return 100.0; });
    };
  };
  std::array<double, 6> cornerOnEdge = test::CopernicusGeo(7, 55);
  cornerOnEdge[0] = 7;
  cornerOnEdge[3] = 56;
  const std::vector<BadTile> cases = {
      {"no raster",
       [](const std::string& path) {
         test::WriteBytes(path, {'n', 'o', ' ', 't', 'i', 'f', 'f'});
       },
       "`"},
      {"the columns of 45 N at 55 N", layout(3600, 3600, test::CopernicusGeo(7, 55)),
       "The raster has 3600 rows of 3600 columns; a Copernicus tile at 55 N 7 E has 3600 rows of "
       "2400 columns"},
      {"pixel corners on the edges", layout(2400, 3600, cornerOnEdge),
       "The raster is not georeferenced as the Copernicus tile at 55 N 7 E"},
      {"no georeferencing",
       [](const std::string& path) {
         test::WriteRaster(path, {.Width = 2400, .Height = 3600}, [](int, int) { return 1.0; });
       },
       "The raster has no georeferencing"},
      {"three bands", layout(2400, 3600, test::CopernicusGeo(7, 55), 3),
       "The raster has 3 bands, not the one band of heights"},
      {"cut short",
       [](const std::string& path) {
         test::WriteCopernicusTile(
             fs::path(path).parent_path().string() + "/", 7, 55,
             [](double lon, double lat) { return std::sin(lon * 977) * 300 + lat; }, "COG");
         fs::resize_file(path, fs::file_size(path) / 2);
       },
       ""}};

  for (const BadTile& bad : cases) {
    SCOPED_TRACE(bad.what);
    const test::TempDir dir;
    const std::string path = dir.Root() + CopernicusTileName(7, 55);
    bad.write(path);
    TSRTM tile;
    tile.FillConstant(5, 7, 55);
    try {
      LoadCopernicusTile(tile, path, 7, 55);
      ADD_FAILURE() << "loaded";
    } catch (const FileError& error) {
      const std::string text = error.what();
      const std::string start = text.find("Cannot read") == 0
                                    ? "Cannot read file \"" + path + "\". "
                                    : "Cannot open file \"" + path + "\". ";
      EXPECT_EQ(text.substr(0, start.size()), start) << text;
      EXPECT_EQ(text.substr(start.size(), bad.reason.size()), bad.reason) << text;
      EXPECT_GT(text.size(), start.size() + 10) << "no reason given";
    }
    EXPECT_EQ(tile.SourceName(), "CONSTANT_FILL=5");
    EXPECT_EQ(tile.Kind(), TileKind::Srtm1);
    EXPECT_EQ(tile.Sample(1800, 1800), 5);
  }
}

TEST(CheckCopernicusTile, PassesTheBucketsTileAndNamesWhatElseItFinds) {
  const test::TempDir dir;
  const std::string good = test::WriteCopernicusTile(
      dir.Root(), -21, 64, [](double, double) { return 12.5; }, "COG");
  EXPECT_NO_THROW(CheckCopernicusTile(good, -21, 64));
  try {
    CheckCopernicusTile(good, -21, 65);
    ADD_FAILURE() << "passed at 65 N";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"" + good +
                  "\". The raster is not georeferenced as the Copernicus tile at 65 N 21 W");
  }
  const std::string integers = dir.Root() + "int16.tif";
  const char* const argv[] = {"-ot", "Int16", nullptr};
  GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(argv), nullptr);
  GDALDatasetH source = GDALOpen(good.c_str(), GA_ReadOnly);
  GDALClose(GDALTranslate(integers.c_str(), source, options, nullptr));
  GDALClose(source);
  GDALTranslateOptionsFree(options);
  try {
    CheckCopernicusTile(integers, -21, 64);
    ADD_FAILURE() << "passed 16-bit heights";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"" + integers + "\". The raster's heights are not Float32");
  }
}

TEST(CheckCopernicusTile, ChecksBytesInMemoryAndRefusesATileCutShort) {
  const test::TempDir dir;
  const std::string file = test::WriteCopernicusTile(
      dir.Root(), 7, 86, [](double lon, double lat) { return lon * lat; }, "COG");
  const std::vector<unsigned char> whole = test::ReadBytes(file);
  const auto check = [&](std::size_t size) {
    CheckCopernicusTile(std::as_bytes(std::span(whole.data(), size)), "shown.tif", 7, 86);
  };
  // The last four bytes repeat the end of the last block, as a COG's blocks end.
  EXPECT_NO_THROW(check(whole.size()));
  EXPECT_NO_THROW(check(whole.size() - 4));
  for (const std::size_t size : {whole.size() - 5, whole.size() / 2}) {
    try {
      check(size);
      ADD_FAILURE() << size << " bytes passed";
    } catch (const FileError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Cannot open file \"shown.tif\". The file ends inside the raster's heights");
    }
  }
  fs::resize_file(file, whole.size() - 5);
  EXPECT_THROW(CheckCopernicusTile(file, 7, 86), FileError);
  try {
    check(3);
    ADD_FAILURE() << "three bytes passed";
  } catch (const FileError& error) {
    EXPECT_EQ(error.FileName(), "shown.tif");
    EXPECT_EQ(std::string(error.what()).find("/vsi"), std::string::npos) << error.what();
  }
}

TEST(LoadCopernicusTile, ReadsOnlyLocalFiles) {
  for (const std::string& name :
       std::vector<std::string>{"/vsicurl/http://127.0.0.1:9/" + CopernicusTileName(7, 46),
                                "https://copernicus-dem-30m.s3.amazonaws.com/x.tif"}) {
    TSRTM tile;
    try {
      LoadCopernicusTile(tile, name, 7, 46);
      ADD_FAILURE() << name;
    } catch (const FileError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Cannot open file \"" + name + "\". Only local files are read");
    }
    EXPECT_EQ(tile.Kind(), TileKind::NotATile);
  }
}

TEST(FindTileSource, SearchesCopernicusAfterSrtm1AndBeforeSrtm3UnderTheBucketsName) {
  const test::DataRoot root(true);
  const DataFolders folders = root.Folders();
  EXPECT_EQ(folders.Cop30Dir, root.Root() + "COP30/");
  test::WriteBytes(root.Path() / "SRTM_3" / "N46E007.hgt", {1});
  test::WriteBytes(root.Path() / "COP30" / CopernicusTileName(7, 46), {1});
  // An .hgt name in the Copernicus folder is no Copernicus tile.
  test::WriteBytes(root.Path() / "COP30" / "N47E007.hgt", {1});

  const auto cop = FindTileSource(folders, 7, 46, {});
  ASSERT_TRUE(cop);
  EXPECT_EQ(cop->Folder, TileKind::Cop30);
  EXPECT_EQ(cop->Path, folders.Cop30Dir + CopernicusTileName(7, 46));
  const auto srtm3 = FindTileSource(folders, 7, 46, {.Cop30 = true});
  ASSERT_TRUE(srtm3);
  EXPECT_EQ(srtm3->Folder, TileKind::Srtm3);
  test::WriteBytes(root.Path() / "SRTM_1" / "N46E007.hgt", {1});
  EXPECT_EQ(FindTileSource(folders, 7, 46, {})->Folder, TileKind::Srtm1);
  EXPECT_EQ(FindTileSource(folders, 7, 46, {.Srtm1 = true})->Folder, TileKind::Cop30);
  EXPECT_FALSE(FindTileSource(folders, 7, 47, {}));
  // By an .hgt name the search stays in the SRTM folders.
  EXPECT_EQ(FindTileSource(folders, "N46E007.hgt", {.Srtm1 = true})->Folder, TileKind::Srtm3);
}

TEST(UnreadableFolders, NamesTheCopernicusFolderWhenTheSearchPassesOverIt) {
  const test::TempDir root;
  const DataFolders folders = MakeDataFolders(root.Root());
  test::WriteBytes(root.Path() / "COP30", {1});
  EXPECT_EQ(UnreadableFolders(folders, TileBlocks{}),
            std::vector<std::string>{"The folder \"" + folders.Cop30Dir +
                                     "\" could not be read: Not a directory"});
  EXPECT_TRUE(UnreadableFolders(folders, {.Cop30 = true}).empty());
}

TEST(LoadTile, ReadsEachFolderKindWithItsOwnReader) {
  const test::DataRoot root(true);
  const DataFolders folders = root.Folders();
  test::WriteCopernicusTile(folders.Cop30Dir, 7, 46, [](double, double) { return 1234.5; });
  root.Tile("SRTM_3/N46E007.hgt", 1201, [](int, int) { return 321; });

  TSRTM tile;
  LoadTile(tile, *FindTileSource(folders, 7, 46, {}), 7, 46);
  EXPECT_EQ(tile.Kind(), TileKind::Cop30);
  EXPECT_DOUBLE_EQ(static_cast<double>(tile.ElevationAt(7.5, 46.5)), 1234.5);
  EXPECT_EQ(tile.PropertiesReport().substr(0, tile.PropertiesReport().find("Northern")),
            "Properties of File : " + folders.Cop30Dir + CopernicusTileName(7, 46) +
                "\r\nCopernicus GLO-30 Data\r\n");
  LoadTile(tile, *FindTileSource(folders, 7, 46, {.Cop30 = true}), 7, 46);
  EXPECT_EQ(tile.Kind(), TileKind::Srtm3);
  EXPECT_FALSE(tile.HoldsHeights());
  EXPECT_DOUBLE_EQ(static_cast<double>(tile.ElevationAt(7.5, 46.5)), 321);
}

// The small tile at 86 N (360 columns) as the bucket stores it; its bytes.
std::vector<unsigned char> SmallTile(const std::string& folder) {
  return test::ReadBytes(test::WriteCopernicusTile(
      folder, 7, 86, [](double lon, double lat) { return std::round(lon * lat); }, "COG"));
}

TEST(CopernicusTile, ASizeItsFileMakesUpIsRefusedBeforeAnythingIsHeldOrWritten) {
  const test::TempDir dir;
  const std::vector<unsigned char> valid = SmallTile(dir.Root());
  const std::string path = dir.Root() + CopernicusTileName(7, 86);
  for (const test::TilePatch& patch : test::TilePatches()) {
    SCOPED_TRACE(patch.what);
    std::vector<unsigned char> bytes = valid;
    test::PatchTiffTag(bytes, patch.tag, patch.value);
    // The download check, which decides whether the tile goes into the folder.
    EXPECT_THROW(CheckCopernicusTile(std::as_bytes(std::span(bytes)), "shown.tif", 7, 86),
                 FileError);
    test::WriteBytes(path, bytes);
    TSRTM tile;
    tile.FillConstant(5, 7, 86);
    EXPECT_THROW(LoadCopernicusTile(tile, path, 7, 86), FileError);
    EXPECT_EQ(tile.SourceName(), "CONSTANT_FILL=5");
    // The map reads the overviews, which the misplaced tile is not one of.
    if (patch.tag != test::TileOffsetsTag) {
      EXPECT_THROW(ReadReducedCopernicusTile(path, 7, 86, 64), FileError);
    }
  }
  // Blocks wider than the tile itself are what the bucket's northern tiles have.
  test::WriteBytes(path, valid);
  EXPECT_NO_THROW(CheckCopernicusTile(path, 7, 86));
  try {
    std::vector<unsigned char> bytes = valid;
    test::PatchTiffTag(bytes, test::TileWidthTag, 65520);
    CheckCopernicusTile(std::as_bytes(std::span(bytes)), "shown.tif", 7, 86);
    ADD_FAILURE() << "passed";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"shown.tif\". The raster is stored in blocks of 65520 x 1024 "
              "pixels, too large to read");
  }
}

TEST(LoadCopernicusTile, ReadsAStripedTileWhoseLastStripIsShorter) {
  const test::TempDir dir;
  const std::string path = dir.Root() + CopernicusTileName(10, 86);
  // 3600 rows in strips of 7: the last one holds 2.
  test::WriteRaster(path,
                    {.Width = 360,
                     .Height = CopernicusRows,
                     .Geo = test::CopernicusGeo(10, 86),
                     .Srs = "EPSG:4326",
                     .Options = {"COMPRESS=DEFLATE", "PREDICTOR=3", "BLOCKYSIZE=7"}},
                    [](int x, int y) { return Plane(10 + x / 360.0, 87 - y / 3600.0); });
  TSRTM tile;
  LoadCopernicusTile(tile, path, 10, 86);
  int off = 0;
  for (int r = 1; r <= CopernicusRows; ++r) {
    for (int c = 0; c < 360; c += 7) {
      off += std::abs(tile.Height(r, c) - Plane(10 + c / 360.0, 86 + r / 3600.0)) > 1e-3;
    }
  }
  EXPECT_EQ(off, 0);
}

// A neighbour that is no tile: what the load must pass over.
struct BrokenNeighbour {
  const char* what;
  std::function<void(const std::string& path, int lon, int lat)> make;
};

// The tile at lon, lat as path, opening as it should, its full tile's blocks garbage.
void WriteUninflatableTile(const std::string& path, int lon, int lat) {
  const test::TempDir scratch;
  const std::string valid = test::WriteCopernicusTile(scratch.Root(), lon, lat, Plane, "COG");
  const gdal::Dataset dataset = gdal::OpenRaster(valid, {});
  const char* first =
      GDALGetMetadataItem(GDALGetRasterBand(dataset.get(), 1), "BLOCK_OFFSET_0_0", "TIFF");
  ASSERT_NE(first, nullptr);
  std::vector<unsigned char> bytes = test::ReadBytes(valid);
  std::fill(bytes.begin() + std::stoll(first), bytes.end(), 0x55);
  test::WriteBytes(path, bytes);
}

TEST(LoadCopernicusTile, PassesOverANeighbourThatIsAPipeOrBrokenAsOverAMissingOne) {
  const std::vector<BrokenNeighbour> cases = {
      {"no TIFF", [](const std::string& path, int, int) { test::WriteText(path, "no tiff"); }},
      {"blocks that do not inflate", WriteUninflatableTile},
      {"a pipe", [](const std::string&, int, int) {}}};
  const test::TempDir scratch;
  const std::vector<unsigned char> ownBytes =
      test::ReadBytes(test::WriteCopernicusTile(scratch.Root(), 7, 86, Plane, "COG"));
  for (const BrokenNeighbour& broken : cases) {
    for (const auto& [lon, lat] : {std::pair{8, 86}, std::pair{7, 85}}) {
      SCOPED_TRACE(std::string(broken.what) + " at " + CopernicusTileName(lon, lat));
      const test::TempDir dir;
      const std::string own = dir.Root() + CopernicusTileName(7, 86);
      test::WriteBytes(own, ownBytes);
      const std::string neighbour = dir.Root() + CopernicusTileName(lon, lat);
      std::optional<test::PipeAtPath> pipe;
      if (std::string(broken.what) == "a pipe") {
        pipe.emplace(neighbour);
      } else {
        broken.make(neighbour, lon, lat);
      }
      TSRTM tile;
      ASSERT_NO_THROW(LoadCopernicusTile(tile, own, 7, 86));
      int differ = 0;
      for (int r = 1; r <= CopernicusRows; ++r)
        differ += tile.Height(r, 360) != tile.Height(r, 359);
      for (int c = 0; c <= 360; ++c) differ += tile.Height(0, c) != tile.Height(1, c);
      EXPECT_EQ(differ, 0);
      if (pipe) {
        EXPECT_EQ(pipe->Released(), 0) << "the pipe was opened";
      }
    }
  }
}

TEST(LoadTile, EndsWithAStopWhenAStopMadeGdalsReadsFail) {
  const test::DataRoot root(true);
  const DataFolders folders = root.Folders();
  // Not as the bucket stores it: GDAL reads its blocks.
  test::WriteRaster(folders.Cop30Dir + CopernicusTileName(7, 86),
                    {.Width = 360,
                     .Height = CopernicusRows,
                     .Geo = test::CopernicusGeo(7, 86),
                     .Srs = "EPSG:4326",
                     .Options = {"TILED=YES", "COMPRESS=LZW"}},
                    [](int, int) { return 12.0; });
  TSRTM tile;
  const test::StopAsked stop;
  EXPECT_THROW(LoadTile(tile, *FindTileSource(folders, 7, 86, {}), 7, 86), Interrupted);
  EXPECT_EQ(tile.Kind(), TileKind::NotATile);
}

TEST(FindTileSource, PassesOverAPipeInATileFolderWithoutOpeningIt) {
  const test::DataRoot root(true);
  const DataFolders folders = root.Folders();
  const test::PipeAtPath pipe(folders.Cop30Dir + CopernicusTileName(7, 46));
  EXPECT_FALSE(FindTileSource(folders, 7, 46, {}));
  test::WriteTile(folders.Srtm3Dir + "N46E007.hgt", 1201, [](int, int) { return 1; });
  EXPECT_EQ(FindTileSource(folders, 7, 46, {})->Folder, TileKind::Srtm3);
  EXPECT_EQ(pipe.Released(), 0) << "the pipe was opened";
}

}  // namespace
}  // namespace orolith
