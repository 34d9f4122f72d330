#pragma once

#include "frontpanel/ModelSettings.h"
#include "tiles/DemRaster.h"
#include "tiles/SRTM.h"
#include "tiles/TileSource.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orolith {

// The radius, in samples, of the neighbourhood a tile's voids are healed from.
inline constexpr std::int32_t HealRadius = 3;

// The one tile choice of every pass over a region: the tile at lon, lat into tile from the
// user's raster (dem, when not null) or from the first folder that has it, or a flat 0 m tile
// in its place when missing data is set to 0 m. Its name for the log, or nothing when the tile
// is skipped (tile untouched).
std::optional<std::string> LoadRegionTile(const ModelSettings& settings, const DataFolders& folders,
                                          DemRaster* dem, TSRTM& tile, std::int32_t lon,
                                          std::int32_t lat);

}  // namespace orolith
