// The closed solid made from real tiles: the default surface, first and unchanged, closed by
// walls, seam strips, fills and a bottom into one shell.

#include "base/NumberText.h"
#include "model/TerrainModel.h"
#include "model/lattice/ModelGrid.h"
#include "support/ModelRun.h"
#include "support/ShellCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::CheckShell;
using test::ReadStl;
using test::ShellReport;
using test::StlFace;

bool SameFace(const StlFace& a, const StlFace& b) {
  return std::memcmp(&a.normal, &b.normal, sizeof(Vec3)) == 0 &&
         std::memcmp(&a.a, &b.a, sizeof(Vec3)) == 0 && std::memcmp(&a.b, &b.b, sizeof(Vec3)) == 0 &&
         std::memcmp(&a.c, &b.c, sizeof(Vec3)) == 0;
}

class SolidModelTest : public test::ModelRunTest {
 protected:
  SolidModelTest() {
    panel.Z1 = 0;
    panel.Z2 = 2000;
    panel.XExtent = 100;
    panel.ZExtent = 10;
    panel.XYPixelSize = 1000;
    panel.FloorPercent = 4;
  }

  // The model with the panel's solid setting, from the fixed seed, meshed by threads threads.
  std::vector<StlFace> Make(bool closed, const std::string& dataRoot, unsigned threads) {
    Workspace over(MakeDataFolders(dataRoot));
    panel.Solid = closed;
    panel.StlFileName = (root.Path() / (closed ? "solid.stl" : "surface.stl")).string();
    options.Threads = threads;
    return Faces(over);
  }

  // The solid's file is the same whichever number of threads meshes the surface.
  void ExpectSolidOfOneThreadWithTwo(const std::string& dataRoot) {
    Make(true, dataRoot, 1);
    const std::vector<unsigned char> one = test::ReadBytes(panel.StlFileName);
    Make(true, dataRoot, 2);
    EXPECT_TRUE(test::ReadBytes(panel.StlFileName) == one) << "1 and 2 threads differ";
  }

  // Makes the surface and the solid of the region and checks what every solid must be: the
  // surface's faces first, then a closed shell of one part enclosing the volume under the
  // surface (and under the flat fill of fillArea) down to the floor, the same with one
  // meshing thread and with two. Returns the number of faces the solid adds.
  std::size_t ExpectSolidOverSurface(const std::string& dataRoot, double fillArea = 0) {
    surface = Make(false, dataRoot, 2);
    ExpectSolidOfOneThreadWithTwo(dataRoot);
    solid = ReadStl(panel.StlFileName).faces;
    EXPECT_GT(surface.size(), 0U);
    EXPECT_GT(solid.size(), surface.size());
    for (std::size_t i = 0; i < surface.size() && i < solid.size(); ++i) {
      if (!SameFace(surface[i], solid[i])) {
        ADD_FAILURE() << "surface face " << i << " differs";
        break;
      }
    }
    const ShellReport shell = CheckShell(solid);
    EXPECT_TRUE(shell.Closed()) << shell;
    EXPECT_EQ(shell.parts, 1U) << shell;
    const double floor = -panel.FloorPercent / 100.0 * panel.ZExtent;
    const double expected = test::VolumeDownTo(surface, floor) - fillArea * floor;
    EXPECT_NEAR(shell.volume, expected, 0.005 * expected) << shell;
    for (const StlFace& f : solid) {
      EXPECT_GE(std::min({f.a.z, f.b.z, f.c.z}), static_cast<float>(floor));
    }
    return solid.size() - surface.size();
  }

  // Vertex positions along the region's sides: where the walls stand, each one the top of
  // two wall faces and the corner of one bottom face.
  std::size_t BorderPositions() const {
    std::vector<float> xs;
    std::vector<float> ys;
    for (const StlFace& f : surface) {
      for (const Vec3& v : {f.a, f.b, f.c}) {
        if (v.y == 0) xs.push_back(v.x);
        if (v.x == 0) ys.push_back(v.y);
      }
    }
    std::sort(xs.begin(), xs.end());
    std::sort(ys.begin(), ys.end());
    const auto distinct = [](std::vector<float>& v) {
      return static_cast<std::size_t>(std::unique(v.begin(), v.end()) - v.begin());
    };
    return 2 * (distinct(xs) - 1 + distinct(ys) - 1);
  }

  // Edges of the surface along the region's four sides, each between two vertex positions.
  std::size_t SideSegments() const {
    float right = 0;
    float top = 0;
    for (const StlFace& f : surface) {
      for (const Vec3& v : {f.a, f.b, f.c}) {
        right = std::max(right, v.x);
        top = std::max(top, v.y);
      }
    }
    std::vector<float> sides[4];
    for (const StlFace& f : surface) {
      for (const Vec3& v : {f.a, f.b, f.c}) {
        if (v.y == 0) sides[0].push_back(v.x);
        if (v.y == top) sides[1].push_back(v.x);
        if (v.x == 0) sides[2].push_back(v.y);
        if (v.x == right) sides[3].push_back(v.y);
      }
    }
    std::size_t segments = 0;
    for (std::vector<float>& side : sides) {
      std::sort(side.begin(), side.end());
      segments +=
          static_cast<std::size_t>(std::unique(side.begin(), side.end()) - side.begin()) - 1;
    }
    return segments;
  }

  // Model area of a rectangle of the region given in degrees.
  double ModelArea(double lonDegrees, double latDegrees) const {
    const double lonSpan = std::abs(double{panel.Long2} - panel.Long1);
    const double meanLat = (double{panel.Lat1} + panel.Lat2) / 2 * 3.14159265358979323846 / 180;
    const double perDegree = panel.XExtent / lonSpan;
    return lonDegrees * perDegree * latDegrees * perDegree / std::cos(meanLat);
  }

  std::vector<StlFace> surface;
  std::vector<StlFace> solid;
};

// One tile, the seam of two tiles with equal edges, an SRTM-1 tile: walls and a bottom close
// each, and where the tiles' edges meet no strip is needed.
TEST_F(SolidModelTest, RealTilesGetWallsAndABottomAndNothingElse) {
  struct Case {
    const char* tile;
    float lon1, lon2, lat1, lat2, z1, z2, base, pixel;
    bool wallsAlone;
  };
  const Case cases[] = {
      {"SRTM_3/N44W072.hgt", -71.6F, -71.1F, 44.1F, 44.45F, 100, 2000, 5, 500, true},
      {"SRTM_3/N50E009.hgt", 8.7F, 9.3F, 50.1F, 50.4F, 100, 900, 0, 500, true},
      {"SRTM_1/S46W066.hgt", -65.9F, -65.3F, -45.8F, -45.2F, 0, 150, 0, 300, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tile);
    OROLITH_REQUIRE_SHARED_DATA(c.tile);
    Region(c.lon1, c.lon2, c.lat1, c.lat2);
    panel.Z1 = c.z1;
    panel.Z2 = c.z2;
    panel.ZBasePercent = c.base;
    panel.XYPixelSize = c.pixel;
    const std::size_t added = ExpectSolidOverSurface(OROLITH_SHARED_DATA);
    if (c.wallsAlone) {
      EXPECT_EQ(added, 3 * BorderPositions());
    }
    EXPECT_TRUE(Logged("   Closed solid, floor 4.00 percent of the Z extent"));
    EXPECT_TRUE(Logged(std::to_string(solid.size()) + " Faces created, now saving to " +
                       panel.StlFileName + " ..."));
  }
}

// Four tiles of different kinds round one corner: an SRTM-1 tile, two SRTM-3 tiles whose
// edges don't match it (stand-ins from elsewhere) and a missing one. The region starts on a
// whole degree, which brings in a tile column of no width, and clips two of the tiles.
TEST_F(SolidModelTest, MixedTilesAndAMissingOneCloseAtEverySeam) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_1/S46W066.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N57E011.hgt");
  root.SharedTile("SRTM_1/S46W066.hgt", "SRTM_1/S46W066.hgt");
  root.SharedTile("SRTM_3/N57E011.hgt", "SRTM_3/S46W065.hgt");
  root.SharedTile("SRTM_3/N44W072.hgt", "SRTM_3/S45W066.hgt");
  Region(-66.0F, -64.7F, -45.6F, -44.0F);
  panel.ZBasePercent = 10;
  panel.XYPixelSize = 2000;

  // The missing tile's piece, -65 .. -64.7 by -45 .. -44, is filled at z = 0.
  const std::size_t added = ExpectSolidOverSurface(root.Root(), ModelArea(65.0 - 64.7F, 1));
  // More than walls and bottom: the seams between unmatched tiles need strips.
  EXPECT_GT(added, 3 * BorderPositions() + 100);
  EXPECT_TRUE(Logged("SRTM-1 Data"));
}

// Missing tiles on one diagonal: the pieces round the middle corner stand high, low, high,
// low, and only the two filled pieces join the two others.
TEST_F(SolidModelTest, CheckerboardOfMissingTilesStaysOnePiece) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E009.hgt");
  root.SharedTile("SRTM_3/N50E008.hgt", "SRTM_3/N50E008.hgt");
  root.SharedTile("SRTM_3/N50E009.hgt", "SRTM_3/N51E009.hgt");
  Region(8.6F, 9.4F, 50.6F, 51.4F);
  panel.ZBasePercent = 10;  // every loaded vertex at least 1 above the fills
  const std::size_t added =
      ExpectSolidOverSurface(root.Root(), 2 * ModelArea(9.4F - 9.0, 9.0 - 8.6F));
  EXPECT_GT(added, 3 * BorderPositions());
}

// A whole-degree bound brings in a tile of no height, here between two others in the order
// the run visits them: its cells are lines. The solid makes no faces of them, but draws
// their centres all the same, so every other face is the surface's.
TEST_F(SolidModelTest, PieceOfNoAreaIsLeftOutAndTheRestStaysTheSame) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E009.hgt");
  Region(8.7F, 9.3F, 50.7F, 51.0F);
  panel.MissedDataZero = true;
  panel.XYPixelSize = 500;
  surface = Make(false, OROLITH_SHARED_DATA, 2);
  ExpectSolidOfOneThreadWithTwo(OROLITH_SHARED_DATA);
  solid = ReadStl(panel.StlFileName).faces;
  EXPECT_TRUE(Logged("Loaded new file : N51E008.hgt"));

  const float top = std::max_element(surface.begin(), surface.end(), [](auto& f, auto& g) {
                      return f.a.y < g.a.y;
                    })->a.y;
  std::vector<StlFace> lines;
  std::vector<StlFace> kept;
  for (const StlFace& f : surface) {
    (f.a.y == top && f.b.y == top && f.c.y == top ? lines : kept).push_back(f);
  }
  // Two tiles of 61 flat cells (0.3 / 0.005 + 1), two faces each.
  EXPECT_EQ(lines.size(), 2U * 61U * 2U);
  ASSERT_GT(solid.size(), kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    ASSERT_TRUE(SameFace(kept[i], solid[i])) << "face " << i;
  }
  const ShellReport shell = CheckShell(solid);
  EXPECT_TRUE(shell.Closed()) << shell;
  EXPECT_EQ(shell.parts, 1U);
}

// Where a corner's height comes out within a float step of a rounding boundary, or exactly at
// the band's foot (terrain at the foot of the band drops to the base plane or stands on the
// pedestal at the last bit of its lookup), two ways of working out one corner's longitude or
// latitude put two vertices where the model has one: a crack in the surface, open edges in the
// solid. Every corner is one point of its piece's lattice: the surface has no crack inside a
// piece, and the solid closes.
TEST_F(SolidModelTest, EveryCornerIsOneVertexSoThatSurfaceAndSolidClose) {
  struct TileFile {
    const char* path;  // below the data root
    int side;
    std::function<int(int, int)> sample;
  };
  std::mt19937 engine(16);
  const auto random = [&engine](int, int) {
    constexpr int values[] = {-32768, 9000, -32000, 0};
    return values[engine() % 4];
  };
  const auto bandFoot = [](int, int) { return 400; };
  struct Model {
    float lon1, lon2, lat1, lat2, z1, z2, xExtent, zExtent, base, pixel;
  };
  struct Case {
    const char* what;
    Model m;
    std::vector<TileFile> tiles;
  };
  const Case cases[] = {
      {"random voids, far heights and the band's foot",
       {10.2F, 10.9F, 3.2F, 3.8F, 0, 3000, 100, 10, 0, 1000},
       {{"SRTM_3/N03E010.hgt", 1201, random}}},
      {"terrain at the band's foot",
       {7.3F, 7.6F, 46.2F, 46.5F, 400, 4000, 120, 20, 10, 500},
       {{"SRTM_3/N46E007.hgt", 1201, bandFoot}}},
      {"an SRTM-1 tile beside an SRTM-3 one, both at the band's foot",
       {7.8F, 8.2F, 46.3F, 46.6F, 400, 4000, 120, 30, 10, 500},
       {{"SRTM_1/N46E007.hgt", 3601, bandFoot}, {"SRTM_3/N46E008.hgt", 1201, bandFoot}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* dir : {"SRTM_1", "SRTM_3"}) {
      std::filesystem::remove_all(root.Path() / dir);
      std::filesystem::create_directory(root.Path() / dir);
    }
    for (const TileFile& t : c.tiles) root.Tile(t.path, t.side, t.sample);
    Region(c.m.lon1, c.m.lon2, c.m.lat1, c.m.lat2);
    panel.Z1 = c.m.z1;
    panel.Z2 = c.m.z2;
    panel.XExtent = c.m.xExtent;
    panel.ZExtent = c.m.zExtent;
    panel.ZBasePercent = c.m.base;
    panel.XYPixelSize = c.m.pixel;
    ExpectSolidOverSurface(root.Root());

    // The pieces end on the region's sides and on the whole degrees inside it.
    const ModelSettings s = ReadModelSettings(panel);
    const ModelScale scale(s);
    std::vector<float> xs{scale.X(s.LonMin), scale.X(s.LonMax)};
    for (long double lon = std::ceil(s.LonMin); lon < s.LonMax; ++lon) xs.push_back(scale.X(lon));
    std::vector<float> ys{scale.Y(s.LatMin), scale.Y(s.LatMax)};
    for (long double lat = std::ceil(s.LatMin); lat < s.LatMax; ++lat) ys.push_back(scale.Y(lat));
    EXPECT_EQ(test::CracksOffTheBorders(CheckShell(surface), xs, ys), 0U);
  }
}

// The adaptive surface keeps its own points on each piece's outline, different from piece to
// piece; the seam strips, walls and bottom still close it into one shell of the volume under it.
TEST_F(SolidModelTest, AdaptiveSurfaceClosesAtSidesAndSeams) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_1/S46W066.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E008.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E009.hgt");
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N57E011.hgt");
  root.SharedTile("SRTM_1/S46W066.hgt", "SRTM_1/S46W066.hgt");
  root.SharedTile("SRTM_3/N57E011.hgt", "SRTM_3/S46W065.hgt");
  root.SharedTile("SRTM_3/N44W072.hgt", "SRTM_3/S45W066.hgt");
  root.SharedTile("SRTM_3/N44W072.hgt", "SRTM_3/N44W072.hgt");
  root.SharedTile("SRTM_3/N50E008.hgt", "SRTM_3/N50E008.hgt");
  root.SharedTile("SRTM_3/N50E009.hgt", "SRTM_3/N50E009.hgt");
  enum class Seams { None, Equal, Steps };
  struct Case {
    const char* what;
    float lon1, lon2, lat1, lat2, pixel, maxError;
    Seams seams;
    double filled;  // square degrees of missing tiles filled at z = 0
  };
  const Case cases[] = {
      {"one tile", -71.6F, -71.1F, 44.1F, 44.45F, 200, 5, Seams::None, 0},
      {"one tile, nearly every lattice point kept", -71.4F, -71.3F, 44.2F, 44.3F, 500, 0.01F,
       Seams::None, 0},
      {"a seam of equal edges", 8.6F, 9.4F, 50.1F, 50.5F, 200, 2, Seams::Equal, 0},
      {"a seam of equal edges, coarse", 8.6F, 9.4F, 50.1F, 50.5F, 300, 20, Seams::Equal, 0},
      {"mixed tiles and a missing one", -66.0F, -64.7F, -45.6F, -44.0F, 1000, 5, Seams::Steps, 0.3},
  };
  panel.ZBasePercent = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Region(c.lon1, c.lon2, c.lat1, c.lat2);
    panel.XYPixelSize = c.pixel;
    panel.MaxError = 0;
    const std::size_t regular = Make(false, root.Root(), 2).size();
    panel.MaxError = c.maxError;
    const std::size_t added = ExpectSolidOverSurface(root.Root(), ModelArea(c.filled, 1));
    EXPECT_TRUE(Logged(FormatText('.', "   Adaptive surface, max. error %.2f m", {c.maxError})));
    EXPECT_LT(surface.size(), regular);
    // Blocks meet edge to edge: the surface is open only where its pieces end.
    const ModelSettings settings = ReadModelSettings(panel);
    const ModelScale scale(settings);
    std::vector<float> xs{scale.X(settings.LonMin), scale.X(settings.LonMax)};
    for (long double lon = std::ceil(settings.LonMin); lon < settings.LonMax; ++lon) {
      xs.push_back(scale.X(lon));
    }
    std::vector<float> ys{scale.Y(settings.LatMin), scale.Y(settings.LatMax)};
    for (long double lat = std::ceil(settings.LatMin); lat < settings.LatMax; ++lat) {
      ys.push_back(scale.Y(lat));
    }
    EXPECT_EQ(test::CracksOffTheBorders(CheckShell(surface), xs, ys), 0U);
    // Two walls and a bottom face under each edge of the outline the surface keeps; a seam
    // adds a strip where its two pieces keep different points along it, which those of equal
    // edges may or may not do.
    switch (c.seams) {
      case Seams::None:
        EXPECT_EQ(added, 3 * SideSegments());
        break;
      case Seams::Equal:
        EXPECT_GE(added, 3 * SideSegments());
        break;
      case Seams::Steps:
        EXPECT_GT(added, 3 * SideSegments() + 20);
        break;
    }
  }
}

TEST_F(SolidModelTest, LargeFileQuestionCountsTheClosingFaces) {
  // Just below 100 MB as a surface (99.9992 MB).
  Region(7.0F, 8.0F, 46.0F, std::nextafter(46.5F, 0.0F));
  panel.XYPixelSize = 100;
  panel.Solid = true;
  panel.StlFileName = (root.Path() / "big.stl").string();
  host.answer = false;
  EXPECT_EQ(Run(), RunOutcome::Cancelled);
  // And 9000 faces of walls and bottom, 6 x 1000 x 1.5: 100.45 MB.
  ASSERT_EQ(host.questions.size(), 1U);
  EXPECT_EQ(host.questions[0],
            "Warning : Very Large STL FileSize: Are you sure you want to make a 100 MB STL File?");
  EXPECT_FALSE(std::filesystem::exists(panel.StlFileName));
}

}  // namespace
}  // namespace orolith
