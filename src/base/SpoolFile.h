#pragma once

#include "base/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace orolith {

// An unnamed file in the temporary folder (TMPDIR) that holds bytes until they can go where
// they belong: it has no name from the moment it is made, so it goes with its handle whatever
// stops the program. Errors throw FileError naming the spool's path.
class SpoolFile {
 public:
  SpoolFile();
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  void Write(const void* data, std::size_t size);
  // Writes over bytes already written; the end stays where it was unless this goes past it.
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  std::uint64_t Size() const noexcept { return size_; }
  // Everything written, from the start, in blocks of at most 1 MiB.
  void CopyTo(const std::function<void(const unsigned char* data, std::size_t size)>& sink) const;

 private:
  std::string path_;  // for the error texts only
  FileDescriptor fd_;
  std::uint64_t size_ = 0;
};

}  // namespace orolith
