#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orolith {

// An open file descriptor of the system's, closed with its owner; moved, never copied.
class FileDescriptor {
 public:
  FileDescriptor() noexcept = default;
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  int Get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  // Closes the one held, if any, and holds fd instead.
  void Reset(int fd = -1) noexcept;
  // Hands the descriptor over to the caller, who closes it.
  int Release() noexcept;

 private:
  int fd_ = -1;
};

// Reads bytes at offset of fd whole, again where a signal cut a read short. Throws FileError
// naming fileName: "Cannot read file "NAME". " with the system's reason, or with endedEarly
// when the file ends first.
void ReadAt(const FileDescriptor& fd, void* into, std::size_t bytes, std::uint64_t offset,
            const std::string& fileName, std::string_view endedEarly);

// Opens the plain file fileName for reading. Anything else (a folder, a pipe, a device) is
// refused unopened, as opening a pipe waits for a writer, perhaps for ever; info gets the
// file's status. Throws FileError ("Cannot open file ...") naming it.
FileDescriptor OpenPlainFile(const std::string& fileName, struct stat& info);

}  // namespace orolith
