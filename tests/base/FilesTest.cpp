#include "base/Errors.h"
#include "base/Files.h"
#include "base/Interrupt.h"
#include "support/Privileges.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace orolith {
namespace {

namespace fs = std::filesystem;
using test::FolderEntries;
using Placement = AtomicOutputFile::Placement;

void WriteWhole(const std::string& target, const std::string& text, Placement placement) {
  AtomicOutputFile file(target, placement);
  file.Write(text.data(), text.size());
  file.Commit();
}

// Installs the handlers for one test and forgets the stop it asked for.
class InterruptTest : public ::testing::Test {
 protected:
  InterruptTest() { InstallInterruptHandlers(); }
  ~InterruptTest() override { ClearInterrupt(); }
};

TEST(AtomicOutputFile, ReplacingLinksPutsAPlainFileWhereALinkOrPipeWas) {
  const test::TempDir dir;
  const std::string outside = dir.Root() + "outside";
  test::WriteBytes(outside, {'k', 'e', 'e', 'p'});
  const std::string link = dir.Root() + "link.zip";
  fs::create_symlink(outside, link);
  const std::string dangling = dir.Root() + "dangling.zip";
  fs::create_symlink(dir.Root() + "elsewhere/none", dangling);
  const std::string pipe = dir.Root() + "pipe.zip";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);

  for (const std::string& name : {link, dangling, pipe}) {
    WriteWhole(name, "archive", Placement::ReplaceLinks);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name))) << name;
    EXPECT_EQ(test::ReadBytes(name),
              (std::vector<unsigned char>{'a', 'r', 'c', 'h', 'i', 'v', 'e'}));
  }
  EXPECT_EQ(test::ReadBytes(outside), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(FolderEntries(dir.Path()),
            (std::vector<std::string>{"dangling.zip", "link.zip", "outside", "pipe.zip"}));
}

TEST(AtomicOutputFile, FollowingLinksEndsAtTheLastOfAChainAndRefusesALoop) {
  const test::TempDir dir;
  fs::create_directory(dir.Path() / "a");
  fs::create_directory(dir.Path() / "b");
  // first -> a/second -> ../b/model.stl, each relative to the folder of its link
  fs::create_symlink("a/second", dir.Path() / "first");
  fs::create_symlink("../b/model.stl", dir.Path() / "a" / "second");
  WriteWhole(dir.Root() + "first", "model", Placement::FollowLinks);
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "first"));
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "a" / "second"));
  EXPECT_EQ(fs::file_size(dir.Path() / "b" / "model.stl"), 5U);
  EXPECT_EQ(FolderEntries(dir.Path() / "b"), std::vector<std::string>{"model.stl"});

  fs::create_symlink("loop", dir.Path() / "loop");
  try {
    WriteWhole(dir.Root() + "loop", "x", Placement::FollowLinks);
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot create file \"" + dir.Root() + "loop\". " + std::strerror(ELOOP));
  }
}

// A writer the clean-up can't see as a process: one in another PID namespace or on another
// host. A child holds the lock on a file whose name carries the PID of a process that is gone.
class LockHeldElsewhere {
 public:
  explicit LockHeldElsewhere(const fs::path& file) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    std::fflush(nullptr);
    child_ = ::fork();
    if (child_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      const char locked = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 'y' : 'n';
      char byte = 0;
      // Holds the lock until the parent closes its end.
      if (::write(ready[1], &locked, 1) != 1 || ::read(release[0], &byte, 1) < 0) ::_exit(1);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char locked = 'n';
    locked_ = ::read(ready[0], &locked, 1) == 1 && locked == 'y';
    ::close(ready[0]);
  }
  LockHeldElsewhere(const LockHeldElsewhere&) = delete;
  LockHeldElsewhere& operator=(const LockHeldElsewhere&) = delete;
  ~LockHeldElsewhere() {
    ::close(release_);
    ::waitpid(child_, nullptr, 0);
  }
  bool Locked() const { return locked_; }

 private:
  pid_t child_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

// What a save finds in its folder, and whether its clean-up removes it: only a plain file named
// as a temporary, marked as a writer's (the sticky bit, which no other program sets on a plain
// file) and whose lock it can take. The writer's PID proves nothing either way.
struct Leftover {
  const char* what;
  std::string name;  // "@" stands for the PID of a process that is gone
  enum Kind { File, Folder, Link, Pipe } kind = File;
  bool marked = true;
  bool held = false;  // a live writer elsewhere holds its lock
  bool removed = false;
};

TEST(AtomicOutputFile, TheCleanUpRemovesOnlyTemporariesItCanProveAbandoned) {
  const test::TempDir dir;
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ::waitpid(gone, nullptr, 0);
  const std::vector<Leftover> leftovers{
      {"what a killed writer left", ".model.stl.orolith-tmp-@-Ab3dE9", Leftover::File, true, false,
       true},
      {"the short name of a long one", ".orolith-tmp-@-xyzXYZ", Leftover::File, true, false, true},
      {"a live PID in the name, no lock", ".model.stl.orolith-tmp-1-Ab3dE9", Leftover::File, true,
       false, true},
      {"a writer in another PID namespace", ".model.stl.orolith-tmp-@-Live01", Leftover::File, true,
       true},
      {"a user's file so named", ".model.stl.orolith-tmp-@-User01", Leftover::File, false},
      {"not hidden", "model.stl.orolith-tmp-@-Ab3dE9"},
      {"suffix too short", ".model.stl.orolith-tmp-@-Ab3dE"},
      {"no number", ".model.stl.orolith-tmp-x@-Ab3dE9"},
      {"another name", "notes.txt"},
      {"a folder", ".x.orolith-tmp-@-folder", Leftover::Folder},
      {"a link to a marked file", ".x.orolith-tmp-@-linked", Leftover::Link},
      {"a named pipe", ".x.orolith-tmp-@-piped", Leftover::Pipe},
  };
  const fs::path folder = dir.Path() / "out";
  fs::create_directory(folder);
  const fs::path elsewhere = dir.Path() / "marked";
  test::WriteBytes(elsewhere, {1});
  fs::permissions(elsewhere,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::sticky_bit);
  std::vector<std::unique_ptr<LockHeldElsewhere>> writers;
  std::vector<std::string> kept;
  for (const Leftover& leftover : leftovers) {
    std::string name = leftover.name;
    if (const auto at = name.find('@'); at != std::string::npos) {
      name.replace(at, 1, std::to_string(gone));
    }
    const fs::path path = folder / name;
    switch (leftover.kind) {
      case Leftover::File:
        test::WriteBytes(path, {1});
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write |
                                  (leftover.marked ? fs::perms::sticky_bit : fs::perms::none));
        break;
      case Leftover::Folder:
        fs::create_directory(path);
        break;
      case Leftover::Link:
        fs::create_symlink(elsewhere, path);
        break;
      case Leftover::Pipe:
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        break;
    }
    if (leftover.held) {
      writers.push_back(std::make_unique<LockHeldElsewhere>(path));
      ASSERT_TRUE(writers.back()->Locked()) << leftover.what;
    }
    if (!leftover.removed) kept.push_back(name);
  }

  WriteWhole((folder / "other.stl").string(), "new", Placement::FollowLinks);
  kept.push_back("other.stl");
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(FolderEntries(folder), kept);
  EXPECT_TRUE(fs::exists(elsewhere));
  // The file saved carries no mark.
  EXPECT_EQ(fs::status(folder / "other.stl").permissions() & fs::perms::sticky_bit,
            fs::perms::none);
}

TEST_F(InterruptTest, ASignalIsOnlyNotedUntilTheWorkChecksIt) {
  EXPECT_EQ(InterruptSignal(), 0);
  EXPECT_NO_THROW(ThrowIfInterrupted());
  ::raise(SIGHUP);
  EXPECT_EQ(InterruptSignal(), SIGHUP);
  EXPECT_THROW(ThrowIfInterrupted(), Interrupted);
  ClearInterrupt();
  EXPECT_NO_THROW(ThrowIfInterrupted());
}

TEST_F(InterruptTest, ASecondSignalEndsTheProcessAtOnce) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::raise(SIGTERM);
    ::raise(SIGTERM);
    ::_exit(0);  // not reached
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
}

// Every way a write can end before it is whole. stop runs half-way through the content; the
// error names the target where "@" stands.
struct FailedWrite {
  const char* what;
  std::function<void()> stop;
  std::string error;
  rlim_t sizeLimit = 0;  // 0: none
  fs::perms file = fs::perms::owner_read | fs::perms::owner_write;
  // A folder that takes no new file makes a FollowLinks writer overwrite in place instead.
  fs::perms folder = fs::perms::owner_all;
};

TEST_F(InterruptTest, AFailedWriteKeepsTheOldFileAndLeavesNothingBehind) {
  const auto none = [] {};
  const std::string denied = std::string("Cannot create file \"@\". ") + std::strerror(EACCES);
  const std::vector<FailedWrite> failures{
      {"a write error (a full disk)", none,
       std::string("Cannot write file \"@\". ") + std::strerror(EFBIG), 6},
      {"an interrupt", [] { ::raise(SIGINT); }, "Interrupted"},
      {"an error before Commit", [] { throw std::runtime_error("stopped"); }, "stopped"},
      {"a read-only file", none, denied, 0, fs::perms::owner_read},
      {"a folder that takes no new file", none, denied, 0, fs::perms::owner_read,
       fs::perms::owner_read | fs::perms::owner_exec},
  };
  for (const FailedWrite& failure : failures) {
    for (const Placement placement : {Placement::ReplaceLinks, Placement::FollowLinks}) {
      if (placement == Placement::FollowLinks && failure.folder != fs::perms::owner_all) continue;
      SCOPED_TRACE(std::string(failure.what) +
                   (placement == Placement::FollowLinks ? ", following links" : ""));
      const test::TempDir dir;
      const fs::path folder = dir.Path() / "tiles";
      const std::string target = (folder / "model.stl").string();
      fs::create_directory(folder);
      test::WriteText(target, "old");
      test::HandOver(folder);
      test::HandOver(target);
      fs::permissions(target, failure.file);
      fs::permissions(folder, failure.folder);
      test::WithoutPrivileges([&] {
        std::string error = "no error";
        try {
          std::optional<test::FileSizeLimit> limit;
          if (failure.sizeLimit > 0) limit.emplace(failure.sizeLimit);
          AtomicOutputFile file(target, placement);
          file.Write("new ", 4);
          failure.stop();
          file.Write("content", 7);
          file.Commit();
        } catch (const std::exception& e) {
          error = e.what();
        }
        ClearInterrupt();
        std::string expected = failure.error;
        if (const auto at = expected.find('@'); at != std::string::npos) {
          expected.replace(at, 1, target);
        }
        EXPECT_EQ(error, expected);
      });
      fs::permissions(folder, fs::perms::owner_all);
      EXPECT_EQ(test::ReadText(target), "old");
      EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"model.stl"});
    }
  }
}

TEST(WriteFileAtomically, ReplacesTheWholeFileOrNamesWhatFailed) {
  const test::TempDir dir;
  const std::string file = dir.Root() + "a.zip";
  for (const std::string text : {"old", "new!"}) {
    WriteFileAtomically(file, std::as_bytes(std::span(text)), Placement::ReplaceLinks);
  }
  EXPECT_EQ(test::ReadText(file), "new!");
  const std::string nowhere = dir.Root() + "missing/a.zip";
  try {
    WriteFileAtomically(nowhere, {}, Placement::ReplaceLinks);
    ADD_FAILURE() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + nowhere + "\". " + std::strerror(ENOENT));
  }
}

TEST_F(InterruptTest, AnOverwriteInPlaceIsFinishedEvenWhenInterrupted) {
  const test::TempDir dir;
  const fs::path locked = dir.Path() / "locked";
  fs::create_directory(locked);
  const std::string target = (locked / "model.stl").string();
  test::WriteBytes(target, std::vector<unsigned char>(10, 'o'));
  test::HandOver(locked);
  test::HandOver(target);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  test::WithoutPrivileges([&] {
    AtomicOutputFile file(target);
    file.Write("new ", 4);
    ::raise(SIGINT);
    // Stopping here would leave neither the old file nor the new one.
    file.Write("model", 5);
    file.Commit();
  });
  fs::permissions(locked, fs::perms::owner_all);
  EXPECT_EQ(test::ReadBytes(target),
            (std::vector<unsigned char>{'n', 'e', 'w', ' ', 'm', 'o', 'd', 'e', 'l'}));
}

// Saving over a file keeps what it is: its owner, group and mode are carried over to the new
// file where the saver may give them, and where it may not, or the file has other names, the
// file itself is overwritten.
struct Identity {
  const char* what;
  uid_t owner;
  gid_t group;
  fs::perms mode;
  bool secondName = false;
  bool unprivilegedSaver = false;  // saved by UnprivilegedId, a member of the group Users only
  bool inPlace = false;            // the file must keep its inode
  bool accessList = false;         // UnprivilegedId may also read and write it
};

// Gives path an access list that lets UnprivilegedId read and write it, in the kernel's own
// format; false where the file system keeps none.
bool GiveAccessList(const std::string& path) {
  std::vector<unsigned char> acl;
  const auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl.push_back(static_cast<unsigned char>(value >> (8 * i)));
  };
  put(2, 4);  // the format's version
  constexpr std::uint32_t NoId = 0xFFFFFFFF;
  const std::uint32_t entries[][3] = {{0x01, 6, NoId},  // owner
                                      {0x02, 6, test::UnprivilegedId},
                                      {0x04, 4, NoId},   // group
                                      {0x10, 6, NoId},   // mask
                                      {0x20, 0, NoId}};  // others
  for (const auto& [tag, permissions, id] : entries) {
    put(tag, 2);
    put(permissions, 2);
    put(id, 4);
  }
  return ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
}

TEST(AtomicOutputFile, SavingOverAFileKeepsItsOwnerGroupModeAndNames) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving files to other users needs the superuser";
  constexpr uid_t Root = 0;
  constexpr uid_t Nobody = test::UnprivilegedId;
  constexpr gid_t Users = 100;
  using P = fs::perms;
  const std::vector<Identity> rows{
      {"the superuser saves nobody's file", Nobody, Nobody,
       P::owner_read | P::owner_write | P::group_read},
      {"a file of two names", Root, Root, P::owner_read | P::owner_write | P::others_read, true},
      {"a member saves another user's group file", Root, Users,
       P::owner_read | P::owner_write | P::group_read | P::group_write | P::others_read, false,
       true, true},
      {"a member saves a group file of their own", Nobody, Users,
       P::owner_read | P::owner_write | P::group_read | P::group_write, false, true},
      {"a file with an access list", Root, Root, P::owner_read | P::owner_write | P::group_read,
       false, false, true, true},
  };
  for (const Identity& row : rows) {
    SCOPED_TRACE(row.what);
    const test::TempDir dir;
    const fs::path folder = dir.Path() / "shared";
    fs::create_directory(folder);
    test::HandOver(folder);
    const std::string target = (folder / "model.stl").string();
    test::WriteText(target, "old");
    ASSERT_EQ(::chown(target.c_str(), row.owner, row.group), 0);
    fs::permissions(target, row.mode);
    if (row.secondName) fs::create_hard_link(target, folder / "alias.stl");
    if (row.accessList && !GiveAccessList(target)) continue;
    struct stat before {};
    ASSERT_EQ(::stat(target.c_str(), &before), 0);

    const auto save = [&] {
      AtomicOutputFile file(target);
      EXPECT_EQ(file.WritesInPlace(), row.inPlace || row.secondName);
      EXPECT_EQ(test::ReadText(target), "old");  // until content comes
      file.Write("new", 3);
      file.Commit();
    };
    if (row.unprivilegedSaver) {
      test::WithoutPrivileges(save, {Users});
    } else {
      save();
    }
    struct stat after {};
    ASSERT_EQ(::stat(target.c_str(), &after), 0);
    EXPECT_EQ(test::ReadText(target), "new");
    EXPECT_EQ(after.st_uid, row.owner);
    EXPECT_EQ(after.st_gid, row.group);
    EXPECT_EQ(after.st_mode, before.st_mode);
    if (!row.accessList) {
      EXPECT_EQ(fs::status(target).permissions(), row.mode);
    }
    if (row.accessList) {
      EXPECT_GT(::getxattr(target.c_str(), "system.posix_acl_access", nullptr, 0), 0);
    }
    if (row.inPlace || row.secondName) {
      EXPECT_EQ(after.st_ino, before.st_ino);
    }
    if (row.secondName) {
      EXPECT_EQ(test::ReadText(folder / "alias.stl"), "new");
    }
    EXPECT_EQ(FolderEntries(folder).size(), row.secondName ? 2U : 1U);
  }
}

// The rename that would put a complete file in place fails when its folder has been closed to
// the writer meanwhile: the file stays under its temporary name, no longer marked as a writer's,
// and the error says where.
TEST(AtomicOutputFile, AFolderClosedBeforeCommitKeepsTheCompleteFileAndSaysWhere) {
  const test::TempDir dir;
  const fs::path folder = dir.Path() / "out";
  fs::create_directory(folder);
  const std::string target = (folder / "model.stl").string();
  test::WriteText(target, "old");
  test::HandOver(folder);
  test::HandOver(target);
  test::WithoutPrivileges([&] {
    std::string error = "no error";
    {
      AtomicOutputFile file(target);
      file.Write("new content", 11);
      fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
      try {
        file.Commit();
      } catch (const FileError& e) {
        error = e.what();
      }
    }
    const std::vector<std::string> entries = FolderEntries(folder);
    ASSERT_EQ(entries.size(), 2U);
    const std::string kept = (folder / entries[0]).string();  // the hidden name sorts first
    EXPECT_EQ(error, "Cannot write file \"" + target + "\". " + std::strerror(EACCES) +
                         "; the complete file is kept as \"" + kept + "\"");
    EXPECT_EQ(test::ReadText(kept), "new content");
    fs::permissions(folder, fs::perms::owner_all);
    WriteWhole((folder / "other.stl").string(), "x", Placement::FollowLinks);
    EXPECT_TRUE(fs::exists(kept)) << "the clean-up took the kept file for a writer's";
  });
  EXPECT_EQ(test::ReadText(target), "old");
}

// A descriptor the program was handed (standard output, /dev/fd/N) is a stream: written from
// where it stands, at the end where it appends, never replaced; a write that fails leaves what
// was there before it.
TEST(AtomicOutputFile, ADescriptorIsWrittenThroughAndNeverReplaced) {
  struct Row {
    const char* prefix;
    int flags;
  };
  for (const Row& row :
       {Row{"/dev/fd/", O_APPEND}, Row{"/proc/self/fd/", O_APPEND}, Row{"/dev/fd/", 0}}) {
    SCOPED_TRACE(std::string(row.prefix) + (row.flags != 0 ? ", appending" : ""));
    const test::TempDir dir;
    const fs::path log = dir.Path() / "log.txt";
    test::WriteText(log, "old log\n");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CLOEXEC | row.flags);
    ASSERT_GE(fd, 0);
    ::lseek(fd, 0, SEEK_END);
    struct stat before {};
    ::fstat(fd, &before);
    const std::string name = row.prefix + std::to_string(fd);
    {
      AtomicOutputFile file(name);
      file.Write("HEAD and body", 13);
      ASSERT_TRUE(file.CanSeek());
      file.WriteAt(0, "head", 4);  // counted from where this content began
      file.Commit();
    }
    EXPECT_EQ(test::ReadText(log), "old log\nhead and body");
    {
      AtomicOutputFile file(name);
      file.Write("half", 4);
    }
    EXPECT_EQ(test::ReadText(log), "old log\nhead and body");
    struct stat after {};
    ASSERT_EQ(::stat(log.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"log.txt"});
    ::close(fd);
  }

  // A descriptor open for reading only, or not open at all.
  const test::TempDir dir;
  test::WriteText(dir.Path() / "input", "keep");
  const int input = ::open((dir.Path() / "input").c_str(), O_RDONLY | O_CLOEXEC);
  const int closed = ::dup(input);
  ::close(closed);
  for (const int fd : {input, closed}) {
    const std::string name = "/dev/fd/" + std::to_string(fd);
    try {
      WriteWhole(name, "x", Placement::FollowLinks);
      ADD_FAILURE() << "no error for " << name;
    } catch (const FileError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot create file \"" + name + "\". " + std::strerror(EBADF));
    }
  }
  ::close(input);
  EXPECT_EQ(test::ReadText(dir.Path() / "input"), "keep");
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"input"});
}

TEST(AtomicOutputFile, NamesOfDescriptorsAreKnownAsSuchAndNoOthers) {
  const test::TempDir dir;
  fs::create_symlink("/dev/stdout", dir.Path() / "out.stl");
  fs::create_symlink("chained", dir.Path() / "first.stl");
  fs::create_symlink("/proc/self/fd/9", dir.Path() / "chained");
  const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd/4";
  const std::vector<std::pair<std::string, std::optional<int>>> names{
      {"/dev/stdout", 1},
      {"/dev/stderr", 2},
      {"/dev/stdin", 0},
      {"/dev/fd/7", 7},
      {"/proc/self/fd/12", 12},
      {"/proc/thread-self/fd/5", 5},
      {self, 4},
      {"/dev//fd/./6", 6},
      {dir.Root() + "out.stl", 1},
      {dir.Root() + "first.stl", 9},
      {"/dev/fd/", std::nullopt},
      {"/dev/fd/x", std::nullopt},
      {"/dev/fd/-1", std::nullopt},
      {"/dev/fd/3a", std::nullopt},
      {"/dev/fd/3/x", std::nullopt},
      {"/proc/self/fdinfo/3", std::nullopt},
      {"/dev/stdout.stl", std::nullopt},
      {dir.Root() + "model.stl", std::nullopt},
      {"model.stl", std::nullopt},
  };
  for (const auto& [name, descriptor] : names) {
    EXPECT_EQ(AtomicOutputFile::OutputDescriptor(name), descriptor) << name;
  }
}

// Waits on a reader: a named pipe's to come, and one that holds a pipe or a socket open without
// reading to take more. Each ends at the hook's throw, or without a hook at a stop asked for.
TEST_F(InterruptTest, AWaitOnAReaderEndsWhenAskedTo) {
  enum Reader { None, PipeNotRead, SocketNotRead };
  for (const Reader reader : {None, PipeNotRead, SocketNotRead}) {
    for (const bool hook : {true, false}) {
      SCOPED_TRACE(testing::Message() << "reader " << reader << (hook ? ", a hook" : ", a signal"));
      const test::TempDir dir;
      const fs::path fifo = dir.Path() / "model.stl";
      ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
      std::string name = fifo.string();
      int ends[2] = {-1, -1};
      if (reader == PipeNotRead) {
        ends[0] = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      } else if (reader == SocketNotRead) {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        name = "/dev/fd/" + std::to_string(ends[1]);
      }
      int waits = 0;
      AtomicOutputFile::WaitHook whileWaiting;
      if (hook) {
        whileWaiting = [&] {
          if (++waits == 3) throw Interrupted();
        };
      } else {
        ::raise(SIGTERM);
      }
      const std::vector<char> model(4 << 20, 'm');
      try {
        AtomicOutputFile file(name, Placement::FollowLinks, whileWaiting);
        EXPECT_NE(reader, None) << "opened without a reader";
        file.Write(model.data(), model.size());
        ADD_FAILURE() << "4 MB went to a reader who reads nothing";
      } catch (const Interrupted&) {
        EXPECT_EQ(waits, hook ? 3 : 0);
      }
      ClearInterrupt();
      for (const int fd : ends) {
        if (fd >= 0) ::close(fd);
      }
      EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"model.stl"});
    }
  }
}

}  // namespace
}  // namespace orolith
