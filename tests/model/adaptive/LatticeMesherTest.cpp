#include "model/adaptive/LatticeMesher.h"

#include "support/LatticeCheck.h"
#include "support/TempFiles.h"
#include "tiles/SRTM.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace orolith {
namespace {

using HeightFunction = std::function<float(std::uint32_t q, std::uint32_t r)>;

// Heights worked out point by point from a function of the lattice coordinates.
class FunctionLattice : public LatticeHeights {
 public:
  explicit FunctionLattice(HeightFunction f) : f_(std::move(f)) {}
  void Fill(const LatticeRect& rect, float* out, std::size_t stride) const override {
    for (std::uint32_t r = 0; r < rect.Rows; ++r) {
      for (std::uint32_t q = 0; q < rect.Columns; ++q)
        out[r * stride + q] = f_(rect.Q0 + q, rect.R0 + r);
    }
  }
  float operator()(std::uint32_t q, std::uint32_t r) const { return f_(q, r); }

 private:
  HeightFunction f_;
};

// A block as the mesher handed it out, kept after the call.
struct Block {
  std::uint32_t index;
  LatticeRect rect;
  std::vector<LatticeSample> points;
  std::vector<LatticeTriangle> triangles;

  bool operator==(const Block& o) const {
    const auto samePoint = [](const LatticeSample& a, const LatticeSample& b) {
      return a.Q == b.Q && a.R == b.R && std::memcmp(&a.Z, &b.Z, sizeof a.Z) == 0;
    };
    const auto sameTriangle = [](const LatticeTriangle& a, const LatticeTriangle& b) {
      return a.A == b.A && a.B == b.B && a.C == b.C;
    };
    return index == o.index && rect.Q0 == o.rect.Q0 && rect.R0 == o.rect.R0 &&
           rect.Columns == o.rect.Columns && rect.Rows == o.rect.Rows &&
           std::equal(points.begin(), points.end(), o.points.begin(), o.points.end(), samePoint) &&
           std::equal(triangles.begin(), triangles.end(), o.triangles.begin(), o.triangles.end(),
                      sameTriangle);
  }
};

struct Piece {
  std::vector<Block> blocks;
  LatticeOutline outline;
  LatticeMeshStats stats;

  std::size_t Triangles() const {
    std::size_t n = 0;
    for (const Block& b : blocks) n += b.triangles.size();
    return n;
  }
};

Piece MeshPiece(LatticeMesher& mesher, const LatticeHeights& lattice, std::uint32_t columns,
                std::uint32_t rows) {
  Piece piece;
  piece.outline = mesher.Mesh(
      lattice, columns, rows,
      [&](const MeshedBlock& b) {
        piece.blocks.push_back({b.Index,
                                b.Rect,
                                {b.Points.begin(), b.Points.end()},
                                {b.Triangles.begin(), b.Triangles.end()}});
      },
      &piece.stats);
  return piece;
}

Piece MeshPiece(const LatticeHeights& lattice, std::uint32_t columns, std::uint32_t rows,
                const LatticeMeshOptions& options) {
  LatticeMesher mesher(options);
  return MeshPiece(mesher, lattice, columns, rows);
}

// Everything the surface of a piece promises, checked without the mesher's help: every
// lattice point within the error and covered once, the heights of the vertices, faces edge to
// edge across blocks (no crack, no T-junction), the outline, the area.
void CheckPiece(const Piece& piece, const FunctionLattice& lattice, std::uint32_t columns,
                std::uint32_t rows, float maxError) {
  std::uint64_t triangles = 0;
  std::uint64_t points = 0;
  std::int64_t twiceArea = 0;
  // Directed edges by their ends' lattice coordinates, over the whole piece.
  std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>, int> edges;
  std::set<std::pair<std::uint32_t, std::uint32_t>> vertices;
  for (std::size_t n = 0; n < piece.blocks.size(); ++n) {
    const Block& b = piece.blocks[n];
    SCOPED_TRACE("block " + std::to_string(n));
    EXPECT_EQ(b.index, n);
    std::vector<float> heights(static_cast<std::size_t>(b.rect.Columns) * b.rect.Rows);
    lattice.Fill(b.rect, heights.data(), b.rect.Columns);
    const test::BlockCheck c =
        test::CheckBlock({b.index, 0, b.rect, b.points, b.triangles}, heights);
    EXPECT_LE(c.WorstError, maxError);
    EXPECT_EQ(c.Uncovered, 0U);
    EXPECT_EQ(c.Overlapped, 0U);
    EXPECT_EQ(c.NotCounterClockwise, 0U);
    EXPECT_EQ(c.OutsideRect, 0U);
    EXPECT_EQ(c.TwiceArea, 2 * static_cast<std::int64_t>(b.rect.Columns - 1) * (b.rect.Rows - 1));
    twiceArea += c.TwiceArea;
    // A triangulated disc: triangles = 2 points - points on its outline - 2 (Euler).
    std::int64_t outline = 0;
    for (const LatticeSample& p : b.points) {
      outline += p.Q == b.rect.Q0 || p.R == b.rect.R0 || p.Q == b.rect.Q0 + b.rect.Columns - 1 ||
                         p.R == b.rect.R0 + b.rect.Rows - 1
                     ? 1
                     : 0;
    }
    EXPECT_EQ(static_cast<std::int64_t>(b.triangles.size()),
              2 * static_cast<std::int64_t>(b.points.size()) - outline - 2);
    triangles += b.triangles.size();
    points += b.points.size();
    for (const LatticeSample& p : b.points) {
      EXPECT_EQ(p.Z, lattice(p.Q, p.R)) << "vertex " << p.Q << ", " << p.R;
      vertices.insert({p.Q, p.R});
    }
    for (const LatticeTriangle& t : b.triangles) {
      const std::uint32_t corners[3] = {t.A, t.B, t.C};
      for (int k = 0; k < 3; ++k) {
        const LatticeSample& from = b.points.at(corners[k]);
        const LatticeSample& to = b.points.at(corners[(k + 1) % 3]);
        ++edges[{from.Q, from.R, to.Q, to.R}];
      }
    }
  }
  EXPECT_EQ(twiceArea, 2 * static_cast<std::int64_t>(columns) * rows);
  EXPECT_EQ(piece.stats.Blocks, piece.blocks.size());
  EXPECT_EQ(piece.stats.Triangles, triangles);
  EXPECT_EQ(piece.stats.Points, points);

  // Inside the piece every edge has its twin, running the other way; an edge without one lies
  // on the piece's outline, both ends on the same side.
  const auto onOneSide = [&](std::uint32_t q0, std::uint32_t r0, std::uint32_t q1,
                             std::uint32_t r1) {
    return (q0 == q1 && (q0 == 0 || q0 == columns)) || (r0 == r1 && (r0 == 0 || r0 == rows));
  };
  std::size_t unmatched = 0;
  for (const auto& [edge, count] : edges) {
    const auto [q0, r0, q1, r1] = edge;
    EXPECT_EQ(count, 1) << "edge used twice the same way: " << q0 << "," << r0 << " - " << q1 << ","
                        << r1;
    if (edges.count({q1, r1, q0, r0}) == 0) {
      ++unmatched;
      EXPECT_TRUE(onOneSide(q0, r0, q1, r1))
          << "crack or T-junction at " << q0 << "," << r0 << " - " << q1 << "," << r1;
    }
  }
  EXPECT_GE(unmatched, 4U);

  // The outline holds exactly the surface's vertices on each side, in order, with their heights.
  const auto side = [&](const std::vector<LatticeSample>& list, bool alongQ, std::uint32_t fixed,
                        const char* name) {
    SCOPED_TRACE(name);
    std::vector<std::uint32_t> expected;
    for (const auto& [q, r] : vertices) {
      if (alongQ ? r == fixed : q == fixed) expected.push_back(alongQ ? q : r);
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::uint32_t> got;
    for (const LatticeSample& p : list) {
      got.push_back(alongQ ? p.Q : p.R);
      EXPECT_EQ(alongQ ? p.R : p.Q, fixed);
      EXPECT_EQ(p.Z, lattice(p.Q, p.R));
    }
    EXPECT_EQ(got, expected);
  };
  side(piece.outline.South, true, 0, "south");
  side(piece.outline.North, true, rows, "north");
  side(piece.outline.West, false, 0, "west");
  side(piece.outline.East, false, columns, "east");
}

// Heights of the synthetic lattices, each a function of (q, r).
HeightFunction Plane(float a, float b, float c) {
  return [=](std::uint32_t q, std::uint32_t r) {
    return a + b * static_cast<float>(q) + c * static_cast<float>(r);
  };
}

HeightFunction Noise(unsigned seed, float amplitude) {
  return [=](std::uint32_t q, std::uint32_t r) {
    std::seed_seq s{seed, q, r};
    std::mt19937 engine(s);
    return std::uniform_real_distribution<float>(0, amplitude)(engine);
  };
}

HeightFunction Spike(std::uint32_t atQ, std::uint32_t atR, float height) {
  return [=](std::uint32_t q, std::uint32_t r) { return q == atQ && r == atR ? height : 1.0F; };
}

HeightFunction Steps(std::uint32_t width, float rise) {
  return [=](std::uint32_t q, std::uint32_t r) {
    return rise * static_cast<float>(q / width) + 0.5F * static_cast<float>(r % 3 == 0);
  };
}

// A sharp ridge along the lattice column crest, falling off both ways.
HeightFunction Ridge(std::uint32_t crest, float height) {
  return [=](std::uint32_t q, std::uint32_t r) {
    const float d = std::fabs(static_cast<float>(q) - static_cast<float>(crest));
    return std::max(0.0F, height - 3 * d) + 0.25F * std::sin(static_cast<float>(r) / 3);
  };
}

HeightFunction Terrain() {
  return [](std::uint32_t q, std::uint32_t r) {
    const auto x = static_cast<float>(q);
    const auto y = static_cast<float>(r);
    return 20 + 8 * std::sin(x / 9) * std::cos(y / 13) + 3 * std::sin((x + 2 * y) / 4);
  };
}

// Sea at 0 with an island of terrain whose shore lies within [lo, hi) in both directions.
HeightFunction Island(std::uint32_t lo, std::uint32_t hi) {
  const HeightFunction land = Terrain();
  return [=](std::uint32_t q, std::uint32_t r) {
    return q >= lo && q < hi && r >= lo && r < hi ? land(q, r) : 0.0F;
  };
}

struct PieceCase {
  std::string name;
  HeightFunction heights;
  std::uint32_t columns;
  std::uint32_t rows;
  float maxError;
  std::uint32_t blockPoints;
};

std::vector<PieceCase> PieceCases() {
  std::vector<PieceCase> cases;
  for (const std::uint32_t block : {2U, 3U, 9U, 33U, 128U}) {
    const std::string b = " block " + std::to_string(block);
    cases.push_back({"plane" + b, Plane(2, 0.5F, -0.25F), 40, 30, 0.01F, block});
    cases.push_back({"noise" + b, Noise(1, 10), 30, 25, 2, block});
    cases.push_back({"terrain" + b, Terrain(), 70, 50, 0.3F, block});
    cases.push_back({"ridge on a block border" + b, Ridge(block - 1, 30), 50, 20, 0.5F, block});
  }
  for (const float e : {0.0F, 0.05F, 1.0F, 5.0F, 100.0F}) {
    const std::string s = " error " + std::to_string(e);
    cases.push_back({"terrain" + s, Terrain(), 60, 60, e, 17});
    cases.push_back({"noise" + s, Noise(2, 4), 20, 20, e, 8});
    cases.push_back({"steps" + s, Steps(5, 3), 33, 21, e, 12});
  }
  cases.push_back({"spike", Spike(7, 5, 50), 16, 11, 0.1F, 64});
  cases.push_back({"spike on a block corner", Spike(8, 8, 50), 16, 16, 0.1F, 9});
  cases.push_back({"spike on the outline", Spike(0, 6, 50), 16, 16, 0.1F, 9});
  cases.push_back({"one cell", Terrain(), 1, 1, 0.1F, 512});
  cases.push_back({"one column", Noise(3, 5), 1, 40, 0.5F, 16});
  cases.push_back({"one row", Noise(4, 5), 40, 1, 0.5F, 16});
  cases.push_back({"two cells wide", Noise(5, 5), 2, 40, 0.5F, 16});
  cases.push_back({"flat at the base plane", Plane(0, 0, 0), 50, 50, 0, 16});
  cases.push_back({"island in the sea", Island(20, 45), 90, 70, 0.2F, 9});
  cases.push_back({"island across block borders", Island(5, 14), 40, 40, 0.5F, 5});
  cases.push_back({"wider than tall", Terrain(), 200, 7, 0.2F, 64});
  return cases;
}

std::string CaseName(const std::string& text) {
  std::string name;
  for (const char ch : text) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
}

class LatticeMesherPieceTest : public testing::TestWithParam<PieceCase> {};

TEST_P(LatticeMesherPieceTest, KeepsEveryPromiseOfTheSurface) {
  const PieceCase& c = GetParam();
  const FunctionLattice lattice(c.heights);
  const Piece piece = MeshPiece(lattice, c.columns, c.rows, {c.maxError, c.blockPoints, 1});
  CheckPiece(piece, lattice, c.columns, c.rows, c.maxError);
}

TEST_P(LatticeMesherPieceTest, GivesTheSameBlocksWithAnyNumberOfThreadsAndFromRunToRun) {
  const PieceCase& c = GetParam();
  const FunctionLattice lattice(c.heights);
  const Piece one = MeshPiece(lattice, c.columns, c.rows, {c.maxError, c.blockPoints, 1});
  for (const unsigned threads : {2U, 3U}) {
    const Piece many = MeshPiece(lattice, c.columns, c.rows, {c.maxError, c.blockPoints, threads});
    const Piece again = MeshPiece(lattice, c.columns, c.rows, {c.maxError, c.blockPoints, threads});
    EXPECT_TRUE(one.blocks == many.blocks) << threads << " threads";
    EXPECT_TRUE(many.blocks == again.blocks) << threads << " threads";
  }
}

std::string PieceCaseName(const testing::TestParamInfo<PieceCase>& param) {
  return CaseName(param.param.name);
}

INSTANTIATE_TEST_SUITE_P(Lattices, LatticeMesherPieceTest, testing::ValuesIn(PieceCases()),
                         PieceCaseName);

// A missing height (NaN) leaves a hole: no vertex has one, no triangle covers one, and every
// other point lies under a triangle within the error unless a missing one is next to it.
TEST(LatticeMesher, LeavesAHoleWhereHeightsAreMissingAndKeepsTheRestWithinTheError) {
  const auto holes = [](HeightFunction land, std::function<bool(std::int64_t, std::int64_t)> in) {
    return [=](std::uint32_t q, std::uint32_t r) { return in(q, r) ? NAN : land(q, r); };
  };
  const auto square = [](std::int64_t q0, std::int64_t r0, std::int64_t q1, std::int64_t r1) {
    return [=](std::int64_t q, std::int64_t r) { return q >= q0 && q < q1 && r >= r0 && r < r1; };
  };
  const PieceCase cases[] = {
      {"a square inside a block", holes(Terrain(), square(20, 15, 31, 24)), 60, 50, 0.3F, 128},
      {"a square across block borders", holes(Terrain(), square(10, 10, 40, 30)), 60, 50, 0.3F, 9},
      {"a square on the outline", holes(Plane(1, 2, 3), square(0, 20, 12, 30)), 40, 40, 0.1F, 9},
      {"one point", holes(Plane(1, 2, 3), square(30, 25, 31, 26)), 60, 50, 0.1F, 17},
      {"most of the piece", holes(Terrain(), [](auto q, auto r) { return q + r > 30; }), 80, 60,
       0.5F, 17},
      {"scattered points",
       holes(Noise(6, 3), [](auto q, auto r) { return (q * 7 + r * 3) % 11 == 0; }), 40, 30, 1, 9},
  };
  for (const PieceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FunctionLattice lattice(c.heights);
    const Piece piece = MeshPiece(lattice, c.columns, c.rows, {c.maxError, c.blockPoints, 2});
    const std::int64_t w = c.columns + 1;
    const std::int64_t h = c.rows + 1;
    std::vector<std::uint8_t> covered(static_cast<std::size_t>(w * h), 0);
    std::size_t missingVertices = 0;
    std::size_t overMissing = 0;
    double worst = 0;
    for (const Block& b : piece.blocks) {
      for (const LatticeSample& p : b.points) missingVertices += std::isnan(p.Z) ? 1 : 0;
      for (const LatticeTriangle& t : b.triangles) {
        const LatticeSample* p[3] = {&b.points[t.A], &b.points[t.B], &b.points[t.C]};
        const std::int64_t x[3] = {p[0]->Q, p[1]->Q, p[2]->Q};
        const std::int64_t y[3] = {p[0]->R, p[1]->R, p[2]->R};
        const std::int64_t area = (x[1] - x[0]) * (y[2] - y[0]) - (y[1] - y[0]) * (x[2] - x[0]);
        EXPECT_GT(area, 0);
        if (area <= 0) continue;
        for (std::int64_t py = std::min({y[0], y[1], y[2]}); py <= std::max({y[0], y[1], y[2]});
             ++py) {
          for (std::int64_t px = std::min({x[0], x[1], x[2]}); px <= std::max({x[0], x[1], x[2]});
               ++px) {
            const std::int64_t wa = (x[1] - px) * (y[2] - py) - (y[1] - py) * (x[2] - px);
            const std::int64_t wb = (x[2] - px) * (y[0] - py) - (y[2] - py) * (x[0] - px);
            const std::int64_t wc = (x[0] - px) * (y[1] - py) - (y[0] - py) * (x[1] - px);
            if (wa < 0 || wb < 0 || wc < 0) continue;
            const double z =
                lattice(static_cast<std::uint32_t>(px), static_cast<std::uint32_t>(py));
            if (std::isnan(z)) {
              ++overMissing;
              continue;
            }
            covered[static_cast<std::size_t>(py * w + px)] = 1;
            const double plane =
                (static_cast<double>(wa) * p[0]->Z + static_cast<double>(wb) * p[1]->Z +
                 static_cast<double>(wc) * p[2]->Z) /
                static_cast<double>(area);
            worst = std::max(worst, std::fabs(plane - z));
          }
        }
      }
    }
    // Points with data and no missing point among their eight neighbours.
    const auto missing = [&](std::int64_t q, std::int64_t r) {
      return q >= 0 && r >= 0 && q < w && r < h &&
             std::isnan(lattice(static_cast<std::uint32_t>(q), static_cast<std::uint32_t>(r)));
    };
    std::size_t uncovered = 0;
    std::size_t data = 0;
    for (std::int64_t at = 0; at < w * h; ++at) {
      bool nearHole = false;
      for (int k = 0; k < 9; ++k)
        nearHole = nearHole || missing(at % w + k % 3 - 1, at / w + k / 3 - 1);
      data += nearHole ? 0 : 1;
      uncovered += !nearHole && covered[static_cast<std::size_t>(at)] == 0 ? 1 : 0;
    }
    EXPECT_GT(data, 0U);
    EXPECT_EQ(missingVertices, 0U);
    EXPECT_EQ(overMissing, 0U);
    EXPECT_EQ(uncovered, 0U);
    EXPECT_LE(worst, c.maxError);
  }
}

// The number of blocks a side: cells / (BlockPoints - 1), rounded up.
std::uint32_t BlocksAlong(std::uint32_t cells, std::uint32_t blockPoints) {
  return (cells + blockPoints - 2) / (blockPoints - 1);
}

TEST(LatticeMesher, MeshesAPlaneWithTwoTrianglesABlockOfFourByFourBaseBlocks) {
  const FunctionLattice lattice(Plane(1, 3, -2));
  for (const std::uint32_t block : {2U, 5U, 16U, 100U}) {
    SCOPED_TRACE("block " + std::to_string(block));
    const Piece piece = MeshPiece(lattice, 45, 31, {0, block, 2});
    // Every border inside a group of base blocks is straight: a group is one block.
    const std::uint32_t across = (BlocksAlong(45, block) + 3) / 4;
    const std::uint32_t up = (BlocksAlong(31, block) + 3) / 4;
    EXPECT_EQ(piece.blocks.size(), across * up);
    for (const Block& b : piece.blocks) EXPECT_EQ(b.triangles.size(), 2U);
    EXPECT_EQ(piece.outline.South.size(), across + 1);
    EXPECT_EQ(piece.outline.West.size(), up + 1);
  }
}

TEST(LatticeMesher, JoinsBaseBlocksWhereTheBordersBetweenThemAreStraight) {
  // Base blocks of 8 cells over 64 x 64 cells: 8 x 8 of them, in 2 x 2 groups of 4 x 4. The
  // island stays within the south-west group's north-east quarter.
  const FunctionLattice lattice(Island(18, 30));
  const Piece piece = MeshPiece(lattice, 64, 64, {0.1F, 9, 1});
  std::map<std::uint32_t, int> sides;
  for (const Block& b : piece.blocks) ++sides[b.rect.Columns - 1];
  // Three groups of open sea as one block each; in the fourth, three quarters of sea as one
  // block each and the island's quarter in four base blocks.
  EXPECT_EQ(sides[32], 3);
  EXPECT_EQ(sides[16], 3);
  EXPECT_EQ(sides[8], 4);
  EXPECT_EQ(piece.blocks.size(), 10U);
  CheckPiece(piece, lattice, 64, 64, 0.1F);
}

TEST(LatticeMesher, KeepsEveryLatticePointAtErrorZeroWhereNoThreeLieOnAPlane) {
  const std::uint32_t columns = 23;
  const std::uint32_t rows = 17;
  const FunctionLattice lattice(Noise(9, 100));
  const Piece piece = MeshPiece(lattice, columns, rows, {0, 10, 1});
  // A full lattice of corners triangulated: two triangles a cell.
  EXPECT_EQ(piece.Triangles(), 2U * columns * rows);
  EXPECT_EQ(piece.outline.South.size(), columns + 1U);
  EXPECT_EQ(piece.outline.East.size(), rows + 1U);
}

TEST(LatticeMesher, KeepsASpikeAsAVertex) {
  const FunctionLattice lattice(Spike(11, 4, 80));
  const Piece piece = MeshPiece(lattice, 20, 9, {1, 512, 1});
  ASSERT_EQ(piece.blocks.size(), 1U);
  const auto& points = piece.blocks.front().points;
  EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](const LatticeSample& p) {
    return p.Q == 11 && p.R == 4 && p.Z == 80;
  }));
  // At most the spike, its eight neighbours to hold the flat around it and the four corners:
  // 13 points, 2 x 13 - 4 - 2 triangles.
  EXPECT_LE(piece.Triangles(), 20U);
}

TEST(LatticeMesher, MeshesFewerTrianglesAsTheErrorGrows) {
  const FunctionLattice lattice(Terrain());
  std::size_t previous = 0;
  for (const float e : {2.0F, 0.5F, 0.1F, 0.02F}) {
    const std::size_t triangles = MeshPiece(lattice, 90, 90, {e, 64, 2}).Triangles();
    EXPECT_GT(triangles, previous) << "error " << e;
    previous = triangles;
  }
  EXPECT_LT(previous, 2U * 90 * 90);
}

TEST(LatticeMesher, HandsBlocksOutWestToEastAndSouthToNorthInAColumn) {
  const FunctionLattice lattice(Terrain());
  const Piece piece = MeshPiece(lattice, 30, 20, {0.5F, 11, 2});
  ASSERT_EQ(piece.blocks.size(), 3U * 2U);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {0, 0}, {0, 10}, {10, 0}, {10, 10}, {20, 0}, {20, 10}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(piece.blocks[i].index, i);
    EXPECT_EQ(piece.blocks[i].rect.Q0, expected[i].first);
    EXPECT_EQ(piece.blocks[i].rect.R0, expected[i].second);
    EXPECT_EQ(piece.blocks[i].rect.Columns, 11U);
    EXPECT_EQ(piece.blocks[i].rect.Rows, 11U);
  }
}

TEST(LatticeMesher, SplitsAPieceIntoBlocksAsEvenAsWholeCellsAllow) {
  const FunctionLattice lattice(Noise(12, 5));
  const Piece piece = MeshPiece(lattice, 21, 10, {0.5F, 11, 1});
  // 21 cells in blocks of at most 10: three blocks of 7 cells, not 10, 10 and 1.
  ASSERT_EQ(piece.blocks.size(), 3U);
  for (const Block& b : piece.blocks) EXPECT_EQ(b.rect.Columns, 8U);
}

TEST(LatticeMesher, MeshesOnePieceAfterAnotherWithTheSameObject) {
  LatticeMesher mesher({0.2F, 16, 2});
  const FunctionLattice first(Terrain());
  const FunctionLattice second(Noise(8, 3));
  std::vector<std::size_t> counts;
  for (const FunctionLattice* lattice : {&first, &second, &first}) {
    std::size_t triangles = 0;
    mesher.Mesh(*lattice, 40, 35, [&](const MeshedBlock& b) { triangles += b.Triangles.size(); });
    counts.push_back(triangles);
  }
  EXPECT_EQ(counts[0], counts[2]);
  EXPECT_EQ(counts[0], MeshPiece(first, 40, 35, {0.2F, 16, 1}).Triangles());
}

TEST(LatticeMesher, RefusesAPieceWithoutCells) {
  LatticeMesher mesher({0.5F, 16, 1});
  const FunctionLattice lattice(Terrain());
  const auto ignore = [](const MeshedBlock&) {};
  EXPECT_THROW(mesher.Mesh(lattice, 0, 5, ignore), std::invalid_argument);
  EXPECT_THROW(mesher.Mesh(lattice, 5, 0, ignore), std::invalid_argument);
}

// Model coordinates of the lattice: x by column, y by row, as a tile piece places them.
double ModelArea(const Piece& piece, const std::vector<float>& x, const std::vector<float>& y) {
  double area = 0;
  for (const Block& b : piece.blocks) {
    for (const LatticeTriangle& t : b.triangles) {
      const LatticeSample& p = b.points[t.A];
      const LatticeSample& q = b.points[t.B];
      const LatticeSample& s = b.points[t.C];
      area +=
          0.5 * ((static_cast<double>(x[q.Q]) - x[p.Q]) * (static_cast<double>(y[s.R]) - y[p.R]) -
                 (static_cast<double>(y[q.R]) - y[p.R]) * (static_cast<double>(x[s.Q]) - x[p.Q]));
    }
  }
  return area;
}

TEST(LatticeMesher, CoversThePiecesAreaInModelCoordinates) {
  const std::uint32_t columns = 37;
  const std::uint32_t rows = 29;
  const Piece piece = MeshPiece(FunctionLattice(Terrain()), columns, rows, {0.3F, 12, 2});
  std::vector<float> x;
  std::vector<float> y;
  for (std::uint32_t q = 0; q <= columns; ++q) x.push_back(12.5F + 0.37F * static_cast<float>(q));
  for (std::uint32_t r = 0; r <= rows; ++r) y.push_back(3.0F + 0.21F * static_cast<float>(r));
  const double expected =
      (static_cast<double>(x.back()) - x.front()) * (static_cast<double>(y.back()) - y.front());
  EXPECT_NEAR(ModelArea(piece, x, y), expected, 1e-5 * expected);
  // A piece of no width, beyond a whole-degree bound: every column at one x, no area at all.
  std::fill(x.begin(), x.end(), 12.5F);
  EXPECT_EQ(ModelArea(piece, x, y), 0.0);
}

// The lattice of a piece of a real tile as the model samples it: cell corners every 90 m
// (0.0009 degree) from the piece's south-west corner, bilinear heights in a band of 0 to
// 2000 m over 20 model units.
class TilePiece : public LatticeHeights {
 public:
  TilePiece(const TSRTM& tile, long double west, long double south, std::uint32_t cells)
      : tile_(tile) {
    for (std::uint32_t k = 0; k <= cells; ++k) {
      lons_.push_back(tile.LonPosition(west + k * 0.0009L));
      lats_.push_back(tile.LatPosition(south + k * 0.0009L));
    }
  }
  void Fill(const LatticeRect& rect, float* out, std::size_t stride) const override {
    for (std::uint32_t r = 0; r < rect.Rows; ++r) {
      for (std::uint32_t q = 0; q < rect.Columns; ++q) {
        const long double e = tile_.ElevationOf(lons_[rect.Q0 + q], lats_[rect.R0 + r]);
        out[r * stride + q] = static_cast<float>(e / 2000 * 20);
      }
    }
  }

 private:
  const TSRTM& tile_;
  std::vector<TSRTM::AxisPosition> lons_;
  std::vector<TSRTM::AxisPosition> lats_;
};

TEST(LatticeMesher, MeshesAPieceOfARealTileWithinTheError) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  TSRTM tile;
  tile.LoadFromFile(test::SharedData("SRTM_3/N44W072.hgt"), -72, 44);
  // Around Mount Washington: 0.18 degree a side, 200 x 200 cells.
  const TilePiece piece(tile, -71.4L, 44.18L, 200);
  const FunctionLattice lattice([&](std::uint32_t q, std::uint32_t r) {
    float z = 0;
    piece.Fill({q, r, 1, 1}, &z, 1);
    return z;
  });
  std::size_t finer = 2U * 200 * 200;  // every lattice point a vertex
  for (const float metres : {1.0F, 5.0F}) {
    SCOPED_TRACE(std::to_string(metres) + " m");
    const float e = metres / 100;  // 0 to 2000 m over 20 mm
    const Piece meshed = MeshPiece(lattice, 200, 200, {e, 64, 2});
    CheckPiece(meshed, lattice, 200, 200, e);
    EXPECT_LT(meshed.Triangles(), finer);
    EXPECT_GT(meshed.stats.Removed, 0U);
    finer = meshed.Triangles();
  }
}

}  // namespace
}  // namespace orolith
