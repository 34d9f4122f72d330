#include "frontpanel/ModelSettings.h"
#include "support/RecordingHost.h"
#include "tiles/TileSource.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace orolith {
namespace {

TEST(FieldValue, ReadsNumbersClampedAndAnythingElseAsTheMinimum) {
  const FieldLimits& lon = fields::Longitude;
  EXPECT_EQ(ReadFieldValue("179.5", lon, '.'), 179.5F);
  EXPECT_EQ(ReadFieldValue("abc", lon, '.'), -180.0F);
  EXPECT_EQ(ReadFieldValue("", lon, '.'), -180.0F);
  EXPECT_EQ(ReadFieldValue("12,5", lon, '.'), -180.0F);
  EXPECT_EQ(ReadFieldValue("12,5", lon, ','), 12.5F);
  EXPECT_EQ(ReadFieldValue("200", lon, '.'), 180.0F);
  EXPECT_EQ(ReadFieldValue("-1e9", lon, '.'), -180.0F);
  EXPECT_EQ(ReadFieldValue("0.1", lon, '.'), 0.1F);  // rounded to single precision
  EXPECT_EQ(ReadFieldValue("0", fields::ZExtent, '.'), 0.01F);

  const FieldLimits open{0, 0, 1, "%.0f", 0};  // equal limits: no limits at all
  EXPECT_EQ(ReadFieldValue("1e6", open, '.'), 1e6F);
  EXPECT_EQ(ReadFieldValue("-7", open, '.'), -7.0F);
  EXPECT_EQ(ReadFieldValue("1e39", open, '.'), FLT_MAX);  // beyond single: read, not failed
  EXPECT_EQ(ReadFieldValue("x", open, '.'), 0.0F);
}

TEST(FieldValue, FormatsTheClampedValueWithTheFieldsFormat) {
  EXPECT_EQ(FormatFieldValue(200, fields::Longitude, '.'), "180.000000");
  EXPECT_EQ(FormatFieldValue(-180, fields::Longitude, ','), "-180,000000");
  EXPECT_EQ(FormatFieldValue(0, fields::ZExtent, '.'), "0.010");
  EXPECT_EQ(FormatFieldValue(1000, fields::ElevationHigh, '.'), "1000");
  EXPECT_EQ(FormatFieldValue(12.25F, fields::ZBase, ','), "12,2");
  const FieldLimits open{0, 0, 1, "%.0f", 0};
  EXPECT_EQ(FormatFieldValue(1e6F, open, '.'), "1000000");
}

TEST(ReadModelSettings, OrdersEachPairAndWidensANarrowRegionOrBand) {
  FrontPanelValues panel;
  panel.Long1 = 12;
  panel.Long2 = 11;
  panel.Lat1 = 5;
  panel.Lat2 = std::nextafter(5.0F, 6.0F);  // 4.8e-7 apart: too narrow
  panel.Z1 = 800;
  panel.Z2 = 200;
  panel.XYPixelSize = 100.5F;
  panel.StlFileName = "out.stl";
  panel.BlockSrtm3 = true;
  ModelSettings s = ReadModelSettings(panel);
  EXPECT_EQ(s.LonMin, 11);
  EXPECT_EQ(s.LonMax, 12);
  EXPECT_EQ(s.LatMin, 5);
  EXPECT_EQ(s.LatMax, 5.001L);
  EXPECT_EQ(s.ZMin, 200);
  EXPECT_EQ(s.ZMax, 800);
  EXPECT_EQ(s.XYResolution, 100);  // halves go to the even neighbour
  EXPECT_EQ(s.XYPixelSize, 100.5F);
  EXPECT_EQ(s.StlFileName, "out.stl");
  EXPECT_TRUE(s.BlockSrtm3);
  EXPECT_FALSE(s.BlockSrtm1);

  panel.Long1 = panel.Long2 = 10;
  panel.Z1 = panel.Z2 = 500;
  panel.Lat2 = 5.5F;
  panel.XYPixelSize = 101.5F;
  s = ReadModelSettings(panel);
  EXPECT_EQ(s.LonMin, 10);
  EXPECT_EQ(s.LonMax, 10.001L);
  EXPECT_EQ(s.LatMax, 5.5L);
  EXPECT_EQ(s.ZMin, 500);
  EXPECT_EQ(s.ZMax, 501);
  EXPECT_EQ(s.XYResolution, 102);
  EXPECT_FALSE(s.Solid);
  EXPECT_EQ(s.FloorPercent, 5.0F);

  panel.Solid = true;
  panel.FloorPercent = 7.5F;
  s = ReadModelSettings(panel);
  EXPECT_TRUE(s.Solid);
  EXPECT_EQ(s.FloorPercent, 7.5F);

  panel.MaxError = 0.25F;
  s = ReadModelSettings(panel);
  EXPECT_EQ(s.MaxError, 0.25F);
}

TEST(LogConfigurationSummary, WritesTheTwelveLinesOfTheInitialPanel) {
  test::RecordingHost host;
  LogConfigurationSummary(ReadModelSettings(FrontPanelValues{}), host);
  ASSERT_EQ(host.lines.size(), 12U);
  const std::string timeStamp = host.lines[3].substr(std::string("Front Panel Controls ").size());
  EXPECT_EQ(host.lines[3].rfind("Front Panel Controls ", 0), 0U);
  EXPECT_NE(timeStamp.find(' '), std::string::npos) << "time, a blank, then the date";
  host.lines[3] = "(time)";
  const std::vector<std::string> expected = {
      "*************************",
      "  Configuration Summary ",
      "*************************",
      "(time)",
      "   Longitude Limits : 0.000000   to   0.001000 degrees",
      "   Latitude Limits  : 0.000000   to   0.001000 degrees",
      "   Elevation Limits : 0   to   1000 m",
      "   XY Resolution of STL Output : 100 meters",
      "   X, Z Extents of STL file : 5.000  1.000 respectively",
      "   Pedestal is 0.00 percent of the Z extent",
      "   STL Filename : NewFile.stl",
      " * * * * * * * * * * * * * * * * *",
  };
  EXPECT_EQ(host.lines, expected);

  test::RecordingHost comma(',');
  FrontPanelValues panel;
  panel.Long1 = -71.5F;
  panel.ZBasePercent = 12.5F;
  LogConfigurationSummary(ReadModelSettings(panel), comma);
  EXPECT_EQ(comma.lines[4], "   Longitude Limits : -71,500000   to   0,000000 degrees");
  EXPECT_EQ(comma.lines[9], "   Pedestal is 12,50 percent of the Z extent");
  EXPECT_EQ(comma.lines.size(), 12U) << "a floor alone is no solid";

  // A closed solid adds one line after the pedestal's.
  panel.Solid = true;
  panel.FloorPercent = 2.5F;
  comma.lines.clear();
  LogConfigurationSummary(ReadModelSettings(panel), comma);
  ASSERT_EQ(comma.lines.size(), 13U);
  EXPECT_EQ(comma.lines[10], "   Closed solid, floor 2,50 percent of the Z extent");
  EXPECT_EQ(comma.lines[11].rfind("   STL Filename : ", 0), 0U);

  // An adaptive surface adds one line more, after the solid's; the regular grid none.
  struct Row {
    float maxError;
    bool solid;
    std::vector<std::string> added;
  };
  const Row rows[] = {
      {0, false, {}},
      {1.5F, false, {"   Adaptive surface, max. error 1,50 m"}},
      {0.004F,
       true,
       {"   Closed solid, floor 2,50 percent of the Z extent",
        "   Adaptive surface, max. error 0,01 m"}},
  };
  for (const Row& row : rows) {
    panel.MaxError = row.maxError;
    panel.Solid = row.solid;
    comma.lines.clear();
    LogConfigurationSummary(ReadModelSettings(panel), comma);
    ASSERT_EQ(comma.lines.size(), 12U + row.added.size()) << row.maxError;
    EXPECT_EQ(std::vector<std::string>(comma.lines.begin() + 10, comma.lines.end() - 2), row.added);
  }

  panel.MaxError = 0;
  // Blocked Copernicus tiles and the user's raster each add theirs before the file name's.
  panel.BlockCop30 = true;
  panel.DemFile = "/maps/lidar 1m.tif";
  comma.lines.clear();
  const ModelSettings settings = ReadModelSettings(panel);
  LogConfigurationSummary(settings, comma);
  ASSERT_EQ(comma.lines.size(), 15U);
  EXPECT_EQ(comma.lines[11], "   Use of Copernicus GLO-30 Data blocked");
  EXPECT_EQ(comma.lines[12], "   DEM File : /maps/lidar 1m.tif");
  EXPECT_TRUE(settings.Blocks().Cop30);
  EXPECT_FALSE(settings.Blocks().Srtm1 || settings.Blocks().Srtm3 || settings.Blocks().Srtm30);
}

TEST(StartupLines, NameTheRootItsOriginAndTheHint) {
  const DataFolders folders = MakeDataFolders("/maps");
  const std::vector<std::string> fromCwd = StartupLines(folders, RootOrigin::ExecutionDirectory);
  const std::vector<std::string> expected = {
      "Marlowen Orolith 20130304",
      "DataRoot taken from execution directory : /maps/",
      "SRTM-1 Files should be in /maps/SRTM_1/",
      "SRTM-3 Files should be in /maps/SRTM_3/",
      "SRTM-30 Files <from Gridcaster> should be in /maps/SRTM_30/",
      "To use an alternative DataRoot directory, rerun Orolith with the following added to the "
      "command line in shortcut",
      " ",
      "        DataRoot=<insert_path_here> use double-quotes to enclose if there are spaces",
      "  e.g.  DataRoot=\"c:\\My Directory\\OroFiles\\\" ",
      "  ",
  };
  EXPECT_EQ(fromCwd, expected);
  EXPECT_EQ(fromCwd[8].size(), 45U);
  for (const auto& [origin, line] : std::vector<std::pair<RootOrigin, std::string>>{
           {RootOrigin::CommandLine, "DataRoot taken from command line argument : /maps/"},
           {RootOrigin::Chooser, "DataRoot taken from folder chooser : /maps/"},
           {RootOrigin::SavedSettings, "DataRoot taken from saved settings : /maps/"}}) {
    EXPECT_EQ(StartupLines(folders, origin)[1], line);
    EXPECT_EQ(DataRootLines(folders, origin),
              (std::vector<std::string>{line, expected[2], expected[3], expected[4]}));
  }
}

}  // namespace
}  // namespace orolith
