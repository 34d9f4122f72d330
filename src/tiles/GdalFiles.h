#pragma once

// The files GDAL may reach, set once per process: nothing over the network, no pipe or device
// opened, and a read that returns nothing once a stop has been asked for. Private to the tiles
// library.

#include <string>

namespace orolith::gdal {

// The reason GDAL reports for a name that would take it onto the network.
inline constexpr const char* NetworkOff = "Network access is off";

// Replaces GDAL's file systems: every one that fetches over the network refuses whatever is
// asked of it, and the local one opens plain files and folders alone (opening a pipe waits
// for a writer) and stops reading once a stop has been asked for, so that a long read or warp
// ends within moments. Called once, from the set-up.
void InstallFileSystems();

// True for a name GDAL would fetch over the network: a URL, or a network file system's path
// anywhere in it (behind an archive's or a driver's prefix too).
bool NamesNetwork(const std::string& name);

// Refuses a VRT (named fileName, or given as its XML) any of whose sources, or their sources in
// turn, names the network, a pipe or a device: before GDAL opens them, and with a reason the
// user can act on. Anything else passes. Throws FileError ("Cannot open file ...") naming
// shownName.
void RequireLocalSources(const std::string& fileName, const std::string& shownName);

}  // namespace orolith::gdal
