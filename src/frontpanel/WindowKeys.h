#pragma once

#include "frontpanel/DownloadSettings.h"
#include "frontpanel/ModelSettings.h"
#include "tiles/TileSource.h"

#include <span>
#include <string>
#include <vector>

namespace orolith {

// What the window's command-line keys set. Each key (DataRoot=, ArchiveHost=, TileSource=,
// TileUrl=, Proxy=, Floor=, Dem=) is matched anywhere in an argument, in any letter case; the first
// argument that holds it wins, and an empty value counts as absent.
struct WindowKeys {
  // Under the DataRoot= value, else under the current directory.
  DataFolders Folders;
  bool DataRootFromCommandLine = false;
  ArchiveSource Source;
  // The closed solid's floor, read as its field would read it.
  float FloorPercent = fields::Floor.Initial;
  // What the "DEM file" field starts with.
  std::string DemFile;
  // One line for each value that can't be read, saying what is used instead; the window logs
  // it and shows it in an error box.
  std::vector<std::string> Problems;
};

// arguments: the command line, program name first.
WindowKeys ReadWindowKeys(std::span<const char* const> arguments, char decimalSeparator);

}  // namespace orolith
