#pragma once

#include "base/OperationHost.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/Workspace.h"

#include <string>
#include <vector>

namespace orolith {

// A tile of the region that a download run left without its file, though the server never
// said it has none, and why.
struct TileFailure {
  std::string Tile;
  std::string Reason;
};

// What a download run leaves undone: nothing when each tile of the region is now in the tile
// folder or its server answered that it has no such tile.
struct DownloadOutcome {
  std::vector<TileFailure> Failed;
  bool Complete() const noexcept { return Failed.empty(); }
};

// "Download SRTM-1 files" / "Download SRTM-3 files": fetch every tile of the region that the
// tile folder lacks, from the workspace's source. The SRTM version 2.1 archive keeps its folder
// walk for both resolutions and remembers the folder that delivered last; from a mirror, an
// SRTM-1 tile is one address (ESA's own mirror backed by AWS's), and an SRTM-3 tile is made
// from that SRTM-1 tile (DownloadDerivedSrtm3Tile). With the Copernicus bucket as the source,
// the SRTM-1 download fetches its GLO-30 tiles into COP30/ instead, and SRTM-3 tiles come from
// the default mirror. The tile folder is made when it is missing; a data root that does not
// exist ends the run before anything is fetched (FileError). The archive says it has no tile by
// answering 404 in every folder, a mirror or the bucket by 404 or 403; every other way an
// attempt fails leaves the tile in the outcome. Errors that are not transfer failures (an
// archive that can't be written, an archiver that can't be started, a tile path too long to
// look up) end the run and propagate.
DownloadOutcome DownloadSrtm1Files(const ModelSettings& settings, Workspace& workspace,
                                   OperationHost& host);
DownloadOutcome DownloadSrtm3Files(const ModelSettings& settings, Workspace& workspace,
                                   OperationHost& host);

}  // namespace orolith
