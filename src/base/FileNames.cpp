#include "base/FileNames.h"

#include "base/Errors.h"
#include "base/FileDescriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <memory>
#include <utility>

namespace orolith::files {
namespace {

// As many links as the system itself follows before it gives up.
constexpr int MaxLinkHops = 40;

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

}  // namespace

bool IsTemporaryName(std::string_view name) {
  const std::size_t mark = name.rfind(TemporaryMark);
  if (name.empty() || name.front() != '.' || mark == std::string_view::npos) return false;
  std::string_view rest = name.substr(mark + TemporaryMark.size());
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
  if (ec != std::errc() || pid <= 0) return false;
  rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
  return rest.size() == 7 && rest.front() == '-';
}

bool LockWhole(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

void RemoveAbandonedTemporaries(const std::string& folder) {
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return;
  const int at = ::dirfd(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!IsTemporaryName(entry->d_name)) continue;
    // Looked at before it is opened: opening a device or a pipe may do something.
    struct stat seen {};
    if (::fstatat(at, entry->d_name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
        (seen.st_mode & WriterMark) == 0) {
      continue;
    }
    const FileDescriptor fd(
        ::openat(at, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) continue;
    struct stat opened {};
    // A read lock can't be had while the writer holds its write lock; it holds until the name
    // is gone.
    const bool abandoned = ::fstat(fd.Get(), &opened) == 0 && opened.st_ino == seen.st_ino &&
                           opened.st_dev == seen.st_dev && S_ISREG(opened.st_mode) &&
                           (opened.st_mode & WriterMark) != 0 && LockWhole(fd.Get(), F_RDLCK);
    if (abandoned) ::unlinkat(at, entry->d_name, 0);
  }
}

std::optional<int> DescriptorNamed(const std::filesystem::path& path) {
  std::error_code noCurrentFolder;
  const std::string name =
      std::filesystem::absolute(path, noCurrentFolder).lexically_normal().string();
  if (noCurrentFolder) return std::nullopt;
  constexpr std::pair<std::string_view, int> standard[] = {
      {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
  for (const auto& [known, fd] : standard) {
    if (name == known) return fd;
  }
  const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string_view folder :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
        std::string_view("/proc/thread-self/fd/"), std::string_view(self)}) {
    if (!name.starts_with(folder)) continue;
    const std::string_view number = std::string_view(name).substr(folder.size());
    int fd = -1;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), fd);
    if (ec == std::errc() && end == number.data() + number.size() && fd >= 0) return fd;
  }
  return std::nullopt;
}

LinkEnd FollowLinks(const std::string& path, const std::string& target) {
  std::filesystem::path current = path;
  for (int hop = 0; hop < MaxLinkHops; ++hop) {
    if (const std::optional<int> fd = DescriptorNamed(current)) return {{}, fd};
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return {current, {}};
    std::error_code error;
    const std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) throw CannotCreateFile(target, error.value());
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  throw CannotCreateFile(target, ELOOP);
}

}  // namespace orolith::files
