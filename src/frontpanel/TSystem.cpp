#include "frontpanel/TSystem.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>

namespace orolith {
namespace {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// Position just after the key in the first argument that holds it, with that argument.
struct KeyHit {
  std::string_view argument;
  std::size_t valueStart;
};

std::optional<KeyHit> FindKey(std::span<const char* const> args, std::string_view key,
                              bool caseSensitive) {
  // An empty key would match every argument; it names nothing, so nothing is found.
  if (key.empty()) return std::nullopt;
  const std::string keyCopy = caseSensitive ? std::string(key) : UpperAscii(key);
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == nullptr) continue;
    const std::string_view argument(args[i]);
    const std::string argumentCopy = caseSensitive ? std::string(argument) : UpperAscii(argument);
    const std::size_t at = argumentCopy.find(keyCopy);
    if (at != std::string::npos) return KeyHit{argument, at + keyCopy.size()};
  }
  return std::nullopt;
}

struct LocaleDeleter {
  void operator()(locale_t locale) const noexcept { freelocale(locale); }
};
using LocalePtr = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter>;

// The environment's locale for one category; the C locale when the environment names none
// that is installed.
LocalePtr EnvironmentLocale(int categoryMask) {
  locale_t locale = newlocale(categoryMask, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) {
    locale = newlocale(categoryMask, "C", static_cast<locale_t>(nullptr));
  }
  return LocalePtr(locale);
}

std::string FormatNow(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const LocalePtr locale = EnvironmentLocale(LC_TIME_MASK);
  char text[128];
  const std::size_t n = strftime_l(text, sizeof text, format, &local, locale.get());
  return std::string(text, n);
}

}  // namespace

FileError CannotOpenFile(const std::string& fileName, int errorNumber) {
  return FileError("Cannot open file \"" + fileName + "\". " + std::strerror(errorNumber));
}

FileError CannotCreateFile(const std::string& fileName, int errorNumber) {
  return FileError("Cannot create file \"" + fileName + "\". " + std::strerror(errorNumber));
}

FileError CannotWriteFile(const std::string& fileName, int errorNumber) {
  return FileError("Cannot write file \"" + fileName + "\". " + std::strerror(errorNumber));
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

AtomicOutputFile::AtomicOutputFile(const std::string& target) : target_(target) {
  struct stat info {};
  const bool exists = ::lstat(target.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) throw CannotCreateFile(target, EISDIR);
  if (exists && !S_ISREG(info.st_mode)) {
    fd_ = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throw CannotCreateFile(target, errno);
    return;
  }
  // Renaming would replace a file that a plain create may not open for writing.
  if (exists && ::access(target.c_str(), W_OK) != 0) throw CannotCreateFile(target, errno);
  path_ = target + ".XXXXXX";
  fd_ = ::mkstemp(path_.data());
  if (fd_ < 0 && errno == ENAMETOOLONG) {
    // The name itself fits but the suffix does not: fall back to a short name in the folder.
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    path_ = (folder / ".orolith-save.XXXXXX").string();
    fd_ = ::mkstemp(path_.data());
  }
  if (fd_ < 0) {
    path_.clear();
    throw CannotCreateFile(target, errno);
  }
  // mkstemp makes the file private: give it the mode of the file it replaces, or the mode a
  // plain create would.
  mode_t mode = info.st_mode & 07777;
  if (!exists) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd_, mode) != 0) Fail(errno);
}

AtomicOutputFile::~AtomicOutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty() && !committed_) ::unlink(path_.c_str());
}

void AtomicOutputFile::Write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd_, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

void AtomicOutputFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail(errno);
  if (!path_.empty() && ::rename(path_.c_str(), target_.c_str()) != 0) Fail(errno);
  committed_ = true;
}

void AtomicOutputFile::Fail(int errorNumber) const {
  throw CannotWriteFile(target_, errorNumber);
}

std::string FindCommandLineKey(std::span<const char* const> args, std::string_view key,
                               bool caseSensitive) {
  const auto hit = FindKey(args, key, caseSensitive);
  if (!hit) return {};
  const std::string_view value = hit->argument.substr(hit->valueStart);
  return caseSensitive ? std::string(value) : UpperAscii(value);
}

std::string FindCommandLineValue(std::span<const char* const> args, std::string_view key) {
  const auto hit = FindKey(args, key, false);
  if (!hit) return {};
  return std::string(hit->argument.substr(hit->valueStart));
}

std::int32_t ClampInt(std::int32_t value, std::int32_t bound1, std::int32_t bound2) noexcept {
  const std::int32_t low = std::min(bound1, bound2);
  const std::int32_t high = std::max(bound1, bound2);
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

bool InRangeFloat(long double value, long double bound1, long double bound2) noexcept {
  const long double low = std::min(bound1, bound2);
  const long double high = std::max(bound1, bound2);
  return low <= value && value <= high;
}

long double ClampFloat(long double value, long double bound1, long double bound2) noexcept {
  const long double low = std::min(bound1, bound2);
  const long double high = std::max(bound1, bound2);
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

std::string CurrentDateString() {
  return FormatNow("%x");
}

std::string CurrentTimeString() {
  return FormatNow("%X");
}

char EnvironmentDecimalSeparator() {
  const LocalePtr locale = EnvironmentLocale(LC_NUMERIC_MASK);
  const char* radix = nl_langinfo_l(RADIXCHAR, locale.get());
  // A multi-byte separator can't be typed into a single-byte field; keep the point then.
  if (radix == nullptr || radix[0] == '\0' || radix[1] != '\0') return '.';
  return radix[0];
}

}  // namespace orolith
