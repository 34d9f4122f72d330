#pragma once

#include "model/writers/ThreeMfOptions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

struct isal_zstream;

namespace orolith::threemf {

using Item = ThreeMfItem;

// The model part's two streams of text: the vertices, then the triangles.
enum Stream : int { Vertices = 0, Triangles = 1 };

// A deflate window's worth of the text before a chunk: 1024 items are 28 kB at the very least
// and about 50 kB as a model's numbers come.
constexpr std::size_t ContextItems = 1024;
// The longest text of one item: a vertex of three 15-character floats ("-1.17549435e-38"),
// or a triangle of three 10-digit indices; a painted triangle's paint adds at most MaxPaintText.
constexpr std::size_t MaxItemText = 25 + 3 * 15;
constexpr std::size_t MaxPaintText = 64;

// A triangle's paint rides in the top bit of its three indices, which no vertex index uses:
// 0 unpainted, else colour 1 .. 7 of the package's colour group.
constexpr std::uint32_t PaintBit = std::uint32_t{1} << 31;
inline std::uint32_t TrianglePaint(const Item& t) noexcept {
  return (t[0] >> 31) | (t[1] >> 31) << 1 | (t[2] >> 31) << 2;
}

// One chunk of one stream: its items in, its deflate data out. The context items before the
// chunk's own are the end of what the stream held before it; their text primes the
// dictionary, so that the chunk's data may refer back into the chunk before it.
struct Job {
  Stream stream = Vertices;
  std::unique_ptr<Item[]> items;  // context, then the chunk's own
  std::size_t context = 0;
  std::size_t count = 0;
  std::string_view prefix;
  std::string_view suffix;
  bool last = false;  // ends the deflate stream; every other chunk ends on a byte boundary

  std::unique_ptr<unsigned char[]> out;
  std::size_t outCapacity = 0;
  std::size_t outSize = 0;
  std::uint32_t crc = 0;
  std::uint64_t textSize = 0;
};

// A deflate stream and room for one chunk's text: one for each thread. ISA-L deflates the
// model's text about six times as fast as zlib's fastest level, into fewer bytes, and computes
// its CRCs; zlib joins them.
class Compressor {
 public:
  // Levels 0 .. 3, else std::invalid_argument; textCapacity holds the text of a job's items
  // with its prefix and suffix.
  Compressor(int vertexLevel, int triangleLevel, std::size_t textCapacity);
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
  ~Compressor();

  // Fills the job's text size, CRC and raw deflate data.
  void Run(Job& job);

 private:
  // Some 70 kB of state and history, owning nothing else: ISA-L's deflate has no end call.
  std::unique_ptr<isal_zstream> stream_;
  std::uint32_t levels_[2]{};
  std::size_t levelBufferSizes_[2]{};
  std::unique_ptr<std::uint8_t[]> levelBuffers_[2];
  std::unique_ptr<char[]> text_;
};

}  // namespace orolith::threemf
