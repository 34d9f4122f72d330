#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orolith {

// A plain file open for reading at any offset; anything else (a folder, a pipe, a device) is
// refused unopened, as a pipe would keep the reader waiting for a writer. Throws FileError.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(std::string path);
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile();

  std::uint64_t Size() const noexcept { return size_; }
  // Reads bytes at offset whole; throws FileError naming the file when it gives fewer.
  void ReadAt(void* into, std::size_t bytes, std::uint64_t offset) const;

 private:
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

}  // namespace orolith
