// Models from the rasters GDAL reads: the user's own raster (--dem) and Copernicus GLO-30 tiles.

#include "base/Errors.h"
#include "model/TerrainModel.h"
#include "support/ModelRun.h"
#include "support/Rasters.h"
#include "support/ShellCheck.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"
#include "tiles/DemRaster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::StlFace;

class RasterModelTest : public test::ModelRunTest {
 protected:
  RasterModelTest() {
    panel.Z1 = 0;
    panel.Z2 = 2000;
    panel.ZExtent = 1000;  // a vertex's z is half its elevation
  }

  void Region(float lon1, float lon2, float lat1, float lat2) {
    test::SetRegion(panel, lon1, lon2, lat1, lat2);
    // A model unit to a metre along X.
    panel.XExtent = (lon2 - lon1) * 100000;
  }

  std::vector<StlFace> Make() {
    settings = ReadModelSettings(panel);
    return Faces();
  }

  // Where a vertex lies, in metres and degrees.
  static double Elevation(const Vec3& v) { return 2.0 * v.z; }
  double Lon(const Vec3& v) const {
    return static_cast<double>(settings.LonMin) +
           v.x / panel.XExtent * static_cast<double>(settings.LonMax - settings.LonMin);
  }
  double Lat(const Vec3& v) const {
    const long double mean =
        (settings.LatMax + settings.LatMin) / 2 * 3.14159265358979323846L / 180;
    const long double yExtent = (settings.LatMax - settings.LatMin) * panel.XExtent /
                                (settings.LonMax - settings.LonMin) / std::cos(mean);
    return static_cast<double>(settings.LatMin +
                               v.y / yExtent * (settings.LatMax - settings.LatMin));
  }

  // Model x and y of a longitude and a latitude.
  double X(double lon) const {
    return (lon - static_cast<double>(settings.LonMin)) /
           static_cast<double>(settings.LonMax - settings.LonMin) * panel.XExtent;
  }
  double Y(double lat) const { return (lat - Lat({0, 0, 0})) / (Lat({0, 1, 0}) - Lat({0, 0, 0})); }

  ModelSettings settings;
};

TEST_F(RasterModelTest, APlaneLaidOutInUtmGivesEveryVertexWithinHalfAMetre) {
  panel.DemFile = test::utm20s::WriteUtmPlane(root.Root());
  Region(-63.65F, -63.45F, -45.6F, -45.45F);
  panel.XYPixelSize = 250;
  const std::vector<StlFace> faces = Make();
  EXPECT_TRUE(Logged("   DEM File : " + panel.DemFile));
  EXPECT_TRUE(Logged("Loaded new file : S46W064 from the DEM file"));
  EXPECT_TRUE(Logged("DEM raster Data"));
  // Every cell has its four faces: the raster covers the region.
  const auto cells = [](long double degrees) { return std::trunc(degrees / 0.0025L) + 1; };
  EXPECT_EQ(faces.size(), 4 * cells(settings.LonMax - settings.LonMin) *
                              cells(settings.LatMax - settings.LatMin));

  const test::ToUtm toUtm;
  double worst = 0;
  for (const StlFace& f : faces) {
    for (const Vec3& v : {f.a, f.b, f.c}) {
      double e = 0;
      double n = 0;
      ASSERT_TRUE(toUtm(Lon(v), Lat(v), e, n));
      worst = std::max(worst, std::abs(Elevation(v) - test::utm20s::UtmPlane(e, n)));
    }
  }
  EXPECT_LE(worst, 0.5);
}

// Ridges 60 m apart and 71 m high with a cross swell, 2 m pixels in UTM zone 32N: what a lidar
// model holds and the tiles' grid does not.
double Ridges(double easting, double northing) {
  constexpr double Tau = 2 * std::numbers::pi;
  return 1000 + 35.5 * std::sin(Tau * easting / 60) + 8 * std::sin(Tau * northing / 170);
}

TEST_F(RasterModelTest, TheRastersOwnDetailReachesTheModelWithinAMetre) {
  constexpr double West = 400000;
  constexpr double North = 5100000;
  constexpr int Side = 500;
  panel.DemFile = root.Root() + "ridges.tif";
  test::WriteRaster(
      panel.DemFile,
      {.Width = Side,
       .Height = Side,
       .Geo = std::array<double, 6>{West, 2, 0, North, 0, -2},
       .Srs = "EPSG:32632",
       .Options = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128"}},
      [](int x, int y) { return Ridges(West + (x + 0.5) * 2, North - (y + 0.5) * 2); });
  const std::optional<DemExtent> extent = DemRaster(panel.DemFile).Extent();
  ASSERT_TRUE(extent);
  const double inset = (extent->North - extent->South) / 10;
  Region(static_cast<float>(extent->West + inset), static_cast<float>(extent->East - inset),
         static_cast<float>(extent->South + inset), static_cast<float>(extent->North - inset));
  const test::ToUtm toUtm(32632);
  for (const float pixel : {15.0F, 4.0F}) {
    SCOPED_TRACE(pixel);
    panel.XYPixelSize = pixel;
    double squares = 0;
    std::size_t count = 0;
    for (const StlFace& f : Make()) {
      for (const Vec3& v : {f.a, f.b, f.c}) {
        double e = 0;
        double n = 0;
        ASSERT_TRUE(toUtm(Lon(v), Lat(v), e, n));
        const double error = Elevation(v) - Ridges(e, n);
        squares += error * error;
        ++count;
      }
    }
    EXPECT_LE(std::sqrt(squares / static_cast<double>(count)), 0.5);
  }
}

// A geographic raster from 7.5 to 8.1 E, 46.0 to 46.4 N, with a void (no-data samples) in a
// square inside it, in a region that goes on to 9.2 E: part of tile 8 and all of tile 9 lie
// outside it.
class NoDataTest : public RasterModelTest {
 protected:
  NoDataTest() {
    panel.DemFile = test::WriteGeographicRaster(
        root.Root() + "gap.tif", 7.5, 46.4, 0.002, 300, 200, [](double lon, double lat) {
          return InGap(lon, lat, 0) ? NAN : 100 + 1000 * (lon - 7.5) + 500 * (lat - 46);
        });
    Region(7.8F, 9.2F, 46.1F, 46.3F);
    panel.XYPixelSize = 1000;
  }

  // Inside the square without data, by margin degrees.
  static bool InGap(double lon, double lat, double margin) {
    return lon > 7.9 + margin && lon < 7.95 - margin && lat > 46.15 + margin &&
           lat < 46.25 - margin;
  }

  // The vertices in the square (a cell away from its sides) and beyond the raster's east edge.
  struct Where {
    std::size_t gap = 0;
    std::size_t east = 0;
    std::size_t gapLow = 0;  // of those in the square, the ones below the pedestal
    std::size_t eastNonZero = 0;
    std::size_t nan = 0;
  };
  Where Count(const std::vector<StlFace>& faces) const {
    Where where;
    for (const StlFace& f : faces) {
      for (const Vec3& v : {f.a, f.b, f.c}) {
        where.nan += std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z);
        const bool gap = InGap(Lon(v), Lat(v), 0.011);
        const bool east = Lon(v) > 8.111;
        where.gap += gap;
        where.east += east;
        where.gapLow += gap && Elevation(v) < 100;
        where.eastNonZero += east && v.z > 0;
      }
    }
    return where;
  }
};

TEST_F(NoDataTest, VoidsAreHealedAndCellsBeyondTheRasterMakeNoFacesOnASurface) {
  const Where where = Count(Make());
  EXPECT_EQ(where.nan, 0U);
  EXPECT_GT(where.gap, 0U);
  EXPECT_EQ(where.gapLow, 0U);
  EXPECT_EQ(where.east, 0U);
  EXPECT_FALSE(Logged("Loaded new file : N46E009 from the DEM file")) << "a tile it lacks";
}

// Whether the face covers (x, y) seen from above, and its height there.
bool Under(const StlFace& f, double x, double y, double& z) {
  const double bx = f.b.x - f.a.x, by = f.b.y - f.a.y;
  const double cx = f.c.x - f.a.x, cy = f.c.y - f.a.y;
  const double px = x - f.a.x, py = y - f.a.y;
  const double det = bx * cy - cx * by;
  const double s = (px * cy - cx * py) / det;
  const double t = (bx * py - px * by) / det;
  constexpr double Slack = 1e-7;
  if (!(s >= -Slack && t >= -Slack && s + t <= 1 + Slack)) return false;
  z = f.a.z + s * (double{f.b.z} - f.a.z) + t * (double{f.c.z} - f.a.z);
  return true;
}

TEST_F(NoDataTest, AnAdaptiveSurfaceLeavesAHoleWhereTheGridDoesAndKeepsTheRestWithinTheError) {
  Region(7.8F, 8.2F, 46.1F, 46.3F);
  panel.XYPixelSize = 500;
  const std::vector<StlFace> grid = Make();
  panel.MaxError = 2;
  const std::vector<StlFace> faces = Make();
  ASSERT_LT(faces.size(), grid.size() / 4);
  const Where where = Count(faces);
  EXPECT_EQ(where.nan, 0U);
  EXPECT_EQ(where.east, 0U);

  // No face spans the strip beyond the raster, not even with its corners outside it.
  std::size_t spanning = 0;
  double z = 0;
  for (double lon = 8.111; lon < 8.19; lon += 0.002) {
    for (double lat = 46.161; lat < 46.239; lat += 0.002) {
      for (const StlFace& f : faces) spanning += Under(f, X(lon), Y(lat), z);
    }
  }
  EXPECT_EQ(spanning, 0U);
  // Where the grid has faces, the adaptive surface has them too, within the error (2 m, a
  // model unit), away from the healed void, whose cells' centres leave the corners' plane.
  std::size_t uncovered = 0;
  double worst = 0;
  for (const StlFace& g : grid) {
    for (const Vec3& v : {g.a, g.b, g.c}) {
      if (InGap(Lon(v), Lat(v), -0.011)) continue;
      const auto under = std::find_if(faces.begin(), faces.end(),
                                      [&](const StlFace& f) { return Under(f, v.x, v.y, z); });
      if (under == faces.end()) {
        ++uncovered;
      } else {
        worst = std::max(worst, std::abs(z - v.z));
      }
    }
  }
  EXPECT_EQ(uncovered, 0U);
  EXPECT_LE(worst, 1.001);
}

TEST_F(NoDataTest, MissedDataSetTo0mFillsWhereTheRasterEndsAndTheTileItLacks) {
  panel.MissedDataZero = true;
  const Where where = Count(Make());
  EXPECT_EQ(where.nan, 0U);
  EXPECT_GT(where.gap, 0U);
  EXPECT_EQ(where.gapLow, 0U);
  EXPECT_GT(where.east, 1000U);
  EXPECT_EQ(where.eastNonZero, 0U);
  EXPECT_TRUE(Logged("Loaded new file : N46E009.hgt"));
}

TEST_F(NoDataTest, ASolidHasNoPitAtAVoidPutsNoDataOnTheBasePlaneAndStaysClosed) {
  panel.Solid = true;
  const std::vector<StlFace> faces = Make();
  const Where where = Count(faces);
  EXPECT_EQ(where.nan, 0U);
  EXPECT_GT(where.gap, 0U);
  EXPECT_EQ(where.gapLow, 0U);
  EXPECT_GT(where.east, 0U);
  EXPECT_EQ(where.eastNonZero, 0U);
  const test::ShellReport shell = test::CheckShell(faces);
  EXPECT_TRUE(shell.Closed()) << shell;
  EXPECT_EQ(shell.parts, 1U) << shell;
  EXPECT_GT(shell.volume, 0) << shell;
}

// A region beyond the raster, and a raster of three samples a side in a region of cells wider
// than it: no surface, so no file, whatever the model's kind.
TEST_F(NoDataTest, ARegionWithoutAWholeCellOfTheRastersIsAnErrorAndWritesNoFile) {
  const std::string narrow = test::WriteGeographicRaster(
      root.Root() + "narrow.tif", 7.5, 46.4, 0.002, 3, 3, [](double, double) { return 300; });
  const struct {
    const std::string& dem;
    float lon1, lon2, lat1, lat2;
    bool solid;
    float maxError;
    const char* file;
    const char* reason;
  } cases[] = {
      {panel.DemFile, 9.2F, 9.6F, 46.1F, 46.3F, false, 0, "model.stl",
       "the DEM file has no value in it"},
      {panel.DemFile, 9.2F, 9.6F, 46.1F, 46.3F, true, 0, "model.stl",
       "the DEM file has no value in it"},
      {narrow, 7.4F, 7.6F, 46.3F, 46.5F, false, 0, "model.stl",
       "the DEM file's values in it make no whole cell"},
      {narrow, 7.4F, 7.6F, 46.3F, 46.5F, false, 0, "model.3mf",
       "the DEM file's values in it make no whole cell"},
      {narrow, 7.4F, 7.6F, 46.3F, 46.5F, false, 1, "model.3mf",
       "the DEM file's values in it make no whole cell"},
  };
  panel.XYPixelSize = 1000;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.dem << " " << c.lon1 << " " << c.solid << " " << c.maxError << " " << c.file);
    panel.DemFile = c.dem;
    Region(c.lon1, c.lon2, c.lat1, c.lat2);
    panel.Solid = c.solid;
    panel.MaxError = c.maxError;
    panel.StlFileName = root.Root() + c.file;
    try {
      Run();
      ADD_FAILURE() << "no error";
    } catch (const NothingToModel& e) {
      EXPECT_EQ(e.what(), std::string("No elevation data in the region: ") + c.reason);
    }
    EXPECT_FALSE(std::filesystem::exists(panel.StlFileName));
  }
}

TEST_F(RasterModelTest, ACopernicusTileComesAfterSrtm1AndBeforeSrtm3) {
  const DataFolders& folders = workspace.Folders;
  std::filesystem::create_directory(folders.Cop30Dir);
  const auto plane = [](double lon, double lat) { return 300 + 100 * (lon - 7) + 50 * (lat - 55); };
  test::WriteCopernicusTile(folders.Cop30Dir, 7, 55, plane);
  root.Tile("SRTM_3/N55E007.hgt", 1201, [](int, int) { return 10; });
  Region(7.2F, 7.3F, 55.2F, 55.3F);
  panel.XYPixelSize = 1000;

  double worst = 0;
  for (const StlFace& f : Make()) {
    for (const Vec3& v : {f.a, f.b, f.c})
      worst = std::max(worst, std::abs(Elevation(v) - plane(Lon(v), Lat(v))));
  }
  EXPECT_LE(worst, 0.01);
  EXPECT_TRUE(Logged("Loaded new file : " + CopernicusTileName(7, 55)));
  EXPECT_TRUE(Logged("Copernicus GLO-30 Data"));
  EXPECT_TRUE(Logged("Post-Healing Elevation Limits of this file : 300 450 m"));
  EXPECT_FALSE(Logged("   Use of Copernicus GLO-30 Data blocked"));

  panel.BlockCop30 = true;
  for (const StlFace& f : Make()) EXPECT_EQ(Elevation(f.a), 10);
  EXPECT_TRUE(Logged("   Use of Copernicus GLO-30 Data blocked"));
  EXPECT_TRUE(Logged("Loaded new file : N55E007.hgt"));

  // The Copernicus tile alone is data enough for the run.
  panel.BlockCop30 = false;
  panel.BlockSrtm3 = true;
  EXPECT_FALSE(Make().empty());
  EXPECT_TRUE(Logged("Loaded new file : " + CopernicusTileName(7, 55)));
}

TEST_F(RasterModelTest, ARasterThatCantBeUsedFailsBeforeAnythingIsLoggedOrWritten) {
  test::WriteText(root.Path() / "notes.tif", "no raster");
  const std::string cut = test::utm20s::WriteUtmPlane(root.Root());
  std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
  for (const std::string& name : {root.Root() + "absent.tif", root.Root() + "notes.tif", cut}) {
    SCOPED_TRACE(name);
    panel.DemFile = name;
    try {
      Run();
      ADD_FAILURE() << "no error";
    } catch (const FileError& error) {
      EXPECT_EQ(error.FileName(), name);
    }
    EXPECT_TRUE(host.lines.empty());
    EXPECT_FALSE(std::filesystem::exists(panel.StlFileName));
  }
}

}  // namespace
}  // namespace orolith
