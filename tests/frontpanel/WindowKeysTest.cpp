#include "frontpanel/WindowKeys.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orolith {
namespace {

// How a key is found (first argument, any case, anywhere in it) is FindCommandLineValue's; how
// a source names its address is Srtm1BaseUrl's. Here: which key sets what, and what stands in
// when a value is absent or can't be used.
WindowKeys Read(std::vector<const char*> arguments, char separator = '.') {
  arguments.insert(arguments.begin(), "orolith");
  return ReadWindowKeys(arguments, separator);
}

TEST(WindowKeys, DataRootKeepsItsCaseAndAnEmptyOneIsTheWorkingDirectory) {
  const std::string cwd = std::filesystem::current_path().string() + "/";
  for (const auto& [argument, root] : std::vector<std::pair<const char*, std::string>>{
           {"notes.txt", cwd}, {"DataRoot=", cwd}, {"dataroot=/Maps/Alps", "/Maps/Alps/"}}) {
    const WindowKeys keys = Read({argument});
    EXPECT_EQ(keys.Folders.Srtm3Dir, root + "SRTM_3/") << argument;
    EXPECT_EQ(keys.DataRootFromCommandLine, root != cwd) << argument;
  }
}

TEST(WindowKeys, SourceKeysSetTheirOwnFieldsEachAsTyped) {
  const WindowKeys none = Read({});
  EXPECT_EQ(none.Source.ArchiveHost, DefaultArchiveHost);
  EXPECT_EQ(none.Source.Layout, ArchiveLayout::Esa);
  EXPECT_EQ(none.Source.Proxy, "");
  // An archive host alone names a copy of the archive, as before the mirrors were the default.
  EXPECT_EQ(Read({"ArchiveHost=h:81"}).Source.Layout, ArchiveLayout::SrtmV21);
  EXPECT_TRUE(Read({"RemoveArchives=Yes"}).Source.RemoveArchives);
  EXPECT_EQ(Read({"RemoveArchives=maybe"}).Problems,
            std::vector<std::string>{"RemoveArchives: 'maybe' is neither yes nor no; downloaded "
                                     "archives stay beside their tiles"});
  const WindowKeys all = Read({"archivehost=Mirror.example.org:8080", "TILESOURCE=aws",
                               "TileUrl=https://Cache.example.org/skadi", "Proxy=http://P:3128"});
  EXPECT_EQ(all.Source.ArchiveHost, "Mirror.example.org:8080");
  EXPECT_EQ(all.Source.Layout, ArchiveLayout::Aws);
  EXPECT_EQ(all.Source.TileUrl, "https://Cache.example.org/skadi/");
  EXPECT_EQ(all.Source.Proxy, "http://P:3128");
  EXPECT_TRUE(all.Problems.empty());
  EXPECT_EQ(Read({"TileSource=Copernicus"}).Source.Layout, ArchiveLayout::Copernicus);
}

TEST(WindowKeys, DemNamesTheRastersFileAsTyped) {
  EXPECT_EQ(Read({}).DemFile, "");
  EXPECT_EQ(Read({"DEM=/Maps/Lidar 1m.tif"}).DemFile, "/Maps/Lidar 1m.tif");
}

TEST(WindowKeys, ASourceThatCantBeUsedLeavesTheDefaultAndSaysSoOnce) {
  const struct {
    std::vector<const char*> arguments;
    const char* problem;
  } cases[] = {
      {{"TileSource=usgs", "TileUrl=https://x.example.org/"},
       "TileSource: unknown tile source 'usgs' (known: esa, aws, copernicus, srtm-v2.1); downloads "
       "use https://step.esa.int/auxdata/dem/SRTMGL1/"},
      {{"TileSource=esa", "TileUrl=step.esa.int/auxdata/dem/SRTMGL1/"},
       "TileUrl: 'step.esa.int/auxdata/dem/SRTMGL1/' is not an http:// or https:// address; "
       "downloads use https://step.esa.int/auxdata/dem/SRTMGL1/"},
      {{"TileSource=aws", "TileUrl=https://cache.example.org/skadi/?key=1"},
       "TileUrl: 'https://cache.example.org/skadi/?key=1' has a query or a fragment, which a base "
       "address can't; downloads use https://step.esa.int/auxdata/dem/SRTMGL1/"},
      // Credentials are for the request alone, even in a complaint.
      {{"TileSource=esa", "TileUrl=https://me:pw@cache.example.org/#x"},
       "TileUrl: 'https://cache.example.org/#x' has a query or a fragment, which a base address "
       "can't; downloads use https://step.esa.int/auxdata/dem/SRTMGL1/"},
  };
  for (const auto& c : cases) {
    const WindowKeys keys = Read(c.arguments);
    EXPECT_EQ(keys.Problems, std::vector<std::string>{c.problem});
    EXPECT_EQ(keys.Source.Layout, ArchiveLayout::Esa);
    EXPECT_EQ(keys.Source.TileUrl, "");
  }
}

TEST(WindowKeys, FloorIsReadAsItsFieldReadsIt) {
  EXPECT_FLOAT_EQ(Read({"FLOOR=12.5"}).FloorPercent, 12.5F);
  EXPECT_FLOAT_EQ(Read({"Floor=250"}).FloorPercent, 100.0F);
  EXPECT_FLOAT_EQ(Read({"Floor="}).FloorPercent, 5.0F);
  EXPECT_FLOAT_EQ(Read({"Floor=2,5"}, ',').FloorPercent, 2.5F);
  for (const char* floor : {"FLOOR=12.5", "Floor=250", "Floor="}) {
    EXPECT_TRUE(Read({floor}).Problems.empty()) << floor;
  }
}

TEST(WindowKeys, SeedFixesTheCentresAndOneThatCantBeReadLeavesThemDrawn) {
  EXPECT_FALSE(Read({}).Seed);
  EXPECT_EQ(Read({"seed=42"}).Seed, 42U);
  EXPECT_EQ(Read({"Seed=18446744073709551615"}).Seed, 18446744073709551615U);
  EXPECT_TRUE(Read({"Seed=7"}).Problems.empty());
  for (const char* seed : {"Seed=-3", "Seed=12x", "Seed=18446744073709551616"}) {
    const WindowKeys keys = Read({seed});
    EXPECT_FALSE(keys.Seed) << seed;
    EXPECT_EQ(keys.Problems, std::vector<std::string>{
                                 "Seed: '" + std::string(seed + 5) +
                                 "' is not a whole number from 0 to 18446744073709551615; each "
                                 "model run draws its centres afresh"});
  }
}

TEST(WindowKeys, MaxErrorIsReadAsItsFieldReadsIt) {
  const struct {
    const char* argument;
    char separator;
    float maxError;
  } cases[] = {
      {"MAXERROR=2.5", '.', 2.5F}, {"maxerror=0,25", ',', 0.25F}, {"MaxError=5000", '.', 1000.0F},
      {"MaxError=-1", '.', 0.0F},  {"MaxError=", '.', 0.0F},      {"Floor=7", '.', 0.0F},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argument);
    const WindowKeys keys = Read({c.argument}, c.separator);
    EXPECT_FLOAT_EQ(keys.MaxError, c.maxError);
    EXPECT_TRUE(keys.Problems.empty());
  }
  EXPECT_FLOAT_EQ(Read({"Floor=7", "MaxError=3"}).FloorPercent, 7.0F);
}

TEST(WindowKeys, AValueThatCantBeReadIsReportedAndTheDefaultKept) {
  const struct {
    std::vector<const char*> arguments;
    char separator;
    const char* problem;
  } cases[] = {
      {{"Floor=abc"}, '.', "Floor: 'abc' is not a number; the floor stays 5.0 percent"},
      {{"floor=2.5"}, ',', "Floor: '2.5' is not a number; the floor stays 5,0 percent"},
      {{"Floor=12%"}, '.', "Floor: '12%' is not a number; the floor stays 5.0 percent"},
      {{"MaxError=2m"}, '.', "MaxError: '2m' is not a number; the max. error stays 0.00 m"},
      {{"maxerror=0.5"}, ',', "MaxError: '0.5' is not a number; the max. error stays 0,00 m"},
      {{"Scale=0"}, '.', "Scale: '0' is not above 0; the scale stays off"},
      {{"Scale=1:25000"}, '.', "Scale: '1:25000' is not a number; the scale stays off"},
      {{"Exaggeration=-2"}, '.', "Exaggeration: '-2' is not above 0; the exaggeration stays off"},
      {{"LayerHeight=0"}, '.', "LayerHeight: '0' is not above 0; the layer height stays 0.20 mm"},
      {{"ElevationAuto=maybe"},
       '.',
       "ElevationAuto: 'maybe' is neither yes nor no; the elevation band stays as typed"},
      {{"ArchiveHost=http://mirror.example.org"},
       '.',
       "ArchiveHost: 'http://mirror.example.org' is not a host name with an optional port; "
       "downloads use https://step.esa.int/auxdata/dem/SRTMGL1/"},
      {{"ArchiveHost=mirror example"},
       '.',
       "ArchiveHost: 'mirror example' is not a host name with an optional port; "
       "downloads use https://step.esa.int/auxdata/dem/SRTMGL1/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    const WindowKeys keys = Read(c.arguments, c.separator);
    EXPECT_EQ(keys.Problems, std::vector<std::string>{c.problem});
    EXPECT_FLOAT_EQ(keys.FloorPercent, 5.0F);
    EXPECT_FLOAT_EQ(keys.MaxError, 0.0F);
    EXPECT_EQ(keys.Source.ArchiveHost, DefaultArchiveHost);
  }
}

// What the command line sets stays over what the window remembered; a key it could not read
// sets nothing.
TEST(WindowKeys, TheKeysGivenAndRememberAreToldApart) {
  const struct {
    std::vector<const char*> arguments;
    bool floor, maxError, source;
    std::optional<bool> remember;
    std::size_t problems;
  } cases[] = {
      {{}, false, false, false, std::nullopt, 0},
      {{"Floor=7", "MAXERROR=2", "TileSource=esa", "remember=1"}, true, true, true, true, 0},
      {{"Floor=x", "TileSource=usgs", "Remember=no"}, false, false, false, false, 2},
      {{"ArchiveHost=h:81", "Remember=maybe"}, false, false, true, std::nullopt, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.size());
    const WindowKeys keys = Read(c.arguments);
    EXPECT_EQ(keys.FloorGiven, c.floor);
    EXPECT_EQ(keys.MaxErrorGiven, c.maxError);
    EXPECT_EQ(keys.TileSourceGiven, c.source);
    EXPECT_EQ(keys.Remember, c.remember);
    EXPECT_EQ(keys.Problems.size(), c.problems);
  }
  EXPECT_EQ(Read({"Remember=maybe"}).Problems.front(),
            "Remember: 'maybe' is neither yes nor no; the \"Remember settings\" box stays as it "
            "was left");
}

}  // namespace
}  // namespace orolith
