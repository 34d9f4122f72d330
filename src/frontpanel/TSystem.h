#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orolith {

// A file that can't be opened, created, read or written; the text names the file.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Cannot open file "NAME". REASON" with the system's text for errorNumber.
FileError CannotOpenFile(const std::string& fileName, int errorNumber);
// "Cannot create file "NAME". REASON".
FileError CannotCreateFile(const std::string& fileName, int errorNumber);
// "Cannot write file "NAME". REASON".
FileError CannotWriteFile(const std::string& fileName, int errorNumber);

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

 private:
  [[noreturn]] void Fail(int errorNumber) const;

  std::string target_;
  std::string path_;  // the temporary file; empty when writing in place
  int fd_ = -1;
  bool committed_ = false;
};

// The text after the first occurrence of key in the first argument (from args[1] on) that
// holds it; empty when none does. Case-insensitive mode upper-cases a..z of both key and
// result.
std::string FindCommandLineKey(std::span<const char* const> args, std::string_view key,
                               bool caseSensitive);

// The same search with the key matched regardless of letter case, but the value returned as
// typed: on a case-sensitive file system a path must keep its case.
std::string FindCommandLineValue(std::span<const char* const> args, std::string_view key);

std::int32_t ClampInt(std::int32_t value, std::int32_t bound1, std::int32_t bound2) noexcept;
bool InRangeFloat(long double value, long double bound1, long double bound2) noexcept;
long double ClampFloat(long double value, long double bound1, long double bound2) noexcept;

// Today's date in the locale's short form (%x) and the time in its long form (%X), read from
// the environment's locale (LC_ALL / LC_TIME / LANG) without touching the global C locale.
std::string CurrentDateString();
std::string CurrentTimeString();

// The decimal separator of the environment's locale (LC_ALL / LC_NUMERIC / LANG).
char EnvironmentDecimalSeparator();

}  // namespace orolith
