#pragma once

#include "model/mesh/STLVectors.h"
#include "support/TempFiles.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith::test {

// A binary STL file as read back: the tests' one reader of the format, written apart from the
// program's writer so that each checks the other.
struct StlFace {
  Vec3 normal;
  Vec3 a;
  Vec3 b;
  Vec3 c;
  std::uint16_t attribute;
};

struct StlFile {
  std::string header;  // all 80 bytes
  std::uint32_t count = 0;
  std::vector<StlFace> faces;  // every whole record after the count
  std::size_t size = 0;
};

inline std::uint32_t LittleEndian32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline StlFile DecodeStl(const std::vector<unsigned char>& bytes) {
  if (bytes.size() < 84) throw std::runtime_error("STL file too short");
  const auto vec = [](const unsigned char* p) {
    return Vec3{std::bit_cast<float>(LittleEndian32(p)),
                std::bit_cast<float>(LittleEndian32(p + 4)),
                std::bit_cast<float>(LittleEndian32(p + 8))};
  };
  StlFile stl;
  stl.size = bytes.size();
  stl.header.assign(bytes.begin(), bytes.begin() + 80);
  stl.count = LittleEndian32(&bytes[80]);
  for (std::size_t at = 84; at + 50 <= bytes.size(); at += 50) {
    const unsigned char* r = &bytes[at];
    stl.faces.push_back({vec(r), vec(r + 12), vec(r + 24), vec(r + 36),
                         static_cast<std::uint16_t>(r[48] | r[49] << 8)});
  }
  return stl;
}

inline StlFile ReadStl(const std::filesystem::path& file) {
  return DecodeStl(ReadBytes(file));
}

}  // namespace orolith::test
