#include "acquisition/DownloadAndUnzip.h"
#include "acquisition/TileMirrors.h"
#include "support/Archives.h"
#include "support/RecordingHost.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"

#include <optional>
#include <stdexcept>

namespace orolith {
namespace {

using Lines = std::vector<std::string>;

TEST(MirrorTileAt, EachLayoutNamesTheTileItsOwnWay) {
  const struct {
    ArchiveLayout layout;
    std::int32_t lon;
    std::int32_t lat;
    const char* url;
    const char* archive;
  } cases[] = {
      {ArchiveLayout::Esa, 7, 46, "B/N46E007.SRTMGL1.hgt.zip", "N46E007.hgt.zip"},
      {ArchiveLayout::Esa, -72, -1, "B/S01W072.SRTMGL1.hgt.zip", "S01W072.hgt.zip"},
      {ArchiveLayout::Aws, 7, 46, "B/N46/N46E007.hgt.gz", "N46E007.hgt.gz"},
      {ArchiveLayout::Aws, -72, -1, "B/S01/S01W072.hgt.gz", "S01W072.hgt.gz"},
      {ArchiveLayout::Aws, -180, 0, "B/N00/N00W180.hgt.gz", "N00W180.hgt.gz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const MirrorTile tile = MirrorTileAt(c.layout, "B/", c.lon, c.lat);
    EXPECT_EQ(tile.Url, c.url);
    EXPECT_EQ(tile.ArchiveName, c.archive);
  }
  EXPECT_THROW(MirrorTileAt(ArchiveLayout::SrtmV21, "B/", 7, 46), std::logic_error);
  // The default source, a mirror that serves.
  EXPECT_EQ(MirrorTileAt(ArchiveSource{}.Layout, Srtm1BaseUrl({}), 7, 46).Url,
            "https://step.esa.int/auxdata/dem/SRTMGL1/N46E007.SRTMGL1.hgt.zip");
}

// One tile, N46E007, from a mirror at a loopback server: plain HTTP, or HTTPS with a
// self-signed certificate that only the environment can make trusted.
class MirrorTileTest : public ::testing::Test {
 protected:
  MirrorTileTest() {
    std::filesystem::create_directories(tiles);
    // Whatever the machine's environment names, the tests say what is trusted.
    Trust("");
  }

  void Trust(const std::string& bundle) {
    bundleVariable.emplace("CURL_CA_BUNDLE", "");
    fileVariable.emplace("SSL_CERT_FILE", bundle);
  }
  // Both layouts' files of the tile below folder on server.
  static void ServeBoth(const test::TestServer& server, const std::string& folder,
                        const test::TempDir& scratch) {
    server.Serve(folder + "N46E007.SRTMGL1.hgt.zip",
                 test::MakeZip(scratch.Path(), "N46E007.hgt", test::TileContent("esa")));
    server.Serve(folder + "N46/N46E007.hgt.gz",
                 test::MakeGzip(scratch.Path(), "N46E007.hgt", test::TileContent("aws")));
  }
  bool Fetch(ArchiveLayout layout, const std::string& base) {
    source.Layout = layout;
    source.TileUrl = base;
    host.lines.clear();
    host.notes.clear();
    return static_cast<bool>(DownloadMirrorTile(source, tiles.string() + "/", 7, 46, host));
  }
  Lines Fetched(const std::string& url, const std::string& archiveName) const {
    const std::string archive = tiles.string() + "/" + archiveName;
    return {"Attempting to Download : " + url,
            "Download completed, attempting to save to : " + archive,
            "Download successful, ... trying to unzip with " + ArchiverArguments(archive)};
  }
  static Lines Failed(const std::string& url) {
    return {"Attempting to Download : " + url, "Download failed for some reason"};
  }
  Lines TileFolder() const { return test::FolderEntries(tiles); }

  test::TempDir dir;
  test::SelfSignedCertificate certificate;
  test::TestServer secure{&certificate};
  test::TestServer plain;
  std::filesystem::path tiles = dir.Path() / "SRTM_1";
  ArchiveSource source;
  test::RecordingHost host;
  std::optional<test::ScopedEnvironment> bundleVariable;
  std::optional<test::ScopedEnvironment> fileVariable;
};

TEST_F(MirrorTileTest, BothLayoutsOverHttpsWithTheCertificateFromTheEnvironment) {
  ServeBoth(secure, "/tiles/", dir);
  Trust(certificate.File());
  const std::string esa = secure.Url("/tiles/N46E007.SRTMGL1.hgt.zip");
  EXPECT_TRUE(Fetch(ArchiveLayout::Esa, secure.Url("/tiles/")));
  EXPECT_EQ(host.lines, Fetched(esa, "N46E007.hgt.zip"));
  EXPECT_TRUE(test::Holds(tiles / "N46E007.hgt", test::TileContent("esa")));

  // CURL_CA_BUNDLE comes before SSL_CERT_FILE, as with curl's own tool.
  std::filesystem::remove(tiles / "N46E007.hgt");
  bundleVariable.emplace("CURL_CA_BUNDLE", certificate.File());
  fileVariable.emplace("SSL_CERT_FILE", (dir.Path() / "no-such-bundle.pem").string());
  const std::string aws = secure.Url("/tiles/N46/N46E007.hgt.gz");
  EXPECT_TRUE(Fetch(ArchiveLayout::Aws, secure.Url("/tiles/")));
  EXPECT_EQ(host.lines, Fetched(aws, "N46E007.hgt.gz"));
  EXPECT_TRUE(test::Holds(tiles / "N46E007.hgt", test::TileContent("aws")));
  EXPECT_TRUE(host.notes.empty());
}

TEST_F(MirrorTileTest, AnUntrustedCertificateIsAFailedAttemptThatSaysWhy) {
  ServeBoth(secure, "/tiles/", dir);
  const std::string url = secure.Url("/tiles/N46E007.SRTMGL1.hgt.zip");
  EXPECT_FALSE(Fetch(ArchiveLayout::Esa, secure.Url("/tiles/")));
  EXPECT_EQ(host.lines, Failed(url));
  ASSERT_EQ(host.notes.size(), 1U);
  EXPECT_TRUE(host.notes[0].starts_with(url + ": SSL certificate problem")) << host.notes[0];
  EXPECT_TRUE(TileFolder().empty());
  EXPECT_TRUE(secure.Requests().empty()) << "a request went out before the certificate was checked";
}

TEST_F(MirrorTileTest, RedirectsAreFollowedWithinHttpsAndAFewHops) {
  Trust(certificate.File());
  ServeBoth(secure, "/skadi/", dir);
  EXPECT_TRUE(Fetch(ArchiveLayout::Aws, secure.Url("/redirect/skadi/")));
  EXPECT_EQ(secure.Requests(),
            (Lines{"/redirect/skadi/N46/N46E007.hgt.gz", "/skadi/N46/N46E007.hgt.gz"}));
  EXPECT_TRUE(test::Holds(tiles / "N46E007.hgt", test::TileContent("aws")));

  // Plain http may move up to https, and five hops are followed, a sixth is not.
  std::filesystem::remove_all(tiles);
  std::filesystem::create_directories(tiles);
  ServeBoth(plain, "/esa/", dir);
  std::string base = "/esa/";
  for (int hop = 0; hop < 5; ++hop) base = "/redirect" + base;
  EXPECT_TRUE(Fetch(ArchiveLayout::Esa, plain.Url(base)));
  EXPECT_TRUE(test::Holds(tiles / "N46E007.hgt", test::TileContent("esa")));
  std::filesystem::remove_all(tiles);
  std::filesystem::create_directories(tiles);
  const std::string sixHops = plain.Url("/redirect" + base);
  EXPECT_FALSE(Fetch(ArchiveLayout::Esa, sixHops));
  EXPECT_EQ(host.lines, Failed(sixHops + "N46E007.SRTMGL1.hgt.zip"));
  ASSERT_EQ(host.notes.size(), 1U);
  EXPECT_NE(host.notes[0].find("Maximum (5) redirects followed"), std::string::npos)
      << host.notes[0];
  EXPECT_TRUE(TileFolder().empty());
}

TEST_F(MirrorTileTest, ARedirectFromHttpsToPlainHttpIsRefused) {
  Trust(certificate.File());
  ServeBoth(plain, "/skadi/", dir);
  const std::string base = secure.Url("/goto/http/" + plain.Host() + "/skadi/");
  EXPECT_FALSE(Fetch(ArchiveLayout::Aws, base));
  EXPECT_EQ(host.lines, Failed(base + "N46/N46E007.hgt.gz"));
  EXPECT_EQ(host.notes, Lines{base + "N46/N46E007.hgt.gz: redirect to " +
                              plain.Url("/skadi/N46/N46E007.hgt.gz") + " refused"});
  EXPECT_TRUE(plain.Requests().empty());
  EXPECT_TRUE(TileFolder().empty());
}

TEST_F(MirrorTileTest, ATruncatedGzipLeavesNoTile) {
  const std::string whole =
      test::ReadText(test::MakeGzip(dir.Path(), "N46E007.hgt", test::TileContent("aws")));
  std::filesystem::create_directories(plain.Files() / "skadi" / "N46");
  test::WriteText(plain.Files() / "skadi" / "N46" / "N46E007.hgt.gz",
                  whole.substr(0, whole.size() / 2));
  const std::string url = plain.Url("/skadi/N46/N46E007.hgt.gz");
  EXPECT_FALSE(Fetch(ArchiveLayout::Aws, plain.Url("/skadi/")));
  ASSERT_EQ(host.lines.size(), 4U);
  EXPECT_EQ(host.lines[2], Fetched(url, "N46E007.hgt.gz")[2]);
  EXPECT_TRUE(host.lines[3].starts_with("Unpacking failed: ")) << host.lines[3];
  EXPECT_EQ(TileFolder(), Lines{"N46E007.hgt.gz"});
}

}  // namespace
}  // namespace orolith
