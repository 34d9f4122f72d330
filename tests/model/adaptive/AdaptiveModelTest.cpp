// The adaptive surface of real tiles, checked against the lattice of cell corners worked out on
// its own: every vertex a lattice point, every lattice point under a face and within the error
// of the surface, the faces tiling the region's rectangle seen from above.

#include "model/ModelSetup.h"
#include "model/SizeEstimate.h"
#include "model/TerrainModel.h"
#include "model/adaptive/AdaptiveSurface.h"
#include "model/lattice/ModelGrid.h"
#include "support/DataRoot.h"
#include "support/RecordingHost.h"
#include "support/RecordingSink.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"
#include "tiles/TileSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::StlFace;

struct ErrorCase {
  const char* what;
  const char* tile;  // below the shared data
  std::int16_t west, south;
  float lon1, lon2, lat1, lat2, pixel, maxError;  // 0: half a 0.2 mm layer
  bool mountains;                                 // ground the size estimate is made for
};

const ErrorCase Cases[] = {
    {"White Mountains at 90 m within 1 m", "SRTM_3/N44W072.hgt", -72, 44, -71.5F, -71.2F, 44.2F,
     44.4F, 90, 1, true},
    {"White Mountains at 90 m within 5 m", "SRTM_3/N44W072.hgt", -72, 44, -71.5F, -71.2F, 44.2F,
     44.4F, 90, 5, true},
    {"White Mountains at 90 m within half a 0.2 mm layer", "SRTM_3/N44W072.hgt", -72, 44, -71.5F,
     -71.2F, 44.2F, 44.4F, 90, 0, true},
    {"the whole tile at 400 m within 2 m", "SRTM_3/N44W072.hgt", -72, 44, -72, -71, 44, 45, 400, 2,
     true},
    {"coast of an SRTM-1 tile at 45 m within 2 m", "SRTM_1/S46W066.hgt", -66, -46, -65.95F, -65.55F,
     -45.25F, -45.0F, 45, 2, false},
};

// The lattice of the one piece of a case's region, from the tile as the run heals it.
struct Lattice {
  explicit Lattice(const ErrorCase& c, const ModelSettings& s) : scale(s) {
    tile.LoadFromFile(test::SharedData(c.tile), c.west, c.south);
    tile.HealVoids(3);
    grid = GridInTile(s, GridStep(s), c.west, c.south);
    lattice.Reset(grid, scale, &tile);
  }
  TSRTM tile;
  ModelScale scale;
  TileGrid grid{};
  PieceLattice lattice;
};

// Where a coordinate lies among the lattice's edges; -1 when it is none of them.
std::int64_t EdgeOf(float v, const std::vector<float>& edges) {
  const auto at = std::lower_bound(edges.begin(), edges.end(), v);
  return at != edges.end() && *at == v ? at - edges.begin() : -1;
}

class AdaptiveModelTest : public ::testing::Test {
 protected:
  ModelSettings Settings(const ErrorCase& c) const {
    FrontPanelValues panel = test::RegionPanel(c.lon1, c.lon2, c.lat1, c.lat2, c.pixel);
    panel.Z1 = 0;
    panel.Z2 = 2000;
    panel.XExtent = 100;
    panel.ZExtent = 20;
    panel.ZBasePercent = 10;
    panel.MaxError = c.maxError;
    panel.MaxErrorAuto = c.maxError == 0;
    panel.StlFileName = (root.Path() / "adaptive.stl").string();
    return ScaledSettings(ReadModelSettings(panel), std::nullopt);
  }

  std::vector<unsigned char> Make(const ModelSettings& s, unsigned threads) {
    Workspace workspace(MakeDataFolders(OROLITH_SHARED_DATA));
    host.lines.clear();
    GenerationOptions options;
    options.Threads = threads;
    EXPECT_EQ(CreateStlModel(s, workspace, host, options), RunOutcome::Completed);
    return test::ReadBytes(s.StlFileName);
  }

  test::TempDir root;
  test::RecordingHost host;
};

TEST_F(AdaptiveModelTest, EveryLatticePointLiesWithinTheErrorOfTheSurface) {
  for (const ErrorCase& c : Cases) {
    SCOPED_TRACE(c.what);
    OROLITH_REQUIRE_SHARED_DATA(c.tile);
    const ModelSettings s = Settings(c);
    const std::vector<unsigned char> bytes = Make(s, 2);
    EXPECT_TRUE(Make(s, 1) == bytes) << "1 and 2 threads differ";
    const std::vector<StlFace> faces = test::DecodeStl(bytes).faces;
    ASSERT_GT(faces.size(), 0U);
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        std::to_string(faces.size()) + " Faces created, now saving to " +
                            s.StlFileName + " ..."),
              host.lines.end());

    const Lattice l(c, s);
    const std::int64_t columns = l.grid.Columns;
    const std::int64_t rows = l.grid.Rows;
    std::vector<float> xs;
    std::vector<float> ys;
    for (std::int64_t q = 0; q <= columns; ++q) xs.push_back(l.lattice.Column(q).model);
    for (std::int64_t r = 0; r <= rows; ++r) ys.push_back(l.lattice.Row(r).model);
    // The error in model z: the band's metres over the height above the pedestal.
    const double error = c.maxError == 0 ? 0.1 : c.maxError / 2000.0 * (20 - 2);
    const auto width = static_cast<std::size_t>(columns + 1);
    std::vector<std::uint8_t> covered(width * static_cast<std::size_t>(rows + 1), 0);
    double worst = 0;
    double area = 0;
    std::size_t offLattice = 0;
    std::size_t clockwise = 0;
    for (const StlFace& f : faces) {
      const Vec3* v[3] = {&f.a, &f.b, &f.c};
      std::int64_t q[3];
      std::int64_t r[3];
      bool onLattice = true;
      for (int k = 0; k < 3; ++k) {
        q[k] = EdgeOf(v[k]->x, xs);
        r[k] = EdgeOf(v[k]->y, ys);
        if (q[k] < 0 || r[k] < 0) {
          onLattice = false;
          continue;
        }
        const Vec3 corner = l.lattice.Corner(q[k], r[k]);
        onLattice = onLattice && std::memcmp(v[k], &corner, sizeof corner) == 0;
      }
      if (!onLattice) {
        ++offLattice;
        continue;
      }
      const std::int64_t twice = (q[1] - q[0]) * (r[2] - r[0]) - (q[2] - q[0]) * (r[1] - r[0]);
      if (twice <= 0) {
        ++clockwise;
        continue;
      }
      const double ax = v[0]->x, ay = v[0]->y;
      const double bx = v[1]->x - ax, by = v[1]->y - ay;
      const double cx = v[2]->x - ax, cy = v[2]->y - ay;
      const double det = bx * cy - cx * by;
      area += det / 2;
      // Every lattice point in the face, its edges included, against the face's plane.
      for (std::int64_t pq = std::min({q[0], q[1], q[2]}); pq <= std::max({q[0], q[1], q[2]});
           ++pq) {
        for (std::int64_t pr = std::min({r[0], r[1], r[2]}); pr <= std::max({r[0], r[1], r[2]});
             ++pr) {
          const std::int64_t w1 = (pq - q[0]) * (r[2] - r[0]) - (q[2] - q[0]) * (pr - r[0]);
          const std::int64_t w2 = (q[1] - q[0]) * (pr - r[0]) - (pq - q[0]) * (r[1] - r[0]);
          if (w1 < 0 || w2 < 0 || w1 + w2 > twice) continue;
          const Vec3 p = l.lattice.Corner(pq, pr);
          const double px = p.x - ax, py = p.y - ay;
          const double s1 = (px * cy - cx * py) / det;
          const double s2 = (bx * py - px * by) / det;
          const double z =
              v[0]->z + s1 * (double{v[1]->z} - v[0]->z) + s2 * (double{v[2]->z} - v[0]->z);
          worst = std::max(worst, std::abs(z - p.z));
          covered[static_cast<std::size_t>(pr) * width + static_cast<std::size_t>(pq)] = 1;
        }
      }
    }
    EXPECT_EQ(offLattice, 0U);
    EXPECT_EQ(clockwise, 0U);
    EXPECT_EQ(std::count(covered.begin(), covered.end(), 0), 0) << "lattice points under no face";
    EXPECT_LE(worst, error * 1.001 + 1e-5);
    // The faces tile the region's rectangle: no overlap, no hole.
    const double region = (double{xs.back()} - xs.front()) * (double{ys.back()} - ys.front());
    EXPECT_NEAR(area, region, region * 1e-6);

    // At most the lattice's two faces a cell; the estimate is fair for mountains.
    const double cells = static_cast<double>(columns * rows);
    EXPECT_LE(static_cast<double>(faces.size()), 2 * cells);
    const double estimate = static_cast<double>(EstimateSize(s).Faces);
    EXPECT_LT(estimate, 2 * cells + 1);
    if (c.mountains) {
      EXPECT_GT(static_cast<double>(faces.size()), 0.5 * estimate);
      EXPECT_LT(static_cast<double>(faces.size()), 1.25 * estimate);
    }
  }
}

// The blocks reach a sink as chunks of their piece, so that it numbers their vertices by
// lattice point instead of keeping every vertex by its bytes.
TEST_F(AdaptiveModelTest, ASinkGetsTheBlocksAsChunksOfTheirPiece) {
  const ErrorCase& c = Cases[2];
  OROLITH_REQUIRE_SHARED_DATA(c.tile);
  const Lattice l(c, Settings(c));
  test::RecordingSink sink;
  AdaptiveSurface surface(0.01F, 2, sink);
  surface.Mesh(l.lattice, c.west, c.south, [](std::uint64_t) {});
  ASSERT_GT(sink.chunks.size(), 1U);
  for (const test::RecordingSink::Chunk& chunk : sink.chunks) {
    EXPECT_EQ(chunk.pieceLon, c.west);
    EXPECT_EQ(chunk.pieceLat, c.south);
    EXPECT_EQ(chunk.pieceColumns, l.grid.Columns);
    EXPECT_EQ(chunk.pieceRows, l.grid.Rows);
  }
}

}  // namespace
}  // namespace orolith
