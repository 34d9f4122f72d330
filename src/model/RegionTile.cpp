#include "model/RegionTile.h"

#include "tiles/Copernicus.h"

namespace orolith {

std::optional<std::string> LoadRegionTile(const ModelSettings& s, const DataFolders& folders,
                                          DemRaster* dem, TSRTM& tile, std::int32_t lon,
                                          std::int32_t lat) {
  const auto west = static_cast<std::int16_t>(lon);
  const auto south = static_cast<std::int16_t>(lat);
  if (dem != nullptr) {
    if (dem->LoadTile(tile, west, south)) {
      // Where the raster has no value the tile is missing data, which the box sets to 0 m.
      if (s.MissedDataZero) tile.FillNoData(0);
      const std::string name = TileFileName(lon, lat);
      return name.substr(0, name.size() - 4) + " from the DEM file";
    }
  } else if (const auto source = FindTileSource(folders, lon, lat, s.Blocks())) {
    LoadTile(tile, *source, west, south);
    return source->Folder == TileKind::Cop30 ? CopernicusTileName(lon, lat)
                                             : TileFileName(lon, lat);
  }
  if (!s.MissedDataZero) return std::nullopt;
  tile.FillConstant(0, west, south);
  return TileFileName(lon, lat);
}

}  // namespace orolith
