#pragma once

#include "base/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orolith {

// A plain file open for reading at any offset; anything else (a folder, a pipe, a device) is
// refused unopened, as a pipe would keep the reader waiting for a writer. Throws FileError.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(std::string path);

  const std::string& Path() const noexcept { return path_; }
  std::uint64_t Size() const noexcept { return size_; }
  // Reads bytes at offset whole; throws FileError naming the file when it gives fewer, with
  // endedEarly as the reason when the file ends first.
  void ReadAt(void* into, std::size_t bytes, std::uint64_t offset,
              std::string_view endedEarly = "The file ended early") const;

 private:
  std::string path_;
  FileDescriptor fd_;
  std::uint64_t size_ = 0;
};

}  // namespace orolith
