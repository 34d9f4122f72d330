#pragma once

#include "base/OperationHost.h"
#include "model/STLVectors.h"
#include "tiles/SRTM.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
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

// The names in folder, sorted.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
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

// Makes writes beyond a file size fail as a full disk would (EFBIG, with SIGXFSZ ignored),
// for as long as it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) throw std::runtime_error("getrlimit failed");
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    if (::setrlimit(RLIMIT_FSIZE, &small) != 0) throw std::runtime_error("setrlimit failed");
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

// The ids of the ordinary user the permission tests run as when the tests run as the superuser.
inline constexpr uid_t UnprivilegedId = 65534;

// Runs body where permissions take effect: in a child process under UnprivilegedId when we are
// the superuser (who may write anything), directly otherwise. Failures in the child count for
// the calling test. Give the child what it must write with HandOver.
inline void WithoutPrivileges(const std::function<void()>& body) {
  if (::geteuid() != 0) {
    body();
    return;
  }
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(UnprivilegedId) != 0 ||
        ::setuid(UnprivilegedId) != 0) {
      ::_exit(2);
    }
    // The child must end here whatever happens, never go on to run the other tests.
    try {
      body();
    } catch (const std::exception& error) {
      ADD_FAILURE() << "unexpected exception: " << error.what();
    }
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the unprivileged part failed (status " << status << ")";
}

// Makes path the unprivileged user's when WithoutPrivileges will run as that user.
inline void HandOver(const std::filesystem::path& path) {
  if (::geteuid() == 0 && ::lchown(path.c_str(), UnprivilegedId, UnprivilegedId) != 0) {
    throw std::runtime_error("chown failed: " + path.string());
  }
}

// A named pipe at path with a reader that collects everything written into it, until Collect.
class PipeReader {
 public:
  explicit PipeReader(const std::filesystem::path& path) : path_(path) {
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    reader_ = std::thread([this] {
      const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) return;
      unsigned char buffer[4096];
      ssize_t n = 0;
      while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes_.insert(bytes_.end(), buffer, buffer + n);
      ::close(fd);
    });
  }
  PipeReader(const PipeReader&) = delete;
  PipeReader& operator=(const PipeReader&) = delete;
  ~PipeReader() { Collect(); }

  // What arrived; a writer that never opened the pipe is stood in for, so this can't hang.
  const std::vector<unsigned char>& Collect() {
    if (reader_.joinable()) {
      const int unblock = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (unblock >= 0) ::close(unblock);
      reader_.join();
    }
    return bytes_;
  }

 private:
  std::filesystem::path path_;
  std::vector<unsigned char> bytes_;
  std::thread reader_;
};

// A named pipe at path, and a writer that opens it for up to timeout whenever a reader waits
// on it, so that code which wrongly opens the pipe is released instead of hanging the test.
class PipeAtPath {
 public:
  explicit PipeAtPath(const std::filesystem::path& path,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
    if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
    releaser_ = std::thread([this, path, timeout] {
      const auto until = std::chrono::steady_clock::now() + timeout;
      while (!done_ && std::chrono::steady_clock::now() < until) {
        // Without a reader this fails at once; with one it releases the reader's open.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          ::close(fd);
          ++released_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
  }
  PipeAtPath(const PipeAtPath&) = delete;
  PipeAtPath& operator=(const PipeAtPath&) = delete;
  ~PipeAtPath() {
    done_ = true;
    releaser_.join();
  }
  // How often a reader had opened the pipe.
  int Released() const { return released_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<int> released_{0};
  std::thread releaser_;
};

// A host that records every line and note and answers the large-file question as told.
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
