#include "DownloadTestSupport.h"
#include "acquisition/DownloadAndUnzip.h"
#include "acquisition/HttpClient.h"
#include "acquisition/TWinSystem.h"
#include "base/Errors.h"
#include "tiles/SRTM.h"

#include <sys/resource.h>

#include <algorithm>
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
  std::vector<std::string> TileFolderContent() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(tiles)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TestServer server;
  test::TempDir dir;
  test::RecordingHost host;
  std::filesystem::path tiles = dir.Path() / "SRTM_3";
  std::string archive = (tiles / "N45E006.hgt.zip").string();
};

TEST_F(DownloadAndUnzipTest, NotFoundWritesTwoLinesAndNoFile) {
  const std::string url = server.Url("/srtm/N45E006.hgt.zip");
  EXPECT_FALSE(DownloadAndUnzip(url, archive, host));
  EXPECT_EQ(host.lines, Failed(url));
  EXPECT_TRUE(TileFolderContent().empty());
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

TEST_F(DownloadAndUnzipTest, AnswersWithoutLengthOrEmptyAreStillStored) {
  server.Serve("/z/N45E006.hgt.zip", test::MakeZip(dir.Path(), "N45E006.hgt", "tile bytes"));
  const std::string url = server.Url("/unsized/z/N45E006.hgt.zip");
  EXPECT_TRUE(DownloadAndUnzip(url, archive, host));
  EXPECT_EQ(host.lines, Attempted(url));
  EXPECT_EQ(ReadText(tiles / "N45E006.hgt"), "tile bytes");

  // An empty archive makes the archiver fail, which goes unnoticed.
  test::WriteText(server.Files() / "empty.zip", "");
  host.lines.clear();
  const std::string empty = server.Url("/empty.zip");
  EXPECT_TRUE(DownloadAndUnzip(empty, archive, host));
  EXPECT_EQ(host.lines, Attempted(empty));
  EXPECT_EQ(std::filesystem::file_size(archive), 0U);
}

TEST_F(DownloadAndUnzipTest, EveryKindOfFailedTransferLeavesNoFile) {
  server.Serve("/real.zip", test::MakeZip(dir.Path(), "N45E006.hgt", "tile bytes"));
  test::WriteText(server.Files() / "big.zip", std::string(5000, 'x'));
  HttpLimits limits;
  limits.MaxBodyBytes = 4999;
  limits.StallSeconds = 1;
  limits.ConnectTimeoutSeconds = 2;
  const auto started = std::chrono::steady_clock::now();
  for (const std::string& url : {server.Url("/redirect/real.zip"), server.Url("/drop/real.zip"),
                                 server.Url("/silent/real.zip"), server.Url("/stall/real.zip"),
                                 server.Url("/big.zip"), std::string("http://127.0.0.1:1/a.zip"),
                                 std::string("http://no-such-host.invalid/a.zip")}) {
    SCOPED_TRACE(url);
    host.lines.clear();
    EXPECT_FALSE(DownloadAndUnzip(url, archive, host, limits));
    EXPECT_EQ(host.lines, Failed(url));
    EXPECT_TRUE(TileFolderContent().empty());
  }
  // The stall is given up after about a second, not after the server's two minutes.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
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
  std::filesystem::copy_file(test::MakeZip(dir.Path(), "N45E006.hgt", "earlier"), archive);
  const std::string url = server.Url("/none/N45E006.hgt.zip");
  EXPECT_TRUE(DownloadAndUnzip(url, archive, host));
  EXPECT_EQ(host.lines,
            (Lines{"Attempting to Download : " + url,
                   "Download successful, ... trying to unzip with " + ArchiverArguments(archive)}));
  EXPECT_EQ(ReadText(tiles / "N45E006.hgt"), "earlier");
}

TEST_F(DownloadAndUnzipTest, ArchiverIsTakenFromTheCurrentDirectoryThenFromPath) {
  server.Serve("/a.zip", test::MakeZip(dir.Path(), "N45E006.hgt", "tile"));
  const auto bin = dir.Path() / "bin";
  const auto local = dir.Path() / "cwd";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(local);
  // A failing archiver on PATH records its arguments; its failure goes unnoticed.
  test::WriteScript(bin / "7za",
                    "printf '%s\\n' \"$@\" >" + (dir.Path() / "path-args").string() + "; exit 2");
  test::WriteScript(local / "7za", "echo ran >" + (dir.Path() / "local-ran").string());
  const test::ScopedEnvironment path("PATH", bin.string());
  EXPECT_TRUE(DownloadAndUnzip(server.Url("/a.zip"), archive, host));
  EXPECT_EQ(ReadText(dir.Path() / "path-args"),
            "e\n" + archive + "\n-o" + tiles.string() + "/\n-aoa\n");
  {
    const test::ScopedCurrentDirectory cwd(local);
    EXPECT_TRUE(DownloadAndUnzip(server.Url("/a.zip"), archive, host));
  }
  EXPECT_EQ(ReadText(dir.Path() / "local-ran"), "ran\n");
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
  EXPECT_EQ(TileFolderContent(), Lines{"N45E006.hgt.zip"});

  const std::string nowhere = (dir.Path() / "absent" / "N45E006.hgt.zip").string();
  host.lines.clear();
  EXPECT_THROW(DownloadAndUnzip(server.Url("/a.zip"), nowhere, host), FileError);
  EXPECT_EQ(host.lines, (Lines{"Attempting to Download : " + server.Url("/a.zip"),
                               "Download completed, attempting to save to : " + nowhere}));
}

TEST(ArchiverArguments, ExtractIntoTheArchivesFolderOverwriting) {
  EXPECT_EQ(ArchiverArguments("/data/SRTM_3/N45E006.hgt.zip"),
            R"(e e "/data/SRTM_3/N45E006.hgt.zip" -o"/data/SRTM_3/" -aoa)");
}

TEST(WriteFileAtomically, ReplacesTheFileOrLeavesEverythingAsItWas) {
  const TempDir dir;
  const std::string file = (dir.Path() / "a.zip").string();
  WriteFileAtomically(file, {'o', 'l', 'd'});
  WriteFileAtomically(file, {'n', 'e', 'w', '!'});
  EXPECT_EQ(ReadText(file), "new!");

  const std::string nowhere = (dir.Path() / "missing" / "a.zip").string();
  try {
    WriteFileAtomically(nowhere, {'x'});
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + nowhere + "\". " + std::strerror(ENOENT));
  }

  // A write that stops half-way (here at the file size limit) must not leave a truncated
  // archive, nor harm the one already there.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 10;
  setrlimit(RLIMIT_FSIZE, &small);
  bool thrown = false;
  try {
    WriteFileAtomically(file, std::vector<char>(1000, 'z'));
  } catch (const FileError& e) {
    thrown = std::string(e.what()).starts_with("Cannot write file \"" + file + "\". ");
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(thrown);
  EXPECT_EQ(ReadText(file), "new!");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

}  // namespace
}  // namespace orolith
