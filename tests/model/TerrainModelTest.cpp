#include "model/TerrainModel.h"
#include "model/mesh/STLVectors.h"
#include "support/ModelRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::ReadStl;
using test::RecordingHost;
using test::StlFile;
using Face = test::StlFace;

bool Same(const Vec3& a, const Vec3& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// One grid cell as read back from the face list.
struct Cell {
  Vec3 nw, sw, se, ne, c;
  bool flat;
};

// Splits the faces into cells: a flat cell's first face ends at NE (same y as its NW), any
// other cell's first face ends at its centre, strictly inside the cell (cells of some height).
std::vector<Cell> Cells(const std::vector<Face>& faces) {
  std::vector<Cell> cells;
  for (std::size_t i = 0; i < faces.size();) {
    const Face& f = faces[i];
    const bool flat = f.c.y == f.a.y;
    if (flat) {
      if (i + 2 > faces.size()) throw std::runtime_error("truncated flat cell");
      cells.push_back({f.a, f.b, faces[i + 1].b, f.c, f.c, true});
      i += 2;
    } else {
      if (i + 4 > faces.size()) throw std::runtime_error("truncated cell");
      cells.push_back({f.a, f.b, faces[i + 1].b, faces[i + 2].b, f.c, false});
      i += 4;
    }
  }
  return cells;
}

// Cells the grid puts between two edges: the one is added even when the step divides evenly.
std::size_t GridCount(long double from, long double to, long double step) {
  return static_cast<std::size_t>(std::trunc((to - from) / step)) + 1;
}

// The last column of cells of the west tile and the first of the east tile share their edge
// corners exactly. Cells run column by column, rows south to north within a column.
void ExpectTilesMeet(const std::vector<Cell>& cells, std::size_t westColumns, std::size_t rows) {
  for (std::size_t r = 0; r < rows; ++r) {
    const Cell& west = cells[(westColumns - 1) * rows + r];
    const Cell& east = cells[westColumns * rows + r];
    EXPECT_TRUE(Same(west.se, east.sw)) << "row " << r;
    EXPECT_TRUE(Same(west.ne, east.nw)) << "row " << r;
  }
}

class TerrainModelTest : public test::ModelRunTest {
 protected:
  // Lines the run logs from a given one on.
  std::vector<std::string> LinesFrom(std::size_t first) const {
    return {host.lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, host.lines.size())),
            host.lines.end()};
  }

  TSRTM& tile = workspace.Tile;
};

constexpr long double kDegToRad = 3.14159265358979323846264338327950288L / 180;

// ---------------------------------------------------------------------------------------
// Geometry

// An SRTM-30 tile whose samples rise linearly: bilinear interpolation reproduces the plane
// exactly, so every vertex's height is known in closed form.
TEST_F(TerrainModelTest, VerticesLieOnTheInterpolatedSurfaceAndCellsHaveFourFaces) {
  const auto plane = [](int row, int column) {
    return static_cast<std::int16_t>(100 + 3 * column + 2 * row);
  };
  root.Tile("SRTM_30/N46E007.hgt", 121, plane);
  Region(7.25F, 7.75F, 46.25F, 46.75F);
  panel.XExtent = 100;
  panel.ZExtent = 10;
  panel.ZBasePercent = 20;
  panel.XYPixelSize = 7000;  // 0.07 degree: 0.5 / 0.07 = 7.1, so 8 columns and 8 rows

  ASSERT_EQ(Run(), RunOutcome::Completed);
  const StlFile stl = ReadStl(Out());
  ASSERT_EQ(stl.count, 256U);
  ASSERT_EQ(stl.size, 84U + 50U * 256U);
  EXPECT_EQ(stl.header.substr(0, 13 + panel.StlFileName.size()),
            "Binary STL : " + panel.StlFileName);

  const long double yExtent = 0.5L * 100 / 0.5L / std::cos(46.5L * kDegToRad);
  const auto elevation = [](long double lon, long double lat) {
    return 100 + 3 * (lon - 7) * 120 + 2 * (lat - 46) * 120;
  };
  const auto modelZ = [](long double e) { return e / 1000 * 8 + 2; };  // pedestal 2, band 0..1000
  const auto lonOf = [](float x) { return 7.25L + x / 100.0L * 0.5L; };
  const auto latOf = [&](float y) { return 46.25L + y / yExtent * 0.5L; };
  const auto expectOnSurface = [&](const Vec3& v) {
    EXPECT_NEAR(v.z, static_cast<double>(modelZ(elevation(lonOf(v.x), latOf(v.y)))), 2e-4)
        << v.x << " " << v.y;
  };

  const std::vector<Cell> cells = Cells(stl.faces);
  ASSERT_EQ(cells.size(), 64U);
  const double cellX = 100.0 / 8;
  const double cellY = static_cast<double>(yExtent) / 8;
  for (int q = 0; q < 8; ++q) {
    for (int r = 0; r < 8; ++r) {
      SCOPED_TRACE(testing::Message() << "cell " << q << "," << r);
      const Cell& cell = cells[static_cast<std::size_t>(q * 8 + r)];
      EXPECT_FALSE(cell.flat);
      EXPECT_NEAR(cell.sw.x, q * cellX, 1e-4);
      EXPECT_NEAR(cell.sw.y, r * cellY, 1e-4);
      EXPECT_NEAR(cell.nw.x, q * cellX, 1e-4);
      EXPECT_NEAR(cell.nw.y, (r + 1) * cellY, 1e-4);
      EXPECT_NEAR(cell.se.x, (q + 1) * cellX, 1e-4);
      EXPECT_NEAR(cell.se.y, r * cellY, 1e-4);
      EXPECT_NEAR(cell.ne.x, (q + 1) * cellX, 1e-4);
      EXPECT_NEAR(cell.ne.y, (r + 1) * cellY, 1e-4);
      for (const Vec3& v : {cell.nw, cell.sw, cell.se, cell.ne, cell.c}) expectOnSurface(v);

      // The centre sits on the fraction grid k * 0.00075 + 0.5, k in -500..499.
      for (const double f : {(cell.c.x - cell.sw.x) / cellX, (cell.c.y - cell.sw.y) / cellY}) {
        EXPECT_GE(f, 0.125 - 1e-5);
        EXPECT_LE(f, 0.87425 + 1e-5);
        const double k = (f - 0.5) / 0.00075;
        EXPECT_NEAR(k, std::round(k), 0.05);
      }
    }
  }
  for (const Face& f : stl.faces) {
    EXPECT_GT(f.normal.z, 0);
    EXPECT_NEAR(
        std::sqrt(f.normal.x * f.normal.x + f.normal.y * f.normal.y + f.normal.z * f.normal.z), 1.0,
        1e-6);
  }
}

TEST_F(TerrainModelTest, FlatCellsGiveTwoFacesAndAnyRaisedVertexGivesFour) {
  // A whole tile at 0.5 degree: trunc(1 / 0.5) + 1 = 3 columns and rows, corners near sample
  // rows and columns 0, 40, 80, 120. Bands of 0 m around those and 1000 m everywhere else:
  // every corner is level, no centre is.
  const auto nearCorner = [](int i) { return i % 40 <= 2 || i % 40 >= 38; };
  root.Tile("SRTM_30/N46E007.hgt", 121, [&](int r, int c) {
    return static_cast<std::int16_t>(nearCorner(r) || nearCorner(c) ? 0 : 1000);
  });
  Region(7.0F, 8.0F, 46.0F, 47.0F);
  panel.XYPixelSize = 50000;

  ASSERT_EQ(Run(), RunOutcome::Completed);
  std::vector<Cell> cells = Cells(ReadStl(Out()).faces);
  ASSERT_EQ(cells.size(), 9U);
  for (const Cell& cell : cells) {
    EXPECT_FALSE(cell.flat);
    EXPECT_EQ(cell.nw.z, cell.sw.z);
    EXPECT_EQ(cell.nw.z, cell.se.z);
    EXPECT_EQ(cell.nw.z, cell.ne.z);
    EXPECT_GT(cell.c.z, cell.nw.z);
  }

  // A band entirely above the terrain puts every vertex on the base plane: two faces a cell.
  panel.Z1 = 2000;
  panel.Z2 = 3000;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  const StlFile low = ReadStl(Out());
  EXPECT_EQ(low.count, 18U);
  cells = Cells(low.faces);
  ASSERT_EQ(cells.size(), 9U);
  for (const Cell& cell : cells) {
    EXPECT_TRUE(cell.flat);
    EXPECT_EQ(cell.nw.z, 0.0F);
  }
  for (const Face& f : low.faces) EXPECT_EQ(f.normal.z, 1.0F);
}

TEST_F(TerrainModelTest, PedestalAndBandMapElevationsOntoTheZExtent) {
  // Columns west to east: 0 m, then 500 m, then 3000 m beyond the band.
  root.Tile("SRTM_30/N46E007.hgt", 121, [](int, int c) {
    return static_cast<std::int16_t>(c < 40 ? 0 : (c < 80 ? 500 : 3000));
  });
  Region(7.0F, 7.9999F, 46.25F, 46.75F);
  panel.Z1 = 200;
  panel.Z2 = 1000;
  panel.ZExtent = 4;
  panel.ZBasePercent = 25;
  panel.XYPixelSize = 1000;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  bool sawBase = false, sawMiddle = false, sawTop = false;
  for (const Cell& cell : Cells(ReadStl(Out()).faces)) {
    if (cell.sw.x < 5.0F * 30 / 120) {  // west of column 30: 0 m, below the band
      EXPECT_EQ(cell.sw.z, 0.0F);
      sawBase = true;
    } else if (cell.sw.x > 5.0F * 45 / 120 && cell.se.x < 5.0F * 75 / 120) {
      EXPECT_NEAR(cell.sw.z, (500.0 - 200) / 800 * 3 + 1, 1e-6);  // pedestal 1 of 4
      sawMiddle = true;
    } else if (cell.sw.x > 5.0F * 85 / 120) {
      EXPECT_EQ(cell.sw.z, 4.0F);  // above the band: the top of the extent
      sawTop = true;
    }
  }
  EXPECT_TRUE(sawBase && sawMiddle && sawTop);

  // With a pedestal of 100 %, everything at or above the band's foot sits at the top.
  panel.ZBasePercent = 100;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  for (const Cell& cell : Cells(ReadStl(Out()).faces)) {
    if (cell.sw.x > 5.0F * 45 / 120) {
      EXPECT_EQ(cell.sw.z, 4.0F);
    }
  }
}

TEST_F(TerrainModelTest, NeighbouringTilesShareTheirEdgeVertices) {
  // Both tiles sample one continuous surface, so their common column holds equal samples.
  const auto surface = [](int lonIndex, int row, int column) {
    const double lon = lonIndex + column / 120.0;
    const double lat = 46 + row / 120.0;
    return static_cast<std::int16_t>(1000 + 400 * std::sin(lon * 7) * std::cos(lat * 5));
  };
  root.Tile("SRTM_30/N46E007.hgt", 121, [&](int r, int c) { return surface(7, r, c); });
  root.Tile("SRTM_30/N46E008.hgt", 121, [&](int r, int c) { return surface(8, r, c); });
  Region(7.6F, 8.3F, 46.2F, 46.71F);
  panel.XYPixelSize = 2000;  // 0.02 degree
  ASSERT_EQ(Run(), RunOutcome::Completed);

  // West tile: clip 7.6..8 gives trunc(0.4 / 0.02) + 1 columns; east tile 8..8.3 likewise.
  const auto count = [](long double from, long double to) { return GridCount(from, to, 0.02L); };
  const std::size_t westColumns = count(7.6F, 8.0L);
  const std::size_t eastColumns = count(8.0L, 8.3F);
  const std::size_t rows = count(46.2F, 46.71F);
  const std::vector<Cell> cells = Cells(ReadStl(Out()).faces);
  ASSERT_EQ(cells.size(), (westColumns + eastColumns) * rows);
  ExpectTilesMeet(cells, westColumns, rows);
  // Within a tile, neighbouring cells meet as well.
  for (std::size_t i = 0; i + 1 < cells.size(); ++i) {
    if ((i + 1) % rows != 0) {
      EXPECT_TRUE(Same(cells[i].nw, cells[i + 1].sw)) << i;
    }
  }
}

TEST_F(TerrainModelTest, YExtentFollowsTheMeanLatitude) {
  panel.MissedDataZero = true;
  Region(7.25F, 7.75F, 59.75F, 60.25F);
  panel.XExtent = 5;
  panel.XYPixelSize = 25000;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  float maxX = 0, maxY = 0;
  for (const Face& f : ReadStl(Out()).faces) {
    for (const Vec3& v : {f.a, f.b, f.c}) {
      maxX = std::max(maxX, v.x);
      maxY = std::max(maxY, v.y);
    }
  }
  EXPECT_FLOAT_EQ(maxX, 5.0F);
  EXPECT_FLOAT_EQ(maxY, 10.0F);  // 5 / cos(60 degrees)
}

TEST_F(TerrainModelTest, DefaultPanelMakesTwoByTwoCellsOnOneTile) {
  panel.MissedDataZero = true;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(host.pumps, 1);
  const std::vector<Cell> cells = Cells(ReadStl(Out()).faces);
  ASSERT_EQ(cells.size(), 4U);
  const float xs[] = {0.0F, 0.0F, 2.5F, 2.5F};  // column by column
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(cells[i].flat);
    EXPECT_FLOAT_EQ(cells[i].sw.x, xs[i]);
    EXPECT_FLOAT_EQ(cells[i].se.x, xs[i] + 2.5F);
    EXPECT_EQ(cells[i].sw.z, 0.0F);
  }
  EXPECT_EQ(tile.SourceName(), "CONSTANT_FILL=0");
}

TEST_F(TerrainModelTest, PixelSizesBeyondSixteenBitsStillCutTheRegion) {
  panel.MissedDataZero = true;
  Region(7.2F, 7.8F, 46.2F, 46.8F);
  panel.XYPixelSize = 40000;  // 0.4 degree: trunc(0.6 / 0.4) + 1 = 2 columns and rows
  ASSERT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(Cells(ReadStl(Out()).faces).size(), 4U);

  panel.XYPixelSize = 100000;  // a cell wider than the region: one cell
  ASSERT_EQ(Run(), RunOutcome::Completed);
  const std::vector<Cell> one = Cells(ReadStl(Out()).faces);
  ASSERT_EQ(one.size(), 1U);
  EXPECT_FLOAT_EQ(one[0].se.x, 5.0F);
  EXPECT_TRUE(Logged("   XY Resolution of STL Output : 100000 meters"));
}

TEST_F(TerrainModelTest, WholeDegreeBoundsBringInTheTileBelowWithZeroWidthCells) {
  panel.MissedDataZero = true;
  Region(-5.0F, -4.55F, 10.2F, 10.45F);
  panel.XYPixelSize = 10000;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  std::vector<std::string> loaded;
  for (const std::string& line : host.lines) {
    if (line.rfind("Loaded new file : ", 0) == 0) loaded.push_back(line.substr(18));
  }
  EXPECT_EQ(loaded, (std::vector<std::string>{"N10W006.hgt", "N10W005.hgt"}));
  // Tile -6 contributes one column of zero-width cells (x = 0, no area, zero normals), then
  // tile -5 its 5 columns (0.45 / 0.1); both have 3 rows (0.25 / 0.1).
  const StlFile stl = ReadStl(Out());
  const std::vector<Cell> cells = Cells(stl.faces);
  ASSERT_EQ(cells.size(), 3U + 5U * 3U);
  for (std::size_t i = 0; i < 6; ++i) {
    const Face& f = stl.faces[i];
    EXPECT_EQ(f.a.x, 0.0F);
    EXPECT_EQ(f.c.x, 0.0F);
    EXPECT_EQ(f.normal.x, 0.0F);
    EXPECT_EQ(f.normal.y, 0.0F);
    EXPECT_EQ(f.normal.z, 0.0F);
  }
  EXPECT_GT(stl.faces[6].normal.z, 0.0F);
}

TEST_F(TerrainModelTest, RegionAcrossTheOriginVisitsMinusOneThenZero) {
  panel.MissedDataZero = true;
  Region(-0.5F, 0.5F, -0.5F, 0.5F);
  panel.XYPixelSize = 25000;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  std::vector<std::string> loaded;
  for (const std::string& line : host.lines) {
    if (line.rfind("Loaded new file : ", 0) == 0) loaded.push_back(line.substr(18));
  }
  EXPECT_EQ(loaded,
            (std::vector<std::string>{"S01W001.hgt", "N00W001.hgt", "S01E000.hgt", "N00E000.hgt"}));
  EXPECT_EQ(host.pumps, 4);
}

// ---------------------------------------------------------------------------------------
// Tile sources

TEST_F(TerrainModelTest, TileIsTakenFromTheFirstUnblockedFolder) {
  // Same name in all three folders, told apart by their heights; the kind comes from the size.
  root.Tile("SRTM_1/N46E007.hgt", 121, [](int, int) { return std::int16_t{11}; });
  root.Tile("SRTM_3/N46E007.hgt", 121, [](int, int) { return std::int16_t{33}; });
  root.Tile("SRTM_30/N46E007.hgt", 121, [](int, int) { return std::int16_t{300}; });
  Region(7.4F, 7.6F, 46.4F, 46.6F);
  panel.XYPixelSize = 5000;

  struct Case {
    bool block1, block3, block30, missedZero;
    std::string source;  // expected properties line, relative to the data root
    std::string range;   // expected post-healing line
  };
  const std::vector<Case> cases{
      {false, false, false, false, "SRTM_1/N46E007.hgt", "11 11"},
      {true, false, false, false, "SRTM_3/N46E007.hgt", "33 33"},
      {true, true, false, false, "SRTM_30/N46E007.hgt", "300 300"},
      {true, true, true, true, "", "0 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    panel.BlockSrtm1 = c.block1;
    panel.BlockSrtm3 = c.block3;
    panel.BlockSrtm30 = c.block30;
    panel.MissedDataZero = c.missedZero;
    ASSERT_EQ(Run(), RunOutcome::Completed);
    const std::vector<std::string> tail = LinesFrom(15);
    ASSERT_GE(tail.size(), 2U);
    EXPECT_EQ(tail[0], "Loaded new file : N46E007.hgt");
    EXPECT_EQ(tail[1], "Properties of File : " + (c.source.empty() ? std::string("CONSTANT_FILL=0")
                                                                   : root.Root() + c.source));
    EXPECT_NE(std::find(tail.begin(), tail.end(),
                        "Post-Healing Elevation Limits of this file : " + c.range + " m"),
              tail.end());
  }
}

TEST_F(TerrainModelTest, FileOfNoTileSizeIsReportedButYieldsNoFaces) {
  test::WriteBytes(root.Path() / "SRTM_3" / "N46E007.hgt", std::vector<unsigned char>(1000, 0));
  root.Tile("SRTM_30/N46E008.hgt", 121, [](int, int) { return 300; });
  Region(7.9F, 8.1F, 46.4F, 46.6F);
  panel.XYPixelSize = 5000;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  const std::vector<std::string> tail = LinesFrom(15);
  ASSERT_GE(tail.size(), 3U);
  EXPECT_EQ(tail[0], "Loaded new file : N46E007.hgt");
  EXPECT_EQ(tail[2], "not an SRTM file");
  // Only the tile beside it has cells, flat: 0.1 / 0.05 + 1 = 3 columns, 0.19999 / 0.05 + 1 = 4
  // rows.
  EXPECT_EQ(ReadStl(Out()).count, 2U * 3U * 4U);
}

// ---------------------------------------------------------------------------------------
// The log

TEST_F(TerrainModelTest, LogLinesOfARunWithVoids) {
  // A plane from 100 to 700 m with two voids on the eastern edge, away from the extremes.
  root.Tile("SRTM_30/N46E007.hgt", 121, [](int r, int c) {
    if (c == 120 && (r == 0 || r == 60)) return std::int16_t{-32768};
    return static_cast<std::int16_t>(100 + 3 * c + 2 * r);
  });
  Region(7.75F, 7.25F, 46.75F, 46.25F);  // fields in either order
  panel.XExtent = 100;
  panel.ZExtent = 10;
  panel.ZBasePercent = 20;
  panel.XYPixelSize = 7000;
  ASSERT_EQ(Run(), RunOutcome::Completed);

  const std::string out = panel.StlFileName;
  const std::vector<std::string> expected{
      "***********************",
      "  STL File Generation  ",
      "***********************",
      "*************************",
      "  Configuration Summary ",
      "*************************",
      "",  // time and date
      "   Longitude Limits : 7.250000   to   7.750000 degrees",
      "   Latitude Limits  : 46.250000   to   46.750000 degrees",
      "   Elevation Limits : 0   to   1000 m",
      "   XY Resolution of STL Output : 7000 meters",
      "   X, Z Extents of STL file : 100.000  10.000 respectively",
      "   Pedestal is 20.00 percent of the Z extent",
      "   STL Filename : " + out,
      " * * * * * * * * * * * * * * * * *",
      "Loaded new file : N46E007.hgt",
      "Properties of File : " + root.Root() + "SRTM_30/N46E007.hgt",
      "SRTM-30 Data",
      "Northern, Southern Limits : 47  46 degrees ",
      "Eastern, Western Limits : 8 7 degrees ",
      "Rows, columns of data : 121  121 ",
      "Elevation limits of data : -32768 to 700 m ",
      "Healing adjusted 2 faulted data points",
      "Post-Healing Elevation Limits of this file : 100 700 m",
      " ",
      "Topography generation completed",
      "Elevation in SRTM files ranged from 100  to  700 m",
      "256 Faces created, now saving to " + out + " ...",
      "File has been saved",
  };
  ASSERT_EQ(host.lines.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i == 6) {
      EXPECT_EQ(host.lines[i].rfind("Front Panel Controls ", 0), 0U) << host.lines[i];
    } else {
      EXPECT_EQ(host.lines[i], expected[i]) << "line " << i;
    }
  }
  EXPECT_TRUE(host.questions.empty());
}

// Nothing to model is an error whose text says why: no file (an old one of that name stays,
// nothing is left beside it), and the log stops where it was found: after the configuration
// summary when the tile search finds no tile, after the tiles when the files found are none.
TEST_F(TerrainModelTest, RegionWithoutElevationDataIsAnErrorAndWritesNoFile) {
  constexpr const char* Missing = "No elevation data in the region: no tile of it was found";
  test::WriteBytes(root.Path() / "SRTM_3" / "N10W005.hgt", std::vector<unsigned char>(1000, 0));
  root.Tile("SRTM_1/N11W005.hgt", 121, [](int, int) { return 300; });
  root.Tile("SRTM_30/N12W006.hgt", 121, [](int, int) { return 300; });
  struct Case {
    const char* what;
    float lon1, lon2, lat1, lat2;
    bool block1, block3, block30, blockCop30;
    const char* error;
    const char* lastLine;  // of the log
  };
  const Case cases[] = {
      {"no tile at all", 7.2F, 7.6F, 46.2F, 46.4F, false, false, false, false, Missing, nullptr},
      {"every folder blocked", -4.8F, -4.6F, 11.2F, 11.4F, true, true, true, true,
       "No elevation data in the region: every tile folder is blocked", nullptr},
      {"the SRTM folders blocked", -4.8F, -4.6F, 11.2F, 11.4F, true, true, true, false,
       "No elevation data in the region: no tile of it was found in the tile folders that are "
       "not blocked",
       nullptr},
      {"the Copernicus folder blocked", 7.2F, 7.6F, 46.2F, 46.4F, false, false, false, true,
       "No elevation data in the region: no tile of it was found in the tile folders that are "
       "not blocked",
       nullptr},
      {"the folder of the tile blocked", -4.8F, -4.6F, 11.2F, 11.4F, true, false, false, false,
       "No elevation data in the region: no tile of it was found in the tile folders that are "
       "not blocked",
       nullptr},
      {"a tile touching the region only on a whole-degree bound", -5.0F, -4.6F, 12.2F, 12.4F, false,
       false, false, false, Missing, nullptr},
      {"a file of no tile size", -4.8F, -4.6F, 10.2F, 10.4F, false, false, false, false,
       "No elevation data in the region: none of the files found for it is an SRTM tile", " "},
  };
  const std::vector<unsigned char> old(700, 0x3C);
  for (const Case& c : cases) {
    for (const bool solid : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << (solid ? ", solid" : ", surface"));
      Region(c.lon1, c.lon2, c.lat1, c.lat2);
      panel.BlockSrtm1 = c.block1;
      panel.BlockSrtm3 = c.block3;
      panel.BlockSrtm30 = c.block30;
      panel.BlockCop30 = c.blockCop30;
      panel.Solid = solid;
      test::WriteBytes(Out(), old);
      try {
        Run();
        ADD_FAILURE() << "no error";
      } catch (const NothingToModel& e) {
        EXPECT_STREQ(e.what(), c.error);
      }
      EXPECT_EQ(test::ReadBytes(Out()), old);
      EXPECT_EQ(test::FolderEntries(root.Path()),
                (std::vector<std::string>{"SRTM_1", "SRTM_3", "SRTM_30", "model.stl"}));
      ASSERT_FALSE(host.lines.empty());
      EXPECT_EQ(host.lines.back(), c.lastLine ? c.lastLine : " * * * * * * * * * * * * * * * * *");
      const bool tileLines = std::any_of(host.lines.begin(), host.lines.end(), [](auto& line) {
        return line.rfind("Loaded new file : ", 0) == 0;
      });
      EXPECT_EQ(tileLines, c.lastLine != nullptr);
    }
  }
}

TEST_F(TerrainModelTest, ConstantFillTilesReportZeroRange) {
  panel.MissedDataZero = true;
  Region(7.5F, 8.5F, 46.5F, 46.7F);
  panel.XYPixelSize = 10000;
  panel.ZBasePercent = 50;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  EXPECT_TRUE(Logged("Elevation in SRTM files ranged from 0  to  0 m"));
  EXPECT_TRUE(Logged("Rows, columns of data : 3601  3601 "));
  const StlFile stl = ReadStl(Out());
  for (const Cell& cell : Cells(stl.faces)) {
    EXPECT_TRUE(cell.flat);
    EXPECT_FLOAT_EQ(cell.sw.z, 0.5F);
  }
}

// ---------------------------------------------------------------------------------------
// The large-file question, randomness and failures

TEST_F(TerrainModelTest, LargeFileQuestionAndCancel) {
  root.Tile("SRTM_30/N46E007.hgt", 121, [](int, int) { return std::int16_t{5}; });
  Region(7.0F, 8.0F, 46.0F, 47.0F);  // 4000000 faces, 200 MB
  host.answer = false;
  EXPECT_EQ(Run(), RunOutcome::Cancelled);
  ASSERT_EQ(host.questions.size(), 1U);
  EXPECT_EQ(host.questions[0],
            "Warning : Very Large STL FileSize: Are you sure you want to make a 200 MB STL File?");
  EXPECT_TRUE(host.lines.empty());
  EXPECT_EQ(host.pumps, 0);
  EXPECT_FALSE(std::filesystem::exists(Out()));
  EXPECT_EQ(tile.Kind(), TileKind::NotATile);
  EXPECT_TRUE(tile.SourceName().empty());

  // Exactly 100 MB asks as well, and OK goes on. A whole degree at 100 m is 1001 columns, half
  // a degree 501 rows.
  panel.Lat2 = 46.5F;
  host.answer = true;
  EXPECT_EQ(Run(), RunOutcome::Completed);
  ASSERT_EQ(host.questions.size(), 2U);
  EXPECT_EQ(host.questions[1],
            "Warning : Very Large STL FileSize: Are you sure you want to make a 100 MB STL File?");
  EXPECT_EQ(std::filesystem::file_size(Out()), 84U + 50U * 2U * 1001U * 501U);
  // Just below asks nothing, even set to Cancel: 0.4999962 degree is 500 rows.
  host.answer = false;
  panel.Lat2 = std::nextafter(46.5F, 0.0F);  // 99.9992 MB
  EXPECT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(host.questions.size(), 2U);
  EXPECT_EQ(std::filesystem::file_size(Out()), 84U + 50U * 2U * 1001U * 500U);
}

TEST_F(TerrainModelTest, CentresAreReseededEveryRunUnlessFixed) {
  root.Tile("SRTM_30/N46E007.hgt", 121,
            [](int r, int c) { return static_cast<std::int16_t>(r * c); });
  Region(7.2F, 7.8F, 46.2F, 46.8F);
  panel.Z2 = 10000;
  panel.XYPixelSize = 3000;
  ASSERT_EQ(Run(), RunOutcome::Completed);
  const std::vector<unsigned char> first = test::ReadBytes(Out());
  ASSERT_EQ(Run(), RunOutcome::Completed);
  EXPECT_EQ(test::ReadBytes(Out()), first);  // same fixed seed, same file

  options.Seed.reset();
  ASSERT_EQ(Run(), RunOutcome::Completed);
  const std::vector<unsigned char> clocked1 = test::ReadBytes(Out());
  ASSERT_EQ(Run(), RunOutcome::Completed);
  EXPECT_NE(test::ReadBytes(Out()), clocked1);
  EXPECT_EQ(test::ReadBytes(Out()).size(), first.size());

  // Across runs every fraction value turns up: the centres spread over the whole 101 entries
  // rather than a handful.
  std::set<long> seen;
  for (const Cell& cell : Cells(ReadStl(Out()).faces)) {
    if (cell.flat) continue;
    const double f = (cell.c.x - cell.sw.x) / (cell.se.x - cell.sw.x);
    seen.insert(std::lround((f - 0.5) / 0.00075));
  }
  EXPECT_GT(seen.size(), 50U);
  EXPECT_GE(*seen.begin(), -500);
  EXPECT_LE(*seen.rbegin(), 499);
}

TEST_F(TerrainModelTest, ProgressCountsCellsOfTheTilesProcessed) {
  struct ProgressHost : RecordingHost {
    void ReportProgress(std::uint64_t done, std::uint64_t planned) override {
      reports.emplace_back(done, planned);
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
  };
  root.Tile("SRTM_30/N46E008.hgt", 121, [](int, int) { return std::int16_t{9}; });
  for (const unsigned threads : {1U, 2U}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    options.Threads = threads;
    ProgressHost progress;
    Region(7.75F, 8.25F, 46.2F, 46.45F);
    panel.XYPixelSize = 10000;  // west tile (missing) 3 x 3 cells planned, east tile 3 x 3 made
    ASSERT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, progress, options),
              RunOutcome::Completed);
    ASSERT_EQ(progress.reports.size(), 3U);  // once per column of the tile that was there
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(progress.reports[i].first, 3 * (i + 1));
      EXPECT_EQ(progress.reports[i].second, 18U);
    }

    // Columns of thousands of rows are meshed a few at a time; each is still reported once,
    // in order.
    progress.reports.clear();
    Region(8.5F, 8.501F, 46.0F, 46.8F);
    panel.XYPixelSize = 20;  // 6 columns of 4000 rows (46.8F is just below 46.8)
    ASSERT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, progress, options),
              RunOutcome::Completed);
    ASSERT_EQ(progress.reports.size(), 6U);
    for (std::size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(progress.reports[i].first, 4000 * (i + 1));
      EXPECT_EQ(progress.reports[i].second, 6U * 4000U);
    }
  }
}

// A tile in a folder that can't be read would leave a hole without a word in the log; the
// note comes first, before the large-file question.
TEST_F(TerrainModelTest, AFolderThatCantBeReadIsNotedBeforeTheQuestion) {
  struct OrderHost : RecordingHost {
    bool ConfirmLargeFile(const std::string&, const std::string&) override {
      said.push_back("question");
      return false;
    }
    void Diagnose(const std::string& text) override { said.push_back(text); }
    std::vector<std::string> said;
  } ordered;
  std::filesystem::remove(root.Path() / "SRTM_3");
  test::WriteBytes(root.Path() / "SRTM_3", {});
  Region(7.0F, 8.0F, 46.0F, 47.0F);  // 200 MB
  EXPECT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, ordered, options),
            RunOutcome::Cancelled);
  EXPECT_EQ(ordered.said,
            (std::vector<std::string>{
                "The folder \"" + root.Root() + "SRTM_3/\" could not be read: Not a directory",
                "question"}));
  // A blocked folder is not searched.
  ordered.said.clear();
  panel.BlockSrtm3 = true;
  EXPECT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, ordered, options),
            RunOutcome::Cancelled);
  EXPECT_EQ(ordered.said, std::vector<std::string>{"question"});
}

}  // namespace
}  // namespace orolith
