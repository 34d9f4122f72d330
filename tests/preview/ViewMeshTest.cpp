#include "preview/ViewMesh.h"

#include "base/Errors.h"
#include "frontpanel/Workspace.h"
#include "model/TerrainModel.h"
#include "model/writers/STL.h"
#include "support/DataRoot.h"
#include "support/GridSurface.h"
#include "support/RecordingHost.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>

namespace orolith {
namespace {

using test::TempDir;

double Hills(double x, double y) {
  return 10 + 5 * std::sin(x / 20) * std::cos(y / 15);
}

// A surface of columns x rows unit cells, two faces each, facing up; with a floor and four
// walls down to z = -2 when solid.
TSTL Surface(int columns, int rows, bool solid) {
  return test::GridSurface(columns, rows, Hills, solid, -2);
}

std::string Saved(const TSTL& stl, const TempDir& dir, const char* name) {
  const std::string file = (dir.Path() / name).string();
  stl.SaveBinary(file);
  return file;
}

TEST(ViewMesh, AModelWithinTheBudgetIsShownFaceForFace) {
  TempDir dir;
  const std::string file = Saved(Surface(10, 8, false), dir, "small.stl");
  const ViewMesh mesh = ReadViewMesh(file);
  const test::StlFile stl = test::ReadStl(file);
  EXPECT_EQ(mesh.FileFaces, 160U);
  EXPECT_FALSE(mesh.Decimated);
  EXPECT_FALSE(mesh.Solid);
  ASSERT_EQ(mesh.Triangles(), 160U);
  for (std::size_t f = 0; f < stl.faces.size(); ++f) {
    const float* c = &mesh.Corners[f * 9];
    const test::StlFace& face = stl.faces[f];
    const float expected[9] = {face.a.x, face.a.y, face.a.z, face.b.x, face.b.y,
                               face.b.z, face.c.x, face.c.y, face.c.z};
    ASSERT_TRUE(std::equal(c, c + 9, expected)) << "face " << f;
  }
  EXPECT_EQ(mesh.Min[0], 0.0F);
  EXPECT_EQ(mesh.Max[0], 10.0F);
  EXPECT_EQ(mesh.Max[1], 8.0F);
}

// Faces of the decimated mesh whose corners all lie at height z.
std::size_t FlatAt(const ViewMesh& mesh, float z) {
  std::size_t count = 0;
  for (std::size_t t = 0; t < mesh.Triangles(); ++t) {
    const float* c = &mesh.Corners[t * 9];
    if (c[2] == z && c[5] == z && c[8] == z) ++count;
  }
  return count;
}

TEST(ViewMesh, ALargerModelIsRebuiltFromAHeightGridWithinTheBudget) {
  const struct {
    int columns;
    int rows;
    bool solid;
    std::uint64_t budget;
  } cases[] = {
      {100, 60, false, 2000},
      {100, 60, true, 2000},
      {40, 150, true, 5000},
      {200, 200, false, 20000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << " x " << c.rows << (c.solid ? " solid" : ""));
    TempDir dir;
    const std::string file = Saved(Surface(c.columns, c.rows, c.solid), dir, "large.stl");
    const ViewMesh mesh = ReadViewMesh(file, c.budget);
    const test::StlFile stl = test::ReadStl(file);
    EXPECT_EQ(mesh.FileFaces, stl.faces.size());
    EXPECT_TRUE(mesh.Decimated);
    EXPECT_EQ(mesh.Solid, c.solid);
    EXPECT_LE(mesh.Triangles(), c.budget);
    EXPECT_GE(mesh.Triangles(), c.budget / 3) << "the budget is used";
    EXPECT_EQ(mesh.Min[0], 0.0F);
    EXPECT_EQ(mesh.Max[0], static_cast<float>(c.columns));
    EXPECT_EQ(mesh.Max[1], static_cast<float>(c.rows));

    // The whole rectangle is covered, and the surface keeps its heights.
    float minX = 1e9F, maxX = -1e9F, minY = 1e9F, maxY = -1e9F;
    for (std::size_t i = 0; i < mesh.Corners.size(); i += 3) {
      const float x = mesh.Corners[i], y = mesh.Corners[i + 1], z = mesh.Corners[i + 2];
      minX = std::min(minX, x);
      maxX = std::max(maxX, x);
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
      if (z != -2.0F) {
        ASSERT_NEAR(z, Hills(x, y), 1.0) << x << "," << y;
      }
    }
    EXPECT_EQ(minX, 0.0F);
    EXPECT_EQ(maxX, static_cast<float>(c.columns));
    EXPECT_EQ(minY, 0.0F);
    EXPECT_EQ(maxY, static_cast<float>(c.rows));

    // A solid keeps its floor and its walls down to it.
    if (c.solid) {
      EXPECT_EQ(mesh.Min[2], -2.0F);
      EXPECT_GE(FlatAt(mesh, -2.0F), 2U) << "floor";
      std::size_t walls = 0;
      for (std::size_t t = 0; t < mesh.Triangles(); ++t) {
        const float* v = &mesh.Corners[t * 9];
        const bool onWestSide = v[0] == 0 && v[3] == 0 && v[6] == 0;
        const bool reachesFloor = v[2] == -2 || v[5] == -2 || v[8] == -2;
        const bool reachesSurface = v[2] > 0 || v[5] > 0 || v[8] > 0;
        if (onWestSide && reachesFloor && reachesSurface) ++walls;
      }
      EXPECT_GE(walls, 2U);
    } else {
      EXPECT_EQ(FlatAt(mesh, -2.0F), 0U);
    }
  }
}

TEST(ViewMesh, AModelMadeFromARealTileAsASolidShowsItsFloorDecimated) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  TempDir dir;
  Workspace workspace(MakeDataFolders(test::SharedData("")));
  FrontPanelValues panel = test::RegionPanel(-71.5F, -71.0F, 44.0F, 44.5F, 500);
  panel.Z2 = 2000;
  panel.XExtent = 100;
  panel.ZExtent = 20;
  panel.Solid = true;
  panel.StlFileName = (dir.Path() / "real.stl").string();
  test::RecordingHost host;
  ASSERT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, host), RunOutcome::Completed);

  const ViewMesh whole = ReadViewMesh(panel.StlFileName);
  const ViewMesh decimated = ReadViewMesh(panel.StlFileName, whole.FileFaces / 4);
  EXPECT_FALSE(whole.Decimated);
  EXPECT_TRUE(whole.Solid);
  EXPECT_TRUE(decimated.Decimated);
  EXPECT_TRUE(decimated.Solid);
  EXPECT_LE(decimated.Triangles(), whole.FileFaces / 4);
  EXPECT_EQ(decimated.Min, whole.Min);
  EXPECT_EQ(decimated.Max, whole.Max);
  EXPECT_GE(FlatAt(decimated, whole.Min[2]), 2U);
}

// Faces with a corner at infinity, of no number or at the ends of the float range among a
// surface, read whole and decimated: what is drawn and its bounds stay finite.
TEST(ViewMesh, FacesBeyondTheFloatsAreLeftOutOfTheView) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float low, high;
    bool drawn;  // the faces are finite, if far
  } cases[] = {{-inf, inf, false}, {nan, nan, false}, {-3e38F, 3e38F, true}, {0, inf, false}};
  for (const auto& c : cases) {
    for (const std::uint64_t budget : {std::uint64_t{100000}, std::uint64_t{2000}}) {
      SCOPED_TRACE(testing::Message() << c.low << " " << c.high << ", budget " << budget);
      TempDir dir;
      TSTL stl = Surface(100, 60, false);
      for (int i = 0; i < 50; ++i) {
        const float at = static_cast<float>(i);
        stl.AddFace(MakeVec(c.low, at, 1), MakeVec(c.high, at + 1, c.low), MakeVec(at, c.high, 2));
      }
      const ViewMesh mesh = ReadViewMesh(Saved(stl, dir, "far.stl"), budget);
      EXPECT_EQ(mesh.FileFaces, 12050U);
      EXPECT_EQ(mesh.Decimated, budget < 12050U);
      // Far corners leave the surface a speck of the grid; without them it keeps the budget.
      if (!c.drawn) {
        EXPECT_GE(mesh.Triangles(), std::min<std::uint64_t>(budget / 3, 12000));
      }
      EXPECT_TRUE(std::all_of(mesh.Corners.begin(), mesh.Corners.end(),
                              [](float v) { return std::isfinite(v); }));
      EXPECT_EQ(mesh.Min[0], c.drawn ? c.low : 0.0F);
      EXPECT_EQ(mesh.Max[1], c.drawn ? c.high : 60.0F);
    }
  }
}

TEST(ViewMesh, FacesAreCountedByTheFileLength) {
  TempDir dir;
  const std::string file = Saved(Surface(5, 1, false), dir, "cut.stl");
  std::vector<unsigned char> bytes = test::ReadBytes(file);
  bytes[80] = 200;                 // promises 200 faces
  bytes.resize(84 + 50 * 7 + 20);  // holds 7 and a part
  test::WriteBytes(file, bytes);
  const ViewMesh mesh = ReadViewMesh(file);
  EXPECT_EQ(mesh.FileFaces, 7U);
  EXPECT_EQ(mesh.Triangles(), 7U);

  bytes[80] = 3;  // promises fewer than it holds
  test::WriteBytes(file, bytes);
  EXPECT_EQ(ReadViewMesh(file).Triangles(), 3U);

  bytes.resize(84);
  bytes[80] = 0;
  test::WriteBytes(file, bytes);
  const ViewMesh empty = ReadViewMesh(file);
  EXPECT_EQ(empty.Triangles(), 0U);
  EXPECT_EQ(empty.Min[0], 0.0F);
  EXPECT_EQ(empty.Max[2], 0.0F);
}

TEST(ViewMesh, WhatCantBeReadIsRefused) {
  TempDir dir;
  const std::filesystem::path shortFile = dir.Path() / "short.stl";
  test::WriteBytes(shortFile, std::vector<unsigned char>(83, 0));
  const struct {
    std::filesystem::path file;
    const char* reason;
  } cases[] = {
      {shortFile, "too short"},
  };
  for (const auto& c : cases) {
    try {
      ReadViewMesh(c.file.string());
      ADD_FAILURE() << c.file << " was read";
    } catch (const FileError& error) {
      const std::string text = error.what();
      EXPECT_NE(text.find(c.file.string()), std::string::npos) << text;
      EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    }
  }
}

TEST(ViewMesh, AStopEndsTheReadingWithNothing) {
  TempDir dir;
  const std::string file = Saved(Surface(100, 100, false), dir, "stopped.stl");
  const std::atomic<bool> stop{true};
  for (const std::uint64_t budget : {std::uint64_t{1000000}, std::uint64_t{1000}}) {
    const ViewMesh mesh = ReadViewMesh(file, budget, &stop);
    EXPECT_EQ(mesh.Triangles(), 0U);
    EXPECT_EQ(mesh.FileFaces, 0U);
  }
}

}  // namespace
}  // namespace orolith
