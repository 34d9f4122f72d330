// The lattice of a tile's piece: where its column and row edges lie.

#include "model/lattice/ModelGrid.h"

#include "frontpanel/TSystem.h"
#include "support/DataRoot.h"
#include "tiles/TileRange.h"

#include <gtest/gtest.h>

#include <cstdint>

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

}  // namespace
}  // namespace orolith
