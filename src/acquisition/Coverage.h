#pragma once

#include "base/OperationHost.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/Workspace.h"

namespace orolith {

// "Test for SRTM Files": which tiles the region needs and where they are, with counts and the
// size estimate. Touches neither the network nor any tile's content, unless the band is to be
// found in the region: then a first pass reads the tiles as a model run would, and the region's
// own range is logged. With settings.DemFile the user's raster instead: its size, its spacing
// and the share of the region it covers (a raster that can't be used throws before anything is
// logged).
void CheckTileCoverage(const ModelSettings& settings, Workspace& workspace, OperationHost& host);

}  // namespace orolith
