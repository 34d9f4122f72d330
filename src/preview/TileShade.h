#pragma once

#include "preview/Hillshade.h"
#include "tiles/DemRaster.h"
#include "tiles/TileSource.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orolith {

class ShadeCache;

// What the coverage check says of a tile, by the folder the tile search finds it in; a tile
// that can't be read counts as missing on the map.
enum class TileCoverage : std::uint8_t { Srtm1 = 0, Srtm3 = 1, Srtm30 = 2, Missing = 3, Cop30 = 4 };

struct CoverageLook {
  const char* Name;
  std::uint32_t Tint;  // 0xAARRGGBB
};
// Indexed by TileCoverage.
inline constexpr std::array<CoverageLook, 5> CoverageLooks{{
    {"SRTM-1", 0xFF9CE0A0},
    {"SRTM-3", 0xFFA8C8F0},
    {"SRTM-30", 0xFFF0D090},
    {"missing", 0xFFE08C8C},
    {"COP30", 0xFFC8B8E8},
}};
// The legend's order: the tile search's, missing last.
inline constexpr std::array<TileCoverage, 5> LegendOrder{TileCoverage::Srtm1, TileCoverage::Cop30,
                                                         TileCoverage::Srtm3, TileCoverage::Srtm30,
                                                         TileCoverage::Missing};
inline const CoverageLook& LookOf(TileCoverage coverage) {
  return CoverageLooks[static_cast<std::size_t>(coverage)];
}

// side × side samples of a tile, evenly spaced over the whole tile with its edges, row 0 in the
// north as in the file and in a picture. Void samples are kept as they are.
struct ReducedTile {
  int Side = 0;
  std::vector<std::int16_t> Samples;

  std::int16_t At(int row, int column) const {
    return Samples[static_cast<std::size_t>(row) * static_cast<std::size_t>(Side) +
                   static_cast<std::size_t>(column)];
  }
};

// Reads the tile file at path at side samples a side (fewer when the tile has fewer), reading
// only the rows it keeps. Throws FileError when the file can't be opened or read, or has no
// tile's size; anything but a plain file is refused unopened.
ReducedTile ReadReducedTile(const std::string& path, int side);

// Lights columns × rows heights (row 0 in the north, spacingX and spacingY metres apart) from
// the north-west into pixels, each tint darkened by its shade.
void ShadeHeights(const float* heights, int columns, int rows, double spacingX, double spacingY,
                  std::uint32_t tint, std::uint32_t* pixels);

// The user's raster as the map draws it: Columns × Rows pixels 0xAARRGGBB over Extent, row 0
// in the north, clear (0) where the raster has no value.
struct RasterShade {
  int Columns = 0;
  int Rows = 0;
  DemExtent Extent;
  std::vector<std::uint32_t> Pixels;
};
RasterShade ShadeOverview(const DemOverview& overview, std::uint32_t tint);

// The tile lit from the north-west, each pixel tint darkened by its shade. Voids are shaded as
// the nearest sample before them in their row (or 0 m).
TileShade ShadeTile(const ReducedTile& tile, std::uint32_t tint);

// One tile as the map draws it.
struct TilePicture {
  TileCoverage Coverage = TileCoverage::Missing;
  // Where the tile search found the file; empty when it found none.
  std::string Path;
  // Null for a missing or unreadable tile.
  std::shared_ptr<const TileShade> Shade;
};

// The tile at lon, lat as the tile search of a model run with these blocks finds it, shaded
// at side samples a side: from cache when the file is the one shaded before (same path,
// modification time and size), else read and added to it. Never throws for a tile that can't
// be read: it is missing.
TilePicture PictureOfTile(const DataFolders& folders, const TileBlocks& blocked, std::int32_t lon,
                          std::int32_t lat, int side, ShadeCache& cache);

}  // namespace orolith
