#pragma once

#include <stdexcept>
#include <string>

namespace orolith {

// A file that can't be opened, created, read or written; the text names the file.
class FileError : public std::runtime_error {
 public:
  // errorNumber: the system's, 0 where none tells the reason.
  FileError(const std::string& text, const std::string& fileName, int errorNumber)
      : std::runtime_error(text), fileName_(fileName), errorNumber_(errorNumber) {}
  const std::string& FileName() const noexcept { return fileName_; }
  int ErrorNumber() const noexcept { return errorNumber_; }

 private:
  std::string fileName_;
  int errorNumber_;
};

// "Cannot open file "NAME". REASON" with the system's text for errorNumber, or the reason given
// as text where no error number tells it.
FileError CannotOpenFile(const std::string& fileName, int errorNumber);
FileError CannotOpenFile(const std::string& fileName, const std::string& reason);

// The reason for a name that is no plain file (a pipe, a device), which must not be opened:
// opening a pipe waits for a writer.
inline constexpr const char* NotARegularFile = "Not a regular file";
// "Cannot create file "NAME". REASON".
FileError CannotCreateFile(const std::string& fileName, int errorNumber);
// "Cannot create folder "NAME". REASON".
FileError CannotCreateFolder(const std::string& folderName, int errorNumber);
// "Cannot write file "NAME". REASON".
FileError CannotWriteFile(const std::string& fileName, int errorNumber);
// "Cannot read file "NAME". REASON", the reason given as text where no error number tells it.
FileError CannotReadFile(const std::string& fileName, int errorNumber);
FileError CannotReadFile(const std::string& fileName, const std::string& reason);

// An operating-system call that failed: "System Error.  Code: N.", a line break and the
// system's text for N.
class SystemError : public std::runtime_error {
 public:
  explicit SystemError(int code);
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

}  // namespace orolith
