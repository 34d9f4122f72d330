#include "base/Files.h"

#include "base/Errors.h"
#include "base/FileNames.h"
#include "base/Interrupt.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>

namespace orolith {
namespace {

using files::FollowLinks;
using files::LockWhole;
using files::TemporaryMark;
using files::WriterMark;

// How long a wait on a pipe goes between two looks at the stop flag.
constexpr int WaitStepMs = 50;

// Whether a write to fd may wait on a reader for ever: a pipe, a socket, a terminal.
bool MayWaitForAReader(int fd, const struct stat& info) {
  return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || ::isatty(fd) == 1;
}

mode_t CreationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Whether a file keeps what it is only when it is overwritten: other names would stay with the
// old content, and an access list would not come along to a new file.
bool IdentityNeedsInPlace(const std::string& path, const struct stat& info) {
  return info.st_nlink > 1 || ::getxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

AtomicOutputFile::AtomicOutputFile(const std::string& target, Placement placement,
                                   WaitHook whileWaiting)
    : target_(target), whileWaiting_(std::move(whileWaiting)) {
  // No file has no name; without this an empty one would become a temporary in the current
  // folder whose rename fails at the very end.
  if (target.empty()) throw CannotCreateFile(target, ENOENT);
  const bool follow = placement == Placement::FollowLinks;
  if (follow) {
    files::LinkEnd end = FollowLinks(target, target);
    if (end.descriptor) {
      OpenStream(*end.descriptor);
      return;
    }
    finalPath_ = std::move(end.path);
  } else {
    finalPath_ = target;
  }
  struct stat info {};
  const bool exists = ::lstat(finalPath_.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) throw CannotCreateFile(target, EISDIR);
  const bool plainFile = exists && S_ISREG(info.st_mode);
  if (exists && !plainFile && follow) {
    // A device or a pipe: nothing to replace, only something to write to.
    OpenDevice(S_ISFIFO(info.st_mode));
    return;
  }
  // Renaming would replace a file that a plain create may not open for writing.
  if (plainFile && ::access(finalPath_.c_str(), W_OK) != 0) throw CannotCreateFile(target, errno);
  mode_ = plainFile ? info.st_mode & 07777 : CreationMode();
  if (follow && plainFile && IdentityNeedsInPlace(finalPath_, info)) {
    OpenInPlace();
    return;
  }
  const int error = OpenTemporary(follow && plainFile ? &info : nullptr);
  if (error == 0) return;
  if (follow && plainFile && (error == EACCES || error == EPERM)) {
    // The folder takes no new file, or the new file can't be given the old one's owner or
    // group; the file itself may be written: overwrite it, as a plain save would.
    OpenInPlace();
    return;
  }
  throw CannotCreateFile(target, error);
}

AtomicOutputFile::~AtomicOutputFile() {
  if (!committed_ && kind_ == Kind::Stream && regular_ && started_ && fd_.Get() >= 0) {
    // What this content added to the stream's file goes again; the file's old content stays.
    if (::ftruncate(fd_.Get(), static_cast<off_t>(start_)) == 0 && !appends_) {
      ::lseek(fd_.Get(), static_cast<off_t>(start_), SEEK_SET);
    }
  }
  patch_.Reset();
  fd_.Reset();
  if (!committed_) RemoveTemporary();
}

void AtomicOutputFile::RemoveTemporary() noexcept {
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

void AtomicOutputFile::OpenStream(int descriptor) {
  kind_ = Kind::Stream;
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) throw CannotCreateFile(target_, EBADF);
  // A copy of our own: closing it leaves the caller's descriptor open.
  fd_.Reset(::fcntl(descriptor, F_DUPFD_CLOEXEC, 0));
  if (fd_.Get() < 0) throw CannotCreateFile(target_, errno);
  struct stat info {};
  if (::fstat(fd_.Get(), &info) != 0) throw CannotCreateFile(target_, errno);
  regular_ = S_ISREG(info.st_mode);
  pollable_ = MayWaitForAReader(fd_.Get(), info);
  appends_ = regular_ && (flags & O_APPEND) != 0;
  if (S_ISFIFO(info.st_mode)) {
    // A description of the pipe of our own may be non-blocking without the caller's being so.
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    FileDescriptor own;
    own.Reset(::open(self.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat same {};
    if (own.Get() >= 0 && ::fstat(own.Get(), &same) == 0 && same.st_ino == info.st_ino &&
        same.st_dev == info.st_dev) {
      fd_.Reset(own.Release());
      nonblocking_ = true;
    }
  }
  if (appends_) {
    // Every write through an appending description goes to the end, pwrite's too: WriteAt goes
    // through a description of its own, opened anew on the same file.
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    patch_.Reset(::open(self.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    struct stat same {};
    if (patch_.Get() >= 0 && (::fstat(patch_.Get(), &same) != 0 || same.st_ino != info.st_ino ||
                              same.st_dev != info.st_dev)) {
      patch_.Reset();
    }
  }
}

void AtomicOutputFile::OpenDevice(bool pipe) {
  kind_ = Kind::Stream;
  if (pipe) {
    // Opening a pipe for writing waits for a reader, deaf to signals: wait here instead, where
    // the stop flag is seen.
    for (;;) {
      const int fd = ::open(finalPath_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
      if (fd >= 0) {
        fd_.Reset(fd);
        break;
      }
      if (errno != ENXIO && errno != EINTR) throw CannotCreateFile(target_, errno);
      Waiting();
      std::this_thread::sleep_for(std::chrono::milliseconds(WaitStepMs));
    }
    // Left non-blocking: the description is ours alone.
    nonblocking_ = true;
  } else {
    fd_.Reset(
        ::open(finalPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
    if (fd_.Get() < 0) throw CannotCreateFile(target_, errno);
  }
  struct stat info {};
  if (::fstat(fd_.Get(), &info) != 0) throw CannotCreateFile(target_, errno);
  pollable_ = MayWaitForAReader(fd_.Get(), info);
}

void AtomicOutputFile::OpenInPlace() {
  kind_ = Kind::InPlace;
  // Not truncated before the content comes: until then the old file is whole.
  fd_.Reset(::open(finalPath_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  if (fd_.Get() < 0) throw CannotCreateFile(target_, errno);
}

int AtomicOutputFile::OpenTemporary(const struct stat* identity) {
  kind_ = Kind::Temporary;
  const std::filesystem::path final(finalPath_);
  const std::filesystem::path folder = final.parent_path();
  files::RemoveAbandonedTemporaries(folder.empty() ? "." : folder.string());
  const std::string tag = std::string(TemporaryMark) + std::to_string(::getpid()) + "-XXXXXX";
  std::string name = ".";
  name += final.filename().string();
  name += tag;
  path_ = (folder / name).string();
  fd_.Reset(::mkostemp(path_.data(), O_CLOEXEC));
  if (fd_.Get() < 0 && errno == ENAMETOOLONG) {
    // The name itself fits but not with the additions: a short name in the same folder.
    path_ = (folder / tag).string();
    fd_.Reset(::mkostemp(path_.data(), O_CLOEXEC));
  }
  if (fd_.Get() < 0) {
    const int error = errno;
    path_.clear();
    return error;
  }
  // The constructor throws on what this returns, and no destructor would remove the file.
  const auto discard = [this] {
    const int error = errno;
    fd_.Reset();
    RemoveTemporary();
    return error;
  };
  if (identity != nullptr) {
    struct stat made {};
    if (::fstat(fd_.Get(), &made) != 0) return discard();
    if ((made.st_uid != identity->st_uid || made.st_gid != identity->st_gid) &&
        ::fchown(fd_.Get(), identity->st_uid, identity->st_gid) != 0) {
      return discard();
    }
  }
  // Locked first, marked second: no one sees the mark on a file its writer does not hold.
  // Where the file system takes no lock the file stays unmarked, and no clean-up touches it.
  // mkstemp makes the file private; meanwhile it is as readable as it will be, so that the
  // clean-up of another of the file's readers can see whether it is locked.
  const bool marked = LockWhole(fd_.Get(), F_WRLCK) && ::fchmod(fd_.Get(), mode_ | WriterMark) == 0;
  if (!marked && ::fchmod(fd_.Get(), mode_) != 0) return discard();
  return 0;
}

void AtomicOutputFile::Start() {
  started_ = true;
  if (!regular_) return;
  struct stat info {};
  const off_t at = appends_ ? (::fstat(fd_.Get(), &info) == 0 ? info.st_size : -1)
                            : ::lseek(fd_.Get(), 0, SEEK_CUR);
  if (at < 0) Fail(errno);
  start_ = static_cast<std::uint64_t>(at);
}

void AtomicOutputFile::Waiting() {
  if (whileWaiting_) {
    whileWaiting_();
  } else {
    ThrowIfInterrupted();
  }
}

bool AtomicOutputFile::AwaitRoom() {
  ThrowIfInterrupted();
  pollfd out{fd_.Get(), POLLOUT, 0};
  const int ready = ::poll(&out, 1, WaitStepMs);
  // An error or a reader gone is told by the write that follows.
  if (ready > 0) return true;
  if (ready < 0 && errno != EINTR) Fail(errno);
  Waiting();
  return false;
}

void AtomicOutputFile::Write(const void* data, std::size_t size) {
  // Stopping half-way through an overwrite in place would destroy the file: that one is
  // finished.
  if (kind_ != Kind::InPlace) ThrowIfInterrupted();
  if (!started_) Start();
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    std::size_t chunk = size;
    if (pollable_ && !nonblocking_) {
      // A pipe's reader may stop reading without going away: a blocked write would not see a
      // stop, so no more goes out than the room poll reported.
      if (!AwaitRoom()) continue;
      chunk = std::min<std::size_t>(size, PIPE_BUF);
    }
    const ssize_t n = ::write(fd_.Get(), bytes, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && (pollable_ || nonblocking_)) {
        AwaitRoom();
        continue;
      }
      Fail(errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
}

bool AtomicOutputFile::CanSeek() const noexcept {
  if (fd_.Get() < 0) return false;
  if (appends_) return patch_.Get() >= 0;
  return ::lseek(fd_.Get(), 0, SEEK_CUR) >= 0;
}

void AtomicOutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  if (!started_) Start();
  const int fd = patch_.Get() >= 0 ? patch_.Get() : fd_.Get();
  offset += start_;
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, bytes, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

void AtomicOutputFile::Commit() {
  if (kind_ == Kind::InPlace) {
    const off_t end = ::lseek(fd_.Get(), 0, SEEK_CUR);
    if (end < 0 || ::ftruncate(fd_.Get(), end) != 0) Fail(errno);
  }
  // The mark goes while the lock still holds.
  if (kind_ == Kind::Temporary && ::fchmod(fd_.Get(), mode_) != 0) Fail(errno);
  if (patch_.Get() >= 0 && ::close(patch_.Release()) != 0) Fail(errno);
  if (::close(fd_.Release()) != 0) Fail(errno);
  if (kind_ == Kind::Temporary && ::rename(path_.c_str(), finalPath_.c_str()) != 0) {
    FailKeepingTemporary(errno);
  }
  committed_ = true;
}

void AtomicOutputFile::Fail(int errorNumber) const {
  throw CannotWriteFile(target_, errorNumber);
}

void AtomicOutputFile::FailKeepingTemporary(int errorNumber) {
  // The content is complete: losing it to a folder closed meanwhile would waste the whole run.
  const std::string kept = path_;
  path_.clear();
  const FileError error = CannotWriteFile(target_, errorNumber);
  throw FileError(std::string(error.what()) + "; the complete file is kept as \"" + kept + "\"",
                  target_, errorNumber);
}

std::optional<int> AtomicOutputFile::OutputDescriptor(const std::string& target) {
  try {
    return FollowLinks(target, target).descriptor;
  } catch (const FileError&) {
    return std::nullopt;  // the writer itself will say why
  }
}

void WriteFileAtomically(const std::string& fileName, std::span<const std::byte> bytes,
                         AtomicOutputFile::Placement placement) {
  AtomicOutputFile file(fileName, placement);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

}  // namespace orolith
