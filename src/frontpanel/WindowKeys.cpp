#include "frontpanel/WindowKeys.h"

#include "frontpanel/TSystem.h"

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
  if (const std::string problem = ReadTileSource(arguments, keys.Source); !problem.empty()) {
    keys.Problems.push_back(problem + "; downloads use " + AddressShown(Srtm1BaseUrl(keys.Source)));
  }
  if (const std::string floor = FindCommandLineValue(arguments, "Floor="); !floor.empty()) {
    // As --floor refuses it: a typing error must not become the field's minimum unseen.
    if (const std::optional<float> typed = ParseFieldNumber(floor, decimalSeparator)) {
      keys.FloorPercent = ClampToRange(*typed, fields::Floor);
    } else {
      keys.Problems.push_back("Floor: '" + floor + "' is not a number; the floor stays " +
                              FormatFieldValue(keys.FloorPercent, fields::Floor, decimalSeparator) +
                              " percent");
    }
  }
  return keys;
}

}  // namespace orolith
