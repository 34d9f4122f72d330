#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orolith {

// True when something other than a folder is at path; a file of any size counts.
bool FileExists(const std::string& path);

// A file written as a whole or not at all. The content goes to a temporary file beside the
// target that is renamed over it only on Commit, so a failed or interrupted write never
// destroys what was there and leaves nothing behind. The temporary file is named
// ".NAME.orolith-tmp-PID-XXXXXX" after the target and the writing process: one left by a
// process that was killed (or by a power cut) is removed by the next writer into that folder.
// Write throws Interrupted once a stop has been asked for, unless it overwrites in place.
// Errors throw FileError naming the target as given.
class AtomicOutputFile {
 public:
  // What becomes of a name under which something other than a plain file exists.
  enum class Placement {
    // A file the user names (a model). A symbolic link is followed to its final target, which
    // is replaced whole by a file made beside it, as editors do; the link stays. A device or
    // pipe is written in place. Where the target's folder takes no new file but the target
    // itself may be written, the target is overwritten in place: construct the writer only
    // once the whole content is ready, so that nothing is lost before then.
    FollowLinks,
    // A file the program keeps in a folder of its own (archives, tiles): whatever is under the
    // name, a link or a pipe included, is replaced by a plain file, so that nothing is ever
    // written outside that folder.
    ReplaceLinks,
  };

  explicit AtomicOutputFile(const std::string& target,
                            Placement placement = Placement::FollowLinks);
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
  // True when a FollowLinks writer for target would overwrite an existing file in place,
  // its folder taking no new file: a caller still making the content keeps it elsewhere and
  // constructs the writer once it is complete.
  static bool OverwritesInPlace(const std::string& target);

 private:
  void OpenInPlace(int flags);
  // 0, or the error number when the temporary file can't be made.
  int OpenTemporary(unsigned mode);
  [[noreturn]] void Fail(int errorNumber) const;

  std::string target_;     // as given, for the error texts
  std::string finalPath_;  // where the content goes: the target, or the end of its links
  std::string path_;       // the temporary file; empty when writing in place
  int fd_ = -1;
  bool committed_ = false;
};

// Writes bytes as fileName through an AtomicOutputFile: the whole of them or, on any error,
// nothing and the old file untouched. Throws FileError naming fileName.
void WriteFileAtomically(const std::string& fileName, std::span<const std::byte> bytes,
                         AtomicOutputFile::Placement placement);

}  // namespace orolith
