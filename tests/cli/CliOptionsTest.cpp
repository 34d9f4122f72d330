#include "CliOptions.h"
#include "model/ModelSetup.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace orolith {
namespace {

CliOptions Parse(std::vector<const char*> args, char separator = '.') {
  args.insert(args.begin(), "orolith-cli");
  return ParseCliOptions(static_cast<int>(args.size()), args.data(), separator);
}

// The message of the usage error a command line raises; empty when it parses.
std::string UsageMessage(std::vector<const char*> args, char separator = '.') {
  try {
    Parse(std::move(args), separator);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "";
}

TEST(CliOptionsTest, CommandAloneKeepsTheFrontPanelsStartValues) {
  const CliOptions o = Parse({"create"});
  EXPECT_EQ(o.Command, CliCommand::Create);
  const FrontPanelValues start;
  EXPECT_EQ(o.Panel.Long1, start.Long1);
  EXPECT_EQ(o.Panel.Lat2, start.Lat2);
  EXPECT_EQ(o.Panel.Z1, 0.0F);
  EXPECT_EQ(o.Panel.Z2, 1000.0F);
  EXPECT_EQ(o.Panel.XExtent, 5.0F);
  EXPECT_EQ(o.Panel.ZExtent, 1.0F);
  EXPECT_EQ(o.Panel.ZBasePercent, 0.0F);
  EXPECT_EQ(o.Panel.XYPixelSize, 100.0F);
  EXPECT_EQ(o.Panel.StlFileName, "NewFile.stl");
  EXPECT_FALSE(o.Panel.BlockSrtm1 || o.Panel.BlockSrtm3 || o.Panel.BlockSrtm30 ||
               o.Panel.BlockCop30);
  EXPECT_EQ(o.Panel.DemFile, "");
  EXPECT_FALSE(o.Panel.MissedDataZero);
  EXPECT_FALSE(o.Panel.Solid);
  EXPECT_EQ(o.Panel.FloorPercent, 5.0F);
  EXPECT_EQ(o.Panel.MaxError, 0.0F);  // the regular grid
  EXPECT_TRUE(o.DataRoot.empty());
  EXPECT_FALSE(o.Yes);
  EXPECT_FALSE(o.Seed);
  EXPECT_EQ(o.Source.ArchiveHost, DefaultArchiveHost);
  EXPECT_TRUE(o.Warnings.empty());
  EXPECT_FALSE(o.Info);

  EXPECT_EQ(Parse({"test"}).Command, CliCommand::Test);
  EXPECT_EQ(Parse({"download-srtm1"}).Command, CliCommand::DownloadSrtm1);
  EXPECT_EQ(Parse({"download-srtm3"}).Command, CliCommand::DownloadSrtm3);
}

TEST(CliOptionsTest, EachOptionFillsItsFieldsLeftThenRight) {
  const CliOptions o = Parse({"--lon",
                              "-5",
                              "-4.5",
                              "create",
                              "--lat",
                              "-0.25",
                              "-1e-1",
                              "--elev",
                              "800",
                              "200",
                              "--x-extent",
                              "150",
                              "--z-extent",
                              "30",
                              "--base",
                              "12.5",
                              "--pixel",
                              "100.4",
                              "-o",
                              "out dir/a.stl",
                              "--data-root",
                              "/data/",
                              "--block-srtm1",
                              "--block-srtm3",
                              "--block-srtm30",
                              "--missed-zero",
                              "--yes",
                              "--archive-host",
                              "localhost:8080",
                              "--proxy",
                              "http://proxy.example:3128",
                              "--solid",
                              "--floor",
                              "12.5",
                              "--max-error",
                              "2.5",
                              "--block-cop30",
                              "--dem",
                              "lidar 1m.tif"});
  EXPECT_EQ(o.Panel.Long1, -5.0F);
  EXPECT_EQ(o.Panel.Long2, -4.5F);
  EXPECT_EQ(o.Panel.Lat1, -0.25F);
  EXPECT_EQ(o.Panel.Lat2, -0.1F);  // rounded to single precision like a field
  EXPECT_EQ(o.Panel.Z1, 800.0F);
  EXPECT_EQ(o.Panel.Z2, 200.0F);
  EXPECT_EQ(o.Panel.XExtent, 150.0F);
  EXPECT_EQ(o.Panel.ZExtent, 30.0F);
  EXPECT_EQ(o.Panel.ZBasePercent, 12.5F);
  EXPECT_EQ(o.Panel.XYPixelSize, 100.4F);  // unrounded: the estimate needs it
  EXPECT_EQ(o.Panel.StlFileName, "out dir/a.stl");
  EXPECT_EQ(o.DataRoot, "/data/");
  EXPECT_TRUE(o.Panel.BlockSrtm1 && o.Panel.BlockSrtm3 && o.Panel.BlockSrtm30);
  EXPECT_TRUE(o.Panel.MissedDataZero);
  EXPECT_TRUE(o.Yes);
  EXPECT_EQ(o.Source.ArchiveHost, "localhost:8080");
  EXPECT_EQ(o.Source.Proxy, "http://proxy.example:3128");
  EXPECT_TRUE(o.Panel.Solid);
  EXPECT_EQ(o.Panel.FloorPercent, 12.5F);
  EXPECT_EQ(o.Panel.MaxError, 2.5F);
  EXPECT_TRUE(o.Panel.BlockCop30);
  EXPECT_EQ(o.Panel.DemFile, "lidar 1m.tif");
  EXPECT_TRUE(o.Warnings.empty());
}

TEST(CliOptionsTest, ValuesOutsideTheFieldLimitsAreClampedWithAWarning) {
  const CliOptions o =
      Parse({"test", "--lon", "-200", "7", "--lat", "95", "1e40", "--z-extent", "0", "--pixel",
             "250000", "--base", "100", "--floor", "0.5", "--max-error", "-1"});
  EXPECT_EQ(o.Panel.Long1, -180.0F);
  EXPECT_EQ(o.Panel.Long2, 7.0F);
  EXPECT_EQ(o.Panel.Lat1, 90.0F);
  EXPECT_EQ(o.Panel.Lat2, 90.0F);
  EXPECT_EQ(o.Panel.ZExtent, 0.01F);
  EXPECT_EQ(o.Panel.XYPixelSize, 100000.0F);
  EXPECT_EQ(o.Panel.ZBasePercent, 100.0F);  // at the limit: no warning
  EXPECT_EQ(o.Warnings, (std::vector<std::string>{
                            "--lon -200 is outside -180.000000 .. 180.000000; using -180.000000",
                            "--lat 95 is outside -90.000000 .. 90.000000; using 90.000000",
                            "--lat 1e40 is outside -90.000000 .. 90.000000; using 90.000000",
                            "--z-extent 0 is outside 0.010 .. 1000.000; using 0.010",
                            "--pixel 250000 is outside 15 .. 100000; using 100000",
                            "--floor 0.5 is outside 1.0 .. 100.0; using 1.0",
                            "--max-error -1 is outside 0.00 .. 1000.00; using 0.00",
                        }));
  EXPECT_EQ(o.Panel.MaxError, 0.0F);
  EXPECT_EQ(Parse({"create", "--max-error", "1e4"}).Panel.MaxError, 1000.0F);
  EXPECT_EQ(o.Panel.FloorPercent, 1.0F);
  EXPECT_EQ(Parse({"create", "--floor", "250"}).Panel.FloorPercent, 100.0F);
}

// An error below the field's step makes the surface at that step, as the log says.
TEST(CliOptionsTest, AMaxErrorBelowTheSmallestIsRaisedToItWithAWarning) {
  const struct {
    const char* text;
    float used;
    const char* warning;  // none when empty
  } rows[] = {{"0.004", 0.01F, "--max-error 0.004 is below 0.01, the smallest error; using 0.01"},
              {"1e-9", 0.01F, "--max-error 1e-9 is below 0.01, the smallest error; using 0.01"},
              {"0.01", 0.01F, ""},
              {"0", 0.0F, ""}};
  for (const auto& row : rows) {
    const CliOptions o = Parse({"create", "--max-error", row.text});
    EXPECT_EQ(ReadModelSettings(o.Panel).MaxError, row.used) << row.text;
    EXPECT_EQ(o.Warnings, row.warning[0] == 0 ? std::vector<std::string>{}
                                              : std::vector<std::string>{row.warning})
        << row.text;
  }
}

TEST(CliOptionsTest, NumbersFollowTheFieldGrammarWithTheUsersSeparator) {
  struct Row {
    const char* text;
    char separator;
    bool number;
  };
  const Row rows[] = {
      {"7.5", '.', true},   {" 7.5 ", '.', true}, {"+7", '.', true},       {".", '.', true},
      {"7.", '.', true},    {"7e1", '.', true},   {"7,5", ',', true},      {"7,5", '.', false},
      {"7.5", ',', false},  {"abc", '.', false},  {"", '.', false},        {"7e", '.', false},
      {"0x10", '.', false}, {"--", '.', false},   {"1e99999", '.', false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("'") + row.text + "' with '" + row.separator + "'");
    const std::string message = UsageMessage({"test", "--pixel", row.text}, row.separator);
    if (row.number) {
      EXPECT_EQ(message, "");
    } else {
      EXPECT_EQ(message, std::string("--pixel: '") + row.text + "' is not a number");
    }
  }
  EXPECT_EQ(Parse({"test", "--x-extent", "2,5"}, ',').Panel.XExtent, 2.5F);
  EXPECT_EQ(Parse({"test", "--lat", ",", "1"}, ',').Panel.Lat1, 0.0F);
  EXPECT_EQ(UsageMessage({"test", "--elev", "100", "x"}), "--elev: 'x' is not a number");
  EXPECT_EQ(UsageMessage({"test", "--max-error", "2m"}), "--max-error: '2m' is not a number");
  EXPECT_EQ(Parse({"test", "--max-error", "0,25"}, ',').Panel.MaxError, 0.25F);
}

TEST(CliOptionsTest, MalformedCommandLinesAreUsageErrors) {
  EXPECT_NE(UsageMessage({}), "");  // no command
  EXPECT_NE(UsageMessage({"frobnicate"}).find("frobnicate"), std::string::npos);
  EXPECT_NE(UsageMessage({"create", "--bogus"}).find("--bogus"), std::string::npos);
  EXPECT_NE(UsageMessage({"create", "--lon", "5"}).find("--lon"), std::string::npos);
  EXPECT_NE(UsageMessage({"create", "--pixel"}).find("--pixel"), std::string::npos);
  EXPECT_NE(UsageMessage({"create", "test"}), "");                  // two commands
  EXPECT_NE(UsageMessage({"create", "--lon", "1", "2", "3"}), "");  // a third value
}

// A scale, an exaggeration or a layer of 0 or below has no meaning: refused, not clamped.
TEST(CliOptionsTest, PrintSettingsRefuseValuesWithoutMeaning) {
  const struct {
    std::vector<const char*> args;
    const char* message;
  } cases[] = {
      {{"--scale", "0"}, "--scale: '0' is not above 0"},
      {{"--scale", "abc"}, "--scale: 'abc' is not a number"},
      {{"--exaggeration", "0"}, "--exaggeration: '0' is not above 0"},
      {{"--max-error", "auto", "--layer-height", "0"}, "--layer-height: '0' is not above 0"},
      {{"--elev", "auto", "100"}, "--elev: auto stands alone, without numbers"},
      {{"--max-error", "1", "--layer-height", "0.1"},
       "--layer-height sets the error of --max-error auto; add --max-error auto or --print"},
      {{"--scale", "1000", "--x-extent", "10"},
       "--scale and --x-extent both set the X extent; give one"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> args{"create"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(UsageMessage(args), c.message);
  }
}

TEST(CliOptionsTest, AutoWordsAndThePrintPresetLeaveWhatWasGiven) {
  const FrontPanelValues automatic =
      Parse({"create", "--elev", "auto", "--max-error", "auto", "--layer-height", "0.3"}).Panel;
  EXPECT_TRUE(automatic.ElevationAuto && automatic.MaxErrorAuto);
  EXPECT_FLOAT_EQ(automatic.LayerHeight, 0.3F);

  const FrontPanelValues print = Parse({"create", "--print"}).Panel;
  EXPECT_TRUE(print.Solid && print.ElevationAuto && print.MaxErrorAuto);
  EXPECT_EQ(print.XExtent, 150.0F);
  EXPECT_EQ(print.ZExtent, 20.0F);
  EXPECT_EQ(print.ZBasePercent, 10.0F);
  const FrontPanelValues given =
      Parse({"create", "--print", "--scale", "25000", "--exaggeration", "2", "--base", "5",
             "--elev", "0", "900", "--max-error", "3"})
          .Panel;
  EXPECT_FALSE(given.ElevationAuto || given.MaxErrorAuto);
  EXPECT_EQ(given.XExtent, 5.0F);
  EXPECT_EQ(given.ZExtent, 1.0F);
  EXPECT_EQ(given.ZBasePercent, 5.0F);

  // A square degree at 46 degrees north is deeper than wide: its depth takes the 150 mm.
  const FrontPanelValues deep =
      Parse({"create", "--print", "--lon", "7", "8", "--lat", "46", "47"}).Panel;
  EXPECT_NEAR(static_cast<double>(ModelSize(ReadModelSettings(deep)).Y), 150, 1e-3);
}

TEST(CliOptionsTest, FindPlaceTakesTheNameInOneOrMoreWords) {
  EXPECT_EQ(Parse({"find-place", "Zermatt"}).Command, CliCommand::FindPlace);
  EXPECT_EQ(Parse({"find-place", "Mount", "Rainier"}).PlaceName, "Mount Rainier");
  EXPECT_EQ(Parse({"find-place", "Mount Rainier"}).PlaceName, "Mount Rainier");
  EXPECT_EQ(UsageMessage({"find-place"}), "find-place: give the name of a place");
  EXPECT_EQ(UsageMessage({"test", "Zermatt"}), "unexpected argument 'Zermatt'");
}

TEST(CliOptionsTest, SeedIsAWholeNumberOfSixtyFourBits) {
  EXPECT_EQ(Parse({"create", "--seed", "0"}).Seed, 0U);
  EXPECT_EQ(Parse({"create", "--seed", "18446744073709551615"}).Seed, 18446744073709551615U);
  for (const char* seed : {"-1", "+1", " 1", "1.5", "1e3", "0x10", "18446744073709551616", ""}) {
    EXPECT_EQ(
        UsageMessage({"create", "--seed", seed}),
        "--seed: '" + std::string(seed) + "' is not a whole number from 0 to 18446744073709551615")
        << seed;
  }
}

TEST(CliOptionsTest, TileSourceAndBaseAddress) {
  const CliOptions plain = Parse({"download-srtm1"});
  EXPECT_EQ(plain.Source.Layout, ArchiveLayout::Esa);
  EXPECT_EQ(plain.Source.TileUrl, "");
  EXPECT_FALSE(plain.Source.RemoveArchives);
  EXPECT_TRUE(Parse({"download-srtm1", "--remove-archives"}).Source.RemoveArchives);
  // An archive host alone names a copy of the archive, as before the mirrors were the default.
  EXPECT_EQ(Parse({"download-srtm1", "--archive-host", "h:81"}).Source.Layout,
            ArchiveLayout::SrtmV21);

  const CliOptions esa = Parse({"download-srtm1", "--tile-source", "ESA", "--tile-url",
                                "http://cache.example.org:8080/SRTMGL1"});
  EXPECT_EQ(esa.Source.Layout, ArchiveLayout::Esa);
  EXPECT_EQ(esa.Source.TileUrl, "http://cache.example.org:8080/SRTMGL1/");
  // The archive still serves SRTM-3 tiles, so its host goes with any source.
  EXPECT_EQ(Parse({"download-srtm3", "--tile-source", "aws", "--archive-host", "h:81"})
                .Source.ArchiveHost,
            "h:81");

  EXPECT_EQ(Parse({"download-srtm1", "--tile-source", "copernicus"}).Source.Layout,
            ArchiveLayout::Copernicus);
  EXPECT_EQ(UsageMessage({"create", "--dem", ""}), "--dem: the file name is empty");
  EXPECT_EQ(UsageMessage({"create", "--region-from-dem"}),
            "--region-from-dem: give the raster with --dem");
  EXPECT_EQ(UsageMessage({"create", "--dem", "a.tif", "--region-from-dem", "--lat", "1", "2"}),
            "--region-from-dem and --lon or --lat both give the region; give one");
  // With a raster the cell may be finer than the tiles' 15 m; the run holds it to the pixels.
  EXPECT_EQ(Parse({"create", "--dem", "a.tif", "--pixel", "2"}).Panel.XYPixelSize, 2.0F);
  EXPECT_EQ(Parse({"create", "--pixel", "2"}).Panel.XYPixelSize, 15.0F);
  EXPECT_EQ(UsageMessage({"download-srtm1", "--tile-source", "usgs"}),
            "--tile-source: unknown tile source 'usgs' (known: esa, aws, copernicus, srtm-v2.1)");
  EXPECT_EQ(UsageMessage({"download-srtm1", "--tile-url", "step.esa.int/auxdata"}),
            "--tile-url: 'step.esa.int/auxdata' is not an http:// or https:// address");
  EXPECT_EQ(
      UsageMessage({"download-srtm1", "--tile-url", "https://me:pw@h/x/?key=1"}),
      "--tile-url: 'https://h/x/?key=1' has a query or a fragment, which a base address can't");
  EXPECT_EQ(UsageMessage({"download-srtm3", "--archive-host", "http://mirror"}),
            "--archive-host: 'http://mirror' is not a host name with an optional port");
  EXPECT_EQ(UsageMessage({"download-srtm1", "--tile-url", "http://a/", "--archive-host", "b"}),
            "--archive-host and --tile-url both give the archive's address; give one");
  EXPECT_NE(UsageMessage({"download-srtm1", "--tile-source"}), "");
  const std::string help = *Parse({"--help"}).Info;
  EXPECT_NE(help.find("--tile-source NAME"), std::string::npos);
  EXPECT_NE(help.find("--tile-url BASE"), std::string::npos);
}

TEST(CliOptionsTest, HelpAndVersionAreTextsToPrint) {
  const CliOptions help = Parse({"--help"});
  ASSERT_TRUE(help.Info);
  for (const char* option :
       {"--data-root",   "--lon",          "--lat",          "--elev",  "--x-extent",
        "--z-extent",    "--base",         "--pixel",        "--out",   "--block-srtm1",
        "--block-srtm3", "--block-srtm30", "--missed-zero",  "--solid", "--floor",
        "--max-error",   "--yes",          "--archive-host", "--proxy", "--version",
        "create",        "download-srtm3", "--seed",         ".3mf"}) {
    EXPECT_NE(help.Info->find(option), std::string::npos) << option;
  }
  // Limits and defaults are shown as the fields write them, with the user's separator.
  EXPECT_NE(Parse({"-h"}, ',').Info->find("0,010 .. 1000,000, default 1,000"), std::string::npos);
  EXPECT_EQ(*Parse({"--version"}).Info, std::string("orolith-cli ") + OROLITH_VERSION + "\n");
  EXPECT_TRUE(Parse({"create", "--help"}).Info);
}

}  // namespace
TEST(CliOptionsTest, WaterLevelIsOffUnlessGivenAndColoursNeedA3mf) {
  EXPECT_FALSE(Parse({"create"}).Panel.Extras.WaterLevel);
  const CliOptions o = Parse({"create", "--water-level", "-900", "--water-drop", "0.8"});
  EXPECT_EQ(o.Panel.Extras.WaterLevel, -500.0F);  // clamped, with a warning
  EXPECT_EQ(o.Panel.Extras.WaterDrop, 0.8F);
  EXPECT_EQ(o.Warnings.size(), 1U);
  EXPECT_TRUE(Parse({"create", "--colour-bands", "2", "-o", "a.3MF"}).Panel.Extras.Colours);
  EXPECT_THROW(Parse({"create", "--colours"}), UsageError);
  EXPECT_THROW(Parse({"create", "--colour-bands", "x", "-o", "a.3mf"}), UsageError);
}

}  // namespace orolith
