// What the cell mesher tells a sink beyond the faces an STL file holds: which vertices are one
// point of the piece's lattice of cell corners, the same bytes in every band that has it. A
// format that writes each vertex once numbers the vertices by it.

#include "model/CellMesher.h"

#include "RecordingSink.h"
#include "model/BandPipeline.h"
#include "model/ModelGrid.h"
#include "support/TempFiles.h"
#include "support/Tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace orolith {
namespace {

TEST(CellMesher, EachLatticePointIsOneVertexOfTheSameBytesInEveryBand) {
  const test::TempDir dir;
  const std::string file = dir.Root() + "N46E007.hgt";
  test::WriteTile(file, 121, [](int r, int c) { return (r * 37 + c * 11) % 900 + 20 * (r % 7); });
  TSRTM tile;
  tile.LoadFromFile(file, 7, 46);
  struct Case {
    const char* what;
    float lon1, lon2, lat1, lat2, pixel;
  };
  const Case cases[] = {
      {"bands of many short columns", 7.3F, 8.0F, 46.5F, 46.52F, 100},
      {"bands of a few tall ones", 7.3F, 7.35F, 46.05F, 46.95F, 100},
      {"one column a band", 7.3F, 7.302F, 46.05F, 46.95F, 15},
  };
  for (const Case& c : cases) {
    for (const unsigned threads : {1U, 3U}) {
      SCOPED_TRACE(testing::Message() << c.what << ", " << threads << " threads");
      FrontPanelValues panel;
      panel.Long1 = c.lon1;
      panel.Long2 = c.lon2;
      panel.Lat1 = c.lat1;
      panel.Lat2 = c.lat2;
      panel.XYPixelSize = c.pixel;
      panel.XExtent = 100;
      panel.ZExtent = 10;
      const ModelSettings s = ReadModelSettings(panel);
      const ModelScale scale(s);
      const TileGrid grid = GridInTile(s, GridStep(s), 7, 46);
      CentreFractions fractions(99);
      CellMesher mesher(scale, fractions, threads);
      test::RecordingSink sink;
      BandPipeline pipeline(threads, sink);
      const std::size_t bands = mesher.StartTile(grid, tile, 7, 46);
      std::int64_t columns = 0;
      pipeline.Run(mesher, bands,
                   [&](const Band& band) { columns += mesher.BandColumns(band.Index); });
      EXPECT_EQ(columns, grid.Columns);
      ASSERT_EQ(sink.chunks.size(), bands);
      ASSERT_GT(bands, 1U);

      // A lattice point's vertex as the grid, the scale and the tile define it.
      const auto expected = [&](const LatticePoint& p) {
        const long double lon = grid.LatticeLon(p.Column);
        const long double lat = grid.LatticeLat(p.Row);
        return MakeVec(scale.X(lon), scale.Y(lat),
                       scale.Z(tile.ElevationOf(tile.LonPosition(lon), tile.LatPosition(lat))));
      };
      // The band each lattice point was last seen in, 0 for none yet.
      const auto rows = static_cast<std::size_t>(grid.Rows + 1);
      std::vector<std::size_t> seenIn(static_cast<std::size_t>(grid.Columns + 1) * rows);
      std::size_t unused = 0;
      std::size_t twiceInABand = 0;
      std::size_t otherBytes = 0;
      for (std::size_t band = 1; band <= sink.chunks.size(); ++band) {
        const test::RecordingSink::Chunk& chunk = sink.chunks[band - 1];
        EXPECT_EQ(chunk.pieceLon, 7);
        EXPECT_EQ(chunk.pieceLat, 46);
        ASSERT_EQ(chunk.lattice.size(), chunk.vertices.size());
        std::vector<int> uses(chunk.vertices.size());
        for (const Triangle& t : chunk.triangles) {
          for (const std::uint32_t v : {t.A, t.B, t.C}) {
            ASSERT_LT(v, chunk.vertices.size());
            ++uses[v];
          }
        }
        unused += static_cast<std::size_t>(std::count(uses.begin(), uses.end(), 0));
        for (std::size_t k = 0; k < chunk.vertices.size(); ++k) {
          const LatticePoint p = chunk.lattice[k];
          if (!p.OnLattice()) continue;
          ASSERT_LE(p.Column, grid.Columns);
          ASSERT_LE(p.Row, grid.Rows);
          std::size_t& seen = seenIn[p.Column * rows + p.Row];
          if (seen == band) ++twiceInABand;
          seen = band;
          const Vec3 e = expected(p);
          if (std::memcmp(&e, &chunk.vertices[k], sizeof e) != 0) ++otherBytes;
        }
      }
      EXPECT_EQ(unused, 0U);
      EXPECT_EQ(twiceInABand, 0U);
      EXPECT_EQ(otherBytes, 0U);
      EXPECT_EQ(std::count(seenIn.begin(), seenIn.end(), 0), 0);
    }
  }
}

}  // namespace
}  // namespace orolith
