#include "preview/ReadOnlyFile.h"

#include "base/Errors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace orolith {

ReadOnlyFile::ReadOnlyFile(std::string path) : path_(std::move(path)) {
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) throw CannotOpenFile(path_, errno);
  if (S_ISDIR(info.st_mode)) throw CannotOpenFile(path_, EISDIR);
  if (!S_ISREG(info.st_mode)) throw CannotOpenFile(path_, NotARegularFile);
  // Should a pipe have taken the file's place since, the open must still not wait on it.
  fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw CannotOpenFile(path_, errno);
  if (::fstat(fd_, &info) != 0) {
    const int error = errno;
    ::close(fd_);
    throw CannotOpenFile(path_, error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd_);
    throw CannotOpenFile(path_, NotARegularFile);
  }
  size_ = static_cast<std::uint64_t>(info.st_size);
}

ReadOnlyFile::~ReadOnlyFile() {
  ::close(fd_);
}

void ReadOnlyFile::ReadAt(void* into, std::size_t bytes, std::uint64_t offset) const {
  auto* at = static_cast<unsigned char*>(into);
  while (bytes > 0) {
    const ssize_t got = ::pread(fd_, at, bytes, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw CannotReadFile(path_, errno);
    if (got == 0) throw CannotReadFile(path_, "The file ended early");
    at += got;
    bytes -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
}

}  // namespace orolith
