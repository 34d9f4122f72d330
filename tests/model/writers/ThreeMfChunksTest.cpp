// A chunk of the model's text deflated on its own: the text it stands for, and chunks that
// inflate as one stream when joined.

#include "model/writers/ThreeMfChunks.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith::threemf {
namespace {

// Raw deflate data, as the zip holds it, inflated.
std::string Inflate(const std::vector<unsigned char>& data) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::runtime_error("inflateInit2");
  std::string text;
  std::vector<unsigned char> out(1 << 16);
  z.next_in = const_cast<unsigned char*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  int result = Z_OK;
  while (result == Z_OK) {
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    result = inflate(&z, Z_NO_FLUSH);
    text.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    if (result == Z_BUF_ERROR && z.avail_in == 0) break;  // the stream has no end
  }
  inflateEnd(&z);
  if (result != Z_STREAM_END)
    throw std::runtime_error("inflate ended with " + std::to_string(result));
  return text;
}

Job MakeJob(Stream stream, const std::vector<Item>& items, std::size_t from, std::size_t to) {
  Job job;
  job.stream = stream;
  job.context = std::min(from, ContextItems);
  job.count = to - from;
  job.items = std::make_unique<Item[]>(job.context + job.count);
  std::copy(items.begin() + static_cast<std::ptrdiff_t>(from - job.context),
            items.begin() + static_cast<std::ptrdiff_t>(to), job.items.get());
  return job;
}

void Compress(Job& job, int level, std::size_t items) {
  Compressor compressor(level, level, (ContextItems + items) * MaxItemText + 64);
  compressor.Run(job);
}

std::vector<unsigned char> Data(const Job& job) {
  return {job.out.get(), job.out.get() + job.outSize};
}

TEST(ThreeMfChunks, AChunkIsItsPrefixItsItemsAsShortestTextAndItsSuffix) {
  const std::vector<Item> vertices = {
      {std::bit_cast<std::uint32_t>(1.5F), std::bit_cast<std::uint32_t>(-0.1F),
       std::bit_cast<std::uint32_t>(250.0F)},
      {std::bit_cast<std::uint32_t>(0.0F), std::bit_cast<std::uint32_t>(3e38F),
       std::bit_cast<std::uint32_t>(-7.25F)}};
  Job job = MakeJob(Vertices, vertices, 0, 2);
  job.prefix = "<vertices>\n";
  job.suffix = "</vertices>\n";
  job.last = true;
  Compress(job, 1, 2);
  const std::string expected =
      "<vertices>\n"
      "<vertex x=\"1.5\" y=\"-0.1\" z=\"250\"/>\n"
      "<vertex x=\"0\" y=\"3e+38\" z=\"-7.25\"/>\n"
      "</vertices>\n";
  EXPECT_EQ(Inflate(Data(job)), expected);
  EXPECT_EQ(job.textSize, expected.size());
  EXPECT_EQ(job.crc, crc32(0, reinterpret_cast<const Bytef*>(expected.data()),
                           static_cast<uInt>(expected.size())));

  // The largest index a package holds: the top bit carries a paint.
  Job triangles = MakeJob(Triangles, {{0, 7, 2147483647U}}, 0, 1);
  triangles.last = true;
  Compress(triangles, 3, 1);
  EXPECT_EQ(Inflate(Data(triangles)), "<triangle v1=\"0\" v2=\"7\" v3=\"2147483647\"/>\n");
}

struct SplitCase {
  Stream stream;
  int level;
  std::size_t items;
  std::size_t split;  // where the second chunk starts
};

std::ostream& operator<<(std::ostream& os, const SplitCase& c) {
  return os << (c.stream == Vertices ? "vertices" : "triangles") << " at level " << c.level << ", "
            << c.items << " split at " << c.split;
}

class ThreeMfChunkSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ThreeMfChunkSplit, TwoChunksJoinedInflateAsTheTextOfOne) {
  const SplitCase c = GetParam();
  std::vector<Item> items(c.items);
  for (std::size_t i = 0; i < c.items; ++i) {
    const auto n = static_cast<std::uint32_t>(i);
    items[i] = c.stream == Vertices
                   ? Item{std::bit_cast<std::uint32_t>(0.37F * static_cast<float>(n % 97)),
                          std::bit_cast<std::uint32_t>(1.0F / static_cast<float>(n + 1)),
                          std::bit_cast<std::uint32_t>(100.0F + static_cast<float>(n % 13))}
                   : Item{n, n + 1, (n * 7919) % 5000};
  }
  Job whole = MakeJob(c.stream, items, 0, c.items);
  whole.last = true;
  Compress(whole, c.level, c.items);
  const std::string text = Inflate(Data(whole));
  const std::string tag = c.stream == Vertices ? "<vertex " : "<triangle ";
  std::size_t lines = 0;
  for (std::size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1))
    ++lines;
  ASSERT_EQ(lines, c.items);

  Job first = MakeJob(c.stream, items, 0, c.split);
  Job second = MakeJob(c.stream, items, c.split, c.items);
  second.last = true;
  Compress(first, c.level, c.items);
  Compress(second, c.level, c.items);
  std::vector<unsigned char> joined = Data(first);
  joined.insert(joined.end(), second.out.get(), second.out.get() + second.outSize);
  EXPECT_EQ(Inflate(joined), text);
  EXPECT_EQ(first.textSize + second.textSize, text.size());
  EXPECT_EQ(crc32_combine(first.crc, second.crc, static_cast<z_off_t>(second.textSize)), whole.crc);
}

const SplitCase splits[] = {
    {Vertices, 0, 3000, 10},  {Vertices, 1, 3000, 2500},  {Vertices, 3, 3000, 1500},
    {Triangles, 1, 3000, 10}, {Triangles, 2, 3000, 2500}, {Triangles, 3, 40, 39},
};
INSTANTIATE_TEST_SUITE_P(Cases, ThreeMfChunkSplit, ::testing::ValuesIn(splits));

TEST(ThreeMfChunks, RefusesALevelISALDoesNotHave) {
  EXPECT_THROW(Compressor(4, 1, 64), std::invalid_argument);
  EXPECT_THROW(Compressor(1, -1, 64), std::invalid_argument);
}

}  // namespace
}  // namespace orolith::threemf
