#include "frontpanel/DownloadSettings.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace orolith {
namespace {

// The message of the invalid_argument a call raises; empty when it raises none.
template <typename Call>
std::string Refusal(Call call) {
  try {
    call();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(TileSources, NamesAreReadInAnyLetterCase) {
  EXPECT_EQ(ArchiveLayoutNamed("srtm-v2.1"), ArchiveLayout::SrtmV21);
  EXPECT_EQ(ArchiveLayoutNamed("SRTM-V2.1"), ArchiveLayout::SrtmV21);
  EXPECT_EQ(ArchiveLayoutNamed("ESA"), ArchiveLayout::Esa);
  EXPECT_EQ(ArchiveLayoutNamed("Aws"), ArchiveLayout::Aws);
  EXPECT_EQ(ArchiveLayoutNamed("COPERNICUS"), ArchiveLayout::Copernicus);
  for (const char* name : {"eas", "", "esa ", "srtm", "aws2"}) {
    const std::string expected =
        std::string("unknown tile source '") + name + "' (known: esa, aws, copernicus, srtm-v2.1)";
    EXPECT_EQ(Refusal([&] { ArchiveLayoutNamed(name); }), expected);
  }
}

TEST(TileSources, EachSourceHasItsOwnAddress) {
  ArchiveSource source;
  source.Layout = ArchiveLayout::SrtmV21;
  EXPECT_EQ(Srtm1BaseUrl(source), "http://dds.cr.usgs.gov/srtm/version2_1/");
  source.ArchiveHost = "mirror.example.org:8080";
  EXPECT_EQ(Srtm1BaseUrl(source), "http://mirror.example.org:8080/srtm/version2_1/");

  source.Layout = ArchiveLayout::Esa;
  EXPECT_EQ(Srtm1BaseUrl(source), "https://step.esa.int/auxdata/dem/SRTMGL1/");
  EXPECT_EQ(ArchiveBaseUrl(source), "http://mirror.example.org:8080/srtm/version2_1/");
  source.Layout = ArchiveLayout::Aws;
  EXPECT_EQ(Srtm1BaseUrl(source), "https://s3.amazonaws.com/elevation-tiles-prod/skadi/");
  source.Layout = ArchiveLayout::Copernicus;
  EXPECT_EQ(Srtm1BaseUrl(source), "https://copernicus-dem-30m.s3.amazonaws.com/");

  // A base address replaces the source's own; the archive's stands for both resolutions.
  source.TileUrl = "https://cache.example.org/skadi/";
  EXPECT_EQ(Srtm1BaseUrl(source), "https://cache.example.org/skadi/");
  EXPECT_EQ(ArchiveBaseUrl(source), "http://mirror.example.org:8080/srtm/version2_1/");
  source.Layout = ArchiveLayout::SrtmV21;
  EXPECT_EQ(Srtm1BaseUrl(source), "https://cache.example.org/skadi/");
  EXPECT_EQ(ArchiveBaseUrl(source), "https://cache.example.org/skadi/");
}

TEST(TileSources, AnotherLayoutChosenTakesItsOwnAddressAndTheGivenOneComesBack) {
  ArchiveSource given;
  given.ArchiveHost = "h:81";
  given.Layout = ArchiveLayout::Esa;
  given.TileUrl = "https://cache.example.org/esa/";
  given.Proxy = "http://proxy:3128";
  const struct {
    ArchiveLayout layout;
    const char* address;
  } cases[] = {
      {ArchiveLayout::SrtmV21, "http://h:81/srtm/version2_1/"},
      {ArchiveLayout::Aws, "https://s3.amazonaws.com/elevation-tiles-prod/skadi/"},
      {ArchiveLayout::Esa, "https://cache.example.org/esa/"},
  };
  for (const auto& c : cases) {
    const ArchiveSource chosen = WithLayout(given, c.layout);
    EXPECT_EQ(chosen.Layout, c.layout);
    EXPECT_EQ(Srtm1BaseUrl(chosen), c.address);
    EXPECT_EQ(chosen.ArchiveHost, "h:81");
    EXPECT_EQ(chosen.Proxy, "http://proxy:3128");
  }
}

TEST(TileSources, ABaseAddressIsHttpOrHttpsWithAHostAndEndsInASlash) {
  EXPECT_EQ(TileBaseUrl("https://example.org/dem"), "https://example.org/dem/");
  EXPECT_EQ(TileBaseUrl("http://127.0.0.1:8080"), "http://127.0.0.1:8080/");
  EXPECT_EQ(TileBaseUrl("HTTPS://example.org/srtm/"), "HTTPS://example.org/srtm/");
  for (const char* url : {"", "example.org/dem", "ftp://example.org/", "file:///srv/srtm/",
                          "http://", "https:///x", "httpx://example.org/"}) {
    const std::string expected = std::string("'") + url + "' is not an http:// or https:// address";
    EXPECT_EQ(Refusal([&] { TileBaseUrl(url); }), expected);
  }
  // The tile's path is appended to the base: a query or fragment would swallow it.
  for (const char* url : {"http://h/x/?q=", "http://h?x", "https://h/x#top", "http://h/#"}) {
    const std::string expected =
        std::string("'") + url + "' has a query or a fragment, which a base address can't";
    EXPECT_EQ(Refusal([&] { TileBaseUrl(url); }), expected);
  }
}

TEST(TileSources, CredentialsAreLeftOutOfEveryAddressShown) {
  const struct {
    const char* url;
    const char* shown;
  } cases[] = {
      {"https://me:pw@cache.example.org/skadi/", "https://cache.example.org/skadi/"},
      {"http://me@h:8080/x", "http://h:8080/x"},
      {"http://me:p%40ss@w@h/", "http://h/"},  // the host follows the last '@'
      {"HTTP://a:b@h", "HTTP://h"},
      {"http://h/a@b/c", "http://h/a@b/c"},  // an '@' in the path is no user's
      {"http://h?u=a@b", "http://h?u=a@b"},
      {"http://h#a@b", "http://h#a@b"},
      {"me:pw@mirror.example.org", "mirror.example.org"},  // an archive host
      {"mirror.example.org:81", "mirror.example.org:81"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AddressShown(c.url), c.shown) << c.url;
}

TEST(TileSources, AnArchiveHostIsAHostNameWithAnOptionalPort) {
  for (const char* host : {"dds.cr.usgs.gov", "127.0.0.1:8080", "[::1]:81", "me:pw@mirror",
                           "127.0.0.1:8080/slow", "mirror/a@b"}) {
    EXPECT_EQ(ArchiveHostName(host), host);
  }
  for (const char* host :
       {"", "http://mirror", "mirror?x", "mirror#x", "a b", "tab\there", ":81", "/srtm"}) {
    const std::string expected =
        std::string("'") + host + "' is not a host name with an optional port";
    EXPECT_EQ(Refusal([&] { ArchiveHostName(host); }), expected);
  }
}

}  // namespace
}  // namespace orolith
