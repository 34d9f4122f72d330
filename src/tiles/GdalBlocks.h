#pragma once

// The blocks a raster is stored in, as GDAL reports them: checked before anything is read or
// held, and found for the Copernicus tiles' own reader. Private to the tiles library.

#include "tiles/DeflatedBlocks.h"

#include <gdal.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orolith::gdal {

// Refuses a band whose blocks, its own or its overviews', no reader should hold: of no pixel or
// of more than 256 MiB; in a GeoTIFF, with a side longer than the raster's longer side rounded
// up to the 16 pixels tiles come in, or tiles whose sides are no multiples of 16 (a strip spans
// the raster). Throws FileError ("Cannot open file ...") naming fileName.
void CheckBlockSizes(GDALRasterBandH band, const std::string& fileName);

// Refuses a GeoTIFF band a block of which, its own or its overviews', lies past fileBytes: a
// file cut short. Where a level has more blocks than can be looked at in a moment, the last row
// of them, where writers end, stands for it. Any other format passes. Throws FileError
// ("Cannot open file ...") naming fileName.
void CheckBlocksInside(GDALRasterBandH band, std::uint64_t fileBytes, const std::string& fileName);

// Where the blocks of band lie in its file when it is stored as the Copernicus tiles are
// (DeflatedFloatLayout), for DeflatedFloatReader to read them without GDAL; nothing for any
// other layout, or a file GDAL does not read from the disk. Its block sizes must have passed
// CheckBlockSizes.
std::optional<DeflatedFloatLayout> FindDeflatedFloatLayout(GDALRasterBandH band);

}  // namespace orolith::gdal
