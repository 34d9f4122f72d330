#include "base/ReadOnlyFile.h"

#include <sys/stat.h>

#include <utility>

namespace orolith {

ReadOnlyFile::ReadOnlyFile(std::string path) : path_(std::move(path)) {
  struct stat info {};
  fd_ = OpenPlainFile(path_, info);
  size_ = static_cast<std::uint64_t>(info.st_size);
}

void ReadOnlyFile::ReadAt(void* into, std::size_t bytes, std::uint64_t offset,
                          std::string_view endedEarly) const {
  orolith::ReadAt(fd_, into, bytes, offset, path_, endedEarly);
}

}  // namespace orolith
