#include "preview/PackedData.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

// The two files are assembled into the library's read-only data, so that both programs find
// them wherever they run.
#define OROLITH_EMBED(name, file) \
  asm(".section .rodata\n"        \
      ".balign 16\n"              \
      ".global orolith_" name     \
      "_begin\n"                  \
      "orolith_" name             \
      "_begin:\n"                 \
      ".incbin \"" file           \
      "\"\n"                      \
      ".global orolith_" name     \
      "_end\n"                    \
      "orolith_" name             \
      "_end:\n"                   \
      ".previous\n")

OROLITH_EMBED("geography", OROLITH_GEOGRAPHY_FILE);
OROLITH_EMBED("places", OROLITH_PLACES_FILE);

extern "C" const unsigned char orolith_geography_begin[];
extern "C" const unsigned char orolith_geography_end[];
extern "C" const unsigned char orolith_places_begin[];
extern "C" const unsigned char orolith_places_end[];

namespace orolith {

std::span<const unsigned char> BuiltinGeography() noexcept {
  return {orolith_geography_begin, orolith_geography_end};
}

std::span<const unsigned char> BuiltinPlaces() noexcept {
  return {orolith_places_begin, orolith_places_end};
}

std::vector<unsigned char> UnpackMapFile(std::span<const unsigned char> file,
                                         std::string_view magic, std::string_view what) {
  const std::size_t header = magic.size() + 4;
  if (file.size() < header || std::memcmp(file.data(), magic.data(), magic.size()) != 0) {
    throw std::runtime_error(std::string(what) + ": not a file of this kind");
  }
  const unsigned char* size = file.data() + magic.size();
  const std::uint32_t length =
      static_cast<std::uint32_t>(size[0]) | static_cast<std::uint32_t>(size[1]) << 8 |
      static_cast<std::uint32_t>(size[2]) << 16 | static_cast<std::uint32_t>(size[3]) << 24;
  std::vector<unsigned char> payload(length);
  uLongf inflated = length;
  const int result = uncompress(payload.data(), &inflated, file.data() + header,
                                static_cast<uLong>(file.size() - header));
  if (result != Z_OK || inflated != length) {
    throw std::runtime_error(std::string(what) + ": the packed data are damaged");
  }
  return payload;
}

std::uint64_t PayloadReader::Varint() {
  std::uint64_t value = 0;
  for (unsigned shift = 0; shift < 64; shift += 7) {
    if (at_ == bytes_.size()) Truncated();
    const unsigned char byte = bytes_[at_++];
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return value;
  }
  Truncated();
}

std::string PayloadReader::Text() {
  const std::uint64_t length = Varint();
  if (length > bytes_.size() - at_) Truncated();
  std::string text(reinterpret_cast<const char*>(bytes_.data() + at_),
                   static_cast<std::size_t>(length));
  at_ += static_cast<std::size_t>(length);
  return text;
}

void PayloadReader::Truncated() const {
  throw std::runtime_error(what_ + ": the data end early");
}

}  // namespace orolith
