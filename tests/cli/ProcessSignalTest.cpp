// The two programs stopped by INT, TERM or HUP while they work: they end at once, with the
// conventional status, and leave nothing half-written behind.

#include "support/DataRoot.h"
#include "support/Scoped.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orolith {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string Cli = OROLITH_BINARY_DIR "/src/orolith-cli";
const std::string Window = OROLITH_BINARY_DIR "/src/orolith";

// A program started in folder with stdout into a pipe, stderr into a file and stdin empty.
class Process {
 public:
  Process(const std::vector<std::string>& arguments, const std::filesystem::path& folder,
          const std::filesystem::path& errorFile) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    out_ = out[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> words = arguments;
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const test::ScopedCurrentDirectory cwd(folder);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (error != 0) throw std::runtime_error("cannot start " + arguments[0]);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (!status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
  }

  // Shrinks the output pipe to one page, so that the program soon waits on a reader.
  void NarrowOutput() const { ::fcntl(out_, F_SETPIPE_SZ, 4096); }

  // Reads the output until it holds text; false when that takes longer than timeout.
  bool AwaitOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
      if (Clock::now() >= until || !ReadSome(until)) return false;
    }
    return true;
  }

  void Signal(int signal) const { ::kill(pid_, signal); }

  // Waits until the program catches signal, its handler installed; false after timeout. On a
  // busy machine a fixed pause may end before the program is that far.
  bool AwaitHandler(int signal, std::chrono::milliseconds timeout) const {
    const auto until = Clock::now() + timeout;
    const std::uint64_t bit = std::uint64_t{1} << (signal - 1);
    for (;;) {
      std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) & bit)) {
          return true;
        }
      }
      if (Clock::now() >= until) return false;
      std::this_thread::sleep_for(10ms);
    }
  }

  // The raw wait status, reading the output meanwhile; nothing when the program is still
  // running after timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (!status_) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        break;
      }
      if (Clock::now() >= until) return std::nullopt;
      ReadSome(std::min(until, Clock::now() + 50ms));
    }
    while (ReadSome(Clock::now() + 1s)) {
    }
    return status_;
  }

  const std::string& Output() const { return output_; }

 private:
  // False at the end of the output or when nothing came before until.
  bool ReadSome(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    pollfd ready{out_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(std::max<long>(left.count(), 0))) != 1) return false;
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = 0;
  int out_ = -1;
  std::string output_;
  std::optional<int> status_;
};

std::string ExitText(std::optional<int> status) {
  if (!status) return "still running";
  if (WIFSIGNALED(*status)) return "killed by signal " + std::to_string(WTERMSIG(*status));
  return "exit status " + std::to_string(WEXITSTATUS(*status));
}

class ProcessSignalTest : public ::testing::Test {
 protected:
  std::string Errors() const { return test::ReadText(captures.Path() / "stderr"); }
  std::filesystem::path ErrorFile() const { return captures.Path() / "stderr"; }

  test::DataRoot root;
  test::TempDir captures;
};

TEST_F(ProcessSignalTest, InterruptStopsADownloadThatWaitsOnTheServer) {
  const test::TestServer server;
  Process cli({Cli, "download-srtm3", "--lon", "6.5", "6.5", "--lat", "45.5", "45.5",
               "--archive-host", server.Host() + "/hang"},
              root.Path(), ErrorFile());
  ASSERT_TRUE(cli.AwaitOutput("Attempting to Download : ", 10s));
  std::this_thread::sleep_for(300ms);  // well inside the transfer
  const auto sent = Clock::now();
  cli.Signal(SIGINT);
  const std::optional<int> status = cli.Wait(10s);
  EXPECT_LT(Clock::now() - sent, 3s);
  ASSERT_TRUE(status && WIFEXITED(*status)) << ExitText(status);
  EXPECT_EQ(WEXITSTATUS(*status), 130);
  EXPECT_EQ(Errors(), "orolith-cli: Interrupted\n");
  EXPECT_EQ(cli.Output().find("Download failed"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(root.Path() / "SRTM_3"));
}

TEST_F(ProcessSignalTest, TermStopsAModelRunAndLeavesNoFile) {
  // A run over 400 stand-in tiles writes far more log than the narrowed output pipe holds, so
  // it is surely still running, waiting on its output, when the signal arrives.
  Process cli({Cli, "create", "--lon", "0", "19.5", "--lat", "0", "19.5", "--pixel", "100000",
               "--missed-zero", "--yes", "-o", "model.stl"},
              root.Path(), ErrorFile());
  cli.NarrowOutput();
  ASSERT_TRUE(cli.AwaitHandler(SIGTERM, 10s));
  std::this_thread::sleep_for(500ms);
  cli.Signal(SIGTERM);
  const std::optional<int> status = cli.Wait(20s);
  ASSERT_TRUE(status && WIFEXITED(*status)) << ExitText(status);
  EXPECT_EQ(WEXITSTATUS(*status), 128 + SIGTERM);
  EXPECT_EQ(Errors(), "orolith-cli: Interrupted\n");
  EXPECT_EQ(cli.Output().find("Faces created"), std::string::npos);
  EXPECT_EQ(test::FolderEntries(root.Path()),
            (std::vector<std::string>{"SRTM_1", "SRTM_3", "SRTM_30"}));
}

TEST_F(ProcessSignalTest, TheWindowProgramEndsCleanlyOnTermAndHangup) {
  if (!std::filesystem::exists(Window)) GTEST_SKIP() << Window << " is not built";
  const test::ScopedEnvironment platform("QT_QPA_PLATFORM", "offscreen");
  for (const int signal : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    Process window({Window, "DataRoot=" + root.Root()}, root.Path(), ErrorFile());
    ASSERT_TRUE(window.AwaitHandler(signal, 10s));
    std::this_thread::sleep_for(1s);
    window.Signal(signal);
    const std::optional<int> status = window.Wait(10s);
    ASSERT_TRUE(status && WIFEXITED(*status)) << ExitText(status);
    EXPECT_EQ(WEXITSTATUS(*status), 128 + signal);
  }
}

// A named pipe as the output: the run waits for a reader, and then for the reader to take the
// model, in a way that the first signal ends.
TEST_F(ProcessSignalTest, TermEndsAWaitOnAPipesReader) {
  const std::filesystem::path fifo = root.Path() / "model.stl";
  for (const bool readerThatStops : {true, false}) {
    SCOPED_TRACE(readerThatStops ? "a reader that stops reading" : "no reader");
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // 1.2 MB of model, far more than a pipe holds.
    Process cli({Cli, "create", "--lon", "7.1", "7.2", "--lat", "46.1", "46.2", "--missed-zero",
                 "-o", "model.stl"},
                root.Path(), ErrorFile());
    int reader = -1;
    if (readerThatStops) {
      // Opened, never read: the writer soon waits for room.
      reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(reader, 0);
      ASSERT_TRUE(cli.AwaitOutput(" Faces created, now saving to model.stl ...\n", 20s));
    } else {
      ASSERT_TRUE(cli.AwaitOutput(" * * * * * * * * * * * * * * * * *\n", 10s));
    }
    std::this_thread::sleep_for(300ms);  // waiting by now
    const auto sent = Clock::now();
    cli.Signal(SIGTERM);
    const std::optional<int> status = cli.Wait(10s);
    EXPECT_LT(Clock::now() - sent, 3s);
    if (reader >= 0) ::close(reader);
    ASSERT_TRUE(status && WIFEXITED(*status)) << ExitText(status);
    EXPECT_EQ(WEXITSTATUS(*status), 128 + SIGTERM);
    EXPECT_EQ(Errors(), "orolith-cli: Interrupted\n");
    EXPECT_EQ(cli.Output().find("File has been saved"), std::string::npos);
    EXPECT_EQ(test::FolderEntries(root.Path()),
              (std::vector<std::string>{"SRTM_1", "SRTM_3", "SRTM_30", "model.stl"}));
  }
}

}  // namespace
}  // namespace orolith
