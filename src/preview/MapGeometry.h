#pragma once

#include "frontpanel/ModelSettings.h"
#include "tiles/TileRange.h"

#include <optional>
#include <string>

namespace orolith {

// The map is drawn in an equirectangular projection whose degree of longitude is the cosine of
// the view's centre latitude times its degree of latitude: around the centre a box on the map
// has the shape of that box on the ground, which is the model's shape (its Y extent is its X
// extent times the region's height over its width times the cosine of its middle latitude).
// North is up.
struct GeoPoint {
  double Lon = 0;
  double Lat = 0;
};

// Widget pixels: x to the right, y down, (0, 0) the top-left corner.
struct PixelPoint {
  double X = 0;
  double Y = 0;
};

// A region as the model run sees it: ordered, and widened where it is too narrow.
struct GeoBox {
  double West = 0;
  double East = 0;
  double South = 0;
  double North = 0;
};

// The four region fields, each as its field holds it (the first longitude need not be the
// western one).
struct RegionFields {
  float Long1 = 0;
  float Long2 = 0;
  float Lat1 = 0;
  float Lat2 = 0;

  friend bool operator==(const RegionFields&, const RegionFields&) = default;
};

struct MapView {
  double CentreLon = 0;
  double CentreLat = 0;
  double Scale = 1;  // pixels per degree of latitude
  int Width = 1;
  int Height = 1;
};

// Pixels per degree of longitude: Scale times the cosine of the centre's latitude, held to
// that of 85 degrees so that a view near a pole keeps a width.
double LonScale(const MapView& view) noexcept;

// Zoom limits: the whole world fits at the smallest scale; at the largest a pixel is a few
// millionths of a degree, the fields' last decimal.
double MinimumScale(int width, int height) noexcept;
inline constexpr double MaximumScale = 200000;

PixelPoint ToPixel(const MapView& view, GeoPoint point) noexcept;
GeoPoint ToGeo(const MapView& view, PixelPoint pixel) noexcept;

// The pointer's place as the map's corner shows it: "46.501619 N  7.500000 E".
std::string PointerText(GeoPoint point);

// The region the fields describe, as ReadModelSettings orders and widens it.
GeoBox BoxOf(const RegionFields& fields);

// Whether two boxes share a point.
inline bool Meets(const GeoBox& a, const GeoBox& b) noexcept {
  return a.West <= b.East && b.West <= a.East && a.South <= b.North && b.South <= a.North;
}
// The degrees the view shows.
GeoBox ViewBox(const MapView& view) noexcept;

// The view that shows region with a margin around it, centred.
MapView FitRegion(const GeoBox& region, int width, int height) noexcept;
// The view scaled by factor about pixel: the degrees under pixel stay under it.
MapView ZoomAbout(const MapView& view, PixelPoint pixel, double factor) noexcept;
// The view moved with a drag of the map by dx, dy pixels; its centre stays on the globe.
MapView PanBy(const MapView& view, double dx, double dy) noexcept;
// The same view for a widget of another size, its centre and scale kept where they can be.
MapView Resized(const MapView& view, int width, int height) noexcept;

// value as a field with limits holds it: clamped, then rounded to the field's decimals.
float AsField(double value, const FieldLimits& limits);

// The region a drag from one pixel to another draws: the first fields get the western and
// southern bounds.
RegionFields DrawnRegion(const MapView& view, PixelPoint from, PixelPoint to);

// The edge of the region's rectangle a press at pixel takes hold of, within tolerance pixels;
// of two edges closer together than that, the nearer one. None off the edges, and none at a
// corner: a drag from a corner draws a new region from there, so that a drawing can always be
// redone from its first corner.
enum RegionEdge : unsigned { NoEdge = 0, WestEdge = 1, EastEdge = 2, SouthEdge = 4, NorthEdge = 8 };
unsigned EdgeAt(const MapView& view, const GeoBox& region, PixelPoint pixel,
                double tolerance) noexcept;

// The fields after a drag of edges from press to now, starting from the fields at the press:
// each edge moves with the pointer by the degrees it moved, in whichever field holds that edge.
RegionFields DragEdges(const MapView& view, const RegionFields& atPress, unsigned edges,
                       PixelPoint press, PixelPoint now);

// The whole-degree tiles the view shows, within the globe; nothing when it shows none.
std::optional<TileRange> VisibleTiles(const MapView& view) noexcept;
// The sides of the shade pictures the map asks for: a power of two and one, enough for a tile
// drawn tilePixels wide, from 17 up to 513.
int ShadeSideFor(double tilePixels) noexcept;
// Degrees between the grid's lines, so that they stay some tens of pixels apart.
int GridStep(double scale) noexcept;

}  // namespace orolith
