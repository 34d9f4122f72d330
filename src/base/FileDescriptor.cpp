#include "base/FileDescriptor.h"

#include "base/Errors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace orolith {
namespace {

void RequirePlainFile(const struct stat& info, const std::string& fileName) {
  if (S_ISDIR(info.st_mode)) throw CannotOpenFile(fileName, EISDIR);
  if (!S_ISREG(info.st_mode)) throw CannotOpenFile(fileName, NotARegularFile);
}

}  // namespace

void FileDescriptor::Reset(int fd) noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int FileDescriptor::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void ReadAt(const FileDescriptor& fd, void* into, std::size_t bytes, std::uint64_t offset,
            const std::string& fileName, std::string_view endedEarly) {
  auto* at = static_cast<unsigned char*>(into);
  while (bytes > 0) {
    const ssize_t got = ::pread(fd.Get(), at, bytes, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw CannotReadFile(fileName, errno);
    if (got == 0) throw CannotReadFile(fileName, std::string(endedEarly));
    at += got;
    bytes -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
}

FileDescriptor OpenPlainFile(const std::string& fileName, struct stat& info) {
  if (::stat(fileName.c_str(), &info) != 0) throw CannotOpenFile(fileName, errno);
  RequirePlainFile(info, fileName);
  // Should a pipe have taken the file's place since, the open must still not wait on it; on a
  // plain file the flag changes nothing.
  FileDescriptor fd(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) throw CannotOpenFile(fileName, errno);
  if (::fstat(fd.Get(), &info) != 0) throw CannotOpenFile(fileName, errno);
  RequirePlainFile(info, fileName);
  return fd;
}

}  // namespace orolith
