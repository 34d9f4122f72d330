#pragma once

#include "base/OperationHost.h"
#include "frontpanel/ModelSettings.h"
#include "frontpanel/Workspace.h"
#include "model/lattice/ModelGrid.h"
#include "tiles/DemRaster.h"

#include <optional>

namespace orolith {

// The region's width on the ground in metres: the length of its centre latitude's parallel
// between its west and east bounds on the WGS 84 ellipsoid.
long double GroundWidthMetres(const ModelSettings& settings) noexcept;

// Heights in metres.
struct HeightRange {
  long double Lowest;
  long double Highest;
};

// The region's own lowest and highest height: of the samples the model's lookups blend, after
// healing, held to the lookup's 0 .. 10000 m. A first pass over the region's tiles with the
// run's tile choice, one tile at a time in the workspace's tile object, as the run holds them;
// the host's pending events are handled once a tile. Nothing when no tile of the region has a
// sample. Logs nothing.
std::optional<HeightRange> RegionHeights(const ModelSettings& settings, Workspace& workspace,
                                         DemRaster* dem, OperationHost& host);

// The settings a model is made from: with ElevationAuto the band found (an empty one widened to
// 1 m, as ReadModelSettings widens a band), the X extent of the scale, the Z extent of the
// exaggeration and the max. error of the layer height, each only when its option is on.
// Throws std::invalid_argument when an exaggeration meets a pedestal of 100 percent.
ModelSettings ScaledSettings(ModelSettings settings, const std::optional<HeightRange>& found);

// ScaledSettings with the band found by RegionHeights when ElevationAuto is on.
ModelSettings SettingsForModel(const ModelSettings& read, Workspace& workspace, DemRaster* dem,
                               OperationHost& host);

// The print preset (--print, the window's "Print" button): a closed solid, the band found in the
// region, the max. error half a layer height, fields::PrintSide on the model's longer side (its X
// extent, or the X extent that makes it its Y extent), and a Z extent of fields::PrintZExtent
// above a pedestal of fields::PrintZBase percent, each unless given.
void ApplyPrintPreset(FrontPanelValues& panel, const PrintGiven& given);

// The model's size as the window shows it while the fields change, before any tile is read;
// ZKnown false when an exaggeration stands on a band still to be found in the region, or on a
// pedestal of 100 percent.
struct PlannedSize {
  ModelDimensions Size;
  bool ZKnown;
};
PlannedSize PlannedModelSize(const FrontPanelValues& panel);

}  // namespace orolith
