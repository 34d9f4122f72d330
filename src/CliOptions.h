#pragma once

#include "frontpanel/DownloadSettings.h"
#include "frontpanel/ModelSettings.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith {

// The four buttons of the window, as commands, and the map's place search.
enum class CliCommand { Create, Test, DownloadSrtm1, DownloadSrtm3, FindPlace };

struct CliOptions {
  CliCommand Command = CliCommand::Create;
  // Every value as its field would read it.
  FrontPanelValues Panel;
  // Empty: the current directory.
  std::string DataRoot;
  bool Yes = false;
  // --region-from-dem: the region becomes the extent of the --dem raster.
  bool RegionFromDem = false;
  // --seed: fixes the centre fractions; none draws them afresh.
  std::optional<std::uint64_t> Seed;
  // Where the downloads go: --archive-host, --tile-source, --tile-url, --proxy and
  // --remove-archives.
  ArchiveSource Source;
  // One line per value that was clamped into its field's limits.
  std::vector<std::string> Warnings;
  // find-place: the name searched for.
  std::string PlaceName;
  // --help or --version: the text to print, and nothing to run.
  std::optional<std::string> Info;
};

// A command line that can't be run: unknown option or command, a missing or malformed value.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads orolith-cli's command line (argv[0] is the program). Numbers follow the fields'
// grammar with the given decimal separator. Throws UsageError.
CliOptions ParseCliOptions(int argc, const char* const* argv, char decimalSeparator);

}  // namespace orolith
