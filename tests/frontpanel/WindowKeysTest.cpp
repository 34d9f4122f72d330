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

std::string WorkingDirectory() {
  return std::filesystem::current_path().string() + "/";
}

TEST(WindowKeys, WithoutDataRootTheWorkingDirectoryIsTheRoot) {
  for (const std::vector<const char*>& arguments :
       {std::vector<const char*>{}, std::vector<const char*>{"DataRoot="}}) {
    const WindowKeys keys = Read(arguments);
    EXPECT_FALSE(keys.DataRootFromCommandLine);
    EXPECT_EQ(keys.Folders.DataRoot, WorkingDirectory());
    EXPECT_EQ(keys.Folders.Srtm30Dir, WorkingDirectory() + "SRTM_30/");
  }
}

TEST(WindowKeys, DataRootKeepsItsCaseAndTheFirstArgumentHoldingTheKeyWins) {
  const WindowKeys keys = Read({"notes.txt", "dataroot=/Maps/Alps", "DataRoot=/ignored"});
  EXPECT_TRUE(keys.DataRootFromCommandLine);
  EXPECT_EQ(keys.Folders.DataRoot, "/Maps/Alps/");
  EXPECT_EQ(keys.Folders.Srtm3Dir, "/Maps/Alps/SRTM_3/");
  EXPECT_EQ(Read({"DataRoot=/data/"}).Folders.DataRoot, "/data/") << "no second separator";
}

TEST(WindowKeys, WithoutKeysTheArchiveIsReachedDirectly) {
  const WindowKeys keys = Read({});
  EXPECT_EQ(keys.Source.ArchiveHost, DefaultArchiveHost);
  EXPECT_EQ(keys.Source.Layout, ArchiveLayout::SrtmV21);
  EXPECT_EQ(keys.Source.TileUrl, "");
  EXPECT_EQ(keys.Source.Proxy, "");
  EXPECT_FLOAT_EQ(keys.FloorPercent, fields::Floor.Initial);
  EXPECT_TRUE(keys.Problems.empty());
}

TEST(WindowKeys, SourceKeysAreReadInAnyCaseAndKeepTheirValuesCase) {
  const struct {
    std::vector<const char*> arguments;
    const char* host;
    ArchiveLayout layout;
    const char* tileUrl;
    const char* proxy;
  } cases[] = {
      {{"archivehost=Mirror.example.org:8080"},
       "Mirror.example.org:8080",
       ArchiveLayout::SrtmV21,
       "",
       ""},
      {{"Proxy=http://Cache.example.org:3128"},
       DefaultArchiveHost,
       ArchiveLayout::SrtmV21,
       "",
       "http://Cache.example.org:3128"},
      {{"tilesource=AWS", "TILEURL=https://Cache.example.org/skadi"},
       DefaultArchiveHost,
       ArchiveLayout::Aws,
       "https://Cache.example.org/skadi/",
       ""},
      // SRTM-3 tiles still come from the archive, whatever serves SRTM-1.
      {{"TileSource=esa", "ArchiveHost=h:81"}, "h:81", ArchiveLayout::Esa, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    const WindowKeys keys = Read(c.arguments);
    EXPECT_EQ(keys.Source.ArchiveHost, c.host);
    EXPECT_EQ(keys.Source.Layout, c.layout);
    EXPECT_EQ(keys.Source.TileUrl, c.tileUrl);
    EXPECT_EQ(keys.Source.Proxy, c.proxy);
    EXPECT_TRUE(keys.Problems.empty());
  }
}

TEST(WindowKeys, AnUnusableTileSourceIsOneProblemAndTheArchiveStays) {
  const struct {
    std::vector<const char*> arguments;
    const char* problem;
  } cases[] = {
      {{"TileSource=usgs", "TileUrl=https://x.example.org/", "ArchiveHost=h:81"},
       "TileSource: unknown tile source 'usgs' (known: srtm-v2.1, esa, aws); downloads use "
       "http://h:81/srtm/version2_1/"},
      {{"TileSource=esa", "TileUrl=step.esa.int/auxdata/dem/SRTMGL1/"},
       "TileUrl: 'step.esa.int/auxdata/dem/SRTMGL1/' is not an http:// or https:// address; "
       "downloads use http://dds.cr.usgs.gov/srtm/version2_1/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    const WindowKeys keys = Read(c.arguments);
    EXPECT_EQ(keys.Problems, std::vector<std::string>{c.problem});
    EXPECT_EQ(keys.Source.Layout, ArchiveLayout::SrtmV21);
    EXPECT_EQ(keys.Source.TileUrl, "");
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
