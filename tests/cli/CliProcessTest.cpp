// orolith-cli run as a process, the way scripts use it: stdin from /dev/null, stdout and
// stderr into files, so neither is a terminal.

#include "model/TerrainModel.h"
#include "support/Archives.h"
#include "support/DataRoot.h"
#include "support/LongPaths.h"
#include "support/Privileges.h"
#include "support/Rasters.h"
#include "support/RecordingHost.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"
#include "support/Tiles.h"
#include "tiles/Copernicus.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::TempDir;

const std::string Binary = OROLITH_BINARY_DIR "/src/orolith-cli";
const std::string DemoTool = OROLITH_BINARY_DIR "/tools/make_demo_data";
const std::string Lib3mfCheck = OROLITH_BINARY_DIR "/tools/check_3mf";

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

using test::ReadText;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

class CliProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(Binary)) GTEST_SKIP() << Binary << " is not built";
  }

  // Runs orolith-cli in the data root with the given (already quoted) arguments.
  Outcome Cli(const std::string& args, const std::string& environment = "") {
    const std::filesystem::path out = captures.Path() / "stdout";
    const std::filesystem::path err = captures.Path() / "stderr";
    const std::string command = "cd " + Quote(root.Path().string()) + " && " + environment + " " +
                                Quote(Binary) + " " + args + " >" + Quote(out.string()) + " 2>" +
                                Quote(err.string()) + " </dev/null";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = ReadText(out);
    outcome.err = ReadText(err);
    return outcome;
  }

  // Runs a shell command line in the data root, $CLI standing for orolith-cli; what the line
  // itself does not redirect is captured as with Cli.
  Outcome Shell(const std::string& line) {
    const std::filesystem::path out = captures.Path() / "stdout";
    const std::filesystem::path err = captures.Path() / "stderr";
    const std::string command = "cd " + Quote(root.Path().string()) + " && CLI=" + Quote(Binary) +
                                " && { " + line + "; } >" + Quote(out.string()) + " 2>" +
                                Quote(err.string()) + " </dev/null";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = ReadText(out);
    outcome.err = ReadText(err);
    return outcome;
  }

  std::string Path(const std::string& relative) const { return (root.Path() / relative).string(); }

  test::DataRoot root;
  TempDir captures;
};

TEST_F(CliProcessTest, HelpVersionAndUsageErrors) {
  Outcome o = Cli("--help");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("Usage: orolith-cli"), std::string::npos);
  EXPECT_EQ(o.err, "");

  o = Cli("--version");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, std::string("orolith-cli ") + OROLITH_VERSION + "\n");

  o = Cli("create --no-such-option");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err.rfind("orolith-cli: ", 0), 0U) << o.err;
  EXPECT_NE(o.err.find("--no-such-option"), std::string::npos);

  o = Cli("create --pixel 12x");
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(Lines(o.err).at(0), "orolith-cli: --pixel: '12x' is not a number");
  EXPECT_FALSE(std::filesystem::exists(Path("NewFile.stl")));

  EXPECT_EQ(Cli("").status, 2);
}

TEST_F(CliProcessTest, FindPlacePrintsTheMatchesOrSaysThereAreNone) {
  Outcome o = Cli("find-place 'mount rain'");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  const std::vector<std::string> lines = Lines(o.out);
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[0], "Mount Rainier\tUS\t46.8500\t-121.7600\tpeak 4392 m");
  o = Cli("find-place Xqzzyville");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "orolith-cli: no place found whose name begins with \"Xqzzyville\"\n");
}

TEST_F(CliProcessTest, StdoutIsTheLogAndNegativeValuesWork) {
  const Outcome o = Cli("test --lon -5 -4 --lat 10 11 --pixel 10");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "orolith-cli: warning: --pixel 10 is outside 15 .. 100000; using 15\n");
  const std::vector<std::string> lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 12U + 11U);
  EXPECT_EQ(lines[4], "   Longitude Limits : -5.000000   to   -4.000000 degrees");
  EXPECT_EQ(lines[7], "   XY Resolution of STL Output : 15 meters");
  EXPECT_EQ(lines[15], "N10W006.hgt was not found ... consider installing");
  EXPECT_EQ(lines[16], "N11W006.hgt was not found ... consider installing");
  EXPECT_EQ(lines[17], "N10W005.hgt was not found ... consider installing");
  EXPECT_EQ(lines[18], "N11W005.hgt was not found ... consider installing");
  EXPECT_EQ(lines.back(), "  There are 4 missing files");
}

TEST_F(CliProcessTest, CreatePrintsExactlyTheLinesTheWindowWouldLog) {
  // A small tile with a slope and a void, so that every kind of tile line appears.
  root.Tile("SRTM_30/N46E007.hgt", 121,
            [](int r, int c) { return (r == 60 && c == 60) ? -32768 : 200 + 5 * c + r; });
  const std::string out = Path("model.stl");
  const Outcome o = Cli("create --data-root " + Quote(root.Root()) +
                        " --lon 7.8 7.2 --lat 46.2 46.8 --elev 100 1500 --x-extent 80 "
                        "--z-extent 12 --base 5 --pixel 2500 -o " +
                        Quote(out));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");  // no progress line when stderr is no terminal

  // The same run through the library with a recording log.
  FrontPanelValues panel = test::RegionPanel(7.8F, 7.2F, 46.2F, 46.8F, 2500);
  panel.Z1 = 100;
  panel.Z2 = 1500;
  panel.XExtent = 80;
  panel.ZExtent = 12;
  panel.ZBasePercent = 5;
  panel.StlFileName = out;
  Workspace workspace(root.Folders());
  test::RecordingHost host;
  ASSERT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, host), RunOutcome::Completed);

  const std::vector<std::string> lines = Lines(o.out);
  ASSERT_EQ(lines.size(), host.lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i != 6) {  // line 6 holds the time
      EXPECT_EQ(lines[i], host.lines[i]) << "line " << i;
    }
  }
  EXPECT_EQ(lines.back(), "File has been saved");
  EXPECT_NE(o.out.find("Healing adjusted 1 faulted data points\n"), std::string::npos);
  EXPECT_EQ(o.out.find('\r'), std::string::npos);
}

TEST_F(CliProcessTest, LargeFileQuestionWithoutATerminalCancels) {
  const Outcome o = Cli("create --lon 7 8 --lat 46 47 --missed-zero");  // 200 MB
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err,
            "orolith-cli: cancelled: the STL file would be about 200 MB, and there is no terminal "
            "to ask whether to make it; rerun with --yes to make it\n");
  EXPECT_FALSE(std::filesystem::exists(Path("NewFile.stl")));

  // --yes answers OK; then, with no tiles and no stand-in, there is nothing to model.
  const Outcome yes = Cli("create --lon 7 8 --lat 46 47 --yes -o big.stl");
  EXPECT_EQ(yes.status, 1);
  EXPECT_EQ(yes.err, "orolith-cli: No elevation data in the region: no tile of it was found\n");
  EXPECT_FALSE(std::filesystem::exists(Path("big.stl")));
}

// The log goes as far as the run went, the reason goes to stderr, and an old model stays.
TEST_F(CliProcessTest, NothingToModelExitsOneWithTheReasonAndKeepsTheOldFile) {
  test::WriteText(Path("model.stl"), "old");
  for (const char* solid : {"", " --solid"}) {
    SCOPED_TRACE(solid);
    const Outcome o = Cli(std::string("create --lon 7.2 7.4 --lat 46.2 46.4 -o model.stl") + solid);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "orolith-cli: No elevation data in the region: no tile of it was found\n");
    ASSERT_FALSE(o.out.empty());
    EXPECT_EQ(Lines(o.out).back(), " * * * * * * * * * * * * * * * * *");
    EXPECT_EQ(ReadText(Path("model.stl")), "old");
    EXPECT_EQ(test::FolderEntries(root.Path()),
              (std::vector<std::string>{"SRTM_1", "SRTM_3", "SRTM_30", "model.stl"}));
  }
}

// A name that can't be written is known before the first tile: the log stops after the
// configuration summary.
TEST_F(CliProcessTest, AnOutputThatCantBeMadeEndsTheRunBeforeItsFirstTile) {
  std::filesystem::create_directories(Path("taken.stl"));  // a folder under the name
  const std::vector<std::pair<std::string, std::string>> outputs{
      {"no/such/folder/x.stl", std::strerror(ENOENT)},
      {"", std::strerror(ENOENT)},
      {"/", std::strerror(EISDIR)},
      {"taken.stl", std::strerror(EISDIR)},
  };
  for (const auto& [name, reason] : outputs) {
    SCOPED_TRACE(name);
    const Outcome o = Cli("create --missed-zero -o " + Quote(name));
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "orolith-cli: Cannot create file \"" + name + "\". " + reason + "\n");
    ASSERT_FALSE(o.out.empty());
    EXPECT_EQ(Lines(o.out).back(), " * * * * * * * * * * * * * * * * *");
    EXPECT_EQ(o.out.find("Loaded new file"), std::string::npos);
  }
  EXPECT_EQ(test::FolderEntries(root.Path()),
            (std::vector<std::string>{"SRTM_1", "SRTM_3", "SRTM_30", "taken.stl"}));
}

// A model into standard output or a descriptor of the caller's goes where that stream goes, after
// what it holds; the log moves to stderr when the model takes stdout.
TEST_F(CliProcessTest, AModelIntoADescriptorIsStreamedAndTheLogMakesRoom) {
  const std::string region = " --missed-zero --lon 7.1 7.11 --lat 46.1 46.11 --pixel 50 ";
  struct Row {
    const char* what;
    std::string line;
    std::string header;  // the name the model's header carries
    bool logOnStderr;
  };
  const std::vector<Row> rows{
      {"appended to a log", "\"$CLI\" create" + region + "-o /dev/stdout >>out.txt", "/dev/stdout",
       true},
      {"'-' into a file", "\"$CLI\" create" + region + "-o - >out.txt", "/dev/stdout", true},
      {"through a pipe", "\"$CLI\" create" + region + "-o /dev/stdout | cat >out.txt",
       "/dev/stdout", true},
      {"a descriptor of its own", "\"$CLI\" create" + region + "-o /dev/fd/3 3>>out.txt",
       "/dev/fd/3", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const bool appends = row.line.find(">>") != std::string::npos;
    const std::string before = appends ? "old log\n" : "";
    test::WriteText(Path("out.txt"), before);
    const Outcome o = Shell(row.line);
    EXPECT_EQ(o.status, 0) << o.err;
    const std::string log = row.logOnStderr ? o.err : o.out;
    EXPECT_EQ(row.logOnStderr ? o.out : o.err, "");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(Lines(log).back(), "File has been saved");

    const std::string written = ReadText(Path("out.txt"));
    ASSERT_GE(written.size(), before.size() + 84);
    EXPECT_EQ(written.substr(0, before.size()), before);
    const std::string model = written.substr(before.size());
    EXPECT_EQ(model.substr(0, 80),
              ("Binary STL : " + row.header).append(80 - 13 - row.header.size(), '\0'));
    const auto count = test::LittleEndian32(reinterpret_cast<const unsigned char*>(&model[80]));
    EXPECT_GT(count, 0U);
    EXPECT_EQ(model.size(), 84 + 50 * std::size_t{count});
    EXPECT_NE(log.find(std::to_string(count) + " Faces created, now saving to " + row.header),
              std::string::npos);
    EXPECT_EQ(test::FolderEntries(root.Path()),
              (std::vector<std::string>{"SRTM_1", "SRTM_3", "SRTM_30", "out.txt"}));
  }
}

// A reader that quits before the end of the model: the tool says so and fails, rather than being
// ended by SIGPIPE without a word.
TEST_F(CliProcessTest, AReaderThatQuitsEarlyIsAnError) {
  const std::string create = "\"$CLI\" create --missed-zero --lon 7.1 7.2 --lat 46.1 46.2 ";
  const std::vector<std::pair<std::string, std::string>> rows{
      {"fifo", "mkfifo fifo && { head -c 100 fifo >/dev/null & } && " + create +
                   "-o fifo; echo $? >status; wait"},
      {"/dev/stdout", "{ " + create + "-o -; echo $? >status; } | head -c 100 >/dev/null"},
  };
  for (const auto& [name, line] : rows) {
    SCOPED_TRACE(name);
    const Outcome o = Shell(line);
    EXPECT_EQ(ReadText(Path("status")), "1\n");
    const std::string said = "orolith-cli: Cannot write file \"" + name + "\". " +
                             std::strerror(EPIPE) + "\norolith-cli: the reader of \"" + name +
                             "\" stopped reading before the end of the model\n";
    EXPECT_TRUE(o.err.size() >= said.size() && o.err.substr(o.err.size() - said.size()) == said)
        << o.err;
  }
}

// The README's commands with the default source's layout on loopback, into a data root
// that has no SRTM_1/ yet.
TEST_F(CliProcessTest, TheReadmesMatterhornCommandsWithAMirrorOnLoopback) {
  const test::TestServer server;
  server.Serve("/esa/N45E007.SRTMGL1.hgt.zip",
               test::MakeZip(captures.Path(), "N45E007.hgt", test::TileContent("N45E007")));
  std::filesystem::remove(root.Path() / "SRTM_1");
  const std::string region = " --lon 7.55 7.80 --lat 45.90 46.05";
  // The tile folder is as open as the data root, whatever the umask.
  std::filesystem::permissions(
      root.Path(), std::filesystem::perms::group_read | std::filesystem::perms::group_exec,
      std::filesystem::perm_options::add);
  const Outcome o = Cli("download-srtm1 --data-root " + Quote(root.Root()) + region +
                            " --tile-url " + Quote(server.Url("/esa")),
                        "umask 077 &&");
  EXPECT_EQ(o.status, 0);
  const std::vector<std::string> out = Lines(o.out);
  ASSERT_GE(out.size(), 3U);
  EXPECT_EQ(std::vector<std::string>(out.end() - 3, out.end()),
            (std::vector<std::string>{"There were 0 pre-existing SRTM-1 files found",
                                      "There were 1 SRTM-1 files downloaded",
                                      "There are 1 missing SRTM-1 files"}));
  // The log says only that the attempt failed; stderr says why.
  EXPECT_EQ(o.err,
            "orolith-cli: " + server.Url("/esa/N46E007.SRTMGL1.hgt.zip") + ": HTTP status 404\n");
  EXPECT_TRUE(test::Holds(Path("SRTM_1/N45E007.hgt"), test::TileContent("N45E007")));
  EXPECT_EQ(std::filesystem::status(Path("SRTM_1")).permissions(),
            std::filesystem::status(root.Path()).permissions());

  const Outcome model = Cli("create --data-root " + Quote(root.Root()) + region +
                            " --elev 1500 4500 --x-extent 150 --z-extent 40 --base 10 --pixel 30 "
                            "-o matterhorn.stl --yes");
  EXPECT_EQ(model.status, 0) << model.err;
  EXPECT_EQ(Lines(model.out).back(), "File has been saved");

  const Outcome unknown = Cli("download-srtm1 --tile-source usgs" + region);
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(Lines(unknown.err).at(0),
            "orolith-cli: --tile-source: unknown tile source 'usgs' (known: esa, aws, copernicus, "
            "srtm-v2.1)");
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(server.Requests().size(), 2U);
}

// admesh's first number after "label :" (or "label =") in its report; -1 when it is missing.
double AdmeshValue(const std::string& report, const std::string& label) {
  const std::size_t at = report.find(label);
  if (at == std::string::npos) return -1;
  std::istringstream number(report.substr(report.find_first_of(":=", at) + 1));
  double value = -1;
  number >> value;
  return value;
}

// admesh's report on stl (with no options it checks everything and repairs what it must);
// empty when admesh fails.
std::string Admesh(const std::string& stl, const std::filesystem::path& report,
                   const std::string& options = "") {
  const std::string command =
      "admesh " + options + Quote(stl) + " >" + Quote(report.string()) + " 2>&1";
  return std::system(command.c_str()) == 0 ? ReadText(report) : "";
}

// A closed solid of one part for admesh, with nothing to repair.
void ExpectOneClosedPart(const std::string& report) {
  for (const char* zero : {"Facets with 1 disconnected edge", "Facets with 2 disconnected edges",
                           "Facets with 3 disconnected edges", "Total disconnected facets",
                           "Degenerate facets", "Edges fixed", "Facets removed", "Facets added",
                           "Facets reversed", "Backwards edges", "Normals fixed"}) {
    EXPECT_EQ(AdmeshValue(report, zero), 0) << zero << "\n" << report;
  }
  EXPECT_EQ(AdmeshValue(report, "Number of parts"), 1) << report;
  EXPECT_GT(AdmeshValue(report, "Volume"), 0) << report;
}

// The bucket's tile at 70 N, 20 E on a loopback server; the one east of it is open sea.
TEST_F(CliProcessTest, CopernicusTilesFromALoopbackBucketAreFoundAndModelled) {
  const test::TestServer server;
  const std::string name = CopernicusTileName(20, 70);
  const std::string folder = name.substr(0, name.size() - 4);
  const std::string tile = test::WriteCopernicusTile(
      captures.Root(), 20, 70, [](double lon, double lat) { return 100 * lon - lat; }, "COG");
  server.Serve("/dem/" + folder + "/" + name, tile);
  std::filesystem::create_directories(root.Path() / "COP30");
  const Outcome o = Cli("download-srtm1 --tile-source copernicus --tile-url " +
                        Quote(server.Url("/dem")) + " --lon 20.5 21.5 --lat 70.2 70.4");
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string east = CopernicusTileName(21, 70);
  EXPECT_EQ(server.Requests(),
            (std::vector<std::string>{"/dem/" + folder + "/" + name,
                                      "/dem/" + east.substr(0, east.size() - 4) + "/" + east}));
  EXPECT_EQ(test::FolderEntries(root.Path() / "COP30"), std::vector<std::string>{name});
  EXPECT_TRUE(test::ReadBytes(root.Path() / "COP30" / name) == test::ReadBytes(tile));

  const Outcome check = Cli("test --lon 20.5 20.8 --lat 70.2 70.4");
  EXPECT_NE(check.out.find("\nN70E020 : found as Copernicus GLO-30 file (30 m X-Y resolution)\n"),
            std::string::npos)
      << check.out;
  const Outcome model =
      Cli("create --lon 20.5 20.8 --lat 70.2 70.4 --elev 1000 3000 --pixel 500 -o cop.stl");
  EXPECT_EQ(model.status, 0) << model.err;
  EXPECT_NE(model.out.find("\nLoaded new file : " + name + "\n"), std::string::npos);
}

// The user's raster with a square of no data, and a region that goes on beyond it: the solid
// keeps its shell closed there.
TEST_F(CliProcessTest, ASolidFromARasterWithGapsIsOneClosedPartForAdmesh) {
  if (std::system("command -v admesh >/dev/null 2>&1") != 0) GTEST_SKIP() << "admesh not installed";
  const std::string dem = test::WriteGeographicRaster(
      Path("gap.tif"), 7.5, 46.4, 0.002, 300, 200, [](double lon, double lat) {
        const bool gap = lon > 7.9 && lon < 7.95 && lat > 46.15 && lat < 46.25;
        return gap ? NAN : 100 + 1000 * (lon - 7.5) + 500 * (lat - 46);
      });
  const std::string stl = Path("solid.stl");
  const Outcome o = Cli("create --dem " + Quote(dem) +
                        " --lon 7.8 8.4 --lat 46.1 46.3 --elev 0 1000 --x-extent 100 "
                        "--z-extent 20 --pixel 1000 --solid -o " +
                        Quote(stl));
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\n   DEM File : " + dem + "\n"), std::string::npos);
  ExpectOneClosedPart(Admesh(stl, captures.Path() / "admesh"));
}

// Packages of a raster with gaps, each made as the user may ask for it, read by another
// maker's reader (lib3mf) without a warning.
TEST_F(CliProcessTest, EveryPackageFromARasterWithGapsIsReadByLib3mf) {
  if (!std::filesystem::exists(Lib3mfCheck)) GTEST_SKIP() << Lib3mfCheck << " is not built";
  const std::string dem = test::WriteGeographicRaster(
      Path("gap.tif"), 7.5, 46.4, 0.002, 300, 200, [](double lon, double lat) {
        const bool gap = lon > 7.9 && lon < 7.95 && lat > 46.15 && lat < 46.25;
        return gap ? NAN : 100 + 1000 * (lon - 7.5) + 500 * (lat - 46);
      });
  const std::string region = "create --dem " + Quote(dem) +
                             " --lon 7.8 8.4 --lat 46.1 46.3 --elev 0 1000 --x-extent 100 "
                             "--z-extent 20 --pixel 500 ";
  const char* const models[][2] = {
      {"grid.3mf", "$CLI REGION -o grid.3mf"},
      {"adaptive.3mf", "$CLI REGION --max-error 2 -o adaptive.3mf"},
      {"solid.3mf", "$CLI REGION --solid -o solid.3mf"},
      {"pipe.3mf",
       "mkfifo fifo.3mf && { cat fifo.3mf >pipe.3mf & $CLI REGION -o fifo.3mf && wait; }"}};
  for (const auto& [file, line] : models) {
    std::string command = line;
    command.replace(command.find("REGION"), 6, region);
    const Outcome made = Shell(command);
    ASSERT_EQ(made.status, 0) << command << "\n" << made.err;
    const Outcome read = Shell(Quote(Lib3mfCheck) + " " + file);
    EXPECT_EQ(read.status, 0) << read.out << read.err;
  }
  // A reader of a stream knows the width of the sizes after the data from the header alone.
  if (std::system("command -v bsdtar >/dev/null 2>&1") == 0) {
    const Outcome streamed = Shell("bsdtar -xOf - <pipe.3mf >/dev/null");
    EXPECT_EQ(streamed.status, 0) << streamed.err;
  }
}

TEST_F(CliProcessTest, FoldersThatCantBeReadAreNamedOnStderr) {
  // A file where a tile folder should be, and a folder closed to its reader.
  std::filesystem::remove(root.Path() / "SRTM_1");
  test::WriteText(root.Path() / "SRTM_1", "");
  std::filesystem::permissions(root.Path() / "SRTM_3", std::filesystem::perms::none);
  const std::string privileges =
      ::geteuid() == 0 ? "setpriv --reuid=" + std::to_string(test::UnprivilegedId) +
                             " --regid=" + std::to_string(test::UnprivilegedId) + " --clear-groups"
                       : "";
  const Outcome o = Cli("test --lon 7.5 7.5 --lat 46.5 46.5", privileges);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(Lines(o.out).at(15), "N46E007.hgt was not found ... consider installing");
  EXPECT_EQ(o.err, "orolith-cli: The folder \"" + Path("SRTM_1/") +
                       "\" could not be read: Not a directory\n"
                       "orolith-cli: The folder \"" +
                       Path("SRTM_3/") + "\" could not be read: Permission denied\n");

  // A model made without the tiles of that folder says so too.
  std::filesystem::create_directory(Path("out"));
  test::HandOver(Path("out"));
  const Outcome model =
      Cli("create --lon 7.5 7.5 --lat 46.5 46.5 --block-srtm1 -o out/model.stl", privileges);
  std::filesystem::permissions(root.Path() / "SRTM_3", std::filesystem::perms::owner_all);
  EXPECT_EQ(model.status, 1);
  EXPECT_EQ(model.err, "orolith-cli: The folder \"" + Path("SRTM_3/") +
                           "\" could not be read: Permission denied\n"
                           "orolith-cli: No elevation data in the region: no tile of it was "
                           "found in the tile folders that are not blocked\n");

  // An absent folder simply holds no tiles.
  std::filesystem::remove(root.Path() / "SRTM_1");
  std::filesystem::remove(root.Path() / "SRTM_3");
  EXPECT_EQ(Cli("test --lon 7.5 7.5 --lat 46.5 46.5").err, "");
}

// A mistyped data root is said once by every command; a download then fetches nothing.
TEST_F(CliProcessTest, ADataRootThatDoesNotExistIsSaidOnce) {
  const std::string said = "orolith-cli: The data root \"typo/\" does not exist\n";
  for (const char* command : {"test", "create", "download-srtm1", "download-srtm3"}) {
    const Outcome o =
        Cli(std::string(command) + " --data-root typo --lon 7.5 7.5 --lat 46.5 46.5 " +
            "--tile-url http://127.0.0.1:1/ -o model.stl");
    EXPECT_TRUE(o.err.starts_with(said)) << o.err;
    EXPECT_EQ(o.err.find("127.0.0.1"), std::string::npos) << o.err;
  }
  EXPECT_FALSE(std::filesystem::exists(Path("typo")));
}

TEST_F(CliProcessTest, AFailedDownloadAttemptTellsWhyOnStderr) {
  const test::TestServer server;
  const Outcome o =
      Cli("download-srtm3 --lon 6.5 6.5 --lat 45.5 45.5 --archive-host " + Quote(server.Host()));
  EXPECT_EQ(o.status, 0);
  const std::vector<std::string> out = Lines(o.out);
  EXPECT_EQ(out.at(out.size() - 4),
            "N45E006.hgt was not found ... consider installing SRTM-1 or SRTM-30");
  const std::vector<std::string> err = Lines(o.err);
  ASSERT_EQ(err.size(), 7U) << o.err;
  EXPECT_EQ(err[3], "orolith-cli: " + server.Url("/srtm/version2_1/SRTM3/Eurasia/N45E006.hgt.zip") +
                        ": HTTP status 404");
}

// Which tiles count as undone is the downloads' to tell; here: the status, and the summary.
TEST_F(CliProcessTest, ADownloadThatLeftATileUndoneExitsOneWithASummary) {
  const test::TestServer server;
  const std::string region = " --lon 6.5 6.5 --lat 45.5 45.5 --archive-host ";
  const Outcome refused = Cli("download-srtm3" + region + "127.0.0.1:1");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(Lines(refused.out).back(), "There are 1 missing SRTM-3 files");
  const std::vector<std::string> err = Lines(refused.err);
  ASSERT_EQ(err.size(), 7U + 2U) << refused.err;  // a note for each attempt, then the summary
  EXPECT_EQ(err[7], "orolith-cli: 1 tile could not be downloaded:");
  EXPECT_EQ(err[8], "orolith-cli:   N45E006.hgt: " + err[0].substr(13));

  // The archive answered 404 in every folder: nothing left undone.
  const Outcome none = Cli("download-srtm3" + region + server.Host());
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(Lines(none.err).size(), 7U) << none.err;
}

TEST_F(CliProcessTest, ADataRootTooLongForItsTilePathsIsAnError) {
  const test::TestServer server;
  const test::DeepFolder deep(root.Path(), test::DataRootTooLongForTiles);
  deep.MakeFolder("SRTM_1");
  deep.WriteFile("SRTM_1/N46E007.hgt", test::TileContent("N46E007"));
  const std::string tile = deep.Path() + "/SRTM_1/N46E007.hgt";
  for (const char* command : {"test", "create", "download-srtm1"}) {
    SCOPED_TRACE(command);
    const Outcome o =
        Cli(std::string(command) + " --data-root " + Quote(deep.Path()) +
            " --lon 7.5 7.5 --lat 46.5 46.5 --archive-host " + server.Host() + " -o model.stl");
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "orolith-cli: Cannot open file \"" + tile + "\". File name too long\n");
    EXPECT_FALSE(std::filesystem::exists(Path("model.stl")));
  }
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(CliProcessTest, DemoDataHelpWritesNothingAndUnknownOptionsAreRefused) {
  if (!std::filesystem::exists(DemoTool)) GTEST_SKIP() << DemoTool << " is not built";
  const std::filesystem::path out = captures.Path() / "out";
  const std::filesystem::path err = captures.Path() / "err";
  const struct {
    const char* args;
    int status;
    const char* out;
    const char* err;
  } cases[] = {
      {"--help", 0, "usage: make_demo_data", ""},
      {"-h", 0, "usage: make_demo_data", ""},
      {"--srtm3 demo", 2, "", "make_demo_data: unknown option '--srtm3'"},
      {"demo --help", 0, "usage: make_demo_data", ""},
      {"--srtm1 --srtm1-2x2 demo", 2, "", "usage: make_demo_data"},
      {"-x", 2, "", "make_demo_data: unknown option '-x'"},
      {"", 2, "", "usage: make_demo_data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string command = "cd " + Quote(root.Path().string()) + " && " + Quote(DemoTool) +
                                " " + c.args + " >" + Quote(out.string()) + " 2>" +
                                Quote(err.string());
    const int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
    EXPECT_TRUE(ReadText(out).starts_with(c.out)) << ReadText(out);
    EXPECT_TRUE(ReadText(err).starts_with(c.err)) << ReadText(err);
    // Only the three tile folders the fixture made.
    EXPECT_EQ(test::FolderEntries(root.Path()),
              (std::vector<std::string>{"SRTM_1", "SRTM_3", "SRTM_30"}));
  }
}

TEST_F(CliProcessTest, DemoDataMakesAModelThatAdmeshReads) {
  if (!std::filesystem::exists(DemoTool)) GTEST_SKIP() << DemoTool << " is not built";
  const std::string demo = Path("demo");
  ASSERT_EQ(std::system((Quote(DemoTool) + " " + Quote(demo) + " >/dev/null").c_str()), 0);
  for (const char* tile : {"N46E007", "N46E008", "N47E007", "N47E008"}) {
    EXPECT_EQ(std::filesystem::file_size(demo + "/SRTM_3/" + tile + ".hgt"), 2884802U);
  }
  EXPECT_TRUE(std::filesystem::is_empty(demo + "/SRTM_1"));
  EXPECT_TRUE(std::filesystem::is_empty(demo + "/SRTM_30"));

  // Across all four tiles, so the shared edges are part of the mesh.
  const std::string stl = Path("demo.stl");
  const Outcome o = Cli("create --data-root " + Quote(demo) +
                        " --lon 7.6 8.4 --lat 46.6 47.4 --elev 400 4000 --x-extent 100 "
                        "--z-extent 20 --pixel 1000 -o " +
                        Quote(stl));
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<std::string> lines = Lines(o.out);
  std::size_t healed = 0;
  std::string facesLine;
  for (const std::string& line : lines) {
    if (line.rfind("Healing adjusted ", 0) == 0 &&
        line != "Healing adjusted 0 faulted data points") {
      ++healed;
    }
    if (line.find(" Faces created, now saving to ") != std::string::npos) facesLine = line;
  }
  EXPECT_EQ(healed, 4U);  // every demo tile has voids to heal
  const long faces = std::stol(facesLine);
  EXPECT_GT(faces, 0);

  if (std::system("command -v admesh >/dev/null 2>&1") != 0) GTEST_SKIP() << "admesh not installed";
  const std::string text = Admesh(stl, captures.Path() / "admesh", "-e ");
  EXPECT_NE(text.find("Binary STL file"), std::string::npos) << text;
  EXPECT_EQ(AdmeshValue(text, "Number of facets"), static_cast<double>(faces))
      << text;  // original, then final
  // Only the outer border of the surface is open: every inner edge, the tile seams included,
  // is shared exactly by two faces.
  const double openFacets = AdmeshValue(text, "Facets with 1 disconnected edge");
  const double columns = 2 * (std::trunc(0.4 / 0.01) + 1);  // two tiles a side
  EXPECT_LE(openFacets, 4 * columns);
  EXPECT_GT(openFacets, 0);
}

// Three tiles whose edges don't match and a missing fourth: walls, seam strips, a fill and the
// bottom all take part.
TEST_F(CliProcessTest, SolidModelIsOneClosedPartForAdmesh) {
  if (std::system("command -v admesh >/dev/null 2>&1") != 0) GTEST_SKIP() << "admesh not installed";
  for (const auto& [name, tilt] : {std::pair{"N46E007", 3}, {"N46E008", -2}, {"N47E007", 5}}) {
    root.Tile(std::string("SRTM_30/") + name + ".hgt", 121, [slope = tilt](int r, int c) {
      return 500 + slope * (r + c) + 40 * ((r * 7 + c * 3) % 11);
    });
  }
  // The regular grid, and an adaptive surface whose pieces keep their own points at the seams.
  const std::pair<const char*, const char*> surfaces[] = {
      {"", nullptr},
      {" --max-error 5", "   Adaptive surface, max. error 5.00 m\n"},
      {" --max-error 100", "   Adaptive surface, max. error 100.00 m\n"}};
  for (const auto& [surface, line] : surfaces) {
    SCOPED_TRACE(surface);
    const std::string stl = Path("solid.stl");
    const Outcome o =
        Cli(std::string("create --lon 7.5 8.5 --lat 46.5 47.5 --elev 0 2000 --x-extent 100 "
                        "--z-extent 20 --base 10 --pixel 2000 --solid --floor 3") +
            surface + " -o " + Quote(stl));
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("   Closed solid, floor 3.00 percent of the Z extent\n"),
              std::string::npos);
    EXPECT_EQ(o.out.find("   Adaptive surface, max. error") != std::string::npos, line != nullptr);
    if (line) {
      EXPECT_NE(o.out.find(line), std::string::npos);
    }

    const std::string text = Admesh(stl, captures.Path() / "admesh");
    ExpectOneClosedPart(text);
    EXPECT_EQ(AdmeshValue(text, "Min Z"), -0.6) << text;  // 3 % of 20 below the base plane
  }
}

}  // namespace
}  // namespace orolith
