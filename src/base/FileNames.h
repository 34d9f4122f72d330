#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What a name stands for on the way to a saved file: the temporaries beside it, the links and
// descriptors behind it. Used by the atomic output file only.
namespace orolith::files {

inline constexpr std::string_view TemporaryMark = ".orolith-tmp-";

// A temporary file's mark while its writer works on it. A plain file with the sticky bit is
// something no other program makes, and the bit is kept by every file system with modes, NFS
// version 3 included, which has no user attributes.
inline constexpr mode_t WriterMark = S_ISVTX;

// True for the name of a temporary file (".NAME.orolith-tmp-PID-XXXXXX" or
// ".orolith-tmp-PID-XXXXXX").
bool IsTemporaryName(std::string_view name);

// Takes an open-file-description lock on the whole file: unlike a process's lock it is the
// same across PID namespaces, and NFS passes it to the server.
bool LockWhole(int fd, short type);

// Removes the temporary files in folder that are proved abandoned: what a kill -9 or a power
// cut left of a save. Best effort; anything that can't be proved so is left alone.
void RemoveAbandonedTemporaries(const std::string& folder);

// The descriptor a path names: /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and
// /proc/self/fd/N (or this process's own number, or thread-self). Such a name is never
// resolved: its link leads to the file behind the descriptor, which a save must not replace.
std::optional<int> DescriptorNamed(const std::filesystem::path& path);

// Where the chain of symbolic links starting at path ends: a path (path itself when it is no
// link), or a descriptor when a name on the way stands for one.
struct LinkEnd {
  std::string path;
  std::optional<int> descriptor;
};

// Errors throw FileError naming target.
LinkEnd FollowLinks(const std::string& path, const std::string& target);

}  // namespace orolith::files
