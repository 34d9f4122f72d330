#include "acquisition/TileArchive.h"

#include "acquisition/TWinSystem.h"
#include "base/Errors.h"
#include "base/FileDescriptor.h"
#include "base/Files.h"
#include "tiles/SRTM.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

namespace orolith {
namespace {

constexpr const char* ArchiverName = "7za";
// How long a wait for the archiver's output lasts before the host gets its turn.
constexpr int PollMilliseconds = 50;

// Refuses an archive that is no plain file before the archiver opens it: opening a pipe waits
// for a writer, perhaps forever.
void RequirePlainArchive(const std::string& archiveFileName) {
  struct stat info {};
  if (::stat(archiveFileName.c_str(), &info) != 0) {
    throw UnpackError(CannotOpenFile(archiveFileName, errno).what());
  }
  if (S_ISDIR(info.st_mode)) throw UnpackError(CannotOpenFile(archiveFileName, EISDIR).what());
  if (!S_ISREG(info.st_mode)) {
    throw UnpackError(CannotOpenFile(archiveFileName, NotARegularFile).what());
  }
}

std::string ArchiverEnding(int status) {
  if (WIFSIGNALED(status)) {
    return "the archiver was stopped by signal " + std::to_string(WTERMSIG(status));
  }
  return "the archiver ended with status " + std::to_string(WEXITSTATUS(status));
}

// The archiver, writing the tile name from the archive to outputFd. The error keeps its text,
// which names no program; the note tells which one could not be started and where it was
// looked for.
ChildProcess StartArchiver(const std::string& archiveFileName, const std::string& name,
                           int outputFd, OperationHost& host) {
  try {
    // e: extract without the archive's folders; -so: to standard output; -r: the name in any
    // folder; -bd: no progress display; --: whatever the names look like, they are names.
    return StartProgram(ArchiverName,
                        {ArchiverName, "e", "-so", "-r", "-bd", "--", archiveFileName, name},
                        outputFd);
  } catch (const SystemError& error) {
    host.Diagnose(std::string("Cannot start the archiver ") + ArchiverName + ": " +
                  std::strerror(error.Code()) +
                  " (it is looked for in the current directory, then on PATH)");
    throw;
  }
}

}  // namespace

void UnpackTile(const std::string& archiveFileName, const std::string& tileFileName,
                OperationHost& host) {
  RequirePlainArchive(archiveFileName);
  const std::string name = std::filesystem::path(tileFileName).filename().string();
  const std::uintmax_t maxBytes = TileFileSize(TileKind::Srtm1);

  AtomicOutputFile tile(tileFileName, AtomicOutputFile::Placement::ReplaceLinks);
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw SystemError(errno);
  FileDescriptor output(ends[0]);
  FileDescriptor input(ends[1]);
  ChildProcess archiver = StartArchiver(archiveFileName, name, input.Get(), host);
  // Our copy of the pipe's input end must go, or the output never ends.
  input.Reset();

  std::vector<char> buffer(std::size_t{1} << 16);
  std::uintmax_t received = 0;
  for (;;) {
    pollfd ready{output.Get(), POLLIN, 0};
    const int events = ::poll(&ready, 1, PollMilliseconds);
    const int error = errno;
    host.WhileWaiting();
    if (events < 0 && error != EINTR) throw SystemError(error);
    if (events <= 0) continue;
    const ssize_t n = ::read(output.Get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw SystemError(errno);
    }
    if (n == 0) break;
    const auto bytes = static_cast<std::uintmax_t>(n);
    if (bytes > maxBytes - received) {
      archiver.Kill();
      throw UnpackError(name + " unpacks to more than " + std::to_string(maxBytes) + " bytes");
    }
    tile.Write(buffer.data(), static_cast<std::size_t>(n));
    received += bytes;
  }
  const int status = archiver.Wait([&host] { host.WhileWaiting(); });
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw UnpackError(ArchiverEnding(status));
  if (received == 0) throw UnpackError("the archive holds no " + name);
  if (TileKindOfSize(received) == TileKind::NotATile) {
    throw UnpackError(name + " holds " + std::to_string(received) + " bytes, the size of no tile");
  }
  tile.Commit();
}

}  // namespace orolith
