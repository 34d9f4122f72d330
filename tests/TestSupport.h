#pragma once

#include "base/OperationHost.h"
#include "model/STLVectors.h"
#include "tiles/SRTM.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::random_device seed;
    path_ = std::filesystem::temp_directory_path() /
            ("orolith-test-" + std::to_string(seed()) + "-" + std::to_string(seed()));
    std::filesystem::create_directories(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }
  // The path as text, ending in the separator.
  std::string Root() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

// The shared folder of real SRTM tiles, or skips the calling test when it is absent.
#define OROLITH_REQUIRE_SHARED_DATA(relative)                                                   \
  do {                                                                                          \
    if (!std::filesystem::exists(std::filesystem::path(OROLITH_SHARED_DATA) / (relative))) {    \
      GTEST_SKIP() << "real SRTM data not found at " << OROLITH_SHARED_DATA << "/" << relative; \
    }                                                                                           \
  } while (false)

inline std::string SharedData(const std::string& relative) {
  return std::string(OROLITH_SHARED_DATA) + "/" + relative;
}

inline std::vector<unsigned char> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& file, const std::vector<unsigned char>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

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

// The side × side samples sample(row, column) gives, row 0 south, as a tile's grid.
inline std::vector<std::int16_t> TileGrid(int side,
                                          const std::function<int(int row, int column)>& sample) {
  std::vector<std::int16_t> grid;
  grid.reserve(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
  for (int row = 0; row < side; ++row) {
    for (int column = 0; column < side; ++column) {
      grid.push_back(static_cast<std::int16_t>(sample(row, column)));
    }
  }
  return grid;
}

// A tile file through the program's own encoder.
inline void WriteTile(const std::filesystem::path& file, int side,
                      const std::function<int(int row, int column)>& sample) {
  WriteTileFile(file.string(), side, TileGrid(side, sample));
}

// A host that records every line and answers the large-file question as told.
class RecordingHost : public OperationHost {
 public:
  explicit RecordingHost(char decimalSeparator = '.') : OperationHost(decimalSeparator) {}
  void UseSeparator(char decimalSeparator) { SetDecimalSeparator(decimalSeparator); }

  void AppendLine(const std::string& line) override { lines.push_back(line); }
  void ProcessPendingEvents() override { ++pumps; }
  bool ConfirmLargeFile(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + ": " + text);
    return answer;
  }
  void Diagnose(const std::string& text) override { notes.push_back(text); }

  std::vector<std::string> lines;
  std::vector<std::string> questions;
  std::vector<std::string> notes;
  int pumps = 0;
  bool answer = true;
};

}  // namespace orolith::test
