#include "model/writers/ThreeMfChunks.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace orolith::threemf {
namespace {

constexpr std::size_t Window = 32768;

template <std::size_t N>
char* Put(char* out, const char (&text)[N]) noexcept {
  std::memcpy(out, text, N - 1);
  return out + (N - 1);
}

char* Put(char* out, std::string_view text) noexcept {
  if (text.empty()) return out;  // an empty view may hold no pointer at all
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// The shortest text that reads back to the same float.
char* PutFloat(char* out, std::uint32_t bits) noexcept {
  return std::to_chars(out, out + 24, std::bit_cast<float>(bits)).ptr;
}

char* PutIndex(char* out, std::uint32_t index) noexcept {
  return std::to_chars(out, out + 16, index).ptr;
}

// Colour k of the group, and extruder k as both slicers' painting codes: a triangle that is
// not split is one nibble of state (bits 2..3, split count 0 in bits 0..1), states from 3 on
// the nibble 0xC and a second one of state - 3, the nibbles written last first in hex.
char* PutPaint(char* out, std::uint32_t paint) noexcept {
  char code[2];
  std::size_t length = 1;
  if (paint < 3) {
    code[0] = static_cast<char>('0' + 4 * paint);
  } else {
    code[0] = "0123456789ABCDEF"[paint - 3];
    code[1] = 'C';
    length = 2;
  }
  const std::string_view text(code, length);
  out = PutIndex(Put(out, "\" pid=\"2\" p1=\""), paint - 1);
  out = Put(Put(out, "\" slic3rpe:mmu_segmentation=\""), text);
  return Put(Put(out, "\" paint_color=\""), text);
}

char* FormatItems(Stream stream, const Item* items, std::size_t count, char* out) noexcept {
  if (stream == Vertices) {
    for (std::size_t i = 0; i < count; ++i) {
      out = PutFloat(Put(out, "<vertex x=\""), items[i][0]);
      out = PutFloat(Put(out, "\" y=\""), items[i][1]);
      out = PutFloat(Put(out, "\" z=\""), items[i][2]);
      out = Put(out, "\"/>\n");
    }
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      const Item& t = items[i];
      out = PutIndex(Put(out, "<triangle v1=\""), t[0] & ~PaintBit);
      out = PutIndex(Put(out, "\" v2=\""), t[1] & ~PaintBit);
      out = PutIndex(Put(out, "\" v3=\""), t[2] & ~PaintBit);
      if (const std::uint32_t paint = TrianglePaint(t)) out = PutPaint(out, paint);
      out = Put(out, "\"/>\n");
    }
  }
  return out;
}

// The room ISA-L needs beside its stream at a level (0 .. 3).
std::size_t LevelBufferSize(int level) {
  switch (level) {
    case 0:
      return ISAL_DEF_LVL0_DEFAULT;
    case 1:
      return ISAL_DEF_LVL1_DEFAULT;
    case 2:
      return ISAL_DEF_LVL2_DEFAULT;
    case 3:
      return ISAL_DEF_LVL3_DEFAULT;
    default:
      throw std::invalid_argument("bad deflate level for 3MF");
  }
}

void Reserve(Job& job, std::size_t capacity) {
  if (capacity <= job.outCapacity) return;
  auto grown = std::make_unique_for_overwrite<unsigned char[]>(capacity);
  if (job.outSize > 0) std::memcpy(grown.get(), job.out.get(), job.outSize);
  job.out = std::move(grown);
  job.outCapacity = capacity;
}

void Check(int result) {
  if (result != COMP_OK) throw std::logic_error("deflate failed");
}

}  // namespace

Compressor::Compressor(int vertexLevel, int triangleLevel, std::size_t textCapacity)
    : stream_(std::make_unique<isal_zstream>()),
      text_(std::make_unique_for_overwrite<char[]>(textCapacity)) {
  for (const Stream s : {Vertices, Triangles}) {
    const int level = s == Vertices ? vertexLevel : triangleLevel;
    levelBufferSizes_[s] = LevelBufferSize(level);
    levels_[s] = static_cast<std::uint32_t>(level);
    levelBuffers_[s] = std::make_unique_for_overwrite<std::uint8_t[]>(levelBufferSizes_[s] + 1);
  }
}

Compressor::~Compressor() = default;

void Compressor::Run(Job& job) {
  char* const text = text_.get();
  char* const chunk = FormatItems(job.stream, job.items.get(), job.context, text);
  char* end = Put(chunk, job.prefix);
  end = FormatItems(job.stream, job.items.get() + job.context, job.count, end);
  end = Put(end, job.suffix);
  const auto size = static_cast<std::size_t>(end - chunk);
  auto* const input = reinterpret_cast<std::uint8_t*>(chunk);
  job.crc = crc32_gzip_refl(0, input, size);
  job.textSize = size;

  // Raw deflate (no wrapper): the zip holds no header of its own. A chunk that doesn't end
  // the stream ends on a byte boundary, not as a final block, so the next one can follow.
  isal_zstream& z = *stream_;
  isal_deflate_init(&z);
  z.level = levels_[job.stream];
  z.level_buf = levelBuffers_[job.stream].get();
  z.level_buf_size = static_cast<std::uint32_t>(levelBufferSizes_[job.stream]);
  z.gzip_flag = IGZIP_DEFLATE;
  z.end_of_stream = job.last ? 1 : 0;
  z.flush = job.last ? NO_FLUSH : SYNC_FLUSH;
  const auto primed = std::min<std::size_t>(static_cast<std::size_t>(chunk - text), Window);
  if (primed > 0)
    Check(isal_deflate_set_dict(&z, input - primed, static_cast<std::uint32_t>(primed)));
  z.next_in = input;
  z.avail_in = static_cast<std::uint32_t>(size);
  // Text that doesn't shrink is stored: a few bytes a block on top of it.
  Reserve(job, size + size / 16 + 1024);
  job.outSize = 0;
  for (;;) {
    z.next_out = job.out.get() + job.outSize;
    z.avail_out = static_cast<std::uint32_t>(job.outCapacity - job.outSize);
    Check(isal_deflate(&z));
    job.outSize = static_cast<std::size_t>(z.next_out - job.out.get());
    if (job.last ? z.internal_state.state == ZSTATE_END : z.avail_in == 0 && z.avail_out > 0) {
      break;
    }
    Reserve(job, 2 * job.outCapacity);
  }
}

}  // namespace orolith::threemf
