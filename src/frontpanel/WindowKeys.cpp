#include "frontpanel/WindowKeys.h"

#include "frontpanel/TSystem.h"

#include <charconv>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

namespace orolith {
namespace {

// On Windows names ignore case and the root may be upper-cased as the key search returns it;
// elsewhere a path must keep the case it was typed in.
std::string DataRootArgument(std::span<const char* const> arguments) {
#ifdef _WIN32
  return FindCommandLineKey(arguments, "DataRoot=", false);
#else
  return FindCommandLineValue(arguments, "DataRoot=");
#endif
}

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::current_path(error);
  // A working directory that has been removed still leaves a usable relative root.
  return error ? std::string(".") : directory.string();
}

// Takes the tile source the command line names into source. A name or address that can't be
// used leaves the default source whole, and the reason is returned; empty when all is well.
std::string ReadTileSource(std::span<const char* const> arguments, ArchiveSource& source) {
  const char* key = "TileSource";
  try {
    if (const std::string name = FindCommandLineValue(arguments, "TileSource="); !name.empty()) {
      source.Layout = ArchiveLayoutNamed(name);
    }
    key = "TileUrl";
    if (const std::string url = FindCommandLineValue(arguments, "TileUrl="); !url.empty()) {
      source.TileUrl = TileBaseUrl(url);
    }
  } catch (const std::invalid_argument& error) {
    source.Layout = ArchiveLayout::SrtmV21;
    source.TileUrl.clear();
    return std::string(key) + ": " + error.what();
  }
  return {};
}

}  // namespace

std::optional<std::uint64_t> ReadSeed(std::string_view text) {
  std::uint64_t seed = 0;
  const char* end = text.data() + text.size();
  // from_chars alone would take a leading minus sign.
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  const auto [stop, ec] = std::from_chars(text.data(), end, seed);
  if (ec != std::errc() || stop != end) return std::nullopt;
  return seed;
}

WindowKeys ReadWindowKeys(std::span<const char* const> arguments, char decimalSeparator) {
  WindowKeys keys;
  const std::string root = DataRootArgument(arguments);
  keys.DataRootFromCommandLine = !root.empty();
  keys.Folders = MakeDataFolders(keys.DataRootFromCommandLine ? root : CurrentDirectory());
  if (const std::string host = FindCommandLineValue(arguments, "ArchiveHost="); !host.empty()) {
    try {
      keys.Source.ArchiveHost = ArchiveHostName(host);
    } catch (const std::invalid_argument& error) {
      keys.Problems.push_back(std::string("ArchiveHost: ") + error.what() + "; downloads use " +
                              AddressShown(ArchiveBaseUrl(keys.Source)));
    }
  }
  keys.Source.Proxy = FindCommandLineValue(arguments, "Proxy=");
  keys.DemFile = FindCommandLineValue(arguments, "Dem=");
  if (const std::string online = FindCommandLineValue(arguments, "OnlineMap="); !online.empty()) {
    keys.OnlineMap = online == "1";
    if (online != "0" && online != "1") {
      keys.Problems.push_back("OnlineMap: '" + online +
                              "' is neither 0 nor 1; the online map stays off");
    }
  }
  if (const std::string problem = ReadTileSource(arguments, keys.Source); !problem.empty()) {
    keys.Problems.push_back(problem + "; downloads use " + AddressShown(Srtm1BaseUrl(keys.Source)));
  }
  // As --floor and --max-error refuse them: a typing error must not become the field's minimum
  // unseen. A scale, an exaggeration or a layer height of 0 or below means nothing.
  const auto number = [&](const char* name, const FieldLimits& limits, const char* what,
                          const char* unit, float& value, bool positive = false) {
    const std::string text = FindCommandLineValue(arguments, std::string(name) + "=");
    if (text.empty()) return;
    const std::optional<float> typed = ParseFieldNumber(text, decimalSeparator);
    if (typed && (!positive || *typed > 0)) {
      value = ClampToRange(*typed, limits);
      return;
    }
    const std::string stays =
        value == 0 && positive ? "off" : FormatFieldValue(value, limits, decimalSeparator) + unit;
    keys.Problems.push_back(std::string(name) + ": '" + text + "' is not " +
                            (typed ? "above 0" : "a number") + "; " + what + " stays " + stays);
  };
  number("Floor", fields::Floor, "the floor", " percent", keys.FloorPercent);
  if (const std::string error = FindCommandLineValue(arguments, "MaxError=");
      error == "auto" || error == "AUTO" || error == "Auto") {
    keys.MaxErrorAuto = true;
  } else {
    number("MaxError", fields::MaxError, "the max. error", " m", keys.MaxError);
  }
  number("Scale", fields::Scale, "the scale", "", keys.Scale, true);
  number("Exaggeration", fields::Exaggeration, "the exaggeration", "", keys.Exaggeration, true);
  number("LayerHeight", fields::LayerHeight, "the layer height", " mm", keys.LayerHeight, true);
  if (const std::string band = FindCommandLineValue(arguments, "ElevationAuto=");
      band == "1" || band == "0") {
    keys.ElevationAuto = band == "1";
  } else if (!band.empty()) {
    keys.Problems.push_back("ElevationAuto: '" + band +
                            "' is neither 1 nor 0; the elevation band stays as typed");
  }
  if (const std::string seed = FindCommandLineValue(arguments, "Seed="); !seed.empty()) {
    keys.Seed = ReadSeed(seed);
    if (!keys.Seed) {
      keys.Problems.push_back("Seed: '" + seed +
                              "' is not a whole number from 0 to 18446744073709551615; each "
                              "model run draws its centres afresh");
    }
  }
  return keys;
}

}  // namespace orolith
