// The settings a model is made from when it is set up for a printer: the scale's extents, the
// exaggeration, the error of a layer, and the band found in the region by a first pass.

#include "model/ModelSetup.h"
#include "model/SizeEstimate.h"
#include "model/TerrainModel.h"
#include "model/lattice/ModelGrid.h"
#include "support/DataRoot.h"
#include "support/RecordingHost.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith {
namespace {

// Lengths of a degree of longitude on the WGS 84 ellipsoid, from the geodesy tables.
TEST(ScaledSettings, ExtentsAndErrorFollowTheScaleTheExaggerationAndTheLayer) {
  const struct {
    float lat, scale, exaggeration, base, layer;
    double groundMetres;  // of one degree of longitude at lat
  } rows[] = {
      {0, 25000, 2, 10, 0.2F, 111319.49},
      {60, 100000, 1, 0, 0.1F, 55800.00},
      {-45, 0, 3, 50, 0.2F, 78846.84},  // the scale the X extent implies
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lat);
    FrontPanelValues panel;
    panel.Long1 = 7;
    panel.Long2 = 8;
    panel.Lat1 = row.lat - 0.25F;
    panel.Lat2 = row.lat + 0.25F;
    panel.Z1 = 400;
    panel.Z2 = 2400;
    panel.XExtent = 150;
    panel.ZBasePercent = row.base;
    panel.Scale = row.scale;
    panel.Exaggeration = row.exaggeration;
    panel.MaxErrorAuto = true;
    panel.LayerHeight = row.layer;
    const ModelSettings s = ScaledSettings(ReadModelSettings(panel), std::nullopt);
    EXPECT_NEAR(static_cast<double>(GroundWidthMetres(s)), row.groundMetres, 0.01);
    const double x = row.scale > 0 ? row.groundMetres / row.scale * 1000 : 150;
    EXPECT_NEAR(s.XExtent, x, x * 1e-6);
    // A metre of height stands as tall as a metre of ground is wide, times the exaggeration.
    EXPECT_NEAR(s.ZExtent * (1 - row.base / 100), 2000 * row.exaggeration * x / row.groundMetres,
                s.ZExtent * 1e-6);
    EXPECT_NEAR(ModelScale(s).HeightZ(s.MaxError), row.layer / 2, 1e-6);
  }

  FrontPanelValues panel;
  panel.Exaggeration = 1;
  panel.ZBasePercent = 100;
  EXPECT_THROW(ScaledSettings(ReadModelSettings(panel), std::nullopt), std::invalid_argument);
}

// Beside the map, before any tile is read: no Z while an exaggeration waits on the band.
TEST(PlannedModelSize, TheZExtentIsKnownUnlessAnExaggerationWaitsOnTheBand) {
  FrontPanelValues panel;
  panel.Exaggeration = 2;
  EXPECT_TRUE(PlannedModelSize(panel).ZKnown);
  panel.ElevationAuto = true;
  EXPECT_FALSE(PlannedModelSize(panel).ZKnown);
}

// A plateau at 312 m with a hill of 900 m in the region, and beyond the region in the same tile
// a peak of 2000 m and a pit below the sea: the band is the region's own.
TEST(RegionBand, NothingIsClippedAtTheTopAndNothingFallsBeneathThePedestal) {
  test::TempDir root;
  std::filesystem::create_directories(root.Path() / "SRTM_3");
  test::WriteTile(root.Path() / "SRTM_3" / "N46E007.hgt", 1201, [](int row, int column) {
    if (row > 1000) return column > 1000 ? 2000 : -20;
    const int dr = row - 500;
    const int dc = column - 500;
    return dr * dr + dc * dc < 400 ? 900 : 312 + (column % 7 == 0 && row % 5 == 0 ? 1 : 0);
  });
  FrontPanelValues panel = test::RegionPanel(7.2F, 7.6F, 46.2F, 46.6F, 250);
  panel.XExtent = 100;
  panel.ZExtent = 20;
  panel.ZBasePercent = 10;
  panel.ElevationAuto = true;
  panel.StlFileName = (root.Path() / "band.stl").string();
  Workspace workspace(MakeDataFolders(root.Root()));
  test::RecordingHost host;
  ASSERT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, host), RunOutcome::Completed);
  EXPECT_EQ(host.pumps, 2) << "a pass for the band, then the model's";
  EXPECT_EQ(
      std::count(host.lines.begin(), host.lines.end(), "   Elevation Limits : 312   to   900 m"),
      1);
  float lowest = 1e9F;
  float highest = -1e9F;
  for (const test::StlFace& f : test::ReadStl(panel.StlFileName).faces) {
    lowest = std::min({lowest, f.a.z, f.b.z, f.c.z});
    highest = std::max({highest, f.a.z, f.b.z, f.c.z});
  }
  EXPECT_EQ(lowest, 2.0F) << "the plateau on the pedestal";
  EXPECT_EQ(highest, 20.0F) << "the hill at the top";
}

// Past a million triangles the advice names an error whose count keeps under it: half of 0.2 mm
// does; half of 0.01 mm does not, and a value stands instead.
TEST(ModelSizeLines, PastAMillionTrianglesAnErrorThatKeepsUnderIt) {
  FrontPanelValues panel = test::RegionPanel(7, 8, 46, 47, 30);
  panel.Z2 = 4000;
  panel.XExtent = 150;
  panel.ZExtent = 20;
  for (const auto& [layer, simpler] :
       {std::pair{0.2F, "auto"}, std::pair{0.01F, "2.00 (metres)"}}) {
    panel.LayerHeight = layer;
    const std::vector<std::string> lines = ModelSizeLines(ReadModelSettings(panel), '.');
    ASSERT_EQ(lines.size(), 2U);
    const std::string advice =
        "Slicers advise simplifying a model of more than 1000000 "
        "triangles; --max-error " +
        std::string(simpler);
    EXPECT_EQ(lines[1].rfind(advice, 0), 0U) << lines[1];
    EXPECT_LE(std::stold(lines[1].substr(lines[1].rfind(' '))), SlicerTriangles) << lines[1];
  }
}

}  // namespace
}  // namespace orolith
