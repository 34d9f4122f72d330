#include "base/ReadOnlyFile.h"

#include "base/Errors.h"
#include "support/TempFiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace orolith {
namespace {

TEST(ReadOnlyFile, RefusesWhatIsNoPlainFileWithoutOpeningIt) {
  const test::TempDir dir;
  const std::filesystem::path pipe = dir.Path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const struct {
    std::filesystem::path file;
    const char* reason;
  } cases[] = {
      {dir.Path() / "absent", "No such file or directory"},
      {dir.Path(), "Is a directory"},
      // Opened, this would wait for a writer for ever.
      {pipe, "Not a regular file"},
  };
  for (const auto& c : cases) {
    try {
      ReadOnlyFile file(c.file.string());
      ADD_FAILURE() << c.file << " was opened";
    } catch (const FileError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Cannot open file \"" + c.file.string() + "\". " + c.reason);
    }
  }
}

TEST(ReadOnlyFile, ReadsAtAnyOffsetWholeOrThrowsNamingTheFile) {
  const test::TempDir dir;
  const std::string path = dir.Root() + "ten";
  test::WriteBytes(path, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  ReadOnlyFile opened(path);
  // Moved, it keeps its descriptor.
  const ReadOnlyFile file(std::move(opened));
  EXPECT_EQ(file.Size(), 10U);
  std::vector<unsigned char> bytes(4);
  file.ReadAt(bytes.data(), 4, 6);
  EXPECT_EQ(bytes, (std::vector<unsigned char>{6, 7, 8, 9}));
  const auto failure = [](const auto& read) -> std::string {
    try {
      read();
    } catch (const FileError& error) {
      return error.what();
    }
    return "read past the end";
  };
  const std::string start = "Cannot read file \"" + path + "\". ";
  EXPECT_EQ(failure([&] { file.ReadAt(bytes.data(), 4, 7); }), start + "The file ended early");
  EXPECT_EQ(failure([&] { file.ReadAt(bytes.data(), 4, 7, "The block ends early"); }),
            start + "The block ends early");
}

TEST(FileDescriptor, ClosesWhatItHoldsOnceAndHandsItOverWhenMoved) {
  const auto open = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
  FileDescriptor first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int number = first.Get();
  ASSERT_TRUE(open(number));
  FileDescriptor second = std::move(first);
  EXPECT_FALSE(first);
  EXPECT_EQ(second.Get(), number);
  first = std::move(second);
  EXPECT_TRUE(open(number));
  first.Reset();
  EXPECT_FALSE(open(number));
}

}  // namespace
}  // namespace orolith
