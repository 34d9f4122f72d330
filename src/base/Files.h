#pragma once

#include "base/FileDescriptor.h"

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace orolith {

// True when something other than a folder is at path; a file of any size counts.
bool FileExists(const std::string& path);

// A file written as a whole or not at all. The content goes to a temporary file beside the
// target that is renamed over it only on Commit, so a failed or interrupted write never
// destroys what was there and leaves nothing behind. The temporary file is named
// ".NAME.orolith-tmp-PID-XXXXXX" after the target and the writing process; while it is written
// the writer holds an open-file-description lock on it and marks it with the sticky bit, which
// nothing else sets on a plain file. One left by a process that was killed (or by a power cut)
// is removed by the next writer into that folder, but only when it is so named, marked and
// unlocked: the PID proves nothing across PID namespaces and hosts, the lock does (over NFS,
// where the server keeps locks). Should the rename fail (the folder was closed meanwhile), the
// complete file stays under its temporary name, unmarked, and the error says where.
// Write throws Interrupted once a stop has been asked for, unless it overwrites in place.
// Errors throw FileError naming the target as given.
class AtomicOutputFile {
 public:
  // What becomes of a name under which something other than a plain file exists.
  enum class Placement {
    // A file the user names (a model). A symbolic link is followed to its final target, which
    // is replaced whole by a file made beside it, as editors do; the link stays; the replacement
    // gets the old file's owner, group and mode. A file that can't keep them so (another user's
    // the saver can't give back, one with other names or an access list), or whose folder
    // takes no new file, is overwritten in place (WritesInPlace). A device or a pipe is
    // written as a stream; so is an open descriptor named /dev/stdout, /dev/stderr, /dev/fd/N
    // or /proc/self/fd/N: from where it stands, at the end where it appends, and on failure a
    // regular file behind it is cut back to where this content began.
    FollowLinks,
    // A file the program keeps in a folder of its own (archives, tiles): whatever is under the
    // name, a link or a pipe included, is replaced by a plain file, so that nothing is ever
    // written outside that folder.
    ReplaceLinks,
  };

  // Called every few tens of milliseconds while the file waits: for a named pipe's reader, or
  // for a pipe to take more. It may throw to end the wait (the window's events are handled
  // there); without it the wait ends when a stop is asked for (Interrupted).
  using WaitHook = std::function<void()>;

  explicit AtomicOutputFile(const std::string& target, Placement placement = Placement::FollowLinks,
                            WaitHook whileWaiting = {});
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;
  ~AtomicOutputFile();

  void Write(const void* data, std::size_t size);
  void Commit();

  // True when WriteAt can reach back into what was written: a regular file or a seekable
  // device, not a pipe, a socket or a terminal.
  bool CanSeek() const noexcept;
  // Writes size bytes at offset, counted from where this content began, without moving where
  // Write goes on; throws as Write does.
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  // True when the writes go straight into the existing file, which a stop half-way would
  // destroy: give it only content that is complete. Writes then finish even when a stop has
  // been asked for, and Commit cuts the file to what was written.
  bool WritesInPlace() const noexcept { return kind_ == Kind::InPlace; }

  // The open descriptor a FollowLinks writer for target writes through (/dev/stdout is 1,
  // /dev/fd/N and /proc/self/fd/N are N, a link to one of them too); none for any other name.
  static std::optional<int> OutputDescriptor(const std::string& target);

 private:
  enum class Kind { Temporary, InPlace, Stream };

  void OpenStream(int descriptor);
  void OpenDevice(bool pipe);
  void OpenInPlace();
  // 0, or the error number when the temporary file can't be made or can't take the identity
  // of the file it replaces (given when it should).
  int OpenTemporary(const struct stat* identity);
  void RemoveTemporary() noexcept;
  // Notes where the content begins before the first byte goes out.
  void Start();
  // Waits a little for a pipe to take more; false when it still does not.
  bool AwaitRoom();
  void Waiting();
  [[noreturn]] void Fail(int errorNumber) const;
  [[noreturn]] void FailKeepingTemporary(int errorNumber);

  std::string target_;     // as given, for the error texts
  std::string finalPath_;  // where the content goes: the target, or the end of its links
  std::string path_;       // the temporary file; empty but for Kind::Temporary
  Kind kind_ = Kind::Temporary;
  FileDescriptor fd_;
  FileDescriptor patch_;  // WriteAt's way into a file that fd_ appends to
  mode_t mode_ = 0;       // the temporary's once complete
  bool regular_ = false;  // a stream into a regular file: cut back on failure
  bool appends_ = false;
  bool pollable_ = false;     // a pipe, a socket or a terminal: writes wait for room
  bool nonblocking_ = false;  // fd_ is a description of a pipe of our own, non-blocking
  bool started_ = false;
  std::uint64_t start_ = 0;  // where this content begins in a stream's file
  bool committed_ = false;
  WaitHook whileWaiting_;
};

// Writes bytes as fileName through an AtomicOutputFile: the whole of them or, on any error,
// nothing and the old file untouched. Throws FileError naming fileName.
void WriteFileAtomically(const std::string& fileName, std::span<const std::byte> bytes,
                         AtomicOutputFile::Placement placement);

}  // namespace orolith
