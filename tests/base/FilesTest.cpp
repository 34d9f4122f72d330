#include "base/Errors.h"
#include "base/Files.h"
#include "base/Interrupt.h"
#include "support/Privileges.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
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

TEST(AtomicOutputFile, OnlyTemporaryFilesOfWritersThatAreGoneAreRemoved) {
  const test::TempDir dir;
  // Made by a child that is gone by now.
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_GT(gone, 0);
  ::waitpid(gone, nullptr, 0);
  const std::string stale = ".model.stl.orolith-tmp-" + std::to_string(gone) + "-Ab3dE9";
  const std::string shortStale = ".orolith-tmp-" + std::to_string(gone) + "-xyzXYZ";
  const std::vector<std::string> kept{
      ".model.stl.orolith-tmp-1-Ab3dE9",                                   // a live writer
      ".model.stl.orolith-tmp-" + std::to_string(::getpid()) + "-ZZZZZZ",  // our own
      "model.stl.orolith-tmp-" + std::to_string(gone) + "-Ab3dE9",         // not hidden
      ".model.stl.orolith-tmp-" + std::to_string(gone) + "-Ab3dE",         // suffix too short
      ".model.stl.orolith-tmp-x" + std::to_string(gone) + "-Ab3dE9",       // no number
      "notes.txt"};
  for (const std::string& name : kept) test::WriteBytes(dir.Path() / name, {1});
  test::WriteBytes(dir.Path() / stale, {1});
  test::WriteBytes(dir.Path() / shortStale, {1});
  fs::create_directory(dir.Path() / (".x.orolith-tmp-" + std::to_string(gone) + "-folder"));

  WriteWhole(dir.Root() + "other.stl", "new", Placement::FollowLinks);
  std::vector<std::string> expected = kept;
  expected.push_back("other.stl");
  expected.push_back(".x.orolith-tmp-" + std::to_string(gone) + "-folder");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FolderEntries(dir.Path()), expected);
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

}  // namespace
}  // namespace orolith
