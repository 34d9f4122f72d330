#include "acquisition/Coverage.h"
#include "base/Errors.h"
#include "model/SizeEstimate.h"
#include "support/DataRoot.h"
#include "support/Rasters.h"
#include "support/RecordingHost.h"
#include "support/TempFiles.h"
#include "tiles/Copernicus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::RecordingHost;
using test::TempDir;

// The summary block is 12 lines; the check's own lines follow it.
constexpr std::size_t SummaryLines = 12;

class CoverageTest : public ::testing::Test {
 protected:
  void Put(const char* folder, const std::string& name, std::size_t bytes = 0) {
    test::WriteBytes(root.Path() / folder / name, std::vector<unsigned char>(bytes, 7));
  }

  void Region(float lon1, float lon2, float lat1, float lat2) {
    test::SetRegion(panel, lon1, lon2, lat1, lat2);
  }

  std::vector<std::string> Check(char separator = '.') {
    host.lines.clear();
    host.UseSeparator(separator);
    CheckTileCoverage(ReadModelSettings(panel), workspace, host);
    EXPECT_GT(host.lines.size(), SummaryLines);
    EXPECT_EQ(host.pumps, 0);  // the check lets nothing else run
    EXPECT_TRUE(host.questions.empty());
    return {host.lines.begin() + SummaryLines, host.lines.end()};
  }

  test::DataRoot root;
  Workspace workspace{root.Folders()};
  FrontPanelValues panel;
  RecordingHost host;
};

TEST_F(CoverageTest, ReportsEachTileOnceFromTheFirstFolderThatHasIt) {
  // Sizes don't matter here: an empty file with the right name is a tile found.
  Put("SRTM_1", "N10W006.hgt");
  Put("SRTM_3", "N10W006.hgt", 2884802);
  Put("SRTM_3", "N11W006.hgt", 5);
  Put("SRTM_30", "N10W005.hgt");
  Region(-5.0F, -4.0F, 10.0F, 11.0F);  // inside one tile, but whole-degree bounds bring in four

  EXPECT_EQ(Check(),
            (std::vector<std::string>{
                "*********************",
                "  File Verification ",
                "*********************",
                "N10W006.hgt : found as SRTM-1 file (30 m X-Y resolution)",
                "N11W006.hgt : found as SRTM-3 file (100 m X-Y resolution)",
                "N10W005.hgt : found as SRTM-30 file (1000 m X-Y resolution)",
                "N11W005.hgt was not found ... consider installing",
                "This will create a file containing about 4000000 faces",
                "This will be about 200.0 MB in size",
                "Number of SRTM-1, SRTM-3, SRTM-30 files found : 1,  1, and 1, respectively",
                "  There are 1 missing files",
            }));
  // The summary comes first.
  EXPECT_EQ(host.lines[0], "*************************");
  EXPECT_EQ(host.lines[4], "   Longitude Limits : -5.000000   to   -4.000000 degrees");

  panel.BlockSrtm1 = true;
  std::vector<std::string> lines = Check();
  EXPECT_EQ(lines[3], "N10W006.hgt : found as SRTM-3 file (100 m X-Y resolution)");
  EXPECT_EQ(lines[9], "Number of SRTM-1, SRTM-3, SRTM-30 files found : 0,  2, and 1, respectively");

  panel.BlockSrtm3 = true;
  lines = Check();
  EXPECT_EQ(lines[3], "N10W006.hgt was not found ... consider installing");
  EXPECT_EQ(lines[9], "Number of SRTM-1, SRTM-3, SRTM-30 files found : 0,  0, and 1, respectively");
  EXPECT_EQ(lines[10], "  There are 3 missing files");

  // Missing data set to 0 m makes no difference to the check.
  panel.BlockSrtm30 = true;
  panel.MissedDataZero = true;
  lines = Check();
  for (std::size_t i = 3; i < 7; ++i) {
    EXPECT_NE(lines[i].find(" was not found ... consider installing"), std::string::npos);
  }
  EXPECT_EQ(lines[9], "Number of SRTM-1, SRTM-3, SRTM-30 files found : 0,  0, and 0, respectively");
  EXPECT_EQ(lines[10], "  There are 4 missing files");
}

TEST_F(CoverageTest, AllFoundEndsWithTheAllFoundLine) {
  Put("SRTM_3", "N46E007.hgt");
  Region(7.2F, 7.8F, 46.1F, 46.9F);  // one tile
  const std::vector<std::string> lines = Check();
  ASSERT_EQ(lines.size(), 8U);
  EXPECT_EQ(lines[3], "N46E007.hgt : found as SRTM-3 file (100 m X-Y resolution)");
  EXPECT_EQ(lines[6], "Number of SRTM-1, SRTM-3, SRTM-30 files found : 0,  1, and 0, respectively");
  EXPECT_EQ(lines[7], "All required SRTM files found");
}

TEST_F(CoverageTest, FolderNamedLikeATileIsNotATile) {
  std::filesystem::create_directories(root.Path() / "SRTM_1" / "N46E007.hgt");
  Put("SRTM_30", "N46E007.hgt");
  Region(7.2F, 7.8F, 46.1F, 46.9F);
  EXPECT_EQ(Check()[3], "N46E007.hgt : found as SRTM-30 file (1000 m X-Y resolution)");
}

TEST_F(CoverageTest, FoldersThatCantBeSearchedAreNotedApartFromTheLog) {
  Region(7.2F, 7.8F, 46.1F, 46.9F);
  const std::vector<std::string> found = Check();
  EXPECT_TRUE(host.notes.empty());

  // A file where a tile folder belongs; the log is the same, the note says why.
  std::filesystem::remove(root.Path() / "SRTM_3");
  test::WriteBytes(root.Path() / "SRTM_3", {});
  EXPECT_EQ(Check(), found);
  EXPECT_EQ(host.notes, std::vector<std::string>{"The folder \"" + root.Root() +
                                                 "SRTM_3/\" could not be read: Not a directory"});
  // A blocked folder is not searched, so it is no problem.
  host.notes.clear();
  panel.BlockSrtm3 = true;
  Check();
  EXPECT_TRUE(host.notes.empty());

  // A data root that is a file: one note for it, none for each of its folders.
  TempDir other;
  test::WriteBytes(other.Path() / "root", {});
  workspace.Folders = MakeDataFolders((other.Path() / "root").string());
  Check();
  EXPECT_EQ(host.notes, std::vector<std::string>{"The folder \"" + other.Root() +
                                                 "root/\" could not be read: Not a directory"});
}

TEST_F(CoverageTest, EstimateUsesTheUnroundedPixelSizeAndTheDecimalSeparator) {
  Region(7.0F, 7.5F, 46.0F, 46.25F);
  panel.XYPixelSize = 100.4F;  // rounds to 100 for the grid, not for the estimate
  const std::vector<std::string> lines = Check(',');
  // (100000 / 100.4)^2 * 0.5 * 4 * 0.25 = 496024.0...
  EXPECT_EQ(lines[lines.size() - 4], "This will create a file containing about 496024 faces");
  EXPECT_EQ(lines[lines.size() - 3], "This will be about 24,8 MB in size");
  EXPECT_EQ(host.lines[4], "   Longitude Limits : 7,000000   to   7,500000 degrees");
  EXPECT_EQ(host.lines[7], "   XY Resolution of STL Output : 100 meters");

  // An adaptive surface: the summary says so, and the estimate is the one the large-file
  // question asks with, far below the regular grid's.
  panel.MaxError = 5;
  const std::vector<std::string> adaptive = Check(',');
  EXPECT_EQ(host.lines[10], "   Adaptive surface, max. error 5,00 m");
  const std::string prefix = "This will create a file containing about ";
  const std::string& faces = adaptive[adaptive.size() - 4];
  ASSERT_EQ(faces.rfind(prefix, 0), 0U) << faces;
  const double shown = std::stod(faces.substr(prefix.size()));
  EXPECT_NEAR(shown, static_cast<double>(EstimateSize(ReadModelSettings(panel)).Faces), 0.5);
  EXPECT_LT(shown, 496024.0 / 4);
}

TEST_F(CoverageTest, WholeGlobeCountsBeyondSixteenBits) {
  Region(-180.0F, 180.0F, -90.0F, 90.0F);
  const std::vector<std::string> lines = Check();
  // Columns -181..180 and rows -91..90: 362 x 182 tiles, more than a 16-bit counter holds.
  const std::size_t tiles = 362 * 182;
  ASSERT_EQ(lines.size(), 3 + tiles + 4);
  EXPECT_EQ(lines[3], "S91W181.hgt was not found ... consider installing");
  EXPECT_EQ(lines[4], "S90W181.hgt was not found ... consider installing");
  EXPECT_EQ(lines[3 + 182], "S91W180.hgt was not found ... consider installing");
  EXPECT_EQ(lines[2 + tiles], "N90E180.hgt was not found ... consider installing");
  EXPECT_EQ(lines.back(), "  There are 65884 missing files");
}

// The check's own lines however long the summary is.
std::vector<std::string> AfterTheSummary(const std::vector<std::string>& lines) {
  const auto banner = std::find(lines.begin(), lines.end(), "  File Verification ");
  return {banner == lines.begin() ? banner : banner - 1, lines.end()};
}

TEST_F(CoverageTest, ACopernicusTileGoesByItsCornerAndIsCountedApart) {
  std::filesystem::create_directories(root.Path() / "COP30");
  Put("COP30", CopernicusTileName(20, 70));
  Put("SRTM_3", "N70E020.hgt");
  Put("SRTM_1", "N71E020.hgt");
  Region(20.25F, 20.75F, 70.25F, 71.75F);
  EXPECT_EQ(Check(),
            (std::vector<std::string>{
                "*********************",
                "  File Verification ",
                "*********************",
                "N70E020 : found as Copernicus GLO-30 file (30 m X-Y resolution)",
                "N71E020.hgt : found as SRTM-1 file (30 m X-Y resolution)",
                "This will create a file containing about 3000000 faces",
                "This will be about 150.0 MB in size",
                "Number of SRTM-1, SRTM-3, SRTM-30 files found : 1,  0, and 0, respectively",
                "Number of Copernicus GLO-30 files found : 1",
                "All required SRTM files found",
            }));

  panel.BlockCop30 = true;
  host.lines.clear();
  CheckTileCoverage(ReadModelSettings(panel), workspace, host);
  EXPECT_EQ(host.lines[SummaryLines - 2], "   Use of Copernicus GLO-30 Data blocked");
  const std::vector<std::string> lines = AfterTheSummary(host.lines);
  EXPECT_EQ(lines[3], "N70E020.hgt : found as SRTM-3 file (100 m X-Y resolution)");
  EXPECT_EQ(lines[7], "Number of SRTM-1, SRTM-3, SRTM-30 files found : 1,  1, and 0, respectively");
  EXPECT_EQ(lines[8], "All required SRTM files found");
}

TEST_F(CoverageTest, WithARasterTellsItsSizeSpacingAndShareOfTheRegion) {
  panel.DemFile = test::utm20s::WriteUtmPlane(root.Root());
  Region(-63.65F, -63.45F, -45.6F, -45.45F);
  host.lines.clear();
  CheckTileCoverage(ReadModelSettings(panel), workspace, host);
  EXPECT_EQ(host.lines[SummaryLines - 2], "   DEM File : " + panel.DemFile);
  const std::vector<std::string> lines = AfterTheSummary(host.lines);
  ASSERT_EQ(lines.size(), 10U);
  EXPECT_EQ(lines[3], "DEM file : " + panel.DemFile);
  EXPECT_EQ(lines[4], "   1200 x 1000 pixels, 30.0 m x 30.0 m apart");
  // The box round the raster's edge, which --region-from-dem makes the region.
  EXPECT_EQ(lines[5], "   Its extent : -63.770592   to   -63.306776 degrees longitude");
  EXPECT_EQ(lines[6], "                -45.693137   to   -45.420947 degrees latitude");
  EXPECT_EQ(lines[7], "   It covers 100.0 percent of the region");
  EXPECT_EQ(lines[8].substr(0, 37), "This will create a file containing ab");

  // A raster that can't be used ends the check before its first line.
  host.lines.clear();
  panel.DemFile = root.Root() + "absent.tif";
  EXPECT_THROW(CheckTileCoverage(ReadModelSettings(panel), workspace, host), FileError);
  EXPECT_TRUE(host.lines.empty());
}

TEST_F(CoverageTest, RealDataRootIsFoundInItsFolders) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E008.hgt");
  Workspace shared(MakeDataFolders(OROLITH_SHARED_DATA));
  Region(8.5F, 9.5F, 50.2F, 50.8F);
  CheckTileCoverage(ReadModelSettings(panel), shared, host);
  const std::vector<std::string> lines(host.lines.begin() + SummaryLines, host.lines.end());
  ASSERT_EQ(lines.size(), 9U);
  EXPECT_EQ(lines[3], "N50E008.hgt : found as SRTM-3 file (100 m X-Y resolution)");
  EXPECT_EQ(lines[4], "N50E009.hgt : found as SRTM-3 file (100 m X-Y resolution)");
  EXPECT_EQ(lines.back(), "All required SRTM files found");
}

// With the band to be found, the check reads the region's tiles as a model run would, says the
// range it found, which the summary shows as the band, and the size in millimetres.
TEST_F(CoverageTest, AnAutomaticBandIsFoundInTheTilesAndTheSizeSaidInMillimetres) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E008.hgt");
  Workspace shared(MakeDataFolders(OROLITH_SHARED_DATA));
  Region(8.5F, 9.5F, 50.2F, 50.8F);
  panel.ElevationAuto = true;
  panel.Scale = 100000;
  CheckTileCoverage(ReadModelSettings(panel), shared, host);
  EXPECT_EQ(host.pumps, 2) << "a tile at a time";
  const auto has = [&](const std::string& line) {
    return std::count(host.lines.begin(), host.lines.end(), line) == 1;
  };
  // Within the two tiles' own ranges, 62 .. 885 m and 98 .. 950 m (GDAL's crops: 96 .. 782 m).
  EXPECT_TRUE(has("   Elevation Limits : 96   to   782 m"));
  EXPECT_TRUE(has("Elevation in the region ranges from 96  to  782 m"));
  // A degree at 50.5 degrees north over 100,000: 70.95 km, 709.5 mm.
  EXPECT_TRUE(has("   X, Z Extents of STL file : 709.494  1.000 respectively"));
  EXPECT_TRUE(has("Model size : 709.5 x 669.3 x 1.0 mm, about 2399994 triangles"));
}

}  // namespace
}  // namespace orolith
