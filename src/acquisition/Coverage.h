#pragma once

#include "frontpanel/ModelSettings.h"
#include "frontpanel/OperationHost.h"

namespace orolith {

// "Test for SRTM Files": which tiles the region needs and where they are, with counts and the
// size estimate. Touches neither the network nor any tile's content.
void CheckTileCoverage(const FrontPanelValues& panel, const DataFolders& folders,
                       OperationHost& host, char decimalSeparator);

}  // namespace orolith
