#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace orolith::test {

// The length of a data root path (without its final separator) whose tile folders can still be
// named in one system call ("ROOT/SRTM_30/." fits PATH_MAX) while its tile files can't
// ("ROOT/SRTM_1/N46E007.hgt" does not).
inline constexpr std::size_t DataRootTooLongForTiles = PATH_MAX - 14;

// A folder below base whose path has exactly length characters, more than one system call may
// name: it is made and filled a step at a time, each call naming a short path beside an open
// folder, and removed by rm(1), which walks any depth.
class DeepFolder {
 public:
  DeepFolder(const std::filesystem::path& base, std::size_t length) : path_(base.string()) {
    int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd >= 0 && path_.size() < length) {
      // A step takes its separator and at least one character: never leave room for one alone.
      const std::size_t room = length - path_.size() - 1;
      std::size_t size = std::min<std::size_t>(200, room);
      if (room - size == 1) --size;
      const std::string step(size, 'd');
      if (top_.empty()) top_ = (base / step).string();
      const int parent = fd;
      fd = ::mkdirat(parent, step.c_str(), 0700) == 0
               ? ::openat(parent, step.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
               : -1;
      ::close(parent);
      path_ += "/" + step;
    }
    fd_ = fd;
    if (fd_ < 0) {
      Remove();
      throw std::runtime_error("cannot build a folder " + std::to_string(length) + " deep");
    }
  }
  DeepFolder(const DeepFolder&) = delete;
  DeepFolder& operator=(const DeepFolder&) = delete;
  ~DeepFolder() {
    ::close(fd_);
    Remove();
  }

  const std::string& Path() const { return path_; }

  void MakeFolder(const std::string& name) const {
    if (::mkdirat(fd_, name.c_str(), 0700) != 0) throw std::runtime_error("mkdirat " + name);
  }
  // Writes content to relative, a short path below Path().
  void WriteFile(const std::string& relative, const std::string& content) const {
    const int file =
        ::openat(fd_, relative.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool whole = file >= 0 && ::write(file, content.data(), content.size()) ==
                                        static_cast<ssize_t>(content.size());
    if (file >= 0) ::close(file);
    if (!whole) throw std::runtime_error("cannot write " + relative);
  }

 private:
  void Remove() const {
    if (top_.empty()) return;
    [[maybe_unused]] const int status = std::system(("rm -rf '" + top_ + "'").c_str());
  }

  std::string path_;
  std::string top_;
  int fd_ = -1;
};

}  // namespace orolith::test
