// The lattice of a tile's piece: where its column and row edges lie.

#include "model/ModelGrid.h"

#include "frontpanel/TSystem.h"
#include "tiles/TileRange.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace orolith {
namespace {

// The edges of each piece of the region run from its clip box's one side to the other, exactly,
// and strictly rise in between; a piece ends on the same bits as its neighbour begins.
TEST(ModelGrid, LatticeEdgesEndOnTheClipBoxAndNeighboursMeetOnTheirBits) {
  struct Case {
    const char* what;
    float lon1, lon2, lat1, lat2, pixel;
  };
  const Case cases[] = {
      {"random samples", 10.2F, 10.9F, 3.2F, 3.8F, 1000},
      {"a 2 mm hole", 7.3F, 7.6F, 46.2F, 46.5F, 130},
      {"across a seam", 7.8F, 8.2F, 46.3F, 46.6F, 100},
      {"a whole tile at 90 m", 7, 8, 46, 47, 90},
      {"a whole tile at 30 m", 7, 8, 46, 47, 30},
      {"four tiles", 6.55F, 8.45F, 45.5F, 47.5F, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FrontPanelValues panel;
    panel.Long1 = c.lon1;
    panel.Long2 = c.lon2;
    panel.Lat1 = c.lat1;
    panel.Lat2 = c.lat2;
    panel.XYPixelSize = c.pixel;
    const ModelSettings s = ReadModelSettings(panel);
    const TileRange range = RegionTiles(s);
    for (std::int32_t lon = range.West; lon <= range.East; ++lon) {
      for (std::int32_t lat = range.South; lat <= range.North; ++lat) {
        SCOPED_TRACE(testing::Message() << "tile " << lon << ", " << lat);
        const TileGrid g = GridInTile(s, GridStep(s), lon, lat);
        const long double west = ClampFloat(s.LonMin, lon, lon + 1);
        const long double east = ClampFloat(s.LonMax, lon, lon + 1);
        const long double south = ClampFloat(s.LatMin, lat, lat + 1);
        const long double north = ClampFloat(s.LatMax, lat, lat + 1);
        EXPECT_EQ(g.HasArea(), east > west && north > south);
        EXPECT_EQ(g.LatticeLon(0), west);
        EXPECT_EQ(g.LatticeLon(g.Columns), east);
        EXPECT_EQ(g.LatticeLat(0), south);
        EXPECT_EQ(g.LatticeLat(g.Rows), north);
        std::int64_t notRising = 0;
        for (std::int64_t q = 0; q < g.Columns; ++q) {
          if (!(g.LatticeLon(q) < g.LatticeLon(q + 1)) && east > west) ++notRising;
        }
        for (std::int64_t r = 0; r < g.Rows; ++r) {
          if (!(g.LatticeLat(r) < g.LatticeLat(r + 1)) && north > south) ++notRising;
        }
        EXPECT_EQ(notRising, 0);
        if (lon < range.East) {
          const TileGrid next = GridInTile(s, GridStep(s), lon + 1, lat);
          EXPECT_EQ(g.LatticeLon(g.Columns), next.LatticeLon(0));
          EXPECT_EQ(g.Rows, next.Rows);
        }
        if (lat < range.North) {
          const TileGrid next = GridInTile(s, GridStep(s), lon, lat + 1);
          EXPECT_EQ(g.LatticeLat(g.Rows), next.LatticeLat(0));
          EXPECT_EQ(g.Columns, next.Columns);
        }
      }
    }
  }
}

}  // namespace
}  // namespace orolith
