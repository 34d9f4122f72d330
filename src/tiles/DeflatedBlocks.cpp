#include "tiles/DeflatedBlocks.h"

#include "base/Errors.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orolith {
namespace {

constexpr std::size_t SampleBytes = sizeof(float);
// A read that needs no more than this share of a block's rows inflates only as far as they go.
constexpr int PartialShare = 8;
constexpr std::size_t ReadChunk = std::size_t{1} << 16;

// Each byte of a row was stored as its difference from the byte before: the running sum gives
// it back. Sixteen bytes at a time, their sums within the group by doubling shifts, the last
// sum carried on to the next group.
void UndoDifferences(unsigned char* p, std::size_t n) noexcept {
  std::size_t i = 0;
  unsigned char sum = 0;
#if defined(__SSE2__)
  __m128i carry = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
    x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
    x = _mm_add_epi8(x, carry);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), x);
    // The last byte in every lane.
    __m128i last = _mm_srli_si128(x, 15);
    last = _mm_unpacklo_epi8(last, last);
    last = _mm_unpacklo_epi16(last, last);
    carry = _mm_shuffle_epi32(last, 0);
  }
  if (i > 0) sum = p[i - 1];
#endif
  for (; i < n; ++i) {
    sum = static_cast<unsigned char>(sum + p[i]);
    p[i] = sum;
  }
}

// A zlib stream set up for inflating, ended with its owner.
class Inflation {
 public:
  Inflation() {
    if (inflateInit(&stream_) != Z_OK) throw std::bad_alloc();
  }
  Inflation(const Inflation&) = delete;
  Inflation& operator=(const Inflation&) = delete;
  ~Inflation() { inflateEnd(&stream_); }

  z_stream& Stream() noexcept { return stream_; }

 private:
  z_stream stream_{};
};

}  // namespace

void DeflatedFloatReader::DecompressorFree::operator()(
    libdeflate_decompressor* decompressor) const noexcept {
  libdeflate_free_decompressor(decompressor);
}

DeflatedFloatReader::DeflatedFloatReader(std::string fileName, const DeflatedFloatLayout& layout,
                                         float noData, float voidHeight)
    : file_(std::move(fileName)),
      layout_(&layout),
      noData_(noData),
      voidHeight_(voidHeight),
      decompressor_(libdeflate_alloc_decompressor()) {
  if (!decompressor_) throw std::bad_alloc();
  planes_.resize(static_cast<std::size_t>(layout.BlockWidth) *
                 static_cast<std::size_t>(layout.BlockHeight) * SampleBytes);
}

void DeflatedFloatReader::Decode(int bx, int by, int rows) {
  const auto block =
      static_cast<std::size_t>(by) * static_cast<std::size_t>(layout_->BlocksAcross()) +
      static_cast<std::size_t>(bx);
  const std::uint64_t offset = layout_->Offsets.at(block);
  const std::uint64_t size = layout_->Sizes.at(block);
  const std::size_t rowBytes = static_cast<std::size_t>(layout_->BlockWidth) * SampleBytes;
  const std::size_t wanted = rowBytes * static_cast<std::size_t>(rows);
  const std::string& fileName = file_.Path();
  // Deflate never grows data by more than a few bytes in a thousand.
  if (offset == 0 || size == 0 || size > planes_.size() + planes_.size() / 64 + 1024) {
    throw CannotReadFile(fileName, "A block of the raster is missing or larger than its samples");
  }
  const auto readAt = [&](unsigned char* into, std::size_t count, std::uint64_t at) {
    file_.ReadAt(into, count, at, "The file ends inside a block of the raster");
  };
  const auto corrupt = [&] {
    return CannotReadFile(fileName, "A block of the raster can't be inflated");
  };

  if (rows * PartialShare <= layout_->BlockHeight) {
    // A row or two of a neighbour: inflated as far as they go, the rest never read.
    Inflation inflation;
    z_stream& z = inflation.Stream();
    packed_.resize(ReadChunk);
    z.next_out = planes_.data();
    z.avail_out = static_cast<uInt>(wanted);
    std::uint64_t read = 0;
    int result = Z_OK;
    while (z.avail_out > 0 && result == Z_OK) {
      if (z.avail_in == 0) {
        if (read == size) throw corrupt();
        const auto chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(ReadChunk, size - read));
        readAt(packed_.data(), chunk, offset + read);
        read += chunk;
        z.next_in = packed_.data();
        z.avail_in = static_cast<uInt>(chunk);
      }
      result = inflate(&z, Z_NO_FLUSH);
    }
    if (z.avail_out != 0 || (result != Z_OK && result != Z_STREAM_END)) throw corrupt();
  } else {
    packed_.resize(static_cast<std::size_t>(size));
    readAt(packed_.data(), packed_.size(), offset);
    // A tile is stored whole, the last strip of a striped file with the raster's rows left.
    const std::int64_t rowsLeft =
        std::int64_t{layout_->Height} - std::int64_t{by} * layout_->BlockHeight;
    const std::size_t lastStrip =
        rowBytes * static_cast<std::size_t>(std::min<std::int64_t>(layout_->BlockHeight, rowsLeft));
    std::size_t inflated = 0;
    if (libdeflate_zlib_decompress(decompressor_.get(), packed_.data(), packed_.size(),
                                   planes_.data(), planes_.size(),
                                   &inflated) != LIBDEFLATE_SUCCESS ||
        (inflated != planes_.size() && inflated != lastStrip) || inflated < wanted) {
      throw corrupt();
    }
  }
  for (int r = 0; r < rows; ++r) {
    UndoDifferences(planes_.data() + static_cast<std::size_t>(r) * rowBytes, rowBytes);
  }
}

// A row holds its samples' bytes plane by plane, the most significant plane first.
void DeflatedFloatReader::Assemble(int y, int left, int right, float* out) const noexcept {
  const auto width = static_cast<std::size_t>(layout_->BlockWidth);
  const unsigned char* row = planes_.data() + static_cast<std::size_t>(y) * width * SampleBytes;
  const unsigned char* p0 = row;
  const unsigned char* p1 = row + width;
  const unsigned char* p2 = row + 2 * width;
  const unsigned char* p3 = row + 3 * width;
  auto x = static_cast<std::size_t>(left);
  const auto end = static_cast<std::size_t>(right);
#if defined(__SSE2__)
  const __m128 noData = _mm_set1_ps(noData_);
  const __m128 voidHeight = _mm_set1_ps(voidHeight_);
  const auto store = [&](float* at, __m128i bits) {
    const __m128 h = _mm_castsi128_ps(bits);
    const __m128 isVoid = _mm_or_ps(_mm_cmpunord_ps(h, h), _mm_cmpeq_ps(h, noData));
    _mm_storeu_ps(at, _mm_or_ps(_mm_and_ps(isVoid, voidHeight), _mm_andnot_ps(isVoid, h)));
  };
  // Little-endian: the least significant plane's byte comes first in each sample.
  for (; x + 16 <= end; x += 16, out += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p3 + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p2 + x));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p1 + x));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p0 + x));
    const __m128i abLow = _mm_unpacklo_epi8(a, b);
    const __m128i abHigh = _mm_unpackhi_epi8(a, b);
    const __m128i cdLow = _mm_unpacklo_epi8(c, d);
    const __m128i cdHigh = _mm_unpackhi_epi8(c, d);
    store(out, _mm_unpacklo_epi16(abLow, cdLow));
    store(out + 4, _mm_unpackhi_epi16(abLow, cdLow));
    store(out + 8, _mm_unpacklo_epi16(abHigh, cdHigh));
    store(out + 12, _mm_unpackhi_epi16(abHigh, cdHigh));
  }
#endif
  for (; x < end; ++x, ++out) {
    const std::uint32_t bits =
        static_cast<std::uint32_t>(p0[x]) << 24 | static_cast<std::uint32_t>(p1[x]) << 16 |
        static_cast<std::uint32_t>(p2[x]) << 8 | static_cast<std::uint32_t>(p3[x]);
    float h = 0;
    std::memcpy(&h, &bits, sizeof h);
    *out = std::isnan(h) || h == noData_ ? voidHeight_ : h;
  }
}

}  // namespace orolith
