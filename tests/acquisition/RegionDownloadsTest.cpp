#include "acquisition/DownloadAndUnzip.h"
#include "acquisition/RegionDownloads.h"
#include "acquisition/TWinSystem.h"
#include "acquisition/TileMirrors.h"
#include "base/Errors.h"
#include "support/Archives.h"
#include "support/DataRoot.h"
#include "support/Rasters.h"
#include "support/RecordingHost.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"
#include "support/Tiles.h"
#include "tiles/Copernicus.h"
#include "tiles/TileSource.h"

namespace orolith {
namespace {

using Lines = std::vector<std::string>;

const std::string Srtm1Path = "/srtm/version2_1/SRTM1/Region_";
const std::string Srtm3Path = "/srtm/version2_1/SRTM3/";

class RegionDownloadsTest : public ::testing::Test {
 protected:
  RegionDownloadsTest() {
    // A copy of the archive on loopback, unless a test chooses another source.
    source.Layout = ArchiveLayout::SrtmV21;
    source.ArchiveHost = server.Host();
  }

  // A zipped tile whose content begins with its own name, served at path.
  void ServeTile(const std::string& path, const std::string& name) {
    server.Serve(path + name + ".zip", test::MakeZip(dir.Path() / "zips" / path.substr(1), name,
                                                     test::TileContent(name)));
  }
  // The log after the configuration summary.
  Lines Block() const {
    EXPECT_GE(host.lines.size(), 12U);
    EXPECT_EQ(host.lines.at(1), "  Configuration Summary ");
    return {host.lines.begin() + 12, host.lines.end()};
  }
  static void Miss(Lines& lines, const std::string& url) {
    lines.insert(lines.end(), {"trying to find " + url, "Attempting to Download : " + url,
                               "Download failed for some reason"});
  }
  static void Hit(Lines& lines, const std::string& url, const std::string& archive) {
    lines.insert(lines.end(),
                 {"trying to find " + url, "Attempting to Download : " + url,
                  "Download completed, attempting to save to : " + archive,
                  "Download successful, ... trying to unzip with " + ArchiverArguments(archive)});
  }
  static void Banner(Lines& lines, const char* title) {
    lines.insert(lines.end(), {"*********************", title, "*********************"});
  }
  std::string Url(const std::string& path) const { return server.Url(path); }
  // Runs one of the two downloads over the region with the given decimal separator.
  template <typename Operation>
  void Download(Operation operation, const FrontPanelValues& region, char separator) {
    host.UseSeparator(separator);
    lastOutcome = operation(ReadModelSettings(region), workspace, host);
  }

  test::TestServer server;
  test::TempDir dir;
  test::DataRoot root;
  Workspace workspace{root.Folders()};
  const DataFolders& folders = workspace.Folders;
  DownloadFolders& remembered = workspace.Remembered;
  ArchiveSource& source = workspace.Source;
  test::RecordingHost host;
  DownloadOutcome lastOutcome;
};

TEST_F(RegionDownloadsTest, Srtm1TileNoRegionHoldsCostsEightAttempts) {
  Download(DownloadSrtm1Files, test::RegionPanel(6.2F, 6.8F, 45.2F, 45.8F), ',');
  Lines expected;
  Banner(expected, "  SRTM-1 File Downloads ");
  Lines paths;
  for (const char* folder : {"01/", "01/", "02/", "03/", "04/", "05/", "06/", "07/"}) {
    paths.push_back(Srtm1Path + folder + "N45E006.hgt.zip");
    Miss(expected, Url(paths.back()));
  }
  expected.insert(expected.end(),
                  {"N45E006.hgt was not found ... consider installing SRTM-3 or SRTM-30",
                   "There were 0 pre-existing SRTM-1 files found",
                   "There were 0 SRTM-1 files downloaded", "There are 1 missing SRTM-1 files"});
  EXPECT_EQ(Block(), expected);
  EXPECT_EQ(server.Requests(), paths);
  EXPECT_EQ(host.pumps, 1);
  EXPECT_EQ(remembered.Srtm1RegionFolders[0], "01/");
}

TEST_F(RegionDownloadsTest, Srtm3TileNoContinentHoldsCostsSevenAttempts) {
  Download(DownloadSrtm3Files, test::RegionPanel(6.2F, 6.8F, 45.2F, 45.8F), '.');
  Lines expected;
  Banner(expected, "  SRTM-3 File Downloads ");
  Lines paths;
  for (const char* folder : {"Africa/", "Africa/", "Australia/", "Eurasia/", "Islands/",
                             "North_America/", "South_America/"}) {
    paths.push_back(Srtm3Path + folder + "N45E006.hgt.zip");
    Miss(expected, Url(paths.back()));
  }
  expected.insert(expected.end(),
                  {"N45E006.hgt was not found ... consider installing SRTM-1 or SRTM-30",
                   "There were 0 pre-existing SRTM-3 files found",
                   "There were 0 SRTM-3 files downloaded", "There are 1 missing SRTM-3 files"});
  EXPECT_EQ(Block(), expected);
  EXPECT_EQ(server.Requests(), paths);
}

TEST_F(RegionDownloadsTest, Srtm1RemembersTheRegionThatDeliveredLast) {
  ServeTile(Srtm1Path + "01/", "N45E006.hgt");
  ServeTile(Srtm1Path + "03/", "N46E006.hgt");
  ServeTile(Srtm1Path + "03/", "N45E007.hgt");
  Download(DownloadSrtm1Files, test::RegionPanel(6, 7, 45, 46), '.');

  const auto archive = [&](const std::string& name) { return folders.Srtm1Dir + name + ".zip"; };
  Lines expected;
  Banner(expected, "  SRTM-1 File Downloads ");
  Hit(expected, Url(Srtm1Path + "01/N45E006.hgt.zip"), archive("N45E006.hgt"));
  expected.push_back("SRTM-1 data found in Region # 1");
  for (const char* folder : {"01/", "01/", "02/"}) {
    Miss(expected, Url(Srtm1Path + folder + "N46E006.hgt.zip"));
  }
  Hit(expected, Url(Srtm1Path + "03/N46E006.hgt.zip"), archive("N46E006.hgt"));
  expected.push_back("SRTM-1 data found in Region # 3");
  Hit(expected, Url(Srtm1Path + "03/N45E007.hgt.zip"), archive("N45E007.hgt"));
  expected.push_back("SRTM-1 data found in Region # 3");
  for (const char* folder : {"03/", "01/", "02/", "03/", "04/", "05/", "06/", "07/"}) {
    Miss(expected, Url(Srtm1Path + folder + "N46E007.hgt.zip"));
  }
  expected.insert(expected.end(),
                  {"N46E007.hgt was not found ... consider installing SRTM-3 or SRTM-30",
                   "There were 0 pre-existing SRTM-1 files found",
                   "There were 3 SRTM-1 files downloaded", "There are 1 missing SRTM-1 files"});
  EXPECT_EQ(Block(), expected);
  EXPECT_EQ(host.pumps, 4);
  EXPECT_EQ(remembered.Srtm1RegionFolders[0], "03/");
  EXPECT_EQ(remembered.Srtm1RegionFolders[1], "01/");
  for (const char* name : {"N45E006.hgt", "N46E006.hgt", "N45E007.hgt"}) {
    EXPECT_TRUE(test::Holds(folders.Srtm1Dir + name, test::TileContent(name)));
  }
}

TEST_F(RegionDownloadsTest, Srtm3RemembersTheContinentAcrossRuns) {
  ServeTile(Srtm3Path + "Eurasia/", "N45E006.hgt");
  ServeTile(Srtm3Path + "Eurasia/", "N44E006.hgt");
  test::WriteText(folders.Srtm3Dir + "N46E006.hgt", "here");
  Download(DownloadSrtm3Files, test::RegionPanel(6.5F, 6.5F, 45.5F, 46.5F), '.');
  Lines expected;
  Banner(expected, "  SRTM-3 File Downloads ");
  for (const char* folder : {"Africa/", "Africa/", "Australia/"}) {
    Miss(expected, Url(Srtm3Path + folder + "N45E006.hgt.zip"));
  }
  Hit(expected, Url(Srtm3Path + "Eurasia/N45E006.hgt.zip"), folders.Srtm3Dir + "N45E006.hgt.zip");
  expected.insert(expected.end(),
                  {"SRTM-3 data found in Region Eurasia/",
                   "N46E006.hgt : already available as SRTM-3 file (100 m X-Y resolution)",
                   "There were 1 pre-existing SRTM-3 files found",
                   "There were 1 SRTM-3 files downloaded", "There are 0 missing SRTM-3 files"});
  EXPECT_EQ(Block(), expected);
  EXPECT_TRUE(test::Holds(folders.Srtm3Dir + "N45E006.hgt", test::TileContent("N45E006.hgt")));

  // A later run with the same lists starts in the continent that delivered last.
  host.lines.clear();
  const std::size_t before = server.Requests().size();
  Download(DownloadSrtm3Files, test::RegionPanel(6.5F, 6.5F, 44.5F, 44.5F), '.');
  EXPECT_EQ(server.Requests().size(), before + 1);
  EXPECT_EQ(Block().at(3), "trying to find " + Url(Srtm3Path + "Eurasia/N44E006.hgt.zip"));
  EXPECT_EQ(Block().at(9), "There were 1 SRTM-3 files downloaded");
  EXPECT_EQ(remembered.Srtm3RegionFolders[0], "Eurasia/");
}

TEST_F(RegionDownloadsTest, PresentTilesAreNotFetchedButOnlyTheirOwnKindCounts) {
  // Whole-degree bounds bring in the tiles west and south of them.
  for (const char* name : {"N45W124.hgt", "N46W124.hgt", "N45W123.hgt", "N46W123.hgt"}) {
    test::WriteText(folders.Srtm1Dir + name, "x");
  }
  Download(DownloadSrtm1Files, test::RegionPanel(-123, -122, 45, 46), '.');
  Lines expected;
  Banner(expected, "  SRTM-1 File Downloads ");
  for (const char* name : {"N45W124.hgt", "N46W124.hgt", "N45W123.hgt", "N46W123.hgt"}) {
    expected.push_back(std::string(name) +
                       " : already available as SRTM-1 file (30 m X-Y resolution)");
  }
  expected.insert(expected.end(),
                  {"There were 4 pre-existing SRTM-1 files found",
                   "There were 0 SRTM-1 files downloaded", "There are 0 missing SRTM-1 files"});
  EXPECT_EQ(Block(), expected);
  EXPECT_TRUE(server.Requests().empty());

  // The same tiles as SRTM-1 only don't count for SRTM-3.
  host.lines.clear();
  Download(DownloadSrtm3Files, test::RegionPanel(-123.5F, -123.5F, 45.5F, 45.5F), '.');
  EXPECT_EQ(server.Requests().size(), 7U);
  EXPECT_EQ(host.lines.back(), "There are 1 missing SRTM-3 files");
}

TEST_F(RegionDownloadsTest, ArchiveLeftByAnEarlierRunCountsAsDownloaded) {
  remembered.Srtm1RegionFolders[0] = "05/";
  std::filesystem::copy_file(test::MakeZip(dir.Path(), "N45E006.hgt", test::TileContent("earlier")),
                             folders.Srtm1Dir + "N45E006.hgt.zip");
  Download(DownloadSrtm1Files, test::RegionPanel(6.5F, 6.5F, 45.5F, 45.5F), '.');
  const Lines block = Block();
  ASSERT_EQ(block.size(), 3U + 3 + 4);
  EXPECT_EQ(block[3], "trying to find " + Url(Srtm1Path + "05/N45E006.hgt.zip"));
  EXPECT_EQ(block[6], "SRTM-1 data found in Region # 5");
  EXPECT_EQ(block[8], "There were 1 SRTM-1 files downloaded");
  EXPECT_TRUE(test::Holds(folders.Srtm1Dir + "N45E006.hgt", test::TileContent("earlier")));
}

TEST_F(RegionDownloadsTest, UnwritableArchiveOrMissingArchiverEndsTheRun) {
  ServeTile(Srtm3Path + "Australia/", "N45E006.hgt");
  {
    // As a full disk would.
    const test::FileSizeLimit full(16);
    EXPECT_THROW(Download(DownloadSrtm3Files, test::RegionPanel(6, 7.5F, 45, 45.5F), '.'),
                 FileError);
  }
  EXPECT_EQ(host.lines.back(),
            "Download completed, attempting to save to : " + folders.Srtm3Dir + "N45E006.hgt.zip");
  EXPECT_EQ(server.Requests().size(), 3U);
  EXPECT_EQ(remembered.Srtm3RegionFolders[0], "Africa/");

  ServeTile(Srtm1Path + "02/", "N45E006.hgt");
  const auto empty = dir.Path() / "empty";
  std::filesystem::create_directories(empty);
  const test::ScopedEnvironment path("PATH", empty.string());
  host.lines.clear();
  EXPECT_THROW(Download(DownloadSrtm1Files, test::RegionPanel(6, 6.5F, 45, 45.5F), '.'),
               SystemError);
  EXPECT_EQ(host.lines.back(), "Download successful, ... trying to unzip with " +
                                   ArchiverArguments(folders.Srtm1Dir + "N45E006.hgt.zip"));
  EXPECT_EQ(remembered.Srtm1RegionFolders[0], "01/");
  EXPECT_TRUE(std::filesystem::exists(folders.Srtm1Dir + "N45E006.hgt.zip"));
}

// The mirrors: one address per tile and no folder walk, the archive's lines otherwise.
TEST_F(RegionDownloadsTest, EsaMirrorCostsOneRequestPerMissingTile) {
  for (const char* name : {"N45E006", "N45E007"}) {
    server.Serve(
        std::string("/esa/") + name + ".SRTMGL1.hgt.zip",
        test::MakeZip(dir.Path() / name, std::string(name) + ".hgt", test::TileContent(name)));
  }
  test::WriteText(folders.Srtm1Dir + "N46E006.hgt", "here");
  source.Layout = ArchiveLayout::Esa;
  source.TileUrl = Url("/esa/");
  Download(DownloadSrtm1Files, test::RegionPanel(6.5F, 7.5F, 45.5F, 46.5F), '.');

  const auto fetched = [&](Lines& lines, const std::string& name) {
    const std::string archive = folders.Srtm1Dir + name + ".hgt.zip";
    lines.insert(lines.end(),
                 {"Attempting to Download : " + Url("/esa/" + name + ".SRTMGL1.hgt.zip"),
                  "Download completed, attempting to save to : " + archive,
                  "Download successful, ... trying to unzip with " + ArchiverArguments(archive)});
  };
  Lines expected;
  Banner(expected, "  SRTM-1 File Downloads ");
  fetched(expected, "N45E006");
  expected.push_back("N46E006.hgt : already available as SRTM-1 file (30 m X-Y resolution)");
  fetched(expected, "N45E007");
  expected.insert(expected.end(),
                  {"Attempting to Download : " + Url("/esa/N46E007.SRTMGL1.hgt.zip"),
                   "Download failed for some reason",
                   "N46E007.hgt was not found ... consider installing SRTM-3 or SRTM-30",
                   "There were 1 pre-existing SRTM-1 files found",
                   "There were 2 SRTM-1 files downloaded", "There are 1 missing SRTM-1 files"});
  EXPECT_EQ(Block(), expected);
  EXPECT_EQ(server.Requests(),
            (Lines{"/esa/N45E006.SRTMGL1.hgt.zip", "/esa/N45E007.SRTMGL1.hgt.zip",
                   "/esa/N46E007.SRTMGL1.hgt.zip"}));
  EXPECT_EQ(host.notes, Lines{Url("/esa/N46E007.SRTMGL1.hgt.zip") + ": HTTP status 404"});
  EXPECT_EQ(host.pumps, 4);
  EXPECT_TRUE(test::Holds(folders.Srtm1Dir + "N45E006.hgt", test::TileContent("N45E006")));
  EXPECT_TRUE(test::Holds(folders.Srtm1Dir + "N45E007.hgt", test::TileContent("N45E007")));
  EXPECT_EQ(remembered.Srtm1RegionFolders[0], "01/");
}

TEST_F(RegionDownloadsTest, AwsMirrorFilesTilesByLatitudeAndAnswers403ForNone) {
  // Either way a gzip may name what it holds: in its header, or by its own name.
  server.Serve("/skadi/S02/S02W074.hgt.gz",
               test::MakeGzip(dir.Path(), "S02W074.hgt", test::TileContent("S02W074"), false));
  server.Serve("/skadi/S02/S02W073.hgt.gz",
               test::MakeGzip(dir.Path(), "S02W073.hgt", test::TileContent("S02W073"), true));
  source.Layout = ArchiveLayout::Aws;
  source.TileUrl = Url("/s3/skadi/");
  Download(DownloadSrtm1Files, test::RegionPanel(-73.5F, -72.5F, -1.5F, -0.5F), '.');

  const Lines block = Block();
  ASSERT_EQ(block.size(), 3U + 3 + 3 + 3 + 3 + 3);
  EXPECT_EQ(block[3], "Attempting to Download : " + Url("/s3/skadi/S02/S02W074.hgt.gz"));
  EXPECT_EQ(block[5], "Download successful, ... trying to unzip with " +
                          ArchiverArguments(folders.Srtm1Dir + "S02W074.hgt.gz"));
  EXPECT_EQ(block[7], "Download failed for some reason");
  EXPECT_EQ(block[8], "S01W074.hgt was not found ... consider installing SRTM-3 or SRTM-30");
  EXPECT_EQ(block.back(), "There are 2 missing SRTM-1 files");
  EXPECT_EQ(host.notes, (Lines{Url("/s3/skadi/S01/S01W074.hgt.gz") + ": HTTP status 403",
                               Url("/s3/skadi/S01/S01W073.hgt.gz") + ": HTTP status 403"}));
  EXPECT_TRUE(test::Holds(folders.Srtm1Dir + "S02W074.hgt", test::TileContent("S02W074")));
  EXPECT_TRUE(test::Holds(folders.Srtm1Dir + "S02W073.hgt", test::TileContent("S02W073")));
}

// Tiles near the pole, where a Copernicus tile is small: at 5 E none in the bucket, at 6 E one
// in the folder already, at 7 E the bucket's tile, at 8 E bytes that are no tile.
TEST_F(RegionDownloadsTest, CopernicusTilesAreCheckedBeforeTheyArePutInCop30) {
  const auto path = [](int lon) {
    const std::string name = CopernicusTileName(lon, 86);
    return name.substr(0, name.size() - 4) + "/" + name;
  };
  const std::string served = test::WriteCopernicusTile(
      dir.Root(), 7, 86, [](double lon, double lat) { return lon + lat; }, "COG");
  server.Serve("/bucket/" + path(7), served);
  test::WriteText(dir.Path() / "junk.tif", "no tile");
  server.Serve("/bucket/" + path(8), dir.Path() / "junk.tif");
  std::filesystem::create_directories(folders.Cop30Dir);
  test::WriteText(folders.Cop30Dir + CopernicusTileName(6, 86), "here");
  source.Layout = ArchiveLayout::Copernicus;
  source.TileUrl = Url("/s3/bucket/");
  Download(DownloadSrtm1Files, test::RegionPanel(5.5F, 8.5F, 86.2F, 86.8F), '.');

  const Lines block = Block();
  ASSERT_EQ(block.size(), 3U + 3 + 1 + 2 + 3 + 3);
  EXPECT_EQ(block[1], "  Copernicus GLO-30 File Downloads ");
  EXPECT_EQ(block[3], "Attempting to Download : " + Url("/s3/bucket/" + path(5)));
  EXPECT_EQ(block[5], CopernicusTileName(5, 86) +
                          " was not found ... consider installing SRTM-1, SRTM-3 or SRTM-30");
  EXPECT_EQ(block[6], CopernicusTileName(6, 86) +
                          " : already available as Copernicus GLO-30 file (30 m X-Y resolution)");
  EXPECT_EQ(block[8], "Download completed, attempting to save to : " + folders.Cop30Dir +
                          CopernicusTileName(7, 86));
  // The bytes that failed are not on disk: they go by where they came from.
  const std::string failed = "Checking failed: Cannot open file \"" + Url("/s3/bucket/" + path(8));
  EXPECT_EQ(block[10].substr(0, failed.size() + 3), failed + "\". ");
  EXPECT_EQ(block[12], "There were 1 pre-existing Copernicus GLO-30 files found");
  EXPECT_EQ(block[13], "There were 1 Copernicus GLO-30 files downloaded");
  EXPECT_EQ(block[14], "There are 2 missing Copernicus GLO-30 files");
  EXPECT_EQ(server.Requests(),
            (Lines{"/s3/bucket/" + path(5), "/s3/bucket/" + path(7), "/s3/bucket/" + path(8)}));
  EXPECT_EQ(test::FolderEntries(folders.Cop30Dir),
            (Lines{CopernicusTileName(6, 86), CopernicusTileName(7, 86)}));
  EXPECT_TRUE(test::ReadBytes(folders.Cop30Dir + CopernicusTileName(7, 86)) ==
              test::ReadBytes(served));
  // The bucket lacks the tile at 5 E: done; the bytes at 8 E are not.
  ASSERT_EQ(lastOutcome.Failed.size(), 1U);
  EXPECT_EQ(lastOutcome.Failed[0].Tile, CopernicusTileName(8, 86));
  EXPECT_FALSE(std::filesystem::exists(folders.Srtm1Dir + "N86E007.hgt"));

  // A tile larger than a transfer may bring is never written.
  std::filesystem::remove(folders.Cop30Dir + CopernicusTileName(7, 86));
  source.Limits.MaxBodyBytes = 1000;
  host.lines.clear();
  Download(DownloadSrtm1Files, test::RegionPanel(7.2F, 7.8F, 86.2F, 86.8F), '.');
  EXPECT_EQ(lastOutcome.Failed.size(), 1U);
  EXPECT_EQ(test::FolderEntries(folders.Cop30Dir), Lines{CopernicusTileName(6, 86)});
}

// A COP30 that is no folder can't be made one: no tile is fetched only to find that out.
TEST_F(RegionDownloadsTest, ACopernicusTileIsNotFetchedWhileItsFolderCantBe) {
  server.Serve(CopernicusTileUrl("/bucket/", 7, 86),
               test::WriteCopernicusTile(
                   dir.Root(), 7, 86, [](double, double) { return 1.0; }, "COG"));
  test::WriteText(folders.Cop30Dir.substr(0, folders.Cop30Dir.size() - 1), "no folder");
  source.Layout = ArchiveLayout::Copernicus;
  source.TileUrl = Url("/bucket/");
  try {
    Download(DownloadSrtm1Files, test::RegionPanel(7.2F, 7.8F, 86.2F, 86.8F), '.');
    ADD_FAILURE() << "downloaded";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + folders.Cop30Dir +
                                             CopernicusTileName(7, 86) + "\". Not a directory");
  }
  EXPECT_TRUE(server.Requests().empty());
}

// From a mirror, each SRTM-3 tile is every third sample of its SRTM-1 tile, which does not stay.
TEST_F(RegionDownloadsTest, Srtm3TilesFromAMirrorAreMadeFromItsSrtm1Tiles) {
  const auto sample = [](int row, int column) { return row == 3 ? -32768 : row * 7 + column; };
  test::WriteTile(dir.Path() / "N45E006.hgt", 3601, sample);
  server.Serve(
      "/esa/N45E006.SRTMGL1.hgt.zip",
      test::MakeZip(dir.Path(), "N45E006.hgt", test::ReadText(dir.Path() / "N45E006.hgt")));
  source.Layout = ArchiveLayout::Esa;
  source.TileUrl = Url("/esa/");
  Download(DownloadSrtm3Files, test::RegionPanel(6.5F, 6.5F, 45.5F, 45.5F), '.');
  EXPECT_EQ(Block().at(6),
            "N45E006.hgt : made as SRTM-3 file (100 m X-Y resolution) from every third sample");
  EXPECT_EQ(test::FolderEntries(folders.Srtm3Dir), Lines{"N45E006.hgt"});
  TSRTM made;
  made.LoadFromFile(folders.Srtm3Dir + "N45E006.hgt", 6, 45);
  ASSERT_EQ(made.Kind(), TileKind::Srtm3);
  for (const auto& [row, column] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{1200, 1200}}) {
    EXPECT_EQ(made.Sample(row, column), sample(3 * row, 3 * column)) << row << "," << column;
  }
}

TEST_F(RegionDownloadsTest, AMirrorOfTheArchiveKeepsItsFolderWalk) {
  ServeTile("/cache/SRTM1/Region_02/", "N45E006.hgt");
  source.TileUrl = Url("/cache/");
  Download(DownloadSrtm1Files, test::RegionPanel(6.5F, 6.5F, 45.5F, 45.5F), '.');
  EXPECT_EQ(server.Requests(), (Lines{"/cache/SRTM1/Region_01/N45E006.hgt.zip",
                                      "/cache/SRTM1/Region_01/N45E006.hgt.zip",
                                      "/cache/SRTM1/Region_02/N45E006.hgt.zip"}));
  EXPECT_EQ(remembered.Srtm1RegionFolders[0], "02/");
  Download(DownloadSrtm3Files, test::RegionPanel(6.5F, 6.5F, 44.5F, 44.5F), '.');
  EXPECT_EQ(server.Requests().at(3), "/cache/SRTM3/Africa/N44E006.hgt.zip");
}

// ESA's mirror that answers neither the tile nor "none here" is backed by AWS's; an archive
// asked to go goes once its tile is in place.
TEST_F(RegionDownloadsTest, TheSecondMirrorIsAskedOnlyWhenTheFirstFails) {
  server.Serve("/skadi/N45/N45E006.hgt.gz",
               test::MakeGzip(dir.Path(), "N45E006.hgt", test::TileContent("aws")));
  source.Layout = ArchiveLayout::Esa;
  source.FallbackUrl = Url("/skadi/");
  source.RemoveArchives = true;
  for (const std::string esa : {"/esa/", "/silent/esa/"}) {
    source.TileUrl = Url(esa);
    Download(DownloadSrtm1Files, test::RegionPanel(6.5F, 6.5F, 45.5F, 45.5F), '.');
  }
  EXPECT_EQ(server.Requests(),
            (Lines{"/esa/N45E006.SRTMGL1.hgt.zip", "/silent/esa/N45E006.SRTMGL1.hgt.zip",
                   "/skadi/N45/N45E006.hgt.gz"}));
  EXPECT_EQ(test::FolderEntries(folders.Srtm1Dir), Lines{"N45E006.hgt"});
}

// The archive's own address, asked through a proxy on loopback, says once a run that it is
// retired and what serves instead.
TEST_F(RegionDownloadsTest, TheRetiredArchiveSaysSoAndNamesTheSourcesThatServe) {
  source.ArchiveHost = DefaultArchiveHost;
  source.Proxy = Url("");
  Download(DownloadSrtm3Files, test::RegionPanel(6.5F, 7.5F, 45.5F, 45.5F), '.');
  EXPECT_EQ(server.Requests().front(),
            "proxy http://dds.cr.usgs.gov/srtm/version2_1/SRTM3/Africa/N45E006.hgt.zip");
  ASSERT_EQ(host.notes.size(), 2U * 7 + 1);
  EXPECT_TRUE(host.notes[1].starts_with(
      "dds.cr.usgs.gov, the SRTM version 2.1 archive, was retired in 2021 and serves no tile; "
      "these sources serve tiles today: esa (https://step.esa.int/auxdata/dem/SRTMGL1/), aws"))
      << host.notes[1];
}

// The log counts every tile it did not get as missing; the outcome keeps those the server never
// said it lacks, with the first reason that was not such an answer.
TEST_F(RegionDownloadsTest, TheOutcomeKeepsTheTilesTheServerNeverSaidItLacks) {
  const auto serveBroken = [&](const std::string& path, const std::string& name) {
    server.Serve(path + name + ".zip",
                 test::MakeZip(dir.Path() / "broken" / path.substr(1) / name, name, "x"));
  };
  serveBroken(Srtm1Path + "03/", "N46E006.hgt");
  ServeTile(Srtm1Path + "05/", "N46E006.hgt");
  serveBroken(Srtm1Path + "02/", "N45E007.hgt");
  test::WriteText(folders.Srtm1Dir + "N46E007.hgt", "here");
  const auto failures = [](const DownloadOutcome& outcome) {
    Lines lines;
    for (const TileFailure& failure : outcome.Failed) {
      lines.push_back(failure.Tile + ": " + failure.Reason);
    }
    return lines;
  };
  // N45E006 is in no folder, N46E006 in the fifth after a broken archive in the third.
  EXPECT_EQ(failures(DownloadSrtm1Files(
                ReadModelSettings(test::RegionPanel(6.5F, 7.5F, 45.5F, 46.5F)), workspace, host)),
            Lines{"N45E007.hgt: Unpacking failed: N45E007.hgt holds 1 bytes, the size of no tile"});
  EXPECT_EQ(host.lines.back(), "There are 2 missing SRTM-1 files");
  EXPECT_TRUE(test::Holds(folders.Srtm1Dir + "N46E006.hgt", test::TileContent("N46E006.hgt")));

  // A server that can't be reached says nothing of any tile.
  source.ArchiveHost = "127.0.0.1:1";
  const DownloadOutcome refused = DownloadSrtm3Files(
      ReadModelSettings(test::RegionPanel(6.5F, 6.5F, 45.5F, 45.5F)), workspace, host);
  ASSERT_EQ(refused.Failed.size(), 1U);
  EXPECT_EQ(refused.Failed[0].Tile, "N45E006.hgt");
  EXPECT_TRUE(refused.Failed[0].Reason.starts_with(
      "http://127.0.0.1:1/srtm/version2_1/SRTM3/Africa/N45E006.hgt.zip: Failed to connect"))
      << refused.Failed[0].Reason;

  // A mirror says so by 404 or 403; what it sends that yields no tile is a failure.
  source.Layout = ArchiveLayout::Esa;
  source.TileUrl = Url("/s3/esa/");
  server.Serve("/esa/N44E006.SRTMGL1.hgt.zip",
               test::MakeZip(dir.Path() / "broken" / "esa", "N44E006.hgt", "x"));
  EXPECT_EQ(failures(DownloadSrtm1Files(
                ReadModelSettings(test::RegionPanel(6.5F, 6.5F, 43.5F, 44.5F)), workspace, host)),
            Lines{"N44E006.hgt: Unpacking failed: N44E006.hgt holds 1 bytes, the size of no tile"});
  EXPECT_EQ(host.notes.back(), Url("/s3/esa/N43E006.SRTMGL1.hgt.zip") + ": HTTP status 403");
}

TEST_F(RegionDownloadsTest, CredentialsGoWithTheRequestButNeverIntoTheLogOrANote) {
  ServeTile("/cache/SRTM1/Region_02/", "N45E006.hgt");
  source.TileUrl = "http://orolith:s3cret@" + server.Host() + "/auth/cache/";
  Download(DownloadSrtm1Files, test::RegionPanel(6.5F, 6.5F, 45.5F, 45.5F), '.');
  EXPECT_TRUE(test::Holds(folders.Srtm1Dir + "N45E006.hgt", test::TileContent("N45E006.hgt")));
  Lines expected;
  Banner(expected, "  SRTM-1 File Downloads ");
  const std::string shown = Url("/auth/cache/SRTM1/Region_0");
  Miss(expected, shown + "1/N45E006.hgt.zip");
  Miss(expected, shown + "1/N45E006.hgt.zip");
  Hit(expected, shown + "2/N45E006.hgt.zip", folders.Srtm1Dir + "N45E006.hgt.zip");
  expected.insert(
      expected.end(),
      {"SRTM-1 data found in Region # 2", "There were 0 pre-existing SRTM-1 files found",
       "There were 1 SRTM-1 files downloaded", "There are 0 missing SRTM-1 files"});
  EXPECT_EQ(Block(), expected);
  EXPECT_EQ(host.notes, Lines(2, shown + "1/N45E006.hgt.zip: HTTP status 404"));

  // Refused for a wrong password: the password is not shown either.
  source.Layout = ArchiveLayout::Esa;
  source.TileUrl = "http://orolith:wrong@" + server.Host() + "/auth/esa/";
  host.lines.clear();
  host.notes.clear();
  Download(DownloadSrtm1Files, test::RegionPanel(7.5F, 7.5F, 45.5F, 45.5F), '.');
  EXPECT_EQ(Block().at(3), "Attempting to Download : " + Url("/auth/esa/N45E007.SRTMGL1.hgt.zip"));
  EXPECT_EQ(host.notes, Lines{Url("/auth/esa/N45E007.SRTMGL1.hgt.zip") + ": HTTP status 401"});
}

}  // namespace
}  // namespace orolith
