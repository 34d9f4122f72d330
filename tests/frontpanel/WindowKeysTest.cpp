#include "frontpanel/WindowKeys.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace orolith {
namespace {

WindowKeys Read(std::vector<const char*> arguments, char separator = '.') {
  arguments.insert(arguments.begin(), "orolith");
  return ReadWindowKeys(arguments, separator);
}

TEST(WindowKeys, DataRootKeepsItsCaseAndAnEmptyOneIsTheWorkingDirectory) {
  const std::string cwd = std::filesystem::current_path().string() + "/";
  const struct {
    std::vector<const char*> arguments;
    std::string root;
  } cases[] = {{{}, cwd},
               {{"DataRoot="}, cwd},
               // The first argument that holds the key wins, wherever the key stands in it.
               {{"notes.txt", "dataroot=/Maps/Alps", "DataRoot=/ignored"}, "/Maps/Alps/"},
               {{"OldDataRoot=/data/"}, "/data/"}};
  for (const auto& c : cases) {
    const WindowKeys keys = Read(c.arguments);
    EXPECT_EQ(keys.Folders.DataRoot, c.root);
    EXPECT_EQ(keys.Folders.Srtm3Dir, c.root + "SRTM_3/");
    EXPECT_EQ(keys.DataRootFromCommandLine, c.root != cwd);
  }
}

TEST(WindowKeys, SourceKeysAreReadInAnyCaseAndKeepTheirValuesCase) {
  const char* const usgs = DefaultArchiveHost;
  const ArchiveLayout archive = ArchiveLayout::SrtmV21;
  const struct {
    std::vector<const char*> arguments;
    const char* host;
    ArchiveLayout layout;
    const char* tileUrl;
    const char* proxy;
    std::vector<std::string> problems;
  } cases[] = {
      {{}, usgs, archive, "", "", {}},
      {{"archivehost=Mirror.example.org:8080"}, "Mirror.example.org:8080", archive, "", "", {}},
      {{"Proxy=http://Cache.example.org:3128"},
       usgs,
       archive,
       "",
       "http://Cache.example.org:3128",
       {}},
      {{"tilesource=AWS", "TILEURL=https://Cache.example.org/skadi"},
       usgs,
       ArchiveLayout::Aws,
       "https://Cache.example.org/skadi/",
       "",
       {}},
      // SRTM-3 tiles still come from the archive, whatever serves SRTM-1.
      {{"TileSource=esa", "ArchiveHost=h:81"}, "h:81", ArchiveLayout::Esa, "", "", {}},
      // A source that can't be used leaves the archive whole, and says so once.
      {{"TileSource=usgs", "TileUrl=https://x.example.org/", "ArchiveHost=h:81"},
       "h:81",
       archive,
       "",
       "",
       {"TileSource: unknown tile source 'usgs' (known: srtm-v2.1, esa, aws); downloads use "
        "http://h:81/srtm/version2_1/"}},
      {{"TileSource=esa", "TileUrl=step.esa.int/auxdata/dem/SRTMGL1/"},
       usgs,
       archive,
       "",
       "",
       {"TileUrl: 'step.esa.int/auxdata/dem/SRTMGL1/' is not an http:// or https:// address; "
        "downloads use http://dds.cr.usgs.gov/srtm/version2_1/"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "none" : c.arguments.front());
    const WindowKeys keys = Read(c.arguments);
    EXPECT_EQ(keys.Source.ArchiveHost, c.host);
    EXPECT_EQ(keys.Source.Layout, c.layout);
    EXPECT_EQ(keys.Source.TileUrl, c.tileUrl);
    EXPECT_EQ(keys.Source.Proxy, c.proxy);
    EXPECT_EQ(keys.Problems, c.problems);
  }
}

TEST(WindowKeys, FloorIsReadAsItsFieldReadsIt) {
  // The locale's separator, limits 1 to 100, and 1 for what is not a number.
  const struct {
    const char* argument;
    char separator;
    float floor;
  } cases[] = {{"FLOOR=12.5", '.', 12.5F}, {"Floor=250", '.', 100.0F}, {"floor=0.2", '.', 1.0F},
               {"Floor=thick", '.', 1.0F}, {"Floor=", '.', 5.0F},      {"Floor=2,5", ',', 2.5F}};
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(Read({c.argument}, c.separator).FloorPercent, c.floor) << c.argument;
  }
}

}  // namespace
}  // namespace orolith
