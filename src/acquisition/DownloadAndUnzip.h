#pragma once

#include "base/OperationHost.h"
#include "frontpanel/DownloadSettings.h"

#include <string>

namespace orolith {

// The archiver's arguments as the log shows them: extract archiveFileName into its own folder,
// replacing files.
std::string ArchiverArguments(const std::string& archiveFileName);

// One attempt at one tile: GET url, store the body as archiveFileName, and when that file
// exists afterwards (now or from an earlier run) unpack from it the tile named like the archive
// without its own extension ("N45E006.hgt" from "N45E006.hgt.zip") into its folder. True only
// when a tile has been put in place. A failed transfer is logged only as "Download failed for
// some reason", its reason going to host.Diagnose; an archive that yields no tile is logged as
// "Unpacking failed: " and the reason. A file that can't be written and an archiver that can't
// be started throw; host.WhileWaiting runs while the transfer and the archiver are waited on
// and may throw Interrupted.
bool DownloadAndUnzip(const std::string& url, const std::string& archiveFileName,
                      OperationHost& host, const HttpLimits& limits = {},
                      const std::string& proxy = {});

}  // namespace orolith
