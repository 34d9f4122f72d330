// The generation writes each face as it is made, on one or more threads. These tests hold it
// to the file the face list made, and to the file's bytes wherever it goes. What a failed run
// leaves is ModelFailureTest's.

#include "base/Interrupt.h"
#include "frontpanel/TSystem.h"
#include "model/TerrainModel.h"
#include "model/writers/STL.h"
#include "support/ModelRun.h"
#include "support/Pipes.h"
#include "support/Privileges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith {
namespace {

namespace fs = std::filesystem;
using test::RecordingHost;
using test::TempDir;

// The model as the face list made it, from the model's definition: every cell's corners and
// centre worked out on their own, one TSTL for the whole run, saved with SaveBinary. It shares
// nothing with the streaming generation but the tile and the face list, so that a fault in the
// bands, their order, their draws or the writer can't hide in it.
void MakeReferenceModel(const ModelSettings& s, const DataFolders& folders, std::uint64_t seed) {
  using L = long double;
  std::mt19937 engine;
  std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
  engine.seed(sequence);
  const auto below = [&engine](std::uint32_t n) {  // Lemire's multiply and reject
    std::uint64_t product = static_cast<std::uint64_t>(engine()) * n;
    if (static_cast<std::uint32_t>(product) < n) {
      while (static_cast<std::uint32_t>(product) < (0U - n) % n) {
        product = static_cast<std::uint64_t>(engine()) * n;
      }
    }
    return static_cast<std::uint32_t>(product >> 32);
  };
  std::array<double, 101> fractions{};
  for (double& f : fractions) f = (static_cast<int>(below(1000)) - 500) * 0.00075 + 0.5;

  const L yExtent = std::fabs((s.LatMax - s.LatMin) * s.XExtent / (s.LonMax - s.LonMin) /
                              std::cos((s.LatMax + s.LatMin) / 2 * 0.017453292519943295769L));
  const L pedestal = static_cast<L>(s.ZBasePercent) * s.ZExtent / 100;
  const L zExtent = s.ZExtent;
  const auto x = [&](L lon) {
    return static_cast<float>((lon - s.LonMin) / (s.LonMax - s.LonMin) * L{s.XExtent});
  };
  const auto y = [&](L lat) {
    return static_cast<float>((lat - s.LatMin) / (s.LatMax - s.LatMin) * yExtent);
  };
  const auto z = [&](L e) {
    const L v = e < s.ZMin ? 0 : (e - s.ZMin) / (s.ZMax - s.ZMin) * (zExtent - pedestal) + pedestal;
    return static_cast<float>(v < 0 ? 0 : (v > zExtent ? zExtent : v));
  };

  TSRTM tile;
  TSTL stl;
  const L step = static_cast<L>(std::max(s.XYResolution, 1)) / 100000;
  const TileRange range = RegionTiles(s);
  for (std::int32_t lon = range.West; lon <= range.East; ++lon) {
    for (std::int32_t lat = range.South; lat <= range.North; ++lat) {
      const auto west16 = static_cast<std::int16_t>(lon);
      const auto south16 = static_cast<std::int16_t>(lat);
      if (const auto source = FindTileSource(folders, TileFileName(lon, lat), s.Blocks())) {
        tile.LoadFromFile(source->Path, west16, south16);
      } else if (s.MissedDataZero) {
        tile.FillConstant(0, west16, south16);
      } else {
        continue;
      }
      tile.HealVoids(3);
      if (tile.Kind() == TileKind::NotATile) continue;
      const L west = ClampFloat(s.LonMin, lon, lon + 1);
      const L east = ClampFloat(s.LonMax, lon, lon + 1);
      const L south = ClampFloat(s.LatMin, lat, lat + 1);
      const L north = ClampFloat(s.LatMax, lat, lat + 1);
      const auto columns = static_cast<std::int64_t>(std::trunc((east - west) / step)) + 1;
      const auto rows = static_cast<std::int64_t>(std::trunc((north - south) / step)) + 1;
      const L width = (east - west) / static_cast<L>(columns);
      const L height = (north - south) / static_cast<L>(rows);
      const auto vertex = [&](L lo, L la) {
        return MakeVec(x(lo), y(la), z(tile.ElevationAt(lo, la)));
      };
      // Cell edges step from the clip box's west (south) side and end on its east (north) side.
      const auto lonEdge = [&](std::int64_t q) {
        return q == columns ? east : west + static_cast<L>(q) * width;
      };
      const auto latEdge = [&](std::int64_t r) {
        return r == rows ? north : south + static_cast<L>(r) * height;
      };
      for (std::int64_t q = 0; q < columns; ++q) {
        for (std::int64_t r = 0; r < rows; ++r) {
          const L lonW = lonEdge(q);
          const L lonE = lonEdge(q + 1);
          const L latS = latEdge(r);
          const L latN = latEdge(r + 1);
          const L fu = fractions[below(101)];
          const L fv = fractions[below(101)];
          const Vec3 c = vertex(lonW + fu * width, latS + fv * height);
          const Vec3 nw = vertex(lonW, latN);
          const Vec3 sw = vertex(lonW, latS);
          const Vec3 se = vertex(lonE, latS);
          const Vec3 ne = vertex(lonE, latN);
          if (nw.z == sw.z && nw.z == se.z && nw.z == ne.z && nw.z == c.z) {
            stl.AddFace(nw, sw, ne);
            stl.AddFace(sw, se, ne);
          } else {
            stl.AddFace(nw, sw, c);
            stl.AddFace(sw, se, c);
            stl.AddFace(se, ne, c);
            stl.AddFace(ne, nw, c);
          }
        }
      }
    }
  }
  stl.SaveBinary(s.StlFileName);
}

// The unit normal of a face as the vector rules first computed it: every component in 80-bit
// extended precision, rounded to single once.
Vec3 ExtendedNormal(const test::StlFace& f) {
  using L = long double;
  const auto sub = [](Vec3 a, Vec3 b) {
    return Vec3{static_cast<float>(L{b.x} - L{a.x}), static_cast<float>(L{b.y} - L{a.y}),
                static_cast<float>(L{b.z} - L{a.z})};
  };
  const Vec3 d1 = sub(f.c, f.a);
  const Vec3 d2 = sub(f.b, f.a);
  const Vec3 n{static_cast<float>(L{d2.y} * L{d1.z} - L{d2.z} * L{d1.y}),
               static_cast<float>(L{d2.z} * L{d1.x} - L{d2.x} * L{d1.z}),
               static_cast<float>(L{d2.x} * L{d1.y} - L{d2.y} * L{d1.x})};
  const auto length =
      static_cast<float>(std::sqrt(L{n.x} * L{n.x} + L{n.y} * L{n.y} + L{n.z} * L{n.z}));
  if (!(length > 0)) return n;
  const auto k = static_cast<float>(1.0L / L{length});
  return {static_cast<float>(L{n.x} * L{k}), static_cast<float>(L{n.y} * L{k}),
          static_cast<float>(L{n.z} * L{k})};
}

class StreamingModelTest : public test::ModelRunTest {
 protected:
  StreamingModelTest() { options.Seed = 0x5EED0F0A11CE5ULL; }

  void Region(float lon1, float lon2, float lat1, float lat2, float pixel) {
    test::SetRegion(panel, lon1, lon2, lat1, lat2);
    panel.XYPixelSize = pixel;
  }

  // The file the streaming generation writes with threads threads.
  std::vector<unsigned char> Stream(Workspace& over, unsigned threads) {
    options.Threads = threads;
    EXPECT_EQ(Run(over), RunOutcome::Completed);
    return test::ReadBytes(Out());
  }

  std::vector<unsigned char> Reference(const Workspace& over) {
    MakeReferenceModel(ReadModelSettings(panel), over.Folders, *options.Seed);
    return test::ReadBytes(Out());
  }

  // Every case of the real tiles gives the reference's bytes with one and with two threads.
  void ExpectReferenceBytes(const std::string& what) {
    SCOPED_TRACE(what);
    Workspace shared(MakeDataFolders(OROLITH_SHARED_DATA));
    const std::vector<unsigned char> reference = Reference(shared);
    ASSERT_GT(reference.size(), 84U + 50U * 1000U);
    for (const unsigned threads : {1U, 2U}) {
      SCOPED_TRACE(testing::Message() << threads << " threads");
      const std::vector<unsigned char> streamed = Stream(shared, threads);
      ASSERT_EQ(streamed.size(), reference.size());
      const auto mismatch = std::mismatch(streamed.begin(), streamed.end(), reference.begin());
      EXPECT_TRUE(mismatch.first == streamed.end())
          << "first difference at byte " << (mismatch.first - streamed.begin());
    }
  }
};

// ---------------------------------------------------------------------------------------
// The face list's bytes

TEST_F(StreamingModelTest, RealTilesGiveTheFaceListsBytesWithOneAndTwoThreads) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N50E008.hgt");
  // One tile, fractional bounds, a pedestal.
  Region(-71.83F, -71.17F, 44.11F, 44.52F, 250);
  panel.Z1 = 300;
  panel.Z2 = 1900;
  panel.XExtent = 120;
  panel.ZExtent = 15;
  panel.ZBasePercent = 10;
  ExpectReferenceBytes("N44W072");

  // The seam between two tiles with voids, healed; a band below most of the terrain.
  Region(8.81F, 9.26F, 50.33F, 50.61F, 180);
  panel.Z1 = 100;
  panel.Z2 = 600;
  ExpectReferenceBytes("N50E008 and N50E009");

  // Mostly sea at 0 m: long runs of flat cells of two faces.
  Region(11.05F, 11.95F, 57.1F, 57.45F, 400);
  panel.Z1 = 0;
  panel.Z2 = 200;
  ExpectReferenceBytes("N57E011");

  // Whole-degree bounds bring in a missing neighbour, filled with 0 m; the SRTM-1 tile.
  Region(-66.0F, -65.0F, -45.75F, -45.5F, 200);
  panel.MissedDataZero = true;
  ExpectReferenceBytes("S46W066 beside a constant fill");
}

TEST_F(StreamingModelTest, BandsOfManyRowsAndOfFewGiveTheSameBytes) {
  // A column of more rows than there are centre fractions takes its centre longitudes from
  // a table, one of fewer works each out; both give the face list's bytes, across the seam.
  panel.MissedDataZero = true;
  root.Tile("SRTM_30/N46E007.hgt", 121,
            [](int r, int c) { return (r * 37 + c * 11) % 900 + 20 * (r % 7); });
  for (const float pixel : {600.0F, 7000.0F}) {
    SCOPED_TRACE(pixel);
    Region(7.3F, 8.2F, 46.05F, 46.95F, pixel);
    const std::vector<unsigned char> reference = Reference(workspace);
    for (const unsigned threads : {1U, 2U, 3U}) {
      EXPECT_EQ(Stream(workspace, threads), reference) << threads << " threads";
    }
  }
}

TEST_F(StreamingModelTest, NormalsInDoubleRoundAsInExtendedPrecisionOnEveryRealTile) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_1/S46W066.hgt");
  Workspace shared(MakeDataFolders(OROLITH_SHARED_DATA));
  struct Tile {
    int lon, lat;
    float pixel;
  };
  const Tile tiles[] = {{8, 50, 400},  {9, 50, 400}, {-72, 44, 400},
                        {11, 57, 400}, {10, 0, 400}, {-66, -46, 200}};
  panel.Z1 = 0;
  panel.Z2 = 2000;
  panel.ZExtent = 25;
  std::size_t faces = 0;
  std::size_t differ = 0;
  for (const Tile& t : tiles) {
    Region(static_cast<float>(t.lon) + 0.001F, static_cast<float>(t.lon) + 0.999F,
           static_cast<float>(t.lat) + 0.001F, static_cast<float>(t.lat) + 0.999F, t.pixel);
    const test::StlFile stl = test::DecodeStl(Stream(shared, 2));
    for (const test::StlFace& f : stl.faces) {
      const Vec3 n = ExtendedNormal(f);
      if (std::memcmp(&n, &f.normal, sizeof n) != 0) ++differ;
    }
    faces += stl.faces.size();
  }
  EXPECT_GT(faces, 1'000'000U);
  EXPECT_EQ(differ, 0U) << "of " << faces << " faces";
}

TEST_F(StreamingModelTest, APipeReceivesTheSameBytesCountFirst) {
  panel.MissedDataZero = true;
  Region(7.2F, 7.9F, 46.1F, 46.3F, 3000);
  const std::vector<unsigned char> file = Stream(workspace, 2);

  const fs::path fifo = root.Path() / "pipe";
  test::PipeReader pipe(fifo);
  panel.StlFileName = fifo.string();
  EXPECT_NO_THROW(Run());
  const std::vector<unsigned char>& received = pipe.Collect();
  ASSERT_EQ(received.size(), file.size());
  EXPECT_EQ(std::string(received.begin(), received.begin() + 13), "Binary STL : ");
  EXPECT_TRUE(std::equal(received.begin() + 80, received.end(), file.begin() + 80));
  EXPECT_EQ(host.lines.back(), "File has been saved");
}

TEST_F(StreamingModelTest, AFileInAFolderThatTakesNoNewFileKeepsItsBytesUntilTheModelIsDone) {
  struct WatchingHost : RecordingHost {
    void ReportProgress(std::uint64_t, std::uint64_t) override {
      ++reports;
      if (test::ReadBytes(file) != old) ++changedEarly;
    }
    fs::path file;
    std::vector<unsigned char> old;
    int reports = 0;
    int changedEarly = 0;
  };
  panel.MissedDataZero = true;
  Region(7.2F, 7.9F, 46.1F, 46.3F, 3000);
  const std::vector<unsigned char> file = Stream(workspace, 2);

  // The folder takes no new file, so the model can only overwrite the file in place; a run
  // that stopped half-way must not have destroyed it.
  const fs::path locked = root.Path() / "locked";
  fs::create_directory(locked);
  panel.StlFileName = (locked / "model.stl").string();
  const std::vector<unsigned char> old(5000, 0xAA);
  test::WriteBytes(panel.StlFileName, old);
  test::HandOver(locked);
  test::HandOver(panel.StlFileName);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  test::WithoutPrivileges([&] {
    WatchingHost watching;
    watching.file = panel.StlFileName;
    watching.old = old;
    EXPECT_EQ(CreateStlModel(ReadModelSettings(panel), workspace, watching, options),
              RunOutcome::Completed);
    EXPECT_GT(watching.reports, 0);
    EXPECT_EQ(watching.changedEarly, 0);
    EXPECT_EQ(watching.lines.back(), "File has been saved");
    const std::vector<unsigned char> saved = test::ReadBytes(panel.StlFileName);
    ASSERT_EQ(saved.size(), file.size());
    EXPECT_TRUE(std::equal(saved.begin() + 80, saved.end(), file.begin() + 80));
  });
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(test::FolderEntries(locked), std::vector<std::string>{"model.stl"});
}

}  // namespace
}  // namespace orolith
