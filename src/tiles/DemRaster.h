#pragma once

#include "tiles/SRTM.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orolith {

// Degrees of longitude and latitude.
struct DemExtent {
  double West = 0;
  double East = 0;
  double South = 0;
  double North = 0;
};

// The raster warped onto a grid of longitude and latitude over its extent: Columns × Rows
// heights, row 0 in the north, each on a cell's centre; NaN where it has no value.
struct DemOverview {
  int Columns = 0;
  int Rows = 0;
  DemExtent Extent;
  std::vector<float> Heights;
};

// What the coverage check tells of the user's raster.
struct DemDescription {
  std::string Name;  // the file name as given
  int Width = 0;     // pixels
  int Height = 0;
  double SpacingX = 0;  // metres between neighbouring pixels along a row
  double SpacingY = 0;  // and along a column
};

// The user's own elevation raster: any single-band raster GDAL opens, in any coordinate system
// GDAL can transform to geographic coordinates. It is read window by window as whole-degree
// tiles are asked of it, never whole.
class DemRaster {
 public:
  // Opens fileName; throws FileError naming it, with the reason, when GDAL can't read it as a
  // raster, or it has more than one band, no georeferencing, or a coordinate system GDAL can't
  // transform to geographic coordinates.
  explicit DemRaster(const std::string& fileName);
  DemRaster(DemRaster&&) noexcept;
  DemRaster& operator=(DemRaster&&) noexcept;
  ~DemRaster();

  const DemDescription& Description() const noexcept;

  // The share, 0 to 1, of the region lonMin..lonMax by latMin..latMax that lies on the
  // raster, counted on a lattice of 100 by 100 points.
  double CoveredShare(long double lonMin, long double lonMax, long double latMin,
                      long double latMax) const;

  // Loads the raster's part of the whole-degree tile at lon, lat into tile (kind Dem): a grid
  // like a tile's, whose outer rows and columns lie on the tile's edges, about as fine as the
  // raster and at most 3601 by 3601, warped bilinearly. Where the raster has no value (outside
  // it, or at its no-data samples) the grid holds NaN, missing data. Returns false, the tile
  // untouched, when the raster has no value anywhere in the tile. Throws FileError naming the
  // file, the tile untouched, when it can't be read, and Interrupted once a stop is asked for.
  bool LoadTile(TSRTM& tile, std::int16_t lon, std::int16_t lat);

  // The smallest box of longitude and latitude that holds the raster's edge; nothing when no
  // point of it transforms.
  std::optional<DemExtent> Extent() const;
  // The raster's edge in longitude and latitude (x longitude, y latitude): pointsPerSide points
  // along each side, round from the top-left corner; points that don't transform are left out.
  std::vector<std::array<double, 2>> Outline(int pointsPerSide) const;
  // The raster over its extent at most maxSide heights a side (read from an overview where it
  // has one); nothing to show without an extent. Throws FileError as LoadTile does.
  DemOverview Overview(int maxSide);

 private:
  friend class DemSampler;
  struct State;
  // Warps the raster onto columns × rows heights at geo (north row first), which hold NaN
  // where the raster does not reach.
  void WarpOnto(float* heights, int columns, int rows, const std::array<double, 6>& geo) const;

  std::unique_ptr<State> state_;
};

}  // namespace orolith
