// The lattice of a tile's piece: where its column and row edges lie; the model's vertical scale.

#include "model/lattice/ModelGrid.h"

#include "frontpanel/TSystem.h"
#include "support/DataRoot.h"
#include "tiles/TileRange.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace orolith {
namespace {

// A piece's lattice runs from its clip box's one side to the other, exactly, so that it ends on
// the same bits as its neighbour begins.
TEST(ModelGrid, LatticeEdgesEndOnTheClipBoxAndNeighboursMeetOnTheirBits) {
  struct Case {
    float lon1, lon2, lat1, lat2, pixel;
  };
  const Case cases[] = {{10.2F, 10.9F, 3.2F, 3.8F, 1000},
                        {7.3F, 7.6F, 46.2F, 46.5F, 130},
                        {7, 8, 46, 47, 30},
                        {6.55F, 8.45F, 45.5F, 47.5F, 15}};
  for (const Case& c : cases) {
    const ModelSettings s =
        ReadModelSettings(test::RegionPanel(c.lon1, c.lon2, c.lat1, c.lat2, c.pixel));
    const TileRange range = RegionTiles(s);
    ForEachTile(range, [&](std::int32_t lon, std::int32_t lat) {
      SCOPED_TRACE(testing::Message() << c.lon1 << ", tile " << lon << ", " << lat);
      const TileGrid g = GridInTile(s, GridStep(s), lon, lat);
      const long double east = ClampFloat(s.LonMax, lon, lon + 1);
      const long double north = ClampFloat(s.LatMax, lat, lat + 1);
      EXPECT_EQ(g.LatticeLon(0), ClampFloat(s.LonMin, lon, lon + 1));
      EXPECT_EQ(g.LatticeLon(g.Columns), east);
      EXPECT_EQ(g.LatticeLat(0), ClampFloat(s.LatMin, lat, lat + 1));
      EXPECT_EQ(g.LatticeLat(g.Rows), north);
      EXPECT_EQ(g.HasArea(), east > g.West && north > g.South);
      if (lon < range.East) {
        EXPECT_EQ(east, GridInTile(s, GridStep(s), lon + 1, lat).LatticeLon(0));
      }
      if (lat < range.North) {
        EXPECT_EQ(north, GridInTile(s, GridStep(s), lon, lat + 1).LatticeLat(0));
      }
    });
  }
}

// The band of elevations spans the Z extent above the pedestal; a height error and the floor
// are measured on that same scale.
TEST(ModelScale, MapsTheBandAboveThePedestalAndMeasuresErrorsAndTheFloorOnIt) {
  struct Case {
    float z1, z2, zExtent, base, floor;
    double metres;
    float errorZ, pedestalZ, floorZ;
  };
  const Case cases[] = {
      {0, 2000, 20, 0, 5, 5, 0.05F, 0, -1},         // 2000 m over 20 mm: 5 m are 0.05 mm
      {1500, 500, 40, 25, 2.5F, 10, 0.3F, 10, -1},  // 1000 m over 40 - 10 mm
      {100, 100, 10, 50, 100, 0.5, 2.5F, 5, -10},   // a band widened to 1 m
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.z1 << " to " << c.z2 << " m");
    FrontPanelValues panel;
    panel.Z1 = c.z1;
    panel.Z2 = c.z2;
    panel.ZExtent = c.zExtent;
    panel.ZBasePercent = c.base;
    panel.FloorPercent = c.floor;
    const ModelSettings s = ReadModelSettings(panel);
    const ModelScale scale(s);
    EXPECT_FLOAT_EQ(scale.HeightZ(c.metres), c.errorZ);
    EXPECT_FLOAT_EQ(scale.Z(s.ZMin), c.pedestalZ);
    EXPECT_NEAR(scale.Z(s.ZMin + static_cast<long double>(c.metres)) - scale.Z(s.ZMin), c.errorZ,
                1e-5);
    EXPECT_FLOAT_EQ(scale.Z(s.ZMax), c.zExtent);
    EXPECT_FLOAT_EQ(scale.FloorZ(), c.floorZ);
  }
}

// Water: every elevation at or below the level lies at one z, the level's own lowered by the
// drop (never under the base plane); above it the band's scale is untouched; no data stays no
// data.
TEST(ModelScale, LaysEverythingAtOrBelowTheWaterLevelFlatAtIt) {
  struct Case {
    float level, drop;
    long double elevation;
    float z;
  };
  // Band 0 .. 1000 m over 10 mm, no pedestal: 100 m are 1 mm.
  const Case cases[] = {
      {200, 0, 200, 2},       {200, 0, 37, 2},     {200, 0, 200.001L, 2.00001F},
      {200, 0.5F, 150, 1.5F}, {200, 0.5F, 300, 3}, {20, 1, 0, 0},
      {-5, 0, -5, 0},         {500, 0, 9000, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.level << " m, drop " << c.drop << ", at "
                                    << static_cast<double>(c.elevation));
    FrontPanelValues panel;
    panel.ZExtent = 10;
    panel.Extras.WaterLevel = c.level;
    panel.Extras.WaterDrop = c.drop;
    const ModelScale scale(ReadModelSettings(panel));
    EXPECT_FLOAT_EQ(scale.Z(c.elevation), c.z);
    EXPECT_TRUE(std::isnan(scale.Z(std::numeric_limits<long double>::quiet_NaN())));
  }
}

}  // namespace
}  // namespace orolith
