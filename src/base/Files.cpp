#include "base/Files.h"

#include "base/Errors.h"
#include "base/Interrupt.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <memory>
#include <string_view>

namespace orolith {
namespace {

constexpr std::string_view TemporaryMark = ".orolith-tmp-";
// As many links as the system itself follows before it gives up.
constexpr int MaxLinkHops = 40;

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

// The process that writes the temporary file called name (".NAME.orolith-tmp-PID-XXXXXX" or
// ".orolith-tmp-PID-XXXXXX"); 0 when the name is no such file's.
pid_t WriterOfTemporary(std::string_view name) {
  const std::size_t mark = name.rfind(TemporaryMark);
  if (name.empty() || name.front() != '.' || mark == std::string_view::npos) return 0;
  std::string_view rest = name.substr(mark + TemporaryMark.size());
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
  if (ec != std::errc() || pid <= 0) return 0;
  rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
  return rest.size() == 7 && rest.front() == '-' ? pid : 0;
}

// Removes the temporary files in folder whose writer no longer runs: what a kill -9 or a power
// cut left of a save. Best effort; a folder that can't be read is left alone.
void RemoveStaleTemporaries(const std::string& folder) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(dir.get())) {
    const pid_t writer = WriterOfTemporary(entry->d_name);
    if (writer == 0 || writer == self) continue;
    // A live writer, or one we may not signal (EPERM), keeps its file.
    if (::kill(writer, 0) == 0 || errno != ESRCH) continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
      ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
  }
}

// Where the chain of symbolic links starting at path ends; path itself when it is no link.
std::string FinalTarget(const std::string& path, const std::string& target) {
  std::filesystem::path current = path;
  for (int hop = 0; hop < MaxLinkHops; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current.string();
    std::error_code error;
    const std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) throw CannotCreateFile(target, error.value());
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  throw CannotCreateFile(target, ELOOP);
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

AtomicOutputFile::AtomicOutputFile(const std::string& target, Placement placement)
    : target_(target),
      finalPath_(placement == Placement::FollowLinks ? FinalTarget(target, target) : target) {
  struct stat info {};
  const bool exists = ::lstat(finalPath_.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) throw CannotCreateFile(target, EISDIR);
  const bool plainFile = exists && S_ISREG(info.st_mode);
  if (exists && !plainFile && placement == Placement::FollowLinks) {
    // A device or a pipe: nothing to replace, only something to write to.
    OpenInPlace(O_CREAT | O_TRUNC);
    return;
  }
  // Renaming would replace a file that a plain create may not open for writing.
  if (plainFile && ::access(finalPath_.c_str(), W_OK) != 0) throw CannotCreateFile(target, errno);
  // mkstemp makes the file private: give it the mode of the file it replaces, or the mode a
  // plain create would.
  mode_t mode = info.st_mode & 07777;
  if (!plainFile) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const int error = OpenTemporary(mode);
  if (error == 0) return;
  if (placement == Placement::FollowLinks && plainFile && (error == EACCES || error == EPERM)) {
    // The folder takes no new file, but the file itself may be written: overwrite it, as a
    // plain save would.
    OpenInPlace(O_TRUNC);
    return;
  }
  throw CannotCreateFile(target, error);
}

AtomicOutputFile::~AtomicOutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty() && !committed_) ::unlink(path_.c_str());
}

void AtomicOutputFile::OpenInPlace(int flags) {
  fd_ = ::open(finalPath_.c_str(), O_WRONLY | O_CLOEXEC | flags, 0666);
  if (fd_ < 0) throw CannotCreateFile(target_, errno);
}

int AtomicOutputFile::OpenTemporary(unsigned mode) {
  const std::filesystem::path final(finalPath_);
  const std::filesystem::path folder = final.parent_path();
  RemoveStaleTemporaries(folder.empty() ? "." : folder.string());
  const std::string tag = std::string(TemporaryMark) + std::to_string(::getpid()) + "-XXXXXX";
  std::string name = ".";
  name += final.filename().string();
  name += tag;
  path_ = (folder / name).string();
  fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  if (fd_ < 0 && errno == ENAMETOOLONG) {
    // The name itself fits but not with the additions: a short name in the same folder.
    path_ = (folder / tag).string();
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  }
  if (fd_ < 0) {
    const int error = errno;
    path_.clear();
    return error;
  }
  if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) Fail(errno);
  return 0;
}

void AtomicOutputFile::Write(const void* data, std::size_t size) {
  // Stopping half-way through an overwrite in place would destroy the file: that one is
  // finished.
  if (!path_.empty()) ThrowIfInterrupted();
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

bool AtomicOutputFile::CanSeek() const noexcept {
  return fd_ >= 0 && ::lseek(fd_, 0, SEEK_CUR) >= 0;
}

void AtomicOutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

bool AtomicOutputFile::OverwritesInPlace(const std::string& target) {
  std::string finalPath;
  try {
    finalPath = FinalTarget(target, target);
  } catch (const FileError&) {
    return false;  // the writer itself will say why
  }
  struct stat info {};
  if (::lstat(finalPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      ::access(finalPath.c_str(), W_OK) != 0) {
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(finalPath).parent_path();
  const std::string folderPath = folder.empty() ? "." : folder.string();
  return ::access(folderPath.c_str(), W_OK | X_OK) != 0 && (errno == EACCES || errno == EPERM);
}

void AtomicOutputFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail(errno);
  if (!path_.empty() && ::rename(path_.c_str(), finalPath_.c_str()) != 0) Fail(errno);
  committed_ = true;
}

void AtomicOutputFile::Fail(int errorNumber) const {
  throw CannotWriteFile(target_, errorNumber);
}

void WriteFileAtomically(const std::string& fileName, std::span<const std::byte> bytes,
                         AtomicOutputFile::Placement placement) {
  AtomicOutputFile file(fileName, placement);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

}  // namespace orolith
