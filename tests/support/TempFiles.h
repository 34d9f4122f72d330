#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
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
  return (std::filesystem::path(OROLITH_SHARED_DATA) / relative).string();
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

inline std::string ReadText(const std::filesystem::path& file) {
  const auto bytes = ReadBytes(file);
  return {bytes.begin(), bytes.end()};
}

inline void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

// An executable shell script.
inline void WriteScript(const std::filesystem::path& file, const std::string& body) {
  WriteText(file, "#!/bin/sh\n" + body + "\n");
  std::filesystem::permissions(file, std::filesystem::perms::owner_all);
}

// The names in folder, sorted.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Whether file holds exactly text, told briefly: a tile is too long to print.
inline ::testing::AssertionResult Holds(const std::filesystem::path& file,
                                        const std::string& text) {
  if (!std::filesystem::exists(file)) return ::testing::AssertionFailure() << file << " is missing";
  const std::string content = ReadText(file);
  if (content == text) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << file << " holds " << content.size() << " bytes beginning \""
         << content.substr(0, 16).c_str() << "\", not the " << text.size() << " bytes expected";
}

}  // namespace orolith::test
