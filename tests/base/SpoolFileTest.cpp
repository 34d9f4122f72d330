#include "base/SpoolFile.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace orolith {
namespace {

std::vector<unsigned char> Copied(const SpoolFile& spool, std::size_t& blocks) {
  std::vector<unsigned char> out;
  blocks = 0;
  spool.CopyTo([&](const unsigned char* data, std::size_t size) {
    EXPECT_LE(size, std::size_t{1} << 20);
    out.insert(out.end(), data, data + size);
    ++blocks;
  });
  return out;
}

TEST(SpoolFile, GivesBackWhatWasWrittenAndWrittenOverInBlocks) {
  SpoolFile spool;
  std::size_t blocks = 0;
  EXPECT_TRUE(Copied(spool, blocks).empty());
  EXPECT_EQ(blocks, 0U);

  std::vector<unsigned char> expected;
  for (std::size_t piece = 0; piece < 30; ++piece) {
    std::vector<unsigned char> bytes(100'000 + piece);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<unsigned char>(i * 7 + piece);
    }
    spool.Write(bytes.data(), bytes.size());
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  const unsigned char middle[] = {1, 2, 3, 4};
  spool.WriteAt(1'500'000, middle, sizeof middle);
  std::copy(std::begin(middle), std::end(middle), expected.begin() + 1'500'000);
  // Over the end: the spool grows.
  const std::size_t end = expected.size();
  spool.WriteAt(end - 2, middle, sizeof middle);
  expected.resize(end + 2);
  std::copy(std::begin(middle), std::end(middle), expected.begin() + static_cast<long>(end) - 2);
  EXPECT_EQ(spool.Size(), expected.size());

  EXPECT_EQ(Copied(spool, blocks), expected);
  EXPECT_EQ(blocks, 3U);
  // Writes go on at the end after a copy.
  spool.Write(middle, 1);
  expected.push_back(1);
  EXPECT_EQ(Copied(spool, blocks), expected);
}

}  // namespace
}  // namespace orolith
