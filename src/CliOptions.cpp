#include "CliOptions.h"

#include "base/NumberText.h"
#include "frontpanel/WindowKeys.h"
#include "model/ModelSetup.h"
#include "model/writers/ModelFile.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace orolith {
namespace {

struct CommandName {
  const char* Name;
  CliCommand Command;
};
constexpr std::array<CommandName, 5> Commands{{{"create", CliCommand::Create},
                                               {"test", CliCommand::Test},
                                               {"download-srtm1", CliCommand::DownloadSrtm1},
                                               {"download-srtm3", CliCommand::DownloadSrtm3},
                                               {"find-place", CliCommand::FindPlace}}};

// A numeric option and the fields its values go to, left field first. Positive: a value of 0
// or below has no meaning (a scale 1:0) and is refused rather than clamped. Auto: the word
// "auto" alone instead of the values sets it.
struct NumberOption {
  const char* Name;
  std::vector<std::pair<float*, const FieldLimits*>> Fields;
  const char* What;
  bool Positive = false;
  bool* Auto = nullptr;
  std::vector<std::string> Texts{};
};

std::string LimitsText(const FieldLimits& limits, char sep) {
  return FormatText(sep, limits.FormatStr, {limits.MinValue}) + " .. " +
         FormatText(sep, limits.FormatStr, {limits.MaxValue});
}

// The value the field would read from text, with a warning when the field's limits changed
// it. Text that is no number per the field's grammar is refused rather than read as the
// field's minimum, which a typist would see but a script would not.
float ReadOptionValue(const std::string& option, const std::string& text, const FieldLimits& limits,
                      bool positive, char sep, std::vector<std::string>& warnings) {
  const std::optional<float> typed = ParseFieldNumber(text, sep);
  if (!typed) throw UsageError(option + ": '" + text + "' is not a number");
  if (positive && !(*typed > 0)) throw UsageError(option + ": '" + text + "' is not above 0");
  const float value = ClampToRange(*typed, limits);
  if (value != *typed) {
    warnings.push_back(option + " " + text + " is outside " + LimitsText(limits, sep) + "; using " +
                       FormatFieldValue(value, limits, sep));
  }
  return value;
}

// The word auto alone sets the option's switch; otherwise as many numbers as it has fields.
void ReadAuto(NumberOption& number) {
  const bool word =
      std::find(number.Texts.begin(), number.Texts.end(), "auto") != number.Texts.end();
  if (word && number.Texts.size() > 1) {
    throw UsageError(std::string(number.Name) + ": auto stands alone, without numbers");
  }
  if (word) {
    *number.Auto = true;
    number.Texts.clear();
  } else if (!number.Texts.empty() && number.Texts.size() < number.Fields.size()) {
    throw UsageError(std::string(number.Name) + ": give " + std::to_string(number.Fields.size()) +
                     " numbers or auto");
  }
}

// Options that would each set the same value, and a layer height with nothing to set.
void RefuseConflicts(const CLI::App& app, const FrontPanelValues& panel) {
  const auto both = [&](const char* one, const char* other, const char* what) {
    if (app.count(one) > 0 && app.count(other) > 0) {
      throw UsageError(std::string(one) + " and " + other + " both set the " + what + "; give one");
    }
  };
  both("--scale", "--x-extent", "X extent");
  both("--exaggeration", "--z-extent", "Z extent");
  if (app.count("--layer-height") > 0 && !panel.MaxErrorAuto) {
    throw UsageError(
        "--layer-height sets the error of --max-error auto; add --max-error auto or --print");
  }
}

std::string Describe(const char* what, const std::vector<const FieldLimits*>& fields, char sep) {
  std::string text = std::string(what) + " (" + LimitsText(*fields.front(), sep) + ", default";
  for (const FieldLimits* field : fields) {
    text += " " + FormatFieldValue(field->Initial, *field, sep);
  }
  return text + ")";
}

}  // namespace

CliOptions ParseCliOptions(int argc, const char* const* argv, char decimalSeparator) {
  const char sep = decimalSeparator;
  CliOptions options;
  FrontPanelValues& panel = options.Panel;
  float waterLevel = fields::WaterLevel.Initial;

  std::vector<NumberOption> numbers{
      {"--lon",
       {{&panel.Long1, &fields::Longitude}, {&panel.Long2, &fields::Longitude}},
       "region's longitudes in degrees, east positive"},
      {"--lat",
       {{&panel.Lat1, &fields::Latitude}, {&panel.Lat2, &fields::Latitude}},
       "region's latitudes in degrees, north positive"},
      {"--elev",
       {{&panel.Z1, &fields::ElevationLow}, {&panel.Z2, &fields::ElevationHigh}},
       "elevation band in metres; auto: the region's own lowest and highest height",
       false,
       &panel.ElevationAuto},
      {"--x-extent", {{&panel.XExtent, &fields::XExtent}}, "model size along X in mm"},
      {"--z-extent", {{&panel.ZExtent, &fields::ZExtent}}, "model size along Z in mm"},
      {"--scale",
       {{&panel.Scale, &fields::Scale}},
       "map scale 1:N: the X extent in mm is the region's ground width over N",
       true},
      {"--exaggeration",
       {{&panel.Exaggeration, &fields::Exaggeration}},
       "the Z extent stands the band's heights at the model's scale times this",
       true},
      {"--layer-height",
       {{&panel.LayerHeight, &fields::LayerHeight}},
       "the printer's layer height in mm, which sets --max-error auto to half a layer",
       true},
      {"--base", {{&panel.ZBasePercent, &fields::ZBase}}, "pedestal, percent of the Z extent"},
      {"--pixel", {{&panel.XYPixelSize, &fields::XYPixelSize}}, "ground size of a cell in metres"},
      {"--floor",
       {{&panel.FloorPercent, &fields::Floor}},
       "floor of --solid, percent of the Z extent"},
      {"--max-error",
       {{&panel.MaxError, &fields::MaxError}},
       "largest height error of the surface in metres: the fewest triangles over the grid's "
       "corners within it; 0 for the regular grid; auto: half a --layer-height on the model",
       false,
       &panel.MaxErrorAuto},
      {"--water-level",
       {{&waterLevel, &fields::WaterLevel}},
       "sea or reservoir level in metres: the terrain at or below it lies flat at it (default: "
       "off)"},
      {"--water-drop",
       {{&panel.Extras.WaterDrop, &fields::WaterDrop}},
       "how far the water of --water-level lies below its level, in millimetres"},
  };

  CLI::App app("Turns SRTM elevation tiles into binary STL or 3MF terrain models.", "orolith-cli");
  app.footer(
      "Values follow the window's fields: the locale's decimal separator, limits as shown.\n"
      "Exit status: 0 done, 1 error, 2 bad command line, 3 cancelled at the large-file "
      "question, 128 + N stopped by signal N (130 for Ctrl-C).");
  app.set_version_flag("--version", std::string("orolith-cli ") + OROLITH_VERSION);
  std::string command;
  app.add_option("command", command,
                 "create (Create STL File), test (Test for SRTM Files), download-srtm1, "
                 "download-srtm3, or find-place NAME (the map's place search)")
      ->required();
  std::vector<std::string> placeWords;
  app.add_option("name", placeWords, "find-place: the place's name, or its beginning")
      ->type_name("NAME");
  app.add_option("--data-root", options.DataRoot,
                 "data root holding SRTM_1/, COP30/, SRTM_3/ and SRTM_30/ (default: current "
                 "directory)")
      ->type_name("DIR");
  for (NumberOption& number : numbers) {
    std::vector<const FieldLimits*> limits;
    for (const auto& field : number.Fields) limits.push_back(field.second);
    const auto count = static_cast<int>(number.Fields.size());
    app.add_option(number.Name, number.Texts, Describe(number.What, limits, sep))
        ->expected(number.Auto != nullptr ? 1 : count, count)
        ->allow_extra_args(false)
        ->type_name(number.Auto != nullptr ? "N|auto" : "N");
  }
  app.add_option("-o,--out", panel.StlFileName,
                 "model file to write: binary STL, or a 3MF package when the name ends in .3mf; "
                 "- for standard output (default NewFile.stl)")
      ->type_name("FILE");
  std::string seed;
  app.add_option("--seed", seed,
                 "fixes the random centres of the cells, so that runs with the same settings "
                 "and seed make the same triangles, as STL or 3MF (default: drawn afresh)")
      ->type_name("N");
  app.add_flag("--block-srtm1", panel.BlockSrtm1, "Block use of SRTM-1 Data");
  app.add_flag("--block-srtm3", panel.BlockSrtm3, "Block use of SRTM-3 Data");
  app.add_flag("--block-srtm30", panel.BlockSrtm30, "Block use of SRTM-30 Data");
  app.add_flag("--block-cop30", panel.BlockCop30, "Block use of COP30 (Copernicus GLO-30) Data");
  app.add_option("--dem", panel.DemFile,
                 "the region's heights from this raster (any single-band raster GDAL reads, in "
                 "any coordinate system) instead of the tile folders")
      ->type_name("FILE");
  app.add_flag("--region-from-dem", options.RegionFromDem,
               "the region is the --dem raster's extent in degrees (the map's \"Use the "
               "raster's extent\")");
  app.add_flag("--missed-zero", panel.MissedDataZero, "Missed data set to 0 m");
  app.add_flag("--solid", panel.Solid,
               "Closed solid (walls and base): a printable model, the bottom --floor below z = 0");
  bool print = false;
  app.add_flag("--print", print,
               "a model for a printer: --solid, --elev auto, --max-error auto (0.2 mm layers), "
               "150 mm on the longer side, --z-extent 20 and --base 10, each unless given (a "
               "scale for the X extent, an exaggeration for the Z extent)");
  app.add_flag("--colours", panel.Extras.Colours,
               "paint the 3MF's faces by elevation band, water apart, for multi-colour printing");
  std::string bands;
  app.add_option("--colour-bands", bands,
                 "with --colours: N bands of equal height (1 to 5, default 3), or the heights in "
                 "metres where the bands above the first begin, as 500,1500,2500")
      ->type_name("N|M,M,...");
  app.add_flag("--yes", options.Yes, "answer OK to the large-file question");
  app.add_option(
         "--archive-host", options.Source.ArchiveHost,
         std::string("server laid out like the retired SRTM version 2.1 archive (default ") +
             DefaultArchiveHost + "); without --tile-source it makes srtm-v2.1 the source")
      ->type_name("HOST[:PORT]");
  std::string sourceName = ArchiveLayouts[0].Name;
  app.add_option("--tile-source", sourceName,
                 "where tiles come from: esa (default, with aws behind it) or aws, public "
                 "mirrors of SRTM-1 tiles over https, from which SRTM-3 tiles are made; "
                 "copernicus: Copernicus GLO-30 tiles into COP30/ instead of SRTM-1 tiles; "
                 "srtm-v2.1: a server laid out like the retired archive")
      ->type_name("NAME");
  std::string tileUrl;
  app.add_option("--tile-url", tileUrl,
                 "base address of a server of the tile source's layout (default: the source's "
                 "own)")
      ->type_name("BASE");
  app.add_flag("--remove-archives", options.Source.RemoveArchives,
               "remove each downloaded archive once its tile is unpacked (default: it stays "
               "beside the tile)");
  app.add_option("--proxy", options.Source.Proxy,
                 "proxy for the downloads (default: none; the environment's proxy settings are "
                 "not used)")
      ->type_name("URL");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    options.Info = app.help();
    return options;
  } catch (const CLI::CallForVersion& version) {
    options.Info = std::string(version.what()) + "\n";
    return options;
  } catch (const CLI::ParseError& error) {
    throw UsageError(error.what());
  }

  const auto known = std::find_if(Commands.begin(), Commands.end(),
                                  [&](const CommandName& c) { return command == c.Name; });
  if (known == Commands.end()) {
    throw UsageError("unknown command '" + command +
                     "'; use create, test, download-srtm1, download-srtm3 or find-place");
  }
  options.Command = known->Command;
  for (const std::string& word : placeWords) {
    options.PlaceName += (options.PlaceName.empty() ? "" : " ") + word;
  }
  if (options.Command == CliCommand::FindPlace && options.PlaceName.empty()) {
    throw UsageError("find-place: give the name of a place");
  }
  if (options.Command != CliCommand::FindPlace && !placeWords.empty()) {
    throw UsageError("unexpected argument '" + placeWords.front() + "'");
  }

  try {
    options.Source.Layout = ArchiveLayoutNamed(sourceName);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("--tile-source: ") + e.what());
  }
  // An archive host alone names a copy of the archive, as it did while the archive was the
  // default source.
  if (app.count("--archive-host") > 0 && app.count("--tile-source") == 0) {
    options.Source.Layout = ArchiveLayout::SrtmV21;
  }
  if (app.count("--archive-host") > 0) {
    try {
      ArchiveHostName(options.Source.ArchiveHost);
    } catch (const std::invalid_argument& e) {
      throw UsageError(std::string("--archive-host: ") + e.what());
    }
  }
  if (app.count("--tile-url") > 0) {
    try {
      options.Source.TileUrl = TileBaseUrl(tileUrl);
    } catch (const std::invalid_argument& e) {
      throw UsageError(std::string("--tile-url: ") + e.what());
    }
  }
  // For the archive both name its address, and one would be ignored.
  if (options.Source.Layout == ArchiveLayout::SrtmV21 && !options.Source.TileUrl.empty() &&
      app.count("--archive-host") > 0) {
    throw UsageError("--archive-host and --tile-url both give the archive's address; give one");
  }

  if (app.count("--seed") > 0) {
    options.Seed = ReadSeed(seed);
    if (!options.Seed) {
      throw UsageError("--seed: '" + seed + "' is not a whole number from 0 to " +
                       std::to_string(std::numeric_limits<std::uint64_t>::max()));
    }
  }
  if (app.count("--dem") > 0 && panel.DemFile.empty()) {
    throw UsageError("--dem: the file name is empty");
  }

  if (options.RegionFromDem && panel.DemFile.empty()) {
    throw UsageError("--region-from-dem: give the raster with --dem");
  }
  if (options.RegionFromDem && (app.count("--lon") > 0 || app.count("--lat") > 0)) {
    throw UsageError("--region-from-dem and --lon or --lat both give the region; give one");
  }
  // With the user's raster the cell may be as fine as its pixels; the run holds it to them.
  if (!panel.DemFile.empty()) {
    for (NumberOption& number : numbers) {
      if (std::string_view(number.Name) == "--pixel")
        number.Fields[0].second = &fields::DemPixelSize;
    }
  }
  for (NumberOption& number : numbers) {
    if (number.Auto != nullptr) ReadAuto(number);
    for (std::size_t i = 0; i < number.Texts.size() && i < number.Fields.size(); ++i) {
      *number.Fields[i].first =
          ReadOptionValue(number.Name, number.Texts[i], *number.Fields[i].second, number.Positive,
                          sep, options.Warnings);
      // Raised by the settings, as the log will show.
      if (number.Fields[i].first == &panel.MaxError && panel.MaxError > 0 &&
          panel.MaxError < SmallestMaxError) {
        const std::string smallest = FormatFieldValue(SmallestMaxError, fields::MaxError, sep);
        options.Warnings.push_back(std::string(number.Name) + " " + number.Texts[i] + " is below " +
                                   smallest + ", the smallest error; using " + smallest);
      }
    }
  }
  if (print) {
    ApplyPrintPreset(
        panel, {app.count("--x-extent") + app.count("--scale") > 0,
                app.count("--z-extent") + app.count("--exaggeration") > 0, app.count("--base") > 0,
                app.count("--elev") > 0, app.count("--max-error") > 0});
  }
  RefuseConflicts(app, panel);
  if (app.count("--water-level") > 0) panel.Extras.WaterLevel = waterLevel;
  if (app.count("--colour-bands") > 0) {
    if (!ReadColourBands(bands, panel.Extras)) {
      throw UsageError("--colour-bands: '" + bands +
                       "' is neither a count from 1 to 5 nor up to four heights in metres");
    }
    panel.Extras.Colours = true;
  }
  if (panel.Extras.Colours && options.Command == CliCommand::Create &&
      !IsThreeMfName(panel.StlFileName)) {
    throw UsageError("--colours: the model file must be a 3MF package (a name ending in .3mf)");
  }
  return options;
}

}  // namespace orolith
