#include "preview/MapGeometry.h"

#include "base/NumberText.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace orolith {
namespace {

// The centre stays on the globe, so the map can't be lost beyond its edge.
MapView KeptOnGlobe(MapView view) noexcept {
  view.CentreLon = std::clamp(view.CentreLon, -180.0, 180.0);
  view.CentreLat = std::clamp(view.CentreLat, -90.0, 90.0);
  return view;
}

double ClampScale(double scale, int width, int height) noexcept {
  if (!(scale > 0)) return MinimumScale(width, height);
  return std::clamp(scale, MinimumScale(width, height), MaximumScale);
}

}  // namespace

double LonScale(const MapView& view) noexcept {
  constexpr double DegreesToRadians = 0.017453292519943295769;
  return view.Scale * std::cos(std::clamp(view.CentreLat, -85.0, 85.0) * DegreesToRadians);
}

std::string PointerText(GeoPoint point) {
  return FormatText('.', "%.6f %s  %.6f %s",
                    {std::abs(point.Lat), point.Lat < 0 ? "S" : "N", std::abs(point.Lon),
                     point.Lon < 0 ? "W" : "E"});
}

GeoBox ViewBox(const MapView& view) noexcept {
  const GeoPoint northWest = ToGeo(view, {0, 0});
  const GeoPoint southEast =
      ToGeo(view, {static_cast<double>(view.Width), static_cast<double>(view.Height)});
  return {northWest.Lon, southEast.Lon, southEast.Lat, northWest.Lat};
}

double MinimumScale(int width, int height) noexcept {
  return std::min(std::max(width, 1) / 380.0, std::max(height, 1) / 190.0);
}

PixelPoint ToPixel(const MapView& view, GeoPoint point) noexcept {
  return {view.Width / 2.0 + (point.Lon - view.CentreLon) * LonScale(view),
          view.Height / 2.0 - (point.Lat - view.CentreLat) * view.Scale};
}

GeoPoint ToGeo(const MapView& view, PixelPoint pixel) noexcept {
  return {view.CentreLon + (pixel.X - view.Width / 2.0) / LonScale(view),
          view.CentreLat - (pixel.Y - view.Height / 2.0) / view.Scale};
}

GeoBox BoxOf(const RegionFields& fields) {
  FrontPanelValues panel;
  panel.Long1 = fields.Long1;
  panel.Long2 = fields.Long2;
  panel.Lat1 = fields.Lat1;
  panel.Lat2 = fields.Lat2;
  const ModelSettings s = ReadModelSettings(panel);
  return {static_cast<double>(s.LonMin), static_cast<double>(s.LonMax),
          static_cast<double>(s.LatMin), static_cast<double>(s.LatMax)};
}

MapView FitRegion(const GeoBox& region, int width, int height) noexcept {
  MapView view;
  view.Width = std::max(width, 1);
  view.Height = std::max(height, 1);
  view.CentreLon = (region.West + region.East) / 2;
  view.CentreLat = (region.South + region.North) / 2;
  view = KeptOnGlobe(view);
  // Degrees of longitude as long as degrees of latitude on the map.
  const double squeeze = LonScale(view) / view.Scale;
  const double lonSpan = (region.East - region.West) * squeeze;
  const double latSpan = region.North - region.South;
  // A quarter of the region on every side, and never less than a few kilometres, so that even
  // the smallest region is seen among its surroundings.
  const double margin = std::max(0.25 * std::max(lonSpan, latSpan), 0.02);
  view.Scale = ClampScale(
      std::min(view.Width / (lonSpan + 2 * margin), view.Height / (latSpan + 2 * margin)),
      view.Width, view.Height);
  return view;
}

MapView ZoomAbout(const MapView& view, PixelPoint pixel, double factor) noexcept {
  const GeoPoint held = ToGeo(view, pixel);
  MapView zoomed = view;
  zoomed.Scale = ClampScale(view.Scale * factor, view.Width, view.Height);
  zoomed.CentreLat = held.Lat + (pixel.Y - view.Height / 2.0) / zoomed.Scale;
  zoomed = KeptOnGlobe(zoomed);
  zoomed.CentreLon = held.Lon - (pixel.X - view.Width / 2.0) / LonScale(zoomed);
  return KeptOnGlobe(zoomed);
}

MapView PanBy(const MapView& view, double dx, double dy) noexcept {
  MapView moved = view;
  moved.CentreLon -= dx / LonScale(view);
  moved.CentreLat += dy / view.Scale;
  return KeptOnGlobe(moved);
}

MapView Resized(const MapView& view, int width, int height) noexcept {
  MapView resized = view;
  resized.Width = std::max(width, 1);
  resized.Height = std::max(height, 1);
  resized.Scale = ClampScale(view.Scale, resized.Width, resized.Height);
  return resized;
}

float AsField(double value, const FieldLimits& limits) {
  if (!std::isfinite(value)) value = limits.MinValue;
  if (limits.MinValue != limits.MaxValue) {
    value = std::clamp(value, static_cast<double>(limits.MinValue),
                       static_cast<double>(limits.MaxValue));
  }
  // Rounded as the field's format rounds, then read back as the field reads its text.
  return ReadFieldValue(FormatText('.', limits.FormatStr, {value}), limits, '.');
}

RegionFields DrawnRegion(const MapView& view, PixelPoint from, PixelPoint to) {
  const GeoPoint a = ToGeo(view, from);
  const GeoPoint b = ToGeo(view, to);
  return {AsField(std::min(a.Lon, b.Lon), fields::Longitude),
          AsField(std::max(a.Lon, b.Lon), fields::Longitude),
          AsField(std::min(a.Lat, b.Lat), fields::Latitude),
          AsField(std::max(a.Lat, b.Lat), fields::Latitude)};
}

unsigned EdgeAt(const MapView& view, const GeoBox& region, PixelPoint pixel,
                double tolerance) noexcept {
  const PixelPoint northWest = ToPixel(view, {region.West, region.North});
  const PixelPoint southEast = ToPixel(view, {region.East, region.South});
  // Of two edges both within reach, the nearer; on a tie the side the pointer is on.
  const auto pick = [tolerance](double at, double low, double high, unsigned lowEdge,
                                unsigned highEdge) -> unsigned {
    const double toLow = std::abs(at - low);
    const double toHigh = std::abs(at - high);
    if (toLow > tolerance && toHigh > tolerance) return NoEdge;
    if (toLow < toHigh) return lowEdge;
    if (toHigh < toLow) return highEdge;
    return at <= (low + high) / 2 ? lowEdge : highEdge;
  };
  unsigned across = NoEdge;
  unsigned upDown = NoEdge;
  if (pixel.Y >= northWest.Y - tolerance && pixel.Y <= southEast.Y + tolerance) {
    across = pick(pixel.X, northWest.X, southEast.X, WestEdge, EastEdge);
  }
  if (pixel.X >= northWest.X - tolerance && pixel.X <= southEast.X + tolerance) {
    upDown = pick(pixel.Y, northWest.Y, southEast.Y, NorthEdge, SouthEdge);
  }
  return across != NoEdge && upDown != NoEdge ? NoEdge : across | upDown;
}

RegionFields DragEdges(const MapView& view, const RegionFields& atPress, unsigned edges,
                       PixelPoint press, PixelPoint now) {
  const double lonMoved = (now.X - press.X) / LonScale(view);
  const double latMoved = -(now.Y - press.Y) / view.Scale;
  RegionFields moved = atPress;
  const bool westFirst = atPress.Long1 <= atPress.Long2;
  const bool southFirst = atPress.Lat1 <= atPress.Lat2;
  const auto shift = [](float& field, double by, const FieldLimits& limits) {
    field = AsField(static_cast<double>(field) + by, limits);
  };
  if ((edges & WestEdge) != 0)
    shift(westFirst ? moved.Long1 : moved.Long2, lonMoved, fields::Longitude);
  if ((edges & EastEdge) != 0)
    shift(westFirst ? moved.Long2 : moved.Long1, lonMoved, fields::Longitude);
  if ((edges & SouthEdge) != 0)
    shift(southFirst ? moved.Lat1 : moved.Lat2, latMoved, fields::Latitude);
  if ((edges & NorthEdge) != 0)
    shift(southFirst ? moved.Lat2 : moved.Lat1, latMoved, fields::Latitude);
  return moved;
}

std::optional<TileRange> VisibleTiles(const MapView& view) noexcept {
  const GeoPoint northWest = ToGeo(view, {0, 0});
  const GeoPoint southEast =
      ToGeo(view, {static_cast<double>(view.Width), static_cast<double>(view.Height)});
  // The view's extent is bounded by the smallest scale, so the floors stay small integers.
  const auto west = static_cast<std::int32_t>(std::max(std::floor(northWest.Lon), -180.0));
  const auto east = static_cast<std::int32_t>(std::min(std::ceil(southEast.Lon) - 1, 179.0));
  const auto south = static_cast<std::int32_t>(std::max(std::floor(southEast.Lat), -90.0));
  const auto north = static_cast<std::int32_t>(std::min(std::ceil(northWest.Lat) - 1, 89.0));
  if (west > east || south > north) return std::nullopt;
  return TileRange{west, east, south, north};
}

int ShadeSideFor(double tilePixels) noexcept {
  int intervals = 16;
  while (intervals < 512 && intervals < tilePixels) intervals *= 2;
  return intervals + 1;
}

int GridStep(double scale) noexcept {
  static constexpr std::array<int, 8> steps{1, 2, 5, 10, 15, 30, 45, 90};
  for (const int step : steps) {
    if (step * scale >= 48) return step;
  }
  return steps.back();
}

}  // namespace orolith
