#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

namespace orolith::test {

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

}  // namespace orolith::test
