#include "preview/WebTiles.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orolith {
namespace {

double Tiles(int zoom) noexcept {
  return std::ldexp(1.0, zoom);
}

// The row position of latitude at zoom, within the square.
double RowOf(int zoom, double lat) noexcept {
  const double phi = std::clamp(lat, -MaxWebLatitude, MaxWebLatitude) * std::numbers::pi / 180;
  return (1 - std::log(std::tan(phi) + 1 / std::cos(phi)) / std::numbers::pi) / 2 * Tiles(zoom);
}

}  // namespace

int WebZoomFor(const MapView& view) noexcept {
  const double worldPixels = 360 * LonScale(view);
  const double zoom = std::round(std::log2(std::max(worldPixels, 1.0) / 256));
  return static_cast<int>(std::clamp(zoom, 0.0, double{MaxWebZoom}));
}

double WebRowLatitude(int zoom, double y) noexcept {
  const double n = std::numbers::pi * (1 - 2 * y / Tiles(zoom));
  return std::atan(std::sinh(n)) * 180 / std::numbers::pi;
}

std::vector<WebTile> WebTilesInView(const MapView& view, int zoom, std::size_t limit) {
  std::vector<WebTile> tiles;
  const GeoBox box = ViewBox(view);
  const double n = Tiles(zoom);
  const auto column = [n](double lon) { return (std::clamp(lon, -180.0, 180.0) + 180) / 360 * n; };
  const int last = static_cast<int>(n) - 1;
  const int west = std::clamp(static_cast<int>(std::floor(column(box.West))), 0, last);
  const int east = std::clamp(static_cast<int>(std::floor(column(box.East))), 0, last);
  const int north = std::clamp(static_cast<int>(std::floor(RowOf(zoom, box.North))), 0, last);
  const int south = std::clamp(static_cast<int>(std::floor(RowOf(zoom, box.South))), 0, last);
  if (box.North < -MaxWebLatitude || box.South > MaxWebLatitude) return tiles;
  const double cx = column(view.CentreLon);
  const double cy = RowOf(zoom, view.CentreLat);
  for (int y = north; y <= south; ++y) {
    for (int x = west; x <= east; ++x) tiles.push_back({zoom, x, y});
  }
  const auto distance = [&](const WebTile& t) {
    return std::hypot(t.X + 0.5 - cx, t.Y + 0.5 - cy);
  };
  std::sort(tiles.begin(), tiles.end(),
            [&](const WebTile& a, const WebTile& b) { return distance(a) < distance(b); });
  if (tiles.size() > limit) tiles.resize(limit);
  return tiles;
}

GeoBox WebTileBox(const WebTile& tile) noexcept {
  const double n = Tiles(tile.Zoom);
  return {tile.X / n * 360 - 180, (tile.X + 1) / n * 360 - 180,
          WebRowLatitude(tile.Zoom, tile.Y + 1.0), WebRowLatitude(tile.Zoom, tile.Y)};
}

}  // namespace orolith
