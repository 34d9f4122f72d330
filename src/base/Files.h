#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orolith {

// True when something other than a folder is at path; a file of any size counts.
bool FileExists(const std::string& path);

// A file written as a whole or not at all. A regular file (or a new name) is written to a
// temporary file beside it that is renamed over it only on Commit, so a failed write never
// destroys what was there and leaves nothing behind. Anything else that already exists under
// the name (a device, a pipe, a symbolic link) is opened and written in place, as a plain
// create would. Errors throw FileError naming the target.
class AtomicOutputFile {
 public:
  explicit AtomicOutputFile(const std::string& target);
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
  ~AtomicOutputFile();

  void Write(const void* data, std::size_t size);
  void Commit();

  // True when WriteAt can reach back into what was written: a regular file or a seekable
  // device, not a pipe, a socket or a terminal.
  bool CanSeek() const noexcept;
  // Writes size bytes at offset without moving where Write goes on; throws as Write does.
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size);

 private:
  [[noreturn]] void Fail(int errorNumber) const;

  std::string target_;
  std::string path_;  // the temporary file; empty when writing in place
  int fd_ = -1;
  bool committed_ = false;
};

}  // namespace orolith
