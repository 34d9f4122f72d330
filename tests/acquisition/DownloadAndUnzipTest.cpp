#include "acquisition/DownloadAndUnzip.h"
#include "acquisition/HttpClient.h"
#include "acquisition/TileArchive.h"
#include "base/Errors.h"
#include "base/Interrupt.h"
#include "support/Archives.h"
#include "support/Pipes.h"
#include "support/RecordingHost.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"
#include "tiles/SRTM.h"

#include <chrono>
#include <csignal>
#include <cstring>

namespace orolith {
namespace {

using test::ReadText;
using test::TempDir;
using Lines = std::vector<std::string>;

class DownloadAndUnzipTest : public ::testing::Test {
 protected:
  DownloadAndUnzipTest() { std::filesystem::create_directories(tiles); }

  const std::string& Archive() const { return archive; }
  Lines Attempted(const std::string& url) const {
    return {"Attempting to Download : " + url,
            "Download completed, attempting to save to : " + archive,
            "Download successful, ... trying to unzip with " + ArchiverArguments(archive)};
  }
  Lines Failed(const std::string& url) const {
    return {"Attempting to Download : " + url, "Download failed for some reason"};
  }
  std::vector<std::string> TileFolderContent() const { return test::FolderEntries(tiles); }

  test::TestServer server;
  test::TempDir dir;
  test::RecordingHost host;
  std::filesystem::path tiles = dir.Path() / "SRTM_3";
  std::string archive = (tiles / "N45E006.hgt.zip").string();
};

TEST_F(DownloadAndUnzipTest, NotFoundWritesTwoLinesAndNoFile) {
  const std::string url = server.Url("/srtm/N45E006.hgt.zip");
  const DownloadAttempt attempt = DownloadAndUnzip(url, archive, host);
  EXPECT_FALSE(attempt);
  EXPECT_EQ(host.lines, Failed(url));
  EXPECT_TRUE(TileFolderContent().empty());
  // The caller tells the server's "none here" from a failure by the status.
  EXPECT_EQ(attempt.Outcome, DownloadAttempt::Result::TransferFailed);
  EXPECT_EQ(attempt.Status, 404);
  EXPECT_TRUE(attempt.NotOnServer({404}));
  EXPECT_FALSE(attempt.NotOnServer({403}));
  EXPECT_EQ(host.notes, Lines{attempt.Reason});
}

TEST_F(DownloadAndUnzipTest, ArchiveIsStoredKeptAndUnpackedByTheArchiver) {
  OROLITH_REQUIRE_SHARED_DATA("archives/N19W155.hgt.zip");
  const std::filesystem::path source = test::SharedData("archives/N19W155.hgt.zip");
  server.Serve("/a/N19W155.hgt.zip", source);
  archive = (tiles / "N19W155.hgt.zip").string();
  const std::string url = server.Url("/a/N19W155.hgt.zip");
  EXPECT_TRUE(DownloadAndUnzip(url, archive, host));
  EXPECT_EQ(host.lines, Attempted(url));
  EXPECT_EQ(test::ReadBytes(archive), test::ReadBytes(source));
  EXPECT_EQ(TileFolderContent(), (Lines{"N19W155.hgt", "N19W155.hgt.zip"}));
  EXPECT_EQ(TileKindOfFile((tiles / "N19W155.hgt").string()), TileKind::Srtm3);
}

TEST_F(DownloadAndUnzipTest, AnAnswerWithoutLengthIsStoredToo) {
  const std::string tile = test::TileContent("unsized");
  server.Serve("/z/N45E006.hgt.zip", test::MakeZip(dir.Path(), "N45E006.hgt", tile));
  const std::string url = server.Url("/unsized/z/N45E006.hgt.zip");
  EXPECT_TRUE(DownloadAndUnzip(url, archive, host));
  EXPECT_EQ(host.lines, Attempted(url));
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", tile));
}

// How each kind of transfer fails is the client's to tell (below); here a refused answer, a body
// over the limits handed down and a refused connection stand for them all.
TEST_F(DownloadAndUnzipTest, AFailedTransferIsOneLineAndANoteAndLeavesNoFile) {
  server.Serve("/real.zip", test::MakeZip(dir.Path(), "N45E006.hgt", "tile bytes"));
  test::WriteText(server.Files() / "big.zip", std::string(5000, 'x'));
  HttpLimits limits;
  limits.MaxBodyBytes = 4999;
  for (const std::string& url : {server.Url("/redirect/real.zip"), server.Url("/big.zip"),
                                 std::string("http://127.0.0.1:1/a.zip")}) {
    SCOPED_TRACE(url);
    host.lines.clear();
    host.notes.clear();
    EXPECT_FALSE(DownloadAndUnzip(url, archive, host, limits));
    EXPECT_EQ(host.lines, Failed(url));
    ASSERT_EQ(host.notes.size(), 1U);
    EXPECT_NE(host.notes[0].find(url.substr(url.rfind('/'))), std::string::npos) << host.notes[0];
    EXPECT_TRUE(TileFolderContent().empty());
  }
}

TEST_F(DownloadAndUnzipTest, ClientErrorsTellWhatWentWrong) {
  HttpLimits limits;
  limits.MaxBodyBytes = 4999;
  limits.StallSeconds = 1;
  test::WriteText(server.Files() / "fits.zip", std::string(4999, 'x'));
  test::WriteText(server.Files() / "big.zip", std::string(5000, 'x'));
  const struct {
    const char* path;
    long status;
    const char* reason;
  } failures[] = {
      {"/none.zip", 404, "HTTP status 404"},
      {"/redirect/fits.zip", 302, "HTTP status 302"},
      {"/silent/fits.zip", 0, "Empty reply"},
      {"/drop/fits.zip", 200, "transfer closed"},
      {"/hang/fits.zip", 0, "no data for 1 seconds"},
      {"/stall/fits.zip", 200, "no data for 1 seconds"},
      {"/big.zip", 200, "larger than 4999 bytes"},
      {"/unsized/big.zip", 200, "larger than 4999 bytes"},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.path);
    try {
      HttpClient(limits).Get(server.Url(failure.path));
      ADD_FAILURE() << "no error";
    } catch (const HttpError& e) {
      EXPECT_EQ(e.Status(), failure.status);
      EXPECT_NE(std::string(e.what()).find(failure.reason), std::string::npos) << e.what();
    }
  }
  // A body of exactly the limit is whole, with or without an announced length.
  EXPECT_EQ(HttpClient(limits).Get(server.Url("/fits.zip")), std::vector<char>(4999, 'x'));
  EXPECT_EQ(HttpClient(limits).Get(server.Url("/unsized/fits.zip")), std::vector<char>(4999, 'x'));
}

TEST_F(DownloadAndUnzipTest, ArchiveFromAnEarlierRunServesWhenTheTransferFails) {
  const std::string tile = test::TileContent("earlier");
  std::filesystem::copy_file(test::MakeZip(dir.Path(), "N45E006.hgt", tile), archive);
  const std::string url = server.Url("/none/N45E006.hgt.zip");
  EXPECT_TRUE(DownloadAndUnzip(url, archive, host));
  EXPECT_EQ(host.lines,
            (Lines{"Attempting to Download : " + url,
                   "Download successful, ... trying to unzip with " + ArchiverArguments(archive)}));
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", tile));
}

TEST_F(DownloadAndUnzipTest, ArchiverIsTakenFromTheCurrentDirectoryThenFromPath) {
  server.Serve("/a.zip", test::MakeZip(dir.Path(), "N45E006.hgt", "tile"));
  const auto bin = dir.Path() / "bin";
  const auto local = dir.Path() / "cwd";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(local);
  // A failing archiver on PATH records its arguments; the one in the current directory hands
  // over a tile of zeros.
  test::WriteScript(bin / "7za",
                    "printf '%s\\n' \"$@\" >" + (dir.Path() / "path-args").string() + "; exit 2");
  test::WriteScript(local / "7za", "head -c 29282 /dev/zero");
  const test::ScopedEnvironment path("PATH", bin.string() + ":/usr/bin:/bin");
  EXPECT_FALSE(DownloadAndUnzip(server.Url("/a.zip"), archive, host));
  EXPECT_EQ(host.lines.back(), "Unpacking failed: the archiver ended with status 2");
  // Every name goes over as one argument, whatever quotes or dashes it holds.
  EXPECT_EQ(ReadText(dir.Path() / "path-args"),
            "e\n-so\n-r\n-bd\n--\n" + archive + "\nN45E006.hgt\n");
  {
    const test::ScopedCurrentDirectory cwd(local);
    EXPECT_TRUE(DownloadAndUnzip(server.Url("/a.zip"), archive, host));
  }
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", std::string(29282, '\0')));
}

TEST_F(DownloadAndUnzipTest, MissingArchiverOrFolderEndsWithTheError) {
  server.Serve("/a.zip", test::MakeZip(dir.Path(), "N45E006.hgt", "tile"));
  const auto empty = dir.Path() / "empty";
  std::filesystem::create_directories(empty);
  {
    const test::ScopedEnvironment path("PATH", empty.string());
    try {
      DownloadAndUnzip(server.Url("/a.zip"), archive, host);
      FAIL() << "no error";
    } catch (const SystemError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("System Error.  Code: 2.\n") + std::strerror(2));
    }
  }
  EXPECT_EQ(host.lines, Attempted(server.Url("/a.zip")));
  // Which program could not be started is told apart from the log.
  EXPECT_EQ(host.notes, Lines{"Cannot start the archiver 7za: No such file or directory (it is "
                              "looked for in the current directory, then on PATH)"});
  EXPECT_EQ(TileFolderContent(), Lines{"N45E006.hgt.zip"});

  const std::string nowhere = (dir.Path() / "absent" / "N45E006.hgt.zip").string();
  host.lines.clear();
  EXPECT_THROW(DownloadAndUnzip(server.Url("/a.zip"), nowhere, host), FileError);
  EXPECT_EQ(host.lines, (Lines{"Attempting to Download : " + server.Url("/a.zip"),
                               "Download completed, attempting to save to : " + nowhere}));
}

TEST_F(DownloadAndUnzipTest, ASlowButSteadyTransferIsNoStall) {
  const std::string tile = test::TileContent("slow tile");
  server.Serve("/N45E006.hgt.zip", test::MakeZip(dir.Path(), "N45E006.hgt", tile));
  test::WriteText(server.Files() / "body", tile);
  HttpLimits limits;
  limits.StallSeconds = 1;
  // The server takes 2.4 s for each, well past the stall limit, but never stops for long.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(HttpClient(limits).Get(server.Url("/trickle/body")) ==
              std::vector<char>(tile.begin(), tile.end()));
  const std::string url = server.Url("/trickle/N45E006.hgt.zip");
  EXPECT_TRUE(DownloadAndUnzip(url, archive, host, limits));
  EXPECT_EQ(host.lines, Attempted(url));
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", tile));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
}

TEST_F(DownloadAndUnzipTest, ATransferBelowTheRateFloorFailsThoughBytesKeepComing) {
  test::WriteText(server.Files() / "slow.zip", std::string(40, 'x'));
  HttpLimits limits;
  limits.StallSeconds = 1;  // a byte every 0.25 s is no stall
  limits.LowSpeedSeconds = 2;
  const std::string url = server.Url("/drip/slow.zip");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(DownloadAndUnzip(url, archive, host, limits));
  // The whole answer takes 10 s.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
  EXPECT_EQ(host.lines, Failed(url));
  ASSERT_EQ(host.notes.size(), 1U);
  EXPECT_EQ(host.notes[0],
            url + ": Operation too slow. Less than 1000 bytes/sec transferred the last 2 seconds");
  EXPECT_TRUE(TileFolderContent().empty());
}

TEST_F(DownloadAndUnzipTest, TheBodyBufferNeverGrowsPastTheLimit) {
  HttpLimits limits;
  limits.MaxBodyBytes = 1000000;
  test::WriteText(server.Files() / "full", std::string(limits.MaxBodyBytes, 'b'));
  for (const char* path : {"/full", "/unsized/full"}) {
    SCOPED_TRACE(path);
    const std::vector<char> body = HttpClient(limits).Get(server.Url(path));
    EXPECT_EQ(body.size(), limits.MaxBodyBytes);
    EXPECT_LE(body.capacity(), limits.MaxBodyBytes);
  }
}

TEST_F(DownloadAndUnzipTest, TheEnvironmentsProxyIsNotUsed) {
  const std::string tile = test::TileContent("direct");
  server.Serve("/N45E006.hgt.zip", test::MakeZip(dir.Path(), "N45E006.hgt", tile));
  const test::ScopedEnvironment proxy("http_proxy", "http://127.0.0.1:1");
  const test::ScopedEnvironment all("ALL_PROXY", "http://127.0.0.1:1");
  EXPECT_TRUE(DownloadAndUnzip(server.Url("/N45E006.hgt.zip"), archive, host));
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", tile));
  EXPECT_EQ(server.Requests(), std::vector<std::string>{"/N45E006.hgt.zip"});
}

TEST_F(DownloadAndUnzipTest, AnArchiveThatYieldsNoTileIsAFailedAttemptAndLeavesOnlyItself) {
  const std::string tile = test::TileContent("N45E006");
  const std::string good = ReadText(test::MakeZip(dir.Path(), "N45E006.hgt", tile));
  test::WriteText(server.Files() / "truncated.zip", good.substr(0, good.size() / 2));
  test::WriteText(server.Files() / "page.zip", "<html>No such tile</html>");
  test::WriteText(server.Files() / "empty.zip", "");
  server.Serve("/short.zip", test::MakeZip(dir.Path() / "short", "N45E006.hgt", "too short"));
  server.Serve("/other.zip", test::MakeZip(dir.Path() / "other", "N45E007.hgt", tile));
  // Zeros compress well: 30 MB, more than the largest tile, arrive in a small archive.
  server.Serve("/bomb.zip",
               test::MakeZip(dir.Path() / "bomb", "N45E006.hgt", std::string(30000000, '\0')));
  for (const char* path :
       {"/truncated.zip", "/page.zip", "/empty.zip", "/short.zip", "/other.zip", "/bomb.zip"}) {
    SCOPED_TRACE(path);
    host.lines.clear();
    const DownloadAttempt attempt = DownloadAndUnzip(server.Url(path), archive, host);
    EXPECT_EQ(attempt.Outcome, DownloadAttempt::Result::UnpackFailed);
    ASSERT_EQ(host.lines.size(), 4U);
    EXPECT_EQ(attempt.Reason, host.lines[3]);
    EXPECT_EQ(host.lines[2], Attempted(server.Url(path))[2]);
    EXPECT_TRUE(host.lines[3].starts_with("Unpacking failed: ")) << host.lines[3];
    EXPECT_EQ(TileFolderContent(), Lines{"N45E006.hgt.zip"});
  }
}

TEST_F(DownloadAndUnzipTest, AFullDiskWhileUnpackingEndsTheRunAndKeepsTheArchive) {
  const auto zip = test::MakeZip(dir.Path(), "N45E006.hgt", test::TileContent("N45E006"));
  std::filesystem::copy_file(zip, archive);
  ASSERT_LT(std::filesystem::file_size(zip), 10000U);
  std::string error;
  try {
    // The tile's writes fail after 10 kB, as on a full disk: no mere failed attempt.
    const test::FileSizeLimit limit(10000);
    DownloadAndUnzip(server.Url("/none.zip"), archive, host);
  } catch (const FileError& e) {
    error = e.what();
  }
  EXPECT_TRUE(error.starts_with("Cannot write file \"" + (tiles / "N45E006.hgt").string() + "\". "))
      << error;
  EXPECT_EQ(TileFolderContent(), Lines{"N45E006.hgt.zip"});
}

TEST_F(DownloadAndUnzipTest, OnlyTheTileLeavesTheArchive) {
  const auto work = dir.Path() / "many";
  std::filesystem::create_directories(work / "inner");
  test::WriteText(work / "inner" / "N45E006.hgt", test::TileContent("N45E006"));
  test::WriteText(work / "README.txt", "about this tile");
  test::WriteText(work / "N45E007.hgt", test::TileContent("N45E007"));
  const auto zip = dir.Path() / "many.zip";
  ASSERT_EQ(
      std::system(("cd '" + work.string() + "' && zip -q -r '" + zip.string() + "' .").c_str()), 0);
  server.Serve("/many.zip", zip);
  EXPECT_TRUE(DownloadAndUnzip(server.Url("/many.zip"), archive, host));
  EXPECT_EQ(TileFolderContent(), (Lines{"N45E006.hgt", "N45E006.hgt.zip"}));
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", test::TileContent("N45E006")));
}

TEST_F(DownloadAndUnzipTest, ALinkAtTheArchiveNameIsReplacedNotFollowed) {
  const std::string tile = test::TileContent("N45E006");
  const auto zip = test::MakeZip(dir.Path(), "N45E006.hgt", tile);
  server.Serve("/N45E006.hgt.zip", zip);
  const auto outside = dir.Path() / "outside.txt";
  test::WriteText(outside, "not the downloader's");
  std::filesystem::create_symlink(outside, archive);
  EXPECT_TRUE(DownloadAndUnzip(server.Url("/N45E006.hgt.zip"), archive, host));
  EXPECT_EQ(ReadText(outside), "not the downloader's");
  EXPECT_FALSE(std::filesystem::is_symlink(archive));
  EXPECT_EQ(ReadText(archive), ReadText(zip));
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", tile));
}

TEST_F(DownloadAndUnzipTest, APipeNamedLikeTheArchiveIsRefusedWithoutWaiting) {
  const test::PipeAtPath pipe(archive);
  const auto started = std::chrono::steady_clock::now();
  const std::string url = server.Url("/none.zip");
  EXPECT_FALSE(DownloadAndUnzip(url, archive, host));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(pipe.Released(), 0) << "the archiver opened the pipe";
  ASSERT_EQ(host.lines.size(), 3U);
  EXPECT_EQ(host.lines[2],
            "Unpacking failed: Cannot open file \"" + archive + "\". Not a regular file");
}

TEST_F(DownloadAndUnzipTest, AQuoteInTheFolderNameReachesTheArchiverWhole) {
  tiles = dir.Path() / "say \"cheese\"" / "SRTM_3";
  std::filesystem::create_directories(tiles);
  archive = (tiles / "N45E006.hgt.zip").string();
  const std::string tile = test::TileContent("quoted");
  server.Serve("/N45E006.hgt.zip", test::MakeZip(dir.Path(), "N45E006.hgt", tile));
  EXPECT_TRUE(DownloadAndUnzip(server.Url("/N45E006.hgt.zip"), archive, host));
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", tile));
}

// A host whose waits end with Interrupted once the given time has passed, as when the window is
// closed or Ctrl-C is pressed.
struct StoppingHost : test::RecordingHost {
  explicit StoppingHost(std::chrono::milliseconds after)
      : deadline(std::chrono::steady_clock::now() + after) {}
  void WhileWaiting() override {
    ++waits;
    if (std::chrono::steady_clock::now() >= deadline) throw Interrupted();
  }
  std::chrono::steady_clock::time_point deadline;
  int waits = 0;
};

TEST_F(DownloadAndUnzipTest, AStopEndsAWaitingTransferAtOnceAndLeavesNoFile) {
  StoppingHost stopping(std::chrono::milliseconds(300));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(DownloadAndUnzip(server.Url("/hang/N45E006.hgt.zip"), archive, stopping),
               Interrupted);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_GE(stopping.waits, 3) << "the host got no turn while the transfer waited";
  EXPECT_EQ(stopping.lines,
            Lines{"Attempting to Download : " + server.Url("/hang/N45E006.hgt.zip")});
  EXPECT_TRUE(TileFolderContent().empty());
}

TEST_F(DownloadAndUnzipTest, AStopEndsTheArchiverAndLeavesNoTile) {
  std::filesystem::copy_file(test::MakeZip(dir.Path(), "N45E006.hgt", "x"), archive);
  // An archiver that hands over half a tile and then takes its time.
  const auto local = dir.Path() / "cwd";
  std::filesystem::create_directories(local);
  const auto pidFile = dir.Path() / "archiver.pid";
  test::WriteScript(local / "7za",
                    "echo $$ >" + pidFile.string() + "; head -c 10000 /dev/zero; exec sleep 30");
  const test::ScopedCurrentDirectory cwd(local);
  StoppingHost stopping(std::chrono::milliseconds(500));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_THROW(UnpackTile(archive, (tiles / "N45E006.hgt").string(), stopping), Interrupted);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  EXPECT_EQ(TileFolderContent(), Lines{"N45E006.hgt.zip"});
  const pid_t archiver = std::stoi(ReadText(pidFile));
  EXPECT_EQ(::kill(archiver, 0), -1) << "the archiver still runs";
}

TEST_F(DownloadAndUnzipTest, AGzippedTileIsUnpackedToo) {
  const std::string tile = test::TileContent("gzip");
  test::WriteText(dir.Path() / "N45E006.hgt", tile);
  const std::string gz = (tiles / "N45E006.hgt.gz").string();
  ASSERT_EQ(std::system(
                ("gzip -c '" + (dir.Path() / "N45E006.hgt").string() + "' >'" + gz + "'").c_str()),
            0);
  UnpackTile(gz, (tiles / "N45E006.hgt").string(), host);
  EXPECT_TRUE(test::Holds(tiles / "N45E006.hgt", tile));
  EXPECT_EQ(TileFolderContent(), (Lines{"N45E006.hgt", "N45E006.hgt.gz"}));
}

TEST_F(DownloadAndUnzipTest, ANamedProxyCarriesEveryRequest) {
  test::WriteText(server.Files() / "a.zip", "through the proxy");
  const std::vector<char> body =
      HttpClient(HttpLimits{}, "http://" + server.Host()).Get("http://tiles.invalid/a.zip");
  EXPECT_EQ(std::string(body.begin(), body.end()), "through the proxy");
  EXPECT_EQ(server.Requests(), std::vector<std::string>{"proxy http://tiles.invalid/a.zip"});
}

TEST(ArchiverArguments, ExtractIntoTheArchivesFolderOverwriting) {
  EXPECT_EQ(ArchiverArguments("/data/SRTM_3/N45E006.hgt.zip"),
            R"(e e "/data/SRTM_3/N45E006.hgt.zip" -o"/data/SRTM_3/" -aoa)");
}

}  // namespace
}  // namespace orolith
