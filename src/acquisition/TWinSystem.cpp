#include "acquisition/TWinSystem.h"

#include "base/Errors.h"
#include "base/Files.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

namespace orolith {
namespace {

bool SeparatesArguments(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

class SpawnFileActions {
 public:
  SpawnFileActions() {
    if (const int error = posix_spawn_file_actions_init(&actions_); error != 0) {
      throw SystemError(error);
    }
  }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  ~SpawnFileActions() { posix_spawn_file_actions_destroy(&actions_); }

  void Check(int error) const {
    if (error != 0) throw SystemError(error);
  }
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

// Waits for pid without a time limit; the wait status.
int WaitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw SystemError(errno);
  }
  return status;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  const std::string_view line = commandLine.substr(0, commandLine.find('\0'));
  std::vector<std::string> arguments;
  std::size_t at = 0;
  while (true) {
    while (true) {
      while (at < line.size() && SeparatesArguments(line[at])) ++at;
      if (line.substr(at, 2) != "\"\"") break;
      at += 2;
    }
    if (at >= line.size()) break;
    std::string argument;
    bool quoted = false;
    for (; at < line.size() && (quoted || !SeparatesArguments(line[at])); ++at) {
      if (line[at] == '"') {
        quoted = !quoted;
      } else {
        argument += line[at];
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

std::string RunProgramCommandLine(std::string_view arguments) {
  std::string line;
  if (!arguments.empty() && arguments.front() != ' ') line += ' ';
  line += arguments;
  return line;
}

ChildProcess::~ChildProcess() {
  Kill();
}

int ChildProcess::Wait(const std::function<void()>& whileWaiting) {
  const pid_t pid = pid_;
  if (!whileWaiting) {
    pid_ = 0;
    return WaitForExit(pid);
  }
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      pid_ = 0;
      return status;
    }
    if (done < 0 && errno != EINTR) {
      pid_ = 0;
      throw SystemError(errno);
    }
    whileWaiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void ChildProcess::Kill() noexcept {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = 0;
}

ChildProcess StartProgram(const std::string& programName, std::vector<std::string> argv,
                          int outputFd) {
  // A program must never start without a name of its own.
  if (argv.empty()) argv.push_back(programName);
  std::vector<char*> words;
  for (std::string& word : argv) words.push_back(word.data());
  words.push_back(nullptr);

  std::string path = programName;
  bool searchPath = programName.find('/') == std::string::npos;
  if (searchPath) {
    const std::string local = "./" + programName;
    if (FileExists(local)) {
      path = local;
      searchPath = false;
    }
  }

  // The program must never sit waiting for an answer on our standard input.
  SpawnFileActions actions;
  actions.Check(posix_spawn_file_actions_adddup2(actions.Get(), outputFd, STDOUT_FILENO));
  actions.Check(
      posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0));

  pid_t pid = 0;
  const int error =
      searchPath ? posix_spawnp(&pid, path.c_str(), actions.Get(), nullptr, words.data(), environ)
                 : posix_spawn(&pid, path.c_str(), actions.Get(), nullptr, words.data(), environ);
  if (error != 0) throw SystemError(error);
  return ChildProcess(pid);
}

void RunProgram(const std::string& programName, const std::string& arguments,
                std::uint16_t /*showState*/, bool wait) {
  // The program's console output must not mix with the log on our standard output.
  ChildProcess program =
      StartProgram(programName, SplitCommandLine(RunProgramCommandLine(arguments)), STDERR_FILENO);
  if (wait) {
    program.Wait();
  } else {
    program.Detach();
  }
}

}  // namespace orolith
