#pragma once

#include "tiles/SRTM.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orolith {

// Copernicus GLO-30 tiles as the public bucket serves them: cloud-optimised GeoTIFFs of Float32
// heights, one arc-second apart north to south, wider apart east to west the nearer the pole.
// A tile's pixel centres lie on whole multiples of its spacing from its west and north edges;
// its east column and south row belong to its neighbours.

inline constexpr int CopernicusRows = 3600;

// Columns of the tile whose south-west corner is at lat: 3600 up to 50 degrees from the
// equator, 2400 to 60, 1800 to 70, 1200 to 80, 720 to 85, 360 beyond.
int CopernicusColumns(std::int32_t lat) noexcept;

// "Copernicus_DSM_COG_10_N46_00_E007_00_DEM.tif" for lon 7, lat 46: named after the south-west
// corner, as TileFileName names an SRTM tile.
std::string CopernicusTileName(std::int32_t lon, std::int32_t lat);

// The most bytes a tile's file may have: its Float32 heights and overviews stored raw, twice
// over. The bucket's tiles are a fraction of that.
inline constexpr std::size_t CopernicusMaxFileBytes = std::size_t{3600} * 3600 * 4 * 2;

// Checks that fileName is the Copernicus tile at lon, lat as the bucket serves it: a GeoTIFF of
// one band of Float32 heights laid out as the tile, each of its blocks inside the file, without
// reading its heights. Throws FileError naming the file with the reason otherwise.
void CheckCopernicusTile(const std::string& fileName, std::int32_t lon, std::int32_t lat);
// The same for a tile's bytes held in memory, before they are written anywhere; errors name the
// file as shownName.
void CheckCopernicusTile(std::span<const std::byte> bytes, const std::string& shownName,
                         std::int32_t lon, std::int32_t lat);

// Loads the tile at fileName as the tile at lon, lat (kind Cop30): a grid of 3601 rows and
// CopernicusColumns(lat) + 1 columns whose outer rows and columns lie on the tile's edges. The
// east column, the south row and the south-east corner come from the neighbour tiles of the
// same folder (east, south, south-east) where they are there, else the tile's own last column
// or row repeats. No-data samples (the band's nodata value, NaN) become voids.
// Throws FileError naming the file (the tile's or a neighbour's) with the reason when it is
// no GeoTIFF, not laid out as that tile, or can't be read; the tile then stays as it was.
void LoadCopernicusTile(TSRTM& tile, const std::string& fileName, std::int16_t lon,
                        std::int16_t lat);

// The Copernicus tile at fileName, the tile at lon, lat, at side × side points (at most 3600)
// spread evenly over its samples, row 0 in the north, heights rounded to whole metres, no-data
// samples -32768; from the file's overviews where it has them. For the map, which needs no
// neighbours' edges. Throws FileError naming the file when it is not laid out as that tile or
// can't be read.
std::vector<std::int16_t> ReadReducedCopernicusTile(const std::string& fileName, std::int32_t lon,
                                                    std::int32_t lat, int side);

}  // namespace orolith
