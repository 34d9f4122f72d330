// What the pipeline promises that a model run can't show: the sink gets the bands in order
// however the threads finish them, and an exception on either side leaves no band in flight.

#include "model/grid/BandPipeline.h"

#include "support/RecordingSink.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <vector>

namespace orolith {
namespace {

constexpr std::size_t Never = ~std::size_t{0};

// Each band one triangle whose first vertex's x is the band's index, after uneven work so that
// bands finish out of order.
class IndexMesher : public BandMesher {
 public:
  void Prepare(Band& band) override {
    if (band.Index == failPrepareAt) throw std::runtime_error("prepare");
    prepared.push_back(band.Index);
  }

  void Mesh(unsigned worker, Band& band) override {
    if (busy.at(worker).exchange(true)) ++sharedWorker;
    volatile double work = 0;
    for (std::size_t i = 0; i < band.Index * 7919 % 20000; ++i) work = work + 1;
    const auto x = static_cast<float>(band.Index);
    band.Mesh.Clear();
    band.Mesh.Vertices = {{x, 0, 0}, {x + 1, 0, 0}, {x, 1, 0}};
    band.Mesh.Lattice.assign(3, LatticePoint{});
    band.Mesh.Triangles = {{0, 1, 2}};
    busy[worker] = false;
    if (band.Index == failMeshAt) throw std::runtime_error("mesh");
  }

  std::vector<std::size_t> prepared;
  std::array<std::atomic<bool>, 8> busy{};
  std::atomic<int> sharedWorker{0};  // a worker index given two bands at once
  std::size_t failPrepareAt = Never;
  std::size_t failMeshAt = Never;
};

// The bands of the sink's chunks from first on, by their index.
std::vector<std::size_t> Written(const test::RecordingSink& sink, std::size_t first = 0) {
  std::vector<std::size_t> indexes;
  for (std::size_t i = first; i < sink.chunks.size(); ++i) {
    indexes.push_back(static_cast<std::size_t>(sink.chunks[i].vertices.at(0).x));
  }
  return indexes;
}

std::vector<std::size_t> Upto(std::size_t n) {
  std::vector<std::size_t> indexes(n);
  for (std::size_t i = 0; i < n; ++i) indexes[i] = i;
  return indexes;
}

TEST(BandPipeline, TheSinkGetsTheBandsInOrderWhateverTheThreads) {
  for (const unsigned threads : {1U, 2U, 3U, 4U}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    IndexMesher mesher;
    test::RecordingSink sink;
    BandPipeline pipeline(threads, sink);
    std::vector<std::size_t> reported;
    const auto written = [&](const Band& band) { reported.push_back(band.Index); };
    pipeline.Run(mesher, 300, written);
    pipeline.Run(mesher, 7, written);  // the next tile's
    std::vector<std::size_t> expected = Upto(300);
    for (const std::size_t i : Upto(7)) expected.push_back(i);
    EXPECT_EQ(mesher.prepared, expected);
    EXPECT_EQ(Written(sink), expected);
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(mesher.sharedWorker, 0);
    EXPECT_EQ(sink.offRunThread, 0);
    for (const test::RecordingSink::Chunk& chunk : sink.chunks) {
      ASSERT_EQ(chunk.encodedOnRunThread, threads == 1);
    }
  }
}

TEST(BandPipeline, AnExceptionLeavesNoBandInFlightAndTheNextRunStartsAfresh) {
  struct Case {
    const char* what;
    std::size_t prepare, mesh, written;
    std::size_t bandsWritten;  // before the exception leaves; Prepare runs ahead, so at most
  };
  const Case cases[] = {{"prepare", 37, Never, Never, 37},
                        {"mesh", Never, 37, Never, 37},
                        {"written", Never, Never, 37, 38}};
  for (const Case& c : cases) {
    for (const unsigned threads : {1U, 3U}) {
      SCOPED_TRACE(testing::Message() << c.what << ", " << threads << " threads");
      IndexMesher mesher;
      mesher.failPrepareAt = c.prepare;
      mesher.failMeshAt = c.mesh;
      test::RecordingSink sink;
      BandPipeline pipeline(threads, sink);
      try {
        pipeline.Run(mesher, 300, [&](const Band& band) {
          if (band.Index == c.written) throw std::runtime_error("written");
        });
        ADD_FAILURE() << "no exception";
      } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), c.what);
      }
      const std::size_t before = sink.chunks.size();
      EXPECT_EQ(Written(sink), Upto(before));
      EXPECT_TRUE(c.prepare != Never ? before <= c.bandsWritten : before == c.bandsWritten);
      // A band of the failed run that was still in flight would show up here.
      mesher.failPrepareAt = mesher.failMeshAt = Never;
      pipeline.Run(mesher, 10, [](const Band&) {});
      EXPECT_EQ(Written(sink, before), Upto(10));
    }
  }
}

}  // namespace
}  // namespace orolith
