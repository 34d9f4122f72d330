#include "base/Errors.h"

#include "base/NumberText.h"

#include <cstring>

namespace orolith {
namespace {

FileError Cannot(const char* what, const std::string& fileName, const std::string& reason,
                 int errorNumber = 0) {
  return FileError(std::string("Cannot ") + what + " file \"" + fileName + "\". " + reason,
                   fileName, errorNumber);
}

}  // namespace

FileError CannotOpenFile(const std::string& fileName, int errorNumber) {
  return Cannot("open", fileName, std::strerror(errorNumber), errorNumber);
}

FileError CannotOpenFile(const std::string& fileName, const std::string& reason) {
  return Cannot("open", fileName, reason);
}

FileError CannotCreateFile(const std::string& fileName, int errorNumber) {
  return Cannot("create", fileName, std::strerror(errorNumber), errorNumber);
}

FileError CannotCreateFolder(const std::string& folderName, int errorNumber) {
  return FileError("Cannot create folder \"" + folderName + "\". " + std::strerror(errorNumber),
                   folderName, errorNumber);
}

FileError CannotWriteFile(const std::string& fileName, int errorNumber) {
  return Cannot("write", fileName, std::strerror(errorNumber), errorNumber);
}

FileError CannotReadFile(const std::string& fileName, int errorNumber) {
  return Cannot("read", fileName, std::strerror(errorNumber), errorNumber);
}

FileError CannotReadFile(const std::string& fileName, const std::string& reason) {
  return Cannot("read", fileName, reason);
}

SystemError::SystemError(int code)
    : std::runtime_error(FormatText('.', "System Error.  Code: %d.", {code}) + "\n" +
                         std::strerror(code)),
      code_(code) {}

}  // namespace orolith
