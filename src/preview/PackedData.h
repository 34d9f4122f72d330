#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// The map's geography and place names, built into the program (data/*.bin, made by
// tools/make_map_data.py).
std::span<const unsigned char> BuiltinGeography() noexcept;
std::span<const unsigned char> BuiltinPlaces() noexcept;

// The payload of a packed map file: 8 bytes of magic, the payload's size (u32, little-endian)
// and the payload deflated. Throws std::runtime_error naming what when the magic differs or
// the bytes don't inflate to that size.
std::vector<unsigned char> UnpackMapFile(std::span<const unsigned char> file,
                                         std::string_view magic, std::string_view what);

// Reads a packed payload front to back; every read past its end throws.
class PayloadReader {
 public:
  PayloadReader(std::span<const unsigned char> bytes, std::string_view what)
      : bytes_(bytes), what_(what) {}

  std::uint64_t Varint();
  std::int64_t Zigzag() {
    const std::uint64_t v = Varint();
    return static_cast<std::int64_t>(v >> 1) ^ -static_cast<std::int64_t>(v & 1);
  }
  std::string Text();
  bool AtEnd() const noexcept { return at_ == bytes_.size(); }

 private:
  [[noreturn]] void Truncated() const;

  std::span<const unsigned char> bytes_;
  std::string what_;
  std::size_t at_ = 0;
};

}  // namespace orolith
