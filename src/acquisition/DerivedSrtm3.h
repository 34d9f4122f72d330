#pragma once

#include "acquisition/DownloadAndUnzip.h"
#include "base/OperationHost.h"
#include "frontpanel/DownloadSettings.h"

#include <cstdint>
#include <string>

namespace orolith {

// SRTM-3 tiles made from SRTM-1 tiles as NASA's sub-sampled SRTM-3 products are: the sample at
// every third row and column of the SRTM-1 grid, the centre of each 3 x 3 block. The two grids
// share their edges, so a made tile meets its neighbours as the SRTM-1 tiles do, and a void
// stays a void for the model run to heal.

// Writes the SRTM-3 tile made from the SRTM-1 tile file srtm1File as srtm3File, whole or not
// at all. Throws UnpackError when srtm1File holds no SRTM-1 tile, FileError when it can't be
// read or srtm3File can't be written.
void MakeSrtm3Tile(const std::string& srtm1File, const std::string& srtm3File);

// One attempt at the SRTM-3 tile at lon/lat into srtm3Dir: the SRTM-1 tile from source's
// mirrors (DownloadFromMirrors) into a folder of its own inside srtm3Dir, the SRTM-3 tile made
// from it and logged by a line of its own. Nothing of the SRTM-1 tile or its archive stays,
// however the attempt ends.
DownloadAttempt DownloadDerivedSrtm3Tile(const ArchiveSource& source, const std::string& srtm3Dir,
                                         std::int32_t lon, std::int32_t lat, OperationHost& host);

}  // namespace orolith
