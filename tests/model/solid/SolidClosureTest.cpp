#include "model/solid/SolidClosure.h"

#include "model/writers/STL.h"
#include "support/RecordingSink.h"
#include "support/ShellCheck.h"
#include "support/StlReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace orolith {
namespace {

using test::CheckShell;
using test::ShellReport;
using test::StlFace;

// Heights of piece (i, j) at its vertex (q, r), counted from its south-west corner.
using Heights = std::function<float(int i, int j, int q, int r)>;

// A patchwork of pieces as the model's tiles make them: piece (i, j) spans cellsX[i] x
// cellsY[j] cells of half a unit, neighbours share their vertex positions along a seam but
// each has its own heights there. A missing piece has no surface.
class Patchwork {
 public:
  Patchwork(std::vector<int> cellsX, std::vector<int> cellsY, float floorZ)
      : cellsX_(std::move(cellsX)),
        cellsY_(std::move(cellsY)),
        floorZ_(floorZ),
        closure_({0, static_cast<std::int32_t>(cellsX_.size()) - 1, 0,
                  static_cast<std::int32_t>(cellsY_.size()) - 1},
                 floorZ) {}

  // Makes every piece's surface and closes it; returns the closed shell's faces.
  std::vector<StlFace> Build(const Heights& height, const std::function<bool(int, int)>& missing) {
    int x0 = 0;
    for (int i = 0; i < static_cast<int>(cellsX_.size()); ++i) {
      int y0 = 0;
      for (int j = 0; j < static_cast<int>(cellsY_.size()); ++j) {
        AddPiece(i, j, x0, y0, height, missing(i, j));
        y0 += cellsY_[static_cast<std::size_t>(j)];
      }
      x0 += cellsX_[static_cast<std::size_t>(i)];
    }
    surfaceFaces_ = stl_.Faces().size();
    test::RecordingSink sink;
    const std::uint64_t closing = closure_.Close(sink);
    EXPECT_EQ(closing, sink.faces.Faces().size());
    for (const TSTLFace& f : sink.faces.Faces()) stl_.AddFace(f.Vertex1, f.Vertex2, f.Vertex3);
    return Faces();
  }

  std::vector<StlFace> Faces() const {
    std::vector<StlFace> faces;
    for (const TSTLFace& f : stl_.Faces()) {
      faces.push_back({f.Normal, f.Vertex1, f.Vertex2, f.Vertex3, 0});
    }
    return faces;
  }
  std::vector<StlFace> Surface() const {
    std::vector<StlFace> faces = Faces();
    faces.resize(surfaceFaces_);
    return faces;
  }

  // The volume the closed shell must enclose: under the surface and the flat fills down to
  // the floor.
  double ExpectedVolume() const {
    return test::VolumeDownTo(Surface(), floorZ_) + missingArea_ * (0.0 - floorZ_);
  }

  SolidClosure& Closure() { return closure_; }

  // From now on a piece keeps only the outline vertices keep(i, j, q, r) allows, its corners
  // always, as an adaptive surface does; its surface is then a fan from the middle of the
  // piece over what it keeps.
  void Thin(std::function<bool(int i, int j, int q, int r)> keep) { keep_ = std::move(keep); }

 private:
  void AddPiece(int i, int j, int x0, int y0, const Heights& height, bool missing) {
    const int columns = cellsX_[static_cast<std::size_t>(i)];
    const int rows = cellsY_[static_cast<std::size_t>(j)];
    const auto vertex = [&](int q, int r) {
      return Vec3{0.5F * static_cast<float>(x0 + q), 0.5F * static_cast<float>(y0 + r),
                  missing ? 0.0F : height(i, j, q, r)};
    };
    PieceOutline outline;
    for (int q = 0; q <= columns; ++q) {
      outline.South.push_back(vertex(q, 0));
      outline.North.push_back(vertex(q, rows));
    }
    for (int r = 0; r <= rows; ++r) {
      outline.West.push_back(vertex(0, r));
      outline.East.push_back(vertex(columns, r));
    }
    if (missing) {
      missingArea_ += 0.25 * columns * rows;
      closure_.AddMissing(i, j, outline);
      return;
    }
    if (keep_) {
      const auto thin = [&](std::vector<Vec3>& side) {
        std::vector<Vec3> kept;
        for (std::size_t k = 0; k < side.size(); ++k) {
          const int q = static_cast<int>(std::lround(side[k].x * 2)) - x0;
          const int r = static_cast<int>(std::lround(side[k].y * 2)) - y0;
          if (k == 0 || k + 1 == side.size() || keep_(i, j, q, r)) kept.push_back(side[k]);
        }
        side = kept;
      };
      for (std::vector<Vec3>* side :
           {&outline.South, &outline.North, &outline.West, &outline.East}) {
        thin(*side);
      }
      std::vector<Vec3> loop(outline.South);
      loop.insert(loop.end(), outline.East.begin() + 1, outline.East.end());
      loop.insert(loop.end(), outline.North.rbegin() + 1, outline.North.rend());
      loop.insert(loop.end(), outline.West.rbegin() + 1, outline.West.rend() - 1);
      const Vec3 middle{0.5F * (static_cast<float>(x0) + 0.5F * static_cast<float>(columns)),
                        0.5F * (static_cast<float>(y0) + 0.5F * static_cast<float>(rows)),
                        height(i, j, columns / 2, rows / 2) + 0.125F};
      for (std::size_t k = 0; k < loop.size(); ++k) {
        stl_.AddFace(middle, loop[k], loop[(k + 1) % loop.size()]);
      }
      EXPECT_TRUE(closure_.AddSurface(i, j, outline));
      return;
    }
    for (int q = 0; q < columns; ++q) {
      for (int r = 0; r < rows; ++r) {
        stl_.AddFace(vertex(q, r + 1), vertex(q, r), vertex(q + 1, r + 1));
        stl_.AddFace(vertex(q, r), vertex(q + 1, r), vertex(q + 1, r + 1));
      }
    }
    EXPECT_TRUE(closure_.AddSurface(i, j, outline));
  }

  std::vector<int> cellsX_;
  std::vector<int> cellsY_;
  float floorZ_;
  SolidClosure closure_;
  TSTL stl_;
  std::size_t surfaceFaces_ = 0;
  double missingArea_ = 0;
  std::function<bool(int, int, int, int)> keep_;
};

const auto NoneMissing = [](int, int) { return false; };

void ExpectClosedSolid(const std::vector<StlFace>& faces, double expectedVolume) {
  const ShellReport shell = CheckShell(faces);
  EXPECT_TRUE(shell.Closed()) << shell;
  EXPECT_EQ(shell.parts, 1U) << shell;
  EXPECT_NEAR(shell.volume, expectedVolume, 1e-9 * std::abs(expectedVolume) + 1e-12) << shell;
}

TEST(SolidClosure, OnePieceGetsTwoWallFacesAndOneBottomFacePerBorderCell) {
  Patchwork patch({3}, {2}, -0.5F);
  const std::vector<StlFace> faces = patch.Build(
      [](int, int, int q, int r) { return 1.0F + 0.25F * static_cast<float>(q * r); }, NoneMissing);
  const std::size_t border = 2 * (3 + 2);
  EXPECT_EQ(faces.size(), 2U * 3U * 2U + 3 * border);
  ExpectClosedSolid(faces, patch.ExpectedVolume());
  // Everything added lies in a side of the region or in the floor.
  for (std::size_t k = 12; k < faces.size(); ++k) {
    const StlFace& f = faces[k];
    const bool floor = f.a.z == -0.5F && f.b.z == -0.5F && f.c.z == -0.5F;
    const bool side = (f.a.x == f.b.x && f.b.x == f.c.x && (f.a.x == 0 || f.a.x == 1.5F)) ||
                      (f.a.y == f.b.y && f.b.y == f.c.y && (f.a.y == 0 || f.a.y == 1.0F));
    EXPECT_TRUE(floor || side) << k;
    if (floor) {
      EXPECT_NEAR(f.normal.z, -1.0F, 1e-6);
    }
  }
}

// Where four pieces meet, each with its own corner height, the strips of both seams end on
// one vertical line. Every way of giving the four corners heights from 0 to 3 (ties, and the
// saddles where diagonal corners lie on the same side of the middle heights) closes.
TEST(SolidClosure, EveryOrderOfFourCornerHeightsCloses) {
  for (int code = 0; code < 256; ++code) {
    SCOPED_TRACE(code);
    const auto corner = [&](int i, int j) {
      return static_cast<float>((code >> (2 * (i * 2 + j))) & 3) + 1;
    };
    Patchwork patch({1, 1}, {1, 1}, -1.0F);
    // Each piece flat at its own height: the seams are walls of constant height.
    const std::vector<StlFace> faces =
        patch.Build([&](int i, int j, int, int) { return corner(i, j); }, NoneMissing);
    ExpectClosedSolid(faces, patch.ExpectedVolume());
  }
}

TEST(SolidClosure, MissingPiecesAreFilledFlatAtTheBasePlane) {
  // A checkerboard: the two missing pieces touch the two others only at the middle post.
  Patchwork patch({2, 2}, {2, 2}, -0.25F);
  const std::vector<StlFace> faces =
      patch.Build([](int, int, int q, int r) { return 2.0F + static_cast<float>(q + r) / 8; },
                  [](int i, int j) { return i == j; });
  ExpectClosedSolid(faces, patch.ExpectedVolume());
  std::size_t fillFaces = 0;
  for (const StlFace& f : faces) {
    const bool inMissing = (f.a.x + f.b.x + f.c.x < 3) == (f.a.y + f.b.y + f.c.y < 3);
    if (f.a.z == 0 && f.b.z == 0 && f.c.z == 0 && inMissing) {
      EXPECT_NEAR(f.normal.z, 1.0F, 1e-6);
      ++fillFaces;
    }
  }
  EXPECT_EQ(fillFaces, 2U * 8U);  // a fan over each missing piece's eight outline vertices
}

TEST(SolidClosure, PieceWithoutAreaIsLeftOut) {
  SolidClosure closure({0, 1, 0, 0}, -1.0F);
  PieceOutline line;
  line.South = {{2, 0, 1}, {2, 0, 1}};
  line.North = {{2, 1, 1}, {2, 1, 1}};
  line.West = {{2, 0, 1}, {2, 1, 1}};
  line.East = line.West;
  EXPECT_FALSE(closure.AddSurface(1, 0, line));

  // Nothing but missing pieces: no solid at all.
  PieceOutline square = line;
  square.South[1].x = square.North[1].x = 3;
  square.East = {{3, 0, 1}, {3, 1, 1}};
  closure.AddMissing(0, 0, square);
  test::RecordingSink sink;
  EXPECT_EQ(closure.Close(sink), 0U);
  EXPECT_TRUE(sink.chunks.empty());
}

// Random patchworks with heights from a handful of values: edges that coincide in parts,
// cross each other between two positions, saddles at the posts, and missing pieces.
TEST(SolidClosure, RandomPatchworksAreClosedSolids) {
  std::mt19937 random(20240611);
  int saddles = 0;
  for (int run = 0; run < 1500; ++run) {
    SCOPED_TRACE(run);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<int> cellsX(static_cast<std::size_t>(1 + pick(3)));
    std::vector<int> cellsY(static_cast<std::size_t>(1 + pick(3)));
    for (int& c : cellsX) c = 1 + pick(3);
    for (int& c : cellsY) c = 1 + pick(3);
    std::vector<float> table(4096);
    for (float& h : table) h = static_cast<float>(pick(3));
    const auto height = [&](int i, int j, int q, int r) {
      return table[static_cast<std::size_t>(((i * 4 + j) * 16 + q) * 16 + r)];
    };
    std::vector<bool> gone(16);
    for (std::size_t k = 0; k < gone.size(); ++k) gone[k] = pick(5) == 0;
    const auto missing = [&](int i, int j) { return gone[static_cast<std::size_t>(i * 4 + j)]; };

    Patchwork patch(cellsX, cellsY, -0.5F);
    const std::vector<StlFace> faces = patch.Build(height, missing);
    bool anySurface = false;
    for (int i = 0; i < static_cast<int>(cellsX.size()); ++i) {
      for (int j = 0; j < static_cast<int>(cellsY.size()); ++j) {
        anySurface = anySurface || !missing(i, j);
        if (i == 0 || j == 0) continue;
        // Corner heights round the post at the south-west corner of piece (i, j).
        const auto at = [&](int pi, int pj, int q, int r) {
          return missing(pi, pj) ? 0.0F : height(pi, pj, q, r);
        };
        const float sw = at(i - 1, j - 1, cellsX[static_cast<std::size_t>(i - 1)],
                            cellsY[static_cast<std::size_t>(j - 1)]);
        const float se = at(i, j - 1, 0, cellsY[static_cast<std::size_t>(j - 1)]);
        const float ne = at(i, j, 0, 0);
        const float nw = at(i - 1, j, cellsX[static_cast<std::size_t>(i - 1)], 0);
        if ((std::max(sw, ne) < std::min(se, nw)) || (std::max(se, nw) < std::min(sw, ne))) {
          ++saddles;
        }
      }
    }
    if (!anySurface) {
      EXPECT_EQ(faces.size(), 0U);
      continue;
    }
    ExpectClosedSolid(faces, patch.ExpectedVolume());
    if (HasFailure()) break;
  }
  EXPECT_GT(saddles, 50);
}

// Pieces that keep different vertices along a seam, as adaptive surfaces do: the strip between
// them is cut at the vertices of either side, where the two edges meet in a vertex, cross or
// run apart, next to missing pieces and at posts of every kind.
TEST(SolidClosure, SeamsBetweenPiecesThatKeepDifferentVerticesClose) {
  std::mt19937 random(20261208);
  std::size_t stripFaces = 0;
  std::size_t slivered = 0;
  for (int run = 0; run < 1500; ++run) {
    SCOPED_TRACE(run);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<int> cellsX(static_cast<std::size_t>(1 + pick(3)));
    std::vector<int> cellsY(static_cast<std::size_t>(1 + pick(3)));
    for (int& c : cellsX) c = 1 + pick(6);
    for (int& c : cellsY) c = 1 + pick(6);
    // Few heights, so that the two sides of a seam often share a vertex or run together.
    std::vector<float> table(4096);
    for (float& h : table) h = static_cast<float>(pick(2 + run % 3));
    std::vector<std::uint8_t> kept(4096);
    const int keepOneIn = 1 + run % 3;  // every vertex, half of them, a third
    for (std::uint8_t& k : kept) k = pick(keepOneIn) == 0 ? 1 : 0;
    const auto index = [](int i, int j, int q, int r) {
      return static_cast<std::size_t>(((i * 4 + j) * 16 + q) * 16 + r) % 4096;
    };
    std::vector<bool> gone(16);
    for (std::size_t k = 0; k < gone.size(); ++k) gone[k] = pick(6) == 0;

    Patchwork patch(cellsX, cellsY, -0.5F);
    patch.Thin([&](int i, int j, int q, int r) { return kept[index(i, j, q, r)] != 0; });
    const std::vector<StlFace> faces =
        patch.Build([&](int i, int j, int q, int r) { return 1 + table[index(i, j, q, r)]; },
                    [&](int i, int j) { return gone[static_cast<std::size_t>(i * 4 + j)]; });
    if (faces.empty()) continue;
    // Where the two edges run together with different vertices, the strip between them has no
    // area: faces of three distinct vertices on one line, each on a seam, that join the edges
    // without a T-junction. Every edge still has its two faces, one each way.
    const ShellReport shell = CheckShell(faces);
    std::size_t slivers = 0;
    for (const StlFace& f : faces) {
      const bool distinct = std::memcmp(&f.a, &f.b, sizeof(Vec3)) != 0 &&
                            std::memcmp(&f.b, &f.c, sizeof(Vec3)) != 0 &&
                            std::memcmp(&f.c, &f.a, sizeof(Vec3)) != 0;
      const bool inSeamPlane =
          (f.a.x == f.b.x && f.b.x == f.c.x) || (f.a.y == f.b.y && f.b.y == f.c.y);
      const double cx = (double{f.b.y} - f.a.y) * (double{f.c.z} - f.a.z) -
                        (double{f.b.z} - f.a.z) * (double{f.c.y} - f.a.y);
      const double cy = (double{f.b.z} - f.a.z) * (double{f.c.x} - f.a.x) -
                        (double{f.b.x} - f.a.x) * (double{f.c.z} - f.a.z);
      const double cz = (double{f.b.x} - f.a.x) * (double{f.c.y} - f.a.y) -
                        (double{f.b.y} - f.a.y) * (double{f.c.x} - f.a.x);
      if (cx == 0 && cy == 0 && cz == 0) {
        EXPECT_TRUE(distinct && inSeamPlane);
        ++slivers;
      }
    }
    slivered += slivers;
    EXPECT_EQ(shell.degenerate, slivers) << shell;
    EXPECT_EQ(shell.badEdges, 0U) << shell;
    EXPECT_EQ(shell.wrongNormals, 0U) << shell;
    EXPECT_EQ(shell.parts, 1U) << shell;
    const double expected = patch.ExpectedVolume();
    EXPECT_NEAR(shell.volume, expected, 1e-9 * std::abs(expected) + 1e-12) << shell;
    stripFaces += faces.size() - patch.Surface().size();
    if (HasFailure()) break;
  }
  EXPECT_GT(stripFaces, 10000U);
  EXPECT_GT(slivered, 0U);
}

}  // namespace
}  // namespace orolith
