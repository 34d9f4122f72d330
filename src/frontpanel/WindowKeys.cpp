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

// Takes the tile source the command line names into source. An archive host alone names a copy
// of the archive, as it did while the archive was the default source. A name or address that
// can't be used leaves the default source whole, and the reason is returned; empty when all is
// well.
std::string ReadTileSource(std::span<const char* const> arguments, bool archiveHostGiven,
                           ArchiveSource& source) {
  const ArchiveLayout fallback = archiveHostGiven ? ArchiveLayout::SrtmV21 : source.Layout;
  source.Layout = fallback;
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
    source.Layout = fallback;
    source.TileUrl.clear();
    return std::string(key) + ": " + error.what();
  }
  return {};
}

// RemoveArchives=, OnlineMap=, Remember=, ElevationAuto=: yes, no, on, off, true, false, 1 or 0,
// in any letter case; none for another.
std::optional<bool> ReadSwitch(const std::string& text) {
  std::string lower;
  for (const char c : text) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  for (const char* on : {"yes", "on", "true", "1"}) {
    if (lower == on) return true;
  }
  for (const char* off : {"no", "off", "false", "0"}) {
    if (lower == off) return false;
  }
  return std::nullopt;
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
  // An archive host that can't be used leaves the default source, which serves.
  std::string hostProblem;
  bool hostGiven = false;
  if (const std::string host = FindCommandLineValue(arguments, "ArchiveHost="); !host.empty()) {
    try {
      keys.Source.ArchiveHost = ArchiveHostName(host);
      hostGiven = true;
    } catch (const std::invalid_argument& error) {
      hostProblem = std::string("ArchiveHost: ") + error.what();
    }
  }
  keys.Source.Proxy = FindCommandLineValue(arguments, "Proxy=");
  keys.DemFile = FindCommandLineValue(arguments, "Dem=");
  const std::string sourceProblem = ReadTileSource(arguments, hostGiven, keys.Source);
  keys.TileSourceGiven = sourceProblem.empty() &&
                         (hostGiven || !FindCommandLineValue(arguments, "TileSource=").empty());
  for (const std::string& problem : {hostProblem, sourceProblem}) {
    if (problem.empty()) continue;
    keys.Problems.push_back(problem + "; downloads use " + AddressShown(Srtm1BaseUrl(keys.Source)));
  }
  // A switch that is neither on nor off keeps its default, and says so.
  const auto onOff = [&](const char* name, const char* kept, bool& value) {
    const std::string text = FindCommandLineValue(arguments, std::string(name) + "=");
    if (text.empty()) return;
    if (const std::optional<bool> on = ReadSwitch(text)) {
      value = *on;
    } else {
      keys.Problems.push_back(std::string(name) + ": '" + text + "' is neither yes nor no; " +
                              kept);
    }
  };
  onOff("OnlineMap", "the online map stays off", keys.OnlineMap);
  onOff("RemoveArchives", "downloaded archives stay beside their tiles",
        keys.Source.RemoveArchives);
  if (const std::string remember = FindCommandLineValue(arguments, "Remember=");
      !remember.empty()) {
    keys.Remember = ReadSwitch(remember);
    if (!keys.Remember) {
      keys.Problems.push_back("Remember: '" + remember +
                              "' is neither yes nor no; the \"Remember settings\" box stays as "
                              "it was left");
    }
  }
  // As --floor and --max-error refuse them: a typing error must not become the field's minimum
  // unseen. A scale, an exaggeration or a layer height of 0 or below means nothing.
  const auto number = [&](const char* name, const FieldLimits& limits, const char* what,
                          const char* unit, float& value, bool* given, bool positive = false) {
    const std::string text = FindCommandLineValue(arguments, std::string(name) + "=");
    if (text.empty()) return;
    const std::optional<float> typed = ParseFieldNumber(text, decimalSeparator);
    if (typed && (!positive || *typed > 0)) {
      value = ClampToRange(*typed, limits);
      if (given != nullptr) *given = true;
      return;
    }
    const std::string stays =
        value == 0 && positive ? "off" : FormatFieldValue(value, limits, decimalSeparator) + unit;
    keys.Problems.push_back(std::string(name) + ": '" + text + "' is not " +
                            (typed ? "above 0" : "a number") + "; " + what + " stays " + stays);
  };
  number("Floor", fields::Floor, "the floor", " percent", keys.FloorPercent, &keys.FloorGiven);
  if (const std::string error = FindCommandLineValue(arguments, "MaxError=");
      error == "auto" || error == "AUTO" || error == "Auto") {
    keys.MaxErrorAuto = true;
    keys.MaxErrorGiven = true;
  } else {
    number("MaxError", fields::MaxError, "the max. error", " m", keys.MaxError,
           &keys.MaxErrorGiven);
  }
  number("Scale", fields::Scale, "the scale", "", keys.Scale, &keys.ScaleGiven, true);
  number("Exaggeration", fields::Exaggeration, "the exaggeration", "", keys.Exaggeration,
         &keys.ExaggerationGiven, true);
  number("LayerHeight", fields::LayerHeight, "the layer height", " mm", keys.LayerHeight,
         &keys.LayerHeightGiven, true);
  onOff("ElevationAuto", "the elevation band stays as typed", keys.ElevationAuto);
  if (const std::string water = FindCommandLineValue(arguments, "WaterLevel="); !water.empty()) {
    if (const std::optional<float> level = ParseFieldNumber(water, decimalSeparator)) {
      keys.WaterLevel = ClampToRange(*level, fields::WaterLevel);
    } else {
      keys.Problems.push_back("WaterLevel: '" + water + "' is not a number; no water is laid flat");
    }
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
