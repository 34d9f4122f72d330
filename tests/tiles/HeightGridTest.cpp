#include "support/TempFiles.h"
#include "support/Tiles.h"
#include "tiles/SRTM.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

namespace orolith {
namespace {

// A grid of rows × columns heights height(row, column), row 0 south, as a tile adopts it.
std::unique_ptr<float[]> Heights(int rows, int columns,
                                 const std::function<float(int, int)>& height) {
  auto grid =
      std::make_unique<float[]>(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c)
      grid[static_cast<std::size_t>(r * columns + c)] = height(r, c);
  }
  return grid;
}

TEST(TSRTMHeights, InterpolateWithTheirOwnSpacingInEachDirection) {
  TSRTM tile;
  // 5 rows and 3 columns: a quarter degree north to south, half a degree east to west.
  tile.AdoptHeights(
      Heights(5, 3, [](int r, int c) { return 100.25F + static_cast<float>(10 * r + 1000 * c); }),
      TileKind::Cop30, 5, 3, 7, 46, "grid");
  EXPECT_EQ(tile.Kind(), TileKind::Cop30);
  EXPECT_TRUE(tile.HoldsHeights());
  EXPECT_EQ(tile.Samples(), nullptr);
  EXPECT_EQ(tile.Rows(), 5);
  EXPECT_EQ(tile.Columns(), 3);
  EXPECT_EQ(tile.NorthLat(), 47);
  EXPECT_EQ(tile.EastLon(), 8);
  EXPECT_DOUBLE_EQ(static_cast<double>(tile.ElevationAt(7, 46)), 100.25);
  EXPECT_DOUBLE_EQ(static_cast<double>(tile.ElevationAt(8, 47)), 2140.25);
  // 0.3 of a degree east (0.6 of a column), 0.6 north (2.4 rows).
  EXPECT_NEAR(static_cast<double>(tile.ElevationAt(7.3L, 46.6L)), 100.25 + 24 + 600, 1e-9);
  EXPECT_NEAR(static_cast<double>(tile.ElevationAt(8, 46.6L)), 100.25 + 24 + 2000, 1e-9);
  EXPECT_NEAR(static_cast<double>(tile.ElevationAt(7.3L, 47)), 100.25 + 40 + 600, 1e-9);
  EXPECT_EQ(tile.ElevationAt(8.1L, 46.5L), 0);
  EXPECT_EQ(tile.LastError(), "Longitude out of range error");
}

TEST(TSRTMHeights, GiveNaNWhereTheyHaveNoDataAndClampTheRest) {
  TSRTM tile;
  tile.AdoptHeights(Heights(3, 3, [](int r, int c) { return r == 2 && c == 2 ? NAN : -5.0F; }),
                    TileKind::Dem, 3, 3, 0, 0, "grid");
  EXPECT_TRUE(std::isnan(static_cast<double>(tile.ElevationAt(0.75L, 0.75L))));
  EXPECT_EQ(tile.LastError(), "");
  EXPECT_EQ(tile.ElevationAt(0.25L, 0.25L), 0);
}

TEST(TSRTMHeights, HealVoidsByTheSrtmRuleKeepingFractionsAndLeavingNoDataAlone) {
  TSRTM tile;
  // One void among 10.5, 11.25 and 12 m and negative heights, one without any neighbour of 0 m
  // or more, and a sample with no data that is neither void nor neighbour.
  tile.AdoptHeights(Heights(20, 20,
                            [](int r, int c) {
                              if (r == 5 && c == 5) return TSRTM::VoidHeight;
                              if (r == 5 && c == 6) return 10.5F;
                              if (r == 6 && c == 5) return 11.25F;
                              if (r == 4 && c == 4) return 12.0F;
                              if (r == 4 && c == 6) return float{NAN};
                              if (r == 15 && c == 15) return -32000.5F;
                              return r < 10 ? -5.0F : -1.0F;
                            }),
                    TileKind::Cop30, 20, 20, 0, 0, "grid");
  std::int16_t low = 0;
  std::int16_t high = 0;
  tile.GetElevationRange(low, high);
  EXPECT_EQ(low, -32768);
  EXPECT_EQ(high, 12);
  EXPECT_EQ(tile.HealVoids(3), 2);
  EXPECT_FLOAT_EQ(tile.Height(5, 5), (10.5F + 11.25F + 12.0F) / 3);
  EXPECT_EQ(tile.Height(15, 15), 0.0F);
  EXPECT_TRUE(std::isnan(tile.Height(4, 6)));
  tile.GetElevationRange(low, high);
  EXPECT_EQ(low, -5);
}

TEST(TSRTMHeights, ReportTheirRangeInWholeMetresRoundedHalvesToEven) {
  const std::vector<std::tuple<float, float, std::int16_t, std::int16_t>> cases = {
      {12.5F, 3400.5F, 12, 3400},
      {13.5F, 3401.5F, 14, 3402},
      {-0.4F, 0.6F, 0, 1},
      {-412.7F, 8848.86F, -413, 8849}};
  for (const auto& [lo, hi, min, max] : cases) {
    TSRTM tile;
    tile.AdoptHeights(
        Heights(2, 2, [south = lo, north = hi](int r, int) { return r == 0 ? south : north; }),
        TileKind::Cop30, 2, 2, 0, 0, "grid");
    std::int16_t low = 0;
    std::int16_t high = 0;
    tile.GetElevationRange(low, high);
    EXPECT_EQ(low, min) << lo;
    EXPECT_EQ(high, max) << hi;
  }
  TSRTM nothing;
  nothing.AdoptHeights(Heights(2, 2, [](int, int) { return float{NAN}; }), TileKind::Dem, 2, 2, 0,
                       0, "grid");
  std::int16_t low = 0;
  std::int16_t high = 0;
  nothing.GetElevationRange(low, high);
  EXPECT_EQ(low, 32000);
  EXPECT_EQ(high, -32000);
}

TEST(TSRTMHeights, ReportTheKindOfTheirSource) {
  for (const auto& [kind, label] : {std::pair{TileKind::Cop30, "Copernicus GLO-30 Data"},
                                    std::pair{TileKind::Dem, "DEM raster Data"}}) {
    TSRTM tile;
    tile.AdoptHeights(Heights(3, 2, [](int r, int) { return static_cast<float>(10 * r); }), kind, 3,
                      2, -122, 45, "/data/x.tif");
    EXPECT_EQ(tile.PropertiesReport(), std::string("Properties of File : /data/x.tif\r\n") + label +
                                           "\r\nNorthern, Southern Limits : 46  45 degrees \r\n"
                                           "Eastern, Western Limits : -121 -122 degrees \r\n"
                                           "Rows, columns of data : 3  2 \r\n"
                                           "Elevation limits of data : 0 to 20 m ");
  }
}

TEST(TSRTMHeights, GiveWayToSrtmSamplesAndAConstantFillOfTheSameSize) {
  const test::TempDir dir;
  TSRTM tile;
  // A Copernicus tile south of 50 degrees has the grid size of an SRTM-1 tile.
  tile.AdoptHeights(Heights(3601, 3601, [](int, int) { return 5.5F; }), TileKind::Cop30, 3601, 3601,
                    7, 46, "cop");
  tile.FillConstant(3, 7, 46);
  EXPECT_FALSE(tile.HoldsHeights());
  EXPECT_EQ(tile.Sample(3600, 3600), 3);
  EXPECT_EQ(tile.ElevationAt(7.5L, 46.5L), 3);

  tile.AdoptHeights(Heights(3, 3, [](int, int) { return 5.5F; }), TileKind::Cop30, 3, 3, 7, 46,
                    "cop");
  test::WriteTile(dir.Path() / "N46E007.hgt", 121, [](int, int) { return 77; });
  tile.LoadFromFile(dir.Root() + "N46E007.hgt", 7, 46);
  EXPECT_FALSE(tile.HoldsHeights());
  EXPECT_EQ(tile.Kind(), TileKind::Srtm30);
  EXPECT_EQ(tile.ElevationAt(7.5L, 46.5L), 77);

  // A file of no tile size leaves the heights in place, but nothing to look up.
  tile.AdoptHeights(Heights(3, 3, [](int, int) { return 5.5F; }), TileKind::Cop30, 3, 3, 7, 46,
                    "cop");
  test::WriteBytes(dir.Path() / "bad.hgt", {1, 2, 3});
  tile.LoadFromFile(dir.Root() + "bad.hgt", 7, 46);
  EXPECT_EQ(tile.Kind(), TileKind::NotATile);
  EXPECT_TRUE(tile.HoldsHeights());
  EXPECT_EQ(tile.ElevationAt(7.5L, 46.5L), 0);
  EXPECT_EQ(tile.LastError(), "No SRTM data loaded");
  EXPECT_NE(tile.PropertiesReport().find("\r\nnot an SRTM file\r\n"), std::string::npos);
}

}  // namespace
}  // namespace orolith
