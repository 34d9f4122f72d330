#include "preview/MapGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orolith {
namespace {

// 100 pixels a degree on a 500 x 400 map centred on 7.5 E on the equator, where a degree of
// longitude is as long as one of latitude: the map shows 5 E .. 10 E and 2 S .. 2 N.
MapView Equator() {
  MapView view;
  view.CentreLon = 7.5;
  view.CentreLat = 0;
  view.Scale = 100;
  view.Width = 500;
  view.Height = 400;
  return view;
}

TEST(MapGeometry, DegreesAndPixelsConvertBothWays) {
  const struct {
    GeoPoint geo;
    PixelPoint pixel;
  } cases[] = {
      {{7.5, 0}, {250, 200}},    // the centre
      {{8.5, 0}, {350, 200}},    // east is right
      {{7.5, 1}, {250, 100}},    // north is up
      {{5.0, 2}, {0, 0}},        // the top-left corner
      {{10.0, -2}, {500, 400}},  // the bottom-right corner
      {{7.123456, 0.154321}, {212.3456, 184.5679}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.geo.Lon << " " << c.geo.Lat);
    const PixelPoint pixel = ToPixel(Equator(), c.geo);
    EXPECT_NEAR(pixel.X, c.pixel.X, 1e-6);
    EXPECT_NEAR(pixel.Y, c.pixel.Y, 1e-6);
    const GeoPoint geo = ToGeo(Equator(), c.pixel);
    EXPECT_NEAR(geo.Lon, c.geo.Lon, 1e-9);
    EXPECT_NEAR(geo.Lat, c.geo.Lat, 1e-9);
  }
}

TEST(MapGeometry, TheRegionIsTheOneTheModelRunSees) {
  const struct {
    RegionFields fields;
    GeoBox box;
  } cases[] = {
      {{7.2F, 7.8F, 46.2F, 46.8F}, {7.2F, 7.8F, 46.2F, 46.8F}},
      {{7.8F, 7.2F, 46.8F, 46.2F}, {7.2F, 7.8F, 46.2F, 46.8F}},  // either order
      {{0, 0, 0, 0}, {0, 0.001, 0, 0.001}},                      // widened as the run widens it
      {{-180, 180, -90, 90}, {-180, 180, -90, 90}},
  };
  for (const auto& c : cases) {
    const GeoBox box = BoxOf(c.fields);
    EXPECT_DOUBLE_EQ(box.West, c.box.West);
    EXPECT_DOUBLE_EQ(box.East, c.box.East);
    EXPECT_DOUBLE_EQ(box.South, c.box.South);
    EXPECT_DOUBLE_EQ(box.North, c.box.North);
  }
}

TEST(MapGeometry, AFittedViewShowsTheRegionCentredWithAMargin) {
  const struct {
    GeoBox region;
    int width;
    int height;
    double scale;  // pixels a degree
  } cases[] = {
      // 0.6 degrees of longitude at 46.5 N are as long as 0.413 of latitude: the region and a
      // quarter of its height on each side, 0.713 degrees across 540 pixels.
      {{7.2, 7.8, 46.2, 46.8}, 540, 790, 757.349715655856},
      // The wider side decides: 2 + 1 degrees of longitude at 10.25 N across 600 pixels.
      {{-5, -3, 10, 10.5}, 600, 600, 203.2436264865634},
      // The smallest region still shows 0.02 degrees around it.
      {{0, 0.001, 0, 0.001}, 410, 820, 10000},
      // The whole globe fits at the smallest scale.
      {{-180, 180, -90, 90}, 570, 790, 1.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.region.West << " " << c.width);
    const MapView view = FitRegion(c.region, c.width, c.height);
    EXPECT_NEAR(view.Scale, c.scale, 1e-9 * c.scale);
    EXPECT_EQ(view.Width, c.width);
    EXPECT_EQ(view.Height, c.height);
    const PixelPoint northWest = ToPixel(view, {c.region.West, c.region.North});
    const PixelPoint southEast = ToPixel(view, {c.region.East, c.region.South});
    EXPECT_NEAR(northWest.X + southEast.X, c.width, 1e-6) << "centred across";
    EXPECT_NEAR(northWest.Y + southEast.Y, c.height, 1e-6) << "centred up and down";
    EXPECT_GE(northWest.X, 0);
    EXPECT_GE(northWest.Y, 0);
  }
}

TEST(MapGeometry, ZoomKeepsThePointUnderThePointerWithinTheScaleLimits) {
  const struct {
    PixelPoint pointer;
    double factor;
    double scale;
  } cases[] = {
      {{250, 200}, 2, 200},
      {{10, 390}, 2, 200},
      {{480, 20}, 0.5, 50},
      {{100, 100}, 1e9, MaximumScale},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pointer.X << " " << c.factor);
    const GeoPoint under = ToGeo(Equator(), c.pointer);
    const MapView zoomed = ZoomAbout(Equator(), c.pointer, c.factor);
    EXPECT_DOUBLE_EQ(zoomed.Scale, c.scale);
    const PixelPoint after = ToPixel(zoomed, under);
    EXPECT_NEAR(after.X, c.pointer.X, 1e-6);
    EXPECT_NEAR(after.Y, c.pointer.Y, 1e-6);
  }
  // Out as far as it goes: the whole world, and no further.
  const MapView out = ZoomAbout(Equator(), {250, 200}, 1e-9);
  EXPECT_DOUBLE_EQ(out.Scale, 500 / 380.0);
}

TEST(MapGeometry, PanningMovesTheMapWithThePointerAndKeepsItsCentreOnTheGlobe) {
  const struct {
    double dx;
    double dy;
    double lon;
    double lat;
  } cases[] = {
      {100, 0, 6.5, 0},     // the map follows the pointer east: the centre goes west
      {0, -50, 7.5, -0.5},  // up: the centre goes south
      {-30000, 0, 180, 0},  // no further than the edge of the globe
      {0, 30000, 7.5, 90},
  };
  for (const auto& c : cases) {
    const MapView moved = PanBy(Equator(), c.dx, c.dy);
    EXPECT_DOUBLE_EQ(moved.CentreLon, c.lon);
    EXPECT_DOUBLE_EQ(moved.CentreLat, c.lat);
    EXPECT_DOUBLE_EQ(moved.Scale, 100);
  }
}

TEST(MapGeometry, AResizedMapKeepsItsCentreAndScale) {
  const MapView resized = Resized(Equator(), 800, 600);
  EXPECT_EQ(resized.Width, 800);
  EXPECT_EQ(resized.Height, 600);
  EXPECT_DOUBLE_EQ(resized.CentreLon, 7.5);
  EXPECT_DOUBLE_EQ(resized.Scale, 100);
  MapView wholeWorld = Equator();
  wholeWorld.Scale = 1.3;
  EXPECT_DOUBLE_EQ(Resized(wholeWorld, 760, 380).Scale, 2) << "the smallest scale grows with it";
}

TEST(MapGeometry, AValueBecomesWhatItsFieldHolds) {
  const struct {
    double value;
    const FieldLimits& field;
    float expected;
  } cases[] = {
      {7.12345649, fields::Longitude, 7.123456F},
      {7.1234565001, fields::Longitude, 7.123457F},
      {-0.0000004, fields::Longitude, -0.0F},
      {200, fields::Longitude, 180.0F},
      {-95, fields::Latitude, -90.0F},
      {46.5, fields::Latitude, 46.5F},
      {std::numeric_limits<double>::quiet_NaN(), fields::Latitude, -90.0F},
      {12.34, fields::Floor, 12.3F},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AsField(c.value, c.field), c.expected) << c.value;
  }
}

TEST(MapGeometry, ADragDrawsTheRegionBetweenItsEndsInAnyDirection) {
  const struct {
    PixelPoint from;
    PixelPoint to;
    RegionFields fields;
  } cases[] = {
      {{100, 100}, {300, 250}, {6.0F, 8.0F, -0.5F, 1.0F}},
      {{300, 250}, {100, 100}, {6.0F, 8.0F, -0.5F, 1.0F}},
      {{300, 100}, {100, 250}, {6.0F, 8.0F, -0.5F, 1.0F}},
      {{0.5, 0}, {1.5, 1}, {5.005F, 5.015F, 1.99F, 2.0F}},
      // Rounded to the fields' six decimals.
      {{100.0000004, 100}, {300, 250}, {6.0F, 8.0F, -0.5F, 1.0F}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from.X << "," << c.from.Y);
    EXPECT_EQ(DrawnRegion(Equator(), c.from, c.to), c.fields);
  }
}

TEST(MapGeometry, ADragHalfAsWideFromTheSameCornerHalvesTheLongitudesAlone) {
  const MapView view = FitRegion({7.2, 7.8, 46.2, 46.8}, 560, 790);
  const PixelPoint corner{120, 260};
  const RegionFields whole = DrawnRegion(view, corner, {420, 560});
  const RegionFields half = DrawnRegion(view, corner, {270, 560});
  EXPECT_EQ(half.Long1, whole.Long1);
  EXPECT_EQ(half.Lat2, whole.Lat2);
  EXPECT_EQ(half.Lat1, whole.Lat1);
  EXPECT_NEAR(half.Long2 - half.Long1, (whole.Long2 - whole.Long1) / 2, 3e-6);
}

TEST(MapGeometry, APressNearAnEdgeTakesHoldOfItAndACornerTakesNone) {
  // The region 6 E .. 8 E, 0.5 S .. 1 N lies at x 100 .. 300, y 100 .. 250.
  const GeoBox region{6, 8, -0.5, 1};
  const struct {
    PixelPoint at;
    unsigned edges;
  } cases[] = {
      {{100, 175}, WestEdge},
      {{104, 175}, WestEdge},
      {{96, 175}, WestEdge},
      {{106, 175}, NoEdge},
      {{200, 175}, NoEdge},
      {{300, 130}, EastEdge},
      {{200, 100}, NorthEdge},
      {{200, 252}, SouthEdge},
      // A corner is where a new region is drawn from.
      {{101, 99}, NoEdge},
      {{299, 251}, NoEdge},
      {{104, 245}, NoEdge},
      {{300, 90}, NoEdge},   // beyond the corner's reach
      {{100, 260}, NoEdge},  // below the west edge's end
      {{50, 50}, NoEdge},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EdgeAt(Equator(), region, c.at, 5), c.edges) << c.at.X << "," << c.at.Y;
  }
  // A region four pixels wide: the nearer edge, and of two as near, the side the pointer is on.
  const GeoBox narrow{7.5, 7.54, -0.5, 1};
  EXPECT_EQ(EdgeAt(Equator(), narrow, {249, 175}, 5), WestEdge);
  EXPECT_EQ(EdgeAt(Equator(), narrow, {255, 175}, 5), EastEdge);
  EXPECT_EQ(EdgeAt(Equator(), narrow, {252, 175}, 5), WestEdge);
}

TEST(MapGeometry, AnEdgeDragMovesTheFieldThatHoldsTheEdge) {
  const RegionFields ordered{6, 8, -0.5, 1};
  const RegionFields swapped{8, 6, 1, -0.5};
  const struct {
    RegionFields atPress;
    unsigned edges;
    PixelPoint to;
    RegionFields moved;
  } cases[] = {
      {ordered, WestEdge, {150, 180}, {6.5, 8, -0.5, 1}},
      {swapped, WestEdge, {150, 180}, {8, 6.5, 1, -0.5}},
      {ordered, EastEdge, {50, 180}, {6, 7.5, -0.5, 1}},
      {swapped, NorthEdge, {150, 130}, {8, 6, 1.5, -0.5}},
      {ordered, SouthEdge | EastEdge, {140, 230}, {6, 8.4F, -1, 1}},
      // Across the other edge: the fields take it, ordering is the run's.
      {ordered, WestEdge, {400, 180}, {9, 8, -0.5, 1}},
      // Beyond the globe: the field's limit.
      {ordered, WestEdge, {-100000, 180}, {-180, 8, -0.5, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.edges << " to " << c.to.X << "," << c.to.Y);
    EXPECT_EQ(DragEdges(Equator(), c.atPress, c.edges, {100, 180}, c.to), c.moved);
  }
}

TEST(MapGeometry, VisibleTilesStayOnTheGlobe) {
  const struct {
    double lon;
    double lat;
    double scale;
    TileRange tiles;
  } cases[] = {
      {7.5, 0, 100, {5, 9, -2, 1}},
      {7.5, 0.5, 1000, {7, 7, 0, 0}},    // inside one tile
      {180, 0, 100, {177, 179, -2, 1}},  // nothing east of the antimeridian
      {-180, 0, 100, {-180, -178, -2, 1}},
      // Nothing north of the pole; near it a degree of longitude is drawn as at 85 degrees,
      // 28.7 degrees on each side of the centre.
      {0, 90, 100, {-29, 28, 88, 89}},
      {0, 0, 500 / 380.0, {-180, 179, -90, 89}},  // the world
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lon << " " << c.lat << " " << c.scale);
    MapView view = Equator();
    view.CentreLon = c.lon;
    view.CentreLat = c.lat;
    view.Scale = c.scale;
    const std::optional<TileRange> tiles = VisibleTiles(view);
    ASSERT_TRUE(tiles.has_value());
    EXPECT_EQ(tiles->West, c.tiles.West);
    EXPECT_EQ(tiles->East, c.tiles.East);
    EXPECT_EQ(tiles->South, c.tiles.South);
    EXPECT_EQ(tiles->North, c.tiles.North);
  }
}

TEST(MapGeometry, ShadesAndGridFollowTheScale) {
  const struct {
    double pixels;
    int side;
  } sides[] = {{0, 17},    {16, 17},   {17, 33},   {100, 129},
               {512, 513}, {513, 513}, {1e6, 513}, {std::nan(""), 17}};
  for (const auto& c : sides) EXPECT_EQ(ShadeSideFor(c.pixels), c.side) << c.pixels;
  const struct {
    double scale;
    int step;
  } grids[] = {{600, 1}, {48, 1}, {47, 2}, {10, 5}, {4, 15}, {1.5, 45}, {0.1, 90}};
  for (const auto& c : grids) EXPECT_EQ(GridStep(c.scale), c.step) << c.scale;
}

}  // namespace
}  // namespace orolith
