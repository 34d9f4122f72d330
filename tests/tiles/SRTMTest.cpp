#include "base/Errors.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"
#include "tiles/SRTM.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace orolith {
namespace {

constexpr int side30 = 121;  // SRTM-30: the smallest tile, 29,282 bytes

// Tile file bytes for sample(row, column), row 0 south.
std::vector<unsigned char> TileBytes(int side, const std::function<int(int, int)>& sample) {
  return EncodeTile(side, test::TileGrid(side, sample));
}

std::string WriteTile(const test::TempDir& dir, const std::string& name, int side,
                      const std::function<int(int, int)>& sample) {
  const std::string path = dir.Root() + name;
  test::WriteTile(path, side, sample);
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lines.push_back(text.substr(start, at - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

double D(long double v) {
  return static_cast<double>(v);
}

// Lon, lat of sample (row, column) of a tile at lon 10, lat 20.
long double LonOf(const TSRTM& t, long double column) {
  return t.WestLon() + column / (t.Columns() - 1);
}
long double LatOf(const TSRTM& t, long double row) {
  return t.SouthLat() + row / (t.Rows() - 1);
}

TEST(TSRTMLoad, DecodesBigEndianSamplesAndPutsTheFilesFirstRowInTheNorth) {
  const test::TempDir dir;
  std::vector<unsigned char> bytes =
      TileBytes(side30, [](int r, int c) { return r * 200 + c - 12000; });
  const unsigned char first[] = {0x01, 0x2C, 0x80, 0x00, 0xFF, 0xFF};
  std::copy(std::begin(first), std::end(first), bytes.begin());
  test::WriteBytes(dir.Root() + "t.hgt", bytes);

  TSRTM tile;
  tile.LoadFromFile(dir.Root() + "t.hgt", 10, 20);
  EXPECT_EQ(tile.Kind(), TileKind::Srtm30);
  EXPECT_EQ(tile.Rows(), side30);
  EXPECT_EQ(tile.Columns(), side30);
  EXPECT_EQ(tile.Sample(120, 0), 300);
  EXPECT_EQ(tile.Sample(120, 1), -32768);
  EXPECT_EQ(tile.Sample(120, 2), -1);
  int wrong = 0;
  for (int r = 0; r < side30; ++r) {
    for (int c = (r == 120 ? 3 : 0); c < side30; ++c)
      wrong += tile.Sample(r, c) != r * 200 + c - 12000;
  }
  EXPECT_EQ(wrong, 0);
}

TEST(EncodeTile, WritesTheNorthRowFirstBigEndianAndLoadsBackUnchanged) {
  // The extremes and the two values either side of the void threshold, in the north-west
  // corner (the file's first bytes) and the south-east corner (its last).
  const std::vector<int> edges{32767, -32768, -32000, -32001};
  const auto sample = [&](int r, int c) {
    if (r == side30 - 1 && c < 4) return edges[static_cast<std::size_t>(c)];
    if (r == 0 && c >= side30 - 4) return edges[static_cast<std::size_t>(c - (side30 - 4))];
    return 7 * r - 3 * c;
  };
  const std::vector<unsigned char> bytes = TileBytes(side30, sample);
  ASSERT_EQ(bytes.size(), 29282U);
  const std::vector<unsigned char> first{0x7F, 0xFF, 0x80, 0x00, 0x83, 0x00, 0x82, 0xFF};
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + 8), first);
  EXPECT_EQ(std::vector<unsigned char>(bytes.end() - 8, bytes.end()), first);

  const test::TempDir dir;
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "round.hgt", side30, sample), 0, 0);
  int wrong = 0;
  for (int r = 0; r < side30; ++r) {
    for (int c = 0; c < side30; ++c) wrong += tile.Sample(r, c) != sample(r, c);
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_THROW(EncodeTile(3, std::vector<std::int16_t>(8)), std::invalid_argument);
}

TEST(TSRTMLoad, SetsTheBoundsOfAnSrtm3TileFromTheGivenCorner) {
  const test::TempDir dir;
  std::vector<unsigned char> bytes = TileBytes(1201, [](int, int) { return 12; });
  bytes[0] = 0x0D;  // the north-west corner: 0x0D 0x48 = 3400
  bytes[1] = 0x48;
  std::filesystem::create_directories(dir.Path() / "SRTM_3");
  const std::string path = dir.Root() + "SRTM_3/N45W122.hgt";
  test::WriteBytes(path, bytes);

  TSRTM tile;
  tile.LoadFromFile(path, -122, 45);
  EXPECT_EQ(tile.Rows(), 1201);
  EXPECT_EQ(tile.Columns(), 1201);
  EXPECT_EQ(tile.SouthLat(), 45);
  EXPECT_EQ(tile.NorthLat(), 46);
  EXPECT_EQ(tile.WestLon(), -122);
  EXPECT_EQ(tile.EastLon(), -121);
  EXPECT_EQ(tile.Sample(1200, 0), 3400);
  EXPECT_EQ(tile.PropertiesReport(),
            "Properties of File : " + path +
                "\r\nSRTM-3 Data\r\nNorthern, Southern Limits : 46  45 degrees \r\n"
                "Eastern, Western Limits : -121 -122 degrees \r\n"
                "Rows, columns of data : 1201  1201 \r\nElevation limits of data : 12 to 3400 m ");
}

TEST(TSRTMLoad, RejectsAFileOfNoTileSizeButKeepsThePreviousGrid) {
  const test::TempDir dir;
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "good.hgt", side30, [](int r, int c) { return r + c; }), 10, 20);
  test::WriteBytes(dir.Root() + "odd.hgt", std::vector<unsigned char>(1000, 0x7F));
  tile.LoadFromFile(dir.Root() + "odd.hgt", 30, 40);

  EXPECT_EQ(tile.Kind(), TileKind::NotATile);
  EXPECT_EQ(tile.SourceName(), dir.Root() + "odd.hgt");
  EXPECT_EQ(tile.Rows(), side30);
  EXPECT_EQ(tile.WestLon(), 10);
  EXPECT_EQ(tile.SouthLat(), 20);
  EXPECT_EQ(tile.Sample(5, 7), 12);
  EXPECT_EQ(tile.ElevationAt(10.5L, 20.5L), 0);
  EXPECT_EQ(tile.LastError(), "No SRTM data loaded");
  const std::vector<std::string> report = Lines(tile.PropertiesReport());
  ASSERT_EQ(report.size(), 6U);
  EXPECT_EQ(report[1], "not an SRTM file");
  EXPECT_EQ(report[2], "Northern, Southern Limits : 21  20 degrees ");
  EXPECT_EQ(report[5], "Elevation limits of data : 0 to 240 m ");
}

TEST(TSRTMLoad, AFileThatCannotBeOpenedChangesOnlyTheSourceName) {
  const test::TempDir dir;
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "good.hgt", side30, [](int, int) { return 77; }), 10, 20);
  for (const std::string& bad : {dir.Root() + "missing.hgt", dir.Path().string()}) {
    try {
      tile.LoadFromFile(bad, 1, 2);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const FileError& error) {
      EXPECT_EQ(std::string(error.what()).rfind("Cannot open file \"" + bad + "\". ", 0), 0U)
          << error.what();
    }
    EXPECT_EQ(tile.SourceName(), bad);
    EXPECT_EQ(tile.Kind(), TileKind::Srtm30);
    EXPECT_EQ(tile.WestLon(), 10);
    EXPECT_EQ(tile.ElevationAt(10.5L, 20.5L), 77);
  }
}

TEST(TSRTMLoad, AShortReadRaisesAnErrorNamingTheFile) {
  // The row reader is what a file shrunk after its size test meets: the bytes run out.
  std::vector<unsigned char> bytes = TileBytes(side30, [](int, int) { return 1; });
  bytes.resize(bytes.size() - 1);
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
  ASSERT_NE(file, nullptr);
  std::vector<std::int16_t> grid(side30 * side30, 5);
  try {
    ReadTileRows(file, side30, grid.data(), "/data/N01E001.hgt");
    ADD_FAILURE() << "no error for a short file";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot read file \"/data/N01E001.hgt\". The file ended before its last row");
  }
  std::fclose(file);
}

TEST(TSRTMElevation, InterpolatesAPlaneExactlyAndHitsTheCornerSamples) {
  const test::TempDir dir;
  // A plane is its own bilinear interpolation, so every point has a known answer.
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "p.hgt", side30, [](int r, int c) { return 30 * r + 7 * c; }),
                    10, 20);
  std::mt19937 random(7);
  std::uniform_real_distribution<long double> unit(0, 1);
  for (int i = 0; i < 2000; ++i) {
    const long double u = unit(random);
    const long double v = unit(random);
    ASSERT_NEAR(D(tile.ElevationAt(10 + u, 20 + v)), D(30 * v * 120 + 7 * u * 120), 1e-9)
        << u << " " << v;
    ASSERT_EQ(tile.LastError(), "");
  }
  EXPECT_EQ(tile.ElevationAt(10, 20), tile.Sample(0, 0));
  EXPECT_EQ(tile.ElevationAt(11, 21), tile.Sample(120, 120));
  EXPECT_EQ(tile.ElevationAt(11, 20), tile.Sample(0, 120));
  EXPECT_EQ(tile.ElevationAt(10, 21), tile.Sample(120, 0));
}

TEST(TSRTMElevation, MidpointAndEdgesUseOnlyTheirOwnSamples) {
  const test::TempDir dir;
  // Everything 5000 except a 2 x 2 block at rows 10-11, columns 20-21, and the edges, where
  // the row or column before the edge holds 9999 that an edge point must not use.
  const auto sample = [](int r, int c) {
    if (r == 10 && c == 20) return 100;
    if (r == 10 && c == 21) return 200;
    if (r == 11 && c == 20) return 300;
    if (r == 11 && c == 21) return 400;
    if (c == 120) return 10 * r;
    if (r == 120) return 20 * c;
    if (c == 119 || r == 119) return 9999;
    return 5000;
  };
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "e.hgt", side30, sample), 10, 20);
  EXPECT_NEAR(D(tile.ElevationAt(LonOf(tile, 20.5L), LatOf(tile, 10.5L))), 250, 1e-9);
  EXPECT_NEAR(D(tile.ElevationAt(11, LatOf(tile, 30.25L))), 302.5, 1e-9);  // eastern edge
  EXPECT_NEAR(D(tile.ElevationAt(LonOf(tile, 40.75L), 21)), 815, 1e-9);    // northern edge
}

TEST(TSRTMElevation, ClampsResultsIntoZeroToTenThousand) {
  const test::TempDir dir;
  const auto sample = [](int r, int c) {
    if (r == 120) return c == 0 ? -25 : (c == 1 ? 0 : (c == 2 ? 10000 : 11000));
    return -300;
  };
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "c.hgt", side30, sample), 10, 20);
  EXPECT_EQ(tile.ElevationAt(LonOf(tile, 0.5L), 21), 0);      // -12.5
  EXPECT_EQ(tile.ElevationAt(LonOf(tile, 2.5L), 21), 10000);  // 10500
  EXPECT_EQ(tile.ElevationAt(10, 20), 0);
}

TEST(TSRTMElevation, FailsOutsideTheTileWithinItsToleranceOnly) {
  TSRTM tile;
  EXPECT_EQ(tile.ElevationAt(0, 0), 0);
  EXPECT_EQ(tile.LastError(), "No SRTM data loaded");

  tile.FillConstant(500, 10, 20);
  EXPECT_EQ(tile.ElevationAt(10 - 0.00000005L, 20.5L), 500);  // treated as the western edge
  EXPECT_EQ(tile.LastError(), "");
  EXPECT_EQ(tile.ElevationAt(11 + 0.00000005L, 21 + 0.00000005L), 500);
  struct Case {
    long double lon;
    long double lat;
    const char* error;
  };
  for (const Case& c : {Case{10 - 0.001L, 20.5L, "Longitude out of range error"},
                        Case{11.001L, 20.5L, "Longitude out of range error"},
                        Case{10.5L, 19.999L, "Latitude out of range error"},
                        Case{10.5L, 21.001L, "Latitude out of range error"},
                        Case{9, 30, "Longitude out of range error"},  // the first check decides
                        Case{NAN, 20.5L, "Longitude out of range error"},
                        Case{10.5L, NAN, "Latitude out of range error"}}) {
    EXPECT_EQ(tile.ElevationAt(c.lon, c.lat), 0) << c.lon << " " << c.lat;
    EXPECT_EQ(tile.LastError(), c.error) << c.lon << " " << c.lat;
  }
  EXPECT_EQ(tile.ElevationAt(10.5L, 20.5L), 500);
  EXPECT_EQ(tile.LastError(), "");
}

TEST(TSRTMHealVoids, AveragesTheUsableSamplesOfTheWindow) {
  const test::TempDir dir;
  // One void at (60, 60); 10, 11, 12 inside its 7 x 7 window, 1000 just outside it.
  const auto sample = [](int r, int c) {
    if (r == 60 && c == 60) return -32768;
    if (r == 57 && c == 57) return 10;
    if (r == 63 && c == 63) return 11;
    if (r == 60 && c == 62) return 12;
    if (r == 64 || c == 56) return 1000;
    return -5;
  };
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "v.hgt", side30, sample), 10, 20);
  std::int16_t min = 0;
  std::int16_t max = 0;
  tile.GetElevationRange(min, max);
  EXPECT_EQ(min, -32768);  // voids take part until healed
  EXPECT_EQ(tile.HealVoids(3), 1);
  EXPECT_EQ(tile.Sample(60, 60), 11);
  EXPECT_EQ(tile.Sample(60, 61), -5);  // negative non-voids stay
  EXPECT_EQ(tile.HealVoids(3), 0);
}

TEST(TSRTMHealVoids, WorksInPlaceSoRepairsSpreadNorthAndEast) {
  const test::TempDir dir;
  // -32000 is no void, -32001 is; a strip of voids wider than the window has only one usable
  // sample west of it, which the repaired voids hand on eastwards. A void with nothing usable
  // around it becomes the fill value 0.
  const auto sample = [](int r, int c) {
    if (r == 60 && c == 49) return 70;
    if (r == 60 && c >= 50 && c < 60) return c % 2 == 0 ? -32768 : -32001;
    if (r == 61 && c == 50) return -32768;
    if (r == 100 && c == 100) return -32768;
    if (r == 60 && c == 47) return -32000;  // in the same stretch of the row as the voids
    return -7;
  };
  TSRTM tile;
  tile.LoadFromFile(WriteTile(dir, "s.hgt", side30, sample), 10, 20);
  EXPECT_EQ(tile.HealVoids(1), 12);
  for (int c = 50; c < 60; ++c) EXPECT_EQ(tile.Sample(60, c), 70) << c;
  EXPECT_EQ(tile.Sample(61, 50), 70);
  EXPECT_EQ(tile.Sample(100, 100), 0);
  EXPECT_EQ(tile.Sample(60, 47), -32000);
}

TEST(TSRTMHealVoids, AHugeRadiusAveragesTheWholeGridWithoutOverflow) {
  TSRTM tile;
  tile.FillConstant(32000, 0, 0);  // 13 million samples of 32000 overflow a 32-bit sum
  tile.Sample(1800, 1800) = -32768;
  EXPECT_EQ(tile.HealVoids(INT32_MAX), 1);
  EXPECT_EQ(tile.Sample(1800, 1800), 32000);
}

TEST(TSRTMFillConstant, MakesAnSrtm1SizedConstantTile) {
  TSRTM tile;
  std::int16_t min = 0;
  std::int16_t max = 0;
  tile.GetElevationRange(min, max);
  EXPECT_EQ(min, 32000);
  EXPECT_EQ(max, -32000);

  const test::TempDir dir;
  tile.LoadFromFile(WriteTile(dir, "x.hgt", side30, [](int r, int) { return r; }), 1, 1);
  for (std::int16_t value : {std::int16_t{0}, std::int16_t{-4}}) {
    tile.FillConstant(value, 7, -3);
    EXPECT_EQ(tile.SourceName(), "CONSTANT_FILL=" + std::to_string(value));
    EXPECT_EQ(tile.Kind(), TileKind::Srtm1);
    EXPECT_EQ(tile.Rows(), 3601);
    EXPECT_EQ(tile.Columns(), 3601);
    EXPECT_EQ(tile.SouthLat(), -3);
    EXPECT_EQ(tile.NorthLat(), -2);
    EXPECT_EQ(tile.WestLon(), 7);
    EXPECT_EQ(tile.EastLon(), 8);
    tile.GetElevationRange(min, max);
    EXPECT_EQ(min, value);
    EXPECT_EQ(max, value);
    EXPECT_EQ(Lines(tile.PropertiesReport())[1], "SRTM-1 Data");
  }
}

TEST(TSRTMRealTiles, MountWashingtonIsTheHighestSampleOfN44W072) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  TSRTM tile;
  tile.LoadFromFile(test::SharedData("SRTM_3/N44W072.hgt"), -72, 44);
  std::int16_t min = 0;
  std::int16_t max = 0;
  tile.GetElevationRange(min, max);
  EXPECT_EQ(min, 115);
  EXPECT_EQ(max, 1908);
  int top = 0;
  for (int i = 1; i < 1201 * 1201; ++i) {
    if (tile.Samples()[i] > tile.Samples()[top]) top = i;
  }
  const long double lat = LatOf(tile, top / 1201);
  const long double lon = LonOf(tile, top % 1201);
  EXPECT_NEAR(D(lat), 44.2708, 0.002);
  EXPECT_NEAR(D(lon), -71.3033, 0.002);
  EXPECT_NEAR(D(tile.ElevationAt(lon, lat)), 1908, 1e-6);
  EXPECT_EQ(tile.HealVoids(3), 0);
}

TEST(TSRTMRealTiles, NeighboursShareTheirEdgeAndHealTheirVoids) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E009.hgt");
  TSRTM west;
  TSRTM east;
  west.LoadFromFile(test::SharedData("SRTM_3/N50E008.hgt"), 8, 50);
  east.LoadFromFile(test::SharedData("SRTM_3/N50E009.hgt"), 9, 50);
  int differing = 0;
  for (int r = 0; r < 1201; ++r) differing += west.Sample(r, 1200) != east.Sample(r, 0);
  EXPECT_EQ(differing, 0);
  EXPECT_EQ(west.HealVoids(3), 50);
  EXPECT_EQ(east.HealVoids(3), 12);
  for (long double lat = 50; lat <= 51; lat += 0.01234L) {
    ASSERT_NEAR(D(west.ElevationAt(9, lat)), D(east.ElevationAt(9, lat)), 1e-9) << lat;
  }
  std::int16_t min = 0;
  std::int16_t max = 0;
  east.GetElevationRange(min, max);
  EXPECT_EQ(max, 950);
  EXPECT_GE(min, 98);
}

TEST(TSRTMRealTiles, LoadsAnSrtm1Tile) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_1/S46W066.hgt");
  TSRTM tile;
  tile.LoadFromFile(test::SharedData("SRTM_1/S46W066.hgt"), -66, -46);
  EXPECT_EQ(tile.Kind(), TileKind::Srtm1);
  std::int16_t min = 0;
  std::int16_t max = 0;
  tile.GetElevationRange(min, max);
  EXPECT_EQ(min, -3);
  EXPECT_EQ(max, 146);
}

}  // namespace
}  // namespace orolith
