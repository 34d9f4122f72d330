#pragma once

#include "preview/MapGeometry.h"

#include <cstddef>
#include <vector>

namespace orolith {

// One raster tile of a web map in the Web Mercator square: zoom level, column x (east) and row
// y (south), from the north-west corner.
struct WebTile {
  int Zoom = 0;
  int X = 0;
  int Y = 0;

  friend auto operator<=>(const WebTile&, const WebTile&) = default;
};

inline constexpr int MaxWebZoom = 19;
// The square's edge: Mercator ends at about 85.05 degrees.
inline constexpr double MaxWebLatitude = 85.0511287798066;

// The zoom whose tiles the view draws about as wide as their 256 pixels, 0 to MaxWebZoom.
int WebZoomFor(const MapView& view) noexcept;
// The latitude of row position y (a whole y is a tile's north edge) at zoom.
double WebRowLatitude(int zoom, double y) noexcept;
// The tiles at zoom that the view shows, those nearest its centre first, at most limit.
std::vector<WebTile> WebTilesInView(const MapView& view, int zoom, std::size_t limit);
// The longitudes and latitudes a tile covers.
GeoBox WebTileBox(const WebTile& tile) noexcept;

}  // namespace orolith
