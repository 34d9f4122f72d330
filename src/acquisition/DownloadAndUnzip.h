#pragma once

#include "base/OperationHost.h"
#include "frontpanel/DownloadSettings.h"

#include <string>
#include <vector>

namespace orolith {

// The archiver's arguments: extract archiveFileName into its own folder, replacing files.
std::string ArchiverArguments(const std::string& archiveFileName);

// Writes bytes to fileName through a temporary file in the same folder, so that a failed
// write leaves no truncated file. Throws FileError naming fileName.
void WriteFileAtomically(const std::string& fileName, const std::vector<char>& bytes);

// One attempt at one tile: GET url, store the body as archiveFileName, and when that file
// exists afterwards (now or from an earlier run) unpack it with the archiver into its folder.
// Transfer failures are reported only as "Download failed for some reason" (false); a file
// that can't be written and an archiver that can't be started throw.
bool DownloadAndUnzip(const std::string& url, const std::string& archiveFileName,
                      OperationHost& host, const HttpLimits& limits = {});

}  // namespace orolith
