#pragma once

#include "base/OperationHost.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/Workspace.h"

namespace orolith {

// "Download SRTM-1 files" / "Download SRTM-3 files": fetch every tile of the region that the
// tile folder lacks. SRTM-1 tiles come from the workspace's source, SRTM-3 tiles always from
// the SRTM version 2.1 archive, whose folder walk remembers the folder that delivered last.
// Errors that are not transfer failures (an archive that can't be written, an archiver that
// can't be started) end the run and propagate.
void DownloadSrtm1Files(const ModelSettings& settings, Workspace& workspace, OperationHost& host);
void DownloadSrtm3Files(const ModelSettings& settings, Workspace& workspace, OperationHost& host);

}  // namespace orolith
