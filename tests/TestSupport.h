#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "frontpanel/OperationHost.h"

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

// A host that records every line and answers the large-file question as told.
class RecordingHost : public OperationHost {
 public:
  void AppendLine(const std::string& line) override { lines.push_back(line); }
  void ProcessPendingEvents() override { ++pumps; }
  bool ConfirmLargeFile(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + ": " + text);
    return answer;
  }

  std::vector<std::string> lines;
  std::vector<std::string> questions;
  int pumps = 0;
  bool answer = true;
};

}  // namespace orolith::test
