#include "base/Files.h"

#include "base/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace orolith {

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

AtomicOutputFile::AtomicOutputFile(const std::string& target) : target_(target) {
  struct stat info {};
  const bool exists = ::lstat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) throw CannotCreateFile(target, EISDIR);
  if (exists && !S_ISREG(info.st_mode)) {
    fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw CannotCreateFile(target, errno);
    return;
  }
  // Renaming would replace a file that a plain create may not open for writing.
  if (exists && ::access(target.c_str(), W_OK) != 0) throw CannotCreateFile(target, errno);
  path_ = target + ".XXXXXX";
  fd_ = ::mkstemp(path_.data());
  if (fd_ < 0 && errno == ENAMETOOLONG) {
    // The name itself fits but the suffix does not: fall back to a short name in the folder.
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    path_ = (folder / ".orolith-save.XXXXXX").string();
    fd_ = ::mkstemp(path_.data());
  }
  if (fd_ < 0) {
    path_.clear();
    throw CannotCreateFile(target, errno);
  }
  // mkstemp makes the file private: give it the mode of the file it replaces, or the mode a
  // plain create would.
  mode_t mode = info.st_mode & 07777;
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd_, mode) != 0) Fail(errno);
}

AtomicOutputFile::~AtomicOutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty() && !committed_) ::unlink(path_.c_str());
}

void AtomicOutputFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

bool AtomicOutputFile::CanSeek() const noexcept {
  return fd_ >= 0 && ::lseek(fd_, 0, SEEK_CUR) >= 0;
}

void AtomicOutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

void AtomicOutputFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail(errno);
  if (!path_.empty() && ::rename(path_.c_str(), target_.c_str()) != 0) Fail(errno);
  committed_ = true;
}

void AtomicOutputFile::Fail(int errorNumber) const {
  throw CannotWriteFile(target_, errorNumber);
}

}  // namespace orolith
