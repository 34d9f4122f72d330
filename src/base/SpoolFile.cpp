#include "base/SpoolFile.h"

#include "base/Errors.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

namespace orolith {

SpoolFile::SpoolFile() {
  std::error_code noTemporaryFolder;
  std::filesystem::path folder = std::filesystem::temp_directory_path(noTemporaryFolder);
  if (noTemporaryFolder) folder = "/tmp";
  path_ = (folder / "orolith-spool.XXXXXX").string();
  fd_.Reset(::mkostemp(path_.data(), O_CLOEXEC));
  if (!fd_) throw CannotCreateFile(path_, errno);
  ::unlink(path_.c_str());
}

void SpoolFile::Write(const void* data, std::size_t size) {
  WriteAt(size_, data, size);
}

void SpoolFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  const std::uint64_t end = offset + size;
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_.Get(), bytes, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw CannotWriteFile(path_, errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  size_ = std::max(size_, end);
}

void SpoolFile::CopyTo(
    const std::function<void(const unsigned char* data, std::size_t size)>& sink) const {
  constexpr std::size_t block = 1 << 20;
  const auto buffer = std::make_unique_for_overwrite<unsigned char[]>(block);
  for (std::uint64_t at = 0; at < size_;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block, size_ - at));
    ReadAt(fd_, buffer.get(), n, at, path_, "Unexpected end of file");
    sink(buffer.get(), n);
    at += n;
  }
}

}  // namespace orolith
