#pragma once

// Copernicus tiles with one field of their file rewritten, as an attacker's would be: for the
// tile reader's tests and the fuzz target's seeds.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith::test {

// TIFF tags the patches rewrite.
inline constexpr std::uint16_t TileWidthTag = 322;
inline constexpr std::uint16_t TileLengthTag = 323;
inline constexpr std::uint16_t TileOffsetsTag = 324;

inline std::uint32_t LittleEndian(const std::vector<unsigned char>& bytes, std::size_t at,
                                  int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes.at(at + static_cast<unsigned>(i));
  return value;
}

// Sets tag of the first directory of a little-endian TIFF (not BigTIFF) in bytes to the one LONG
// value; for the offsets of the tiles, the first of them.
inline void PatchTiffTag(std::vector<unsigned char>& bytes, std::uint16_t tag,
                         std::uint32_t value) {
  if (bytes.size() < 8 || bytes[0] != 'I' || bytes[1] != 'I' || LittleEndian(bytes, 2, 2) != 42) {
    throw std::invalid_argument("not a little-endian TIFF");
  }
  const std::size_t directory = LittleEndian(bytes, 4, 4);
  const std::uint32_t entries = LittleEndian(bytes, directory, 2);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::size_t entry = directory + 2 + 12 * std::size_t{i};
    if (LittleEndian(bytes, entry, 2) != tag) continue;
    std::size_t field = entry + 8;
    if (LittleEndian(bytes, entry + 4, 4) > 1) {
      // An array lies elsewhere, of LONGs in a classic TIFF; its first one is rewritten.
      field = LittleEndian(bytes, entry + 8, 4);
    } else {
      bytes.at(entry + 2) = 4;  // LONG
      bytes.at(entry + 3) = 0;
    }
    for (unsigned b = 0; b < 4; ++b) {
      bytes.at(field + b) = static_cast<unsigned char>(value >> (8 * b));
    }
    return;
  }
  throw std::invalid_argument("the TIFF has no tag " + std::to_string(tag));
}

struct TilePatch {
  const char* what;
  std::uint16_t tag;
  std::uint32_t value;
};

// Fields whose values a reader must bound before it allocates or loops by them.
inline const std::vector<TilePatch>& TilePatches() {
  static const std::vector<TilePatch> patches = {
      {"tiles of 65520 x 65520", TileWidthTag, 65520},
      {"tiles 65520 long", TileLengthTag, 65520},
      {"tiles 2147483632 wide", TileWidthTag, 2147483632U},
      {"tiles of 8 pixels", TileWidthTag, 8},
      {"a tile past the end", TileOffsetsTag, 0xFFFFFF00U},
  };
  return patches;
}

}  // namespace orolith::test
