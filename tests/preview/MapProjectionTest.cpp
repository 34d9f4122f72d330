// The map's projection against the model's own scale: the region's box has the model's shape.

#include "model/lattice/ModelGrid.h"
#include "preview/MapGeometry.h"
#include "preview/WebTiles.h"
#include "support/DataRoot.h"

#include <gtest/gtest.h>

namespace orolith {
namespace {

TEST(MapProjection, AFittedRegionsBoxHasTheModelsProportions) {
  const struct {
    GeoBox region;
    double modelYOverX;  // the model's Y / X, as ModelScale lays it out
  } cases[] = {
      {{7.0, 7.5, 45.75, 46.25}, 1.439},  // a square of degrees at 46 N: 150 x 216 mm
      {{20.0, 21.5, 69.0, 70.0}, 1.904},  // 3:2 of degrees at 69.5 N: a portrait model
      {{-60, -59, -0.5, 0.5}, 1.0},
      {{7.2, 7.8, 46.2, 46.8}, 1.453},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.region.South);
    FrontPanelValues panel =
        test::RegionPanel(static_cast<float>(c.region.West), static_cast<float>(c.region.East),
                          static_cast<float>(c.region.South), static_cast<float>(c.region.North));
    panel.XExtent = 150;
    const ModelDimensions model = ModelSize(ReadModelSettings(panel));
    EXPECT_FLOAT_EQ(model.X, 150);
    EXPECT_NEAR(model.Y / model.X, c.modelYOverX, 0.001);

    const GeoBox box = BoxOf({panel.Long1, panel.Long2, panel.Lat1, panel.Lat2});
    const MapView view = FitRegion(box, 560, 700);
    const PixelPoint northWest = ToPixel(view, {box.West, box.North});
    const PixelPoint southEast = ToPixel(view, {box.East, box.South});
    const double boxYOverX = (southEast.Y - northWest.Y) / (southEast.X - northWest.X);
    EXPECT_NEAR(boxYOverX / (model.Y / model.X), 1.0, 1e-6);
  }
}

TEST(MapProjection, ThePointerReadsWithHemisphereLetters) {
  const struct {
    GeoPoint point;
    const char* text;
  } cases[] = {
      {{7.5, 46.501619}, "46.501619 N  7.500000 E"},
      {{-121.76, -0.25}, "0.250000 S  121.760000 W"},
      {{0, 0}, "0.000000 N  0.000000 E"},
  };
  for (const auto& c : cases) EXPECT_EQ(PointerText(c.point), c.text);
}

TEST(MapProjection, WebTilesCoverTheViewFromItsCentreOut) {
  EXPECT_NEAR(WebRowLatitude(0, 0), MaxWebLatitude, 1e-9);
  EXPECT_NEAR(WebRowLatitude(1, 1), 0, 1e-12);
  const GeoBox tile = WebTileBox({10, 534, 364});  // around Zermatt
  EXPECT_NEAR(tile.West, 7.734375, 1e-9);
  EXPECT_NEAR(tile.East - tile.West, 360.0 / 1024, 1e-9);
  EXPECT_TRUE(tile.South < 46.0 && tile.North > 46.0);

  MapView view;
  view.CentreLon = 7.75;
  view.CentreLat = 46.02;
  view.Width = 600;
  view.Height = 500;
  view.Scale = 2000;  // 2000 pixels a degree north, 1389 east: zoom 11, tiles of 244 pixels
  EXPECT_EQ(WebZoomFor(view), 11);
  const std::vector<WebTile> tiles = WebTilesInView(view, 11, 100);
  ASSERT_FALSE(tiles.empty());
  EXPECT_TRUE(Meets(WebTileBox(tiles.front()), {7.75, 7.75, 46.02, 46.02})) << "centre first";
  EXPECT_LE(tiles.size(), 16U);
  EXPECT_EQ(WebTilesInView(view, 11, 3).size(), 3U);
}

}  // namespace
}  // namespace orolith
