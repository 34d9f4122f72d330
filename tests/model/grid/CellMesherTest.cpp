// What the cell mesher tells a sink beyond the faces an STL file holds: which vertices are one
// point of the piece's lattice of cell corners, the same bytes in every band that has it and in
// the solid's outline. A format that writes each vertex once numbers the vertices by it.

#include "model/grid/CellMesher.h"

#include "frontpanel/TSystem.h"
#include "model/grid/GridSurface.h"
#include "model/lattice/ModelGrid.h"
#include "support/DataRoot.h"
#include "support/RecordingSink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

namespace orolith {
namespace {

TEST(CellMesher, EveryCornerIsALatticePointOfTheSameBytesInEveryBand) {
  const test::TempDir dir;
  // Varied terrain, and terrain at the band's foot, where a corner looked up twice from
  // longitudes a bit apart drops to the base plane once and stands on the pedestal once.
  std::filesystem::create_directory(dir.Path() / "varied");
  std::filesystem::create_directory(dir.Path() / "foot");
  TSRTM varied;
  test::WriteTile(dir.Path() / "varied" / "N46E007.hgt", 121,
                  [](int r, int c) { return (r * 37 + c * 11) % 900 + 20 * (r % 7); });
  varied.LoadFromFile(dir.Root() + "varied/N46E007.hgt", 7, 46);
  TSRTM foot;
  test::WriteTile(dir.Path() / "foot" / "N46E007.hgt", 121, [](int, int) { return 400; });
  foot.LoadFromFile(dir.Root() + "foot/N46E007.hgt", 7, 46);
  struct Case {
    const char* what;
    TSRTM& tile;
    float lon1, lon2, lat1, lat2, pixel, z1;
  };
  const Case cases[] = {
      {"bands of many short columns", varied, 7.3F, 8.0F, 46.5F, 46.52F, 100, 0},
      {"bands of a few tall ones", varied, 7.3F, 7.35F, 46.05F, 46.95F, 100, 0},
      {"one column a band", varied, 7.3F, 7.302F, 46.05F, 46.95F, 15, 0},
      {"the band's foot", foot, 7.3F, 7.6F, 46.2F, 46.5F, 130, 400},
  };
  for (const Case& c : cases) {
    for (const unsigned threads : {1U, 3U}) {
      SCOPED_TRACE(testing::Message() << c.what << ", " << threads << " threads");
      FrontPanelValues panel = test::RegionPanel(c.lon1, c.lon2, c.lat1, c.lat2, c.pixel);
      panel.Z1 = c.z1;
      panel.Z2 = 4000;
      panel.XExtent = 100;
      panel.ZExtent = 10;
      const ModelSettings s = ReadModelSettings(panel);
      const ModelScale scale(s);
      const TileGrid grid = GridInTile(s, GridStep(s), 7, 46);
      PieceLattice lattice;
      lattice.Reset(grid, scale, &c.tile);
      test::RecordingSink sink;
      GridSurface surface(scale, 99, threads, false, sink);
      std::uint64_t cellsDone = 0;
      ASSERT_TRUE(surface.Mesh(lattice, 7, 46, [&](std::uint64_t done) { cellsDone += done; }));
      EXPECT_EQ(cellsDone, grid.Cells());
      ASSERT_GT(sink.chunks.size(), 1U);

      // A lattice point's vertex as the region, the scale and the tile define it: the edges
      // step a cell at a time from the piece's west (south) side and end on its east (north)
      // side.
      const long double west = ClampFloat(s.LonMin, 7, 8);
      const long double east = ClampFloat(s.LonMax, 7, 8);
      const long double south = ClampFloat(s.LatMin, 46, 47);
      const long double north = ClampFloat(s.LatMax, 46, 47);
      const auto edge = [](long double from, long double to, std::int64_t cells, std::int64_t i) {
        const long double step = (to - from) / static_cast<long double>(cells);
        return i == cells ? to : from + static_cast<long double>(i) * step;
      };
      const auto expected = [&](const LatticePoint& p) {
        const long double lon = edge(west, east, grid.Columns, p.Column);
        const long double lat = edge(south, north, grid.Rows, p.Row);
        return MakeVec(scale.X(lon), scale.Y(lat), scale.Z(c.tile.ElevationAt(lon, lat)));
      };
      // The solid's outline of the piece, which must meet the surface to the byte.
      const PieceOutline outline = surface.Outline(lattice);
      const auto onOutline = [&](const LatticePoint& p, const Vec3& v) {
        const auto same = [&](const std::vector<Vec3>& side, std::uint32_t at) {
          return std::memcmp(&side.at(at), &v, sizeof v) == 0;
        };
        const auto lastColumn = static_cast<std::uint32_t>(grid.Columns);
        const auto lastRow = static_cast<std::uint32_t>(grid.Rows);
        return (p.Row != 0 || same(outline.South, p.Column)) &&
               (p.Row != lastRow || same(outline.North, p.Column)) &&
               (p.Column != 0 || same(outline.West, p.Row)) &&
               (p.Column != lastColumn || same(outline.East, p.Row));
      };
      // The band each lattice point was last seen in, 0 for none yet.
      const auto rows = static_cast<std::size_t>(grid.Rows + 1);
      std::vector<std::size_t> seenIn(static_cast<std::size_t>(grid.Columns + 1) * rows);
      std::size_t unused = 0;
      std::size_t offLattice = 0;
      std::size_t twiceInABand = 0;
      std::size_t otherBytes = 0;
      std::size_t offTheOutline = 0;
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
          // A face's first two corners are cell corners; its third a centre or one more.
          if (!chunk.lattice[t.A].OnLattice() || !chunk.lattice[t.B].OnLattice()) ++offLattice;
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
          if (!onOutline(p, chunk.vertices[k])) ++offTheOutline;
        }
      }
      EXPECT_EQ(unused, 0U);
      EXPECT_EQ(offLattice, 0U);
      EXPECT_EQ(twiceInABand, 0U);
      EXPECT_EQ(otherBytes, 0U);
      EXPECT_EQ(offTheOutline, 0U);
      EXPECT_EQ(std::count(seenIn.begin(), seenIn.end(), 0), 0);
    }
  }
}

}  // namespace
}  // namespace orolith
