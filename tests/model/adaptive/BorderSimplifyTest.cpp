#include "model/adaptive/BorderSimplify.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace orolith {
namespace {

// Whether the straight segment from sample i to sample j passes within maxError of every
// sample between them, worked out directly.
bool SegmentFits(const std::vector<float>& h, std::size_t i, std::size_t j, float maxError) {
  for (std::size_t k = i + 1; k < j; ++k) {
    const double t = static_cast<double>(k - i) / static_cast<double>(j - i);
    const double z = h[i] + t * (static_cast<double>(h[j]) - h[i]);
    if (std::fabs(z - h[k]) > maxError) return false;
  }
  return true;
}

// The fewest kept samples by trying every segment: a breadth-first search from the first.
std::size_t FewestByBruteForce(const std::vector<float>& h, float maxError) {
  const std::size_t n = h.size();
  std::vector<std::size_t> hops(n, std::numeric_limits<std::size_t>::max());
  hops[0] = 0;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      if (hops[i] + 1 < hops[j] && SegmentFits(h, i, j, maxError)) hops[j] = hops[i] + 1;
    }
  }
  return hops[n - 1] + 1;
}

struct PolylineCase {
  std::string name;
  std::vector<float> heights;
  float maxError;
  std::vector<std::uint32_t> expected;  // empty: only the general promises are checked
};

std::vector<float> Noise(std::size_t n, unsigned seed, float amplitude) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<float> d(-amplitude, amplitude);
  std::vector<float> h(n);
  for (float& z : h) z = d(engine);
  return h;
}

std::vector<PolylineCase> PolylineCases() {
  std::vector<PolylineCase> cases = {
      {"one sample", {3}, 0.5F, {0}},
      {"two samples", {3, 9}, 0.5F, {0, 1}},
      {"flat", std::vector<float>(40, 7.0F), 0, {0, 39}},
      {"straight slope", {0, 1, 2, 3, 4, 5, 6}, 0, {0, 6}},
      {"peak in the middle", {0, 1, 2, 3, 2, 1, 0}, 0.1F, {0, 3, 6}},
      {"peak within the error", {0, 1, 2, 3, 2, 1, 0}, 3, {0, 6}},
      {"step", {0, 0, 0, 0, 10, 10, 10, 10}, 0.5F, {0, 3, 4, 7}},
      // The segment 0-2 misses sample 1 by 1.5, while 0-3 passes every sample within 1: the
      // acceptable segments out of a sample are not a prefix.
      {"a longer segment fits where a shorter does not", {0, 2, 1, 3}, 1, {0, 3}},
      {"every sample needed", {0, 5, 0, 5, 0, 5}, 0.1F, {0, 1, 2, 3, 4, 5}},
      {"error exactly met", {0, 1, 0}, 1, {0, 2}},
  };
  for (unsigned seed = 1; seed <= 12; ++seed) {
    cases.push_back({"noise " + std::to_string(seed), Noise(20 + 7 * seed, seed, 4), 1.5F, {}});
    cases.push_back({"noise at error 0 " + std::to_string(seed), Noise(15, seed, 4), 0, {}});
  }
  std::vector<float> wave(300);
  for (std::size_t i = 0; i < wave.size(); ++i) {
    wave[i] = static_cast<float>(50 * std::sin(static_cast<double>(i) / 17));
  }
  cases.push_back({"long wave", wave, 0.25F, {}});
  return cases;
}

class PolylineSimplifierTest : public testing::TestWithParam<PolylineCase> {};

TEST_P(PolylineSimplifierTest, KeepsTheFewestSamplesThatHoldEverySampleWithinTheError) {
  const PolylineCase& c = GetParam();
  PolylineSimplifier simplifier;
  std::vector<std::uint32_t> kept = {99, 98};  // whatever was there goes
  simplifier.Simplify(c.heights, c.maxError, kept);

  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept.front(), 0U);
  EXPECT_EQ(kept.back(), c.heights.size() - 1);
  for (std::size_t k = 1; k < kept.size(); ++k) {
    ASSERT_LT(kept[k - 1], kept[k]);
    EXPECT_TRUE(SegmentFits(c.heights, kept[k - 1], kept[k], c.maxError))
        << "segment " << kept[k - 1] << " - " << kept[k];
  }
  if (c.heights.size() > 1) {
    EXPECT_EQ(kept.size(), FewestByBruteForce(c.heights, c.maxError));
  }
  if (!c.expected.empty()) {
    EXPECT_EQ(kept, c.expected);
  }
}

std::string CaseName(const testing::TestParamInfo<PolylineCase>& param) {
  std::string name = param.param.name;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Polylines, PolylineSimplifierTest, testing::ValuesIn(PolylineCases()),
                         CaseName);

TEST(PolylineSimplifier, GivesTheSameAnswerWhateverItSimplifiedBefore) {
  PolylineSimplifier simplifier;
  const std::vector<float> h = Noise(60, 5, 3);
  std::vector<std::uint32_t> first;
  simplifier.Simplify(h, 1, first);
  std::vector<std::uint32_t> other;
  simplifier.Simplify(Noise(200, 6, 9), 0.2F, other);
  std::vector<std::uint32_t> again;
  simplifier.Simplify(h, 1, again);
  EXPECT_EQ(first, again);
}

TEST(PolylineSimplifier, TakesANegativeErrorAsZero) {
  PolylineSimplifier simplifier;
  std::vector<std::uint32_t> kept;
  simplifier.Simplify(std::vector<float>{0, 1, 2, 4}, -1, kept);
  EXPECT_EQ(kept, (std::vector<std::uint32_t>{0, 2, 3}));
}

TEST(PolylineSimplifier, KeepsNothingOfNoSamples) {
  PolylineSimplifier simplifier;
  std::vector<std::uint32_t> kept = {1};
  simplifier.Simplify(std::vector<float>{}, 1, kept);
  EXPECT_TRUE(kept.empty());
}

}  // namespace
}  // namespace orolith
