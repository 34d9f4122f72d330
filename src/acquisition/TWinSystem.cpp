#include "acquisition/TWinSystem.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "frontpanel/ModelSettings.h"
#include "frontpanel/NumberText.h"
#include "frontpanel/TSystem.h"

namespace orolith {
namespace {

constexpr std::uint16_t ShowNormal = 1;
constexpr const char* ArchiverName = "7za";

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

void WaitForExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

SystemError::SystemError(int code)
    : std::runtime_error(FormatText('.', "System Error.  Code: %d.", {code}) + "\n" +
                         std::strerror(code)),
      code_(code) {}

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

void RunProgram(const std::string& programName, const std::string& arguments,
                std::uint16_t /*showState*/, bool wait) {
  std::vector<std::string> words = SplitCommandLine(RunProgramCommandLine(arguments));
  // A program must never start without a name of its own.
  if (words.empty()) words.push_back(programName);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  std::string path = programName;
  bool searchPath = programName.find('/') == std::string::npos;
  if (searchPath) {
    const std::string local = "./" + programName;
    if (FileExists(local)) {
      path = local;
      searchPath = false;
    }
  }

  // The program's console output must not mix with the log on our standard output, and it
  // must never sit waiting for an answer on our standard input.
  SpawnFileActions actions;
  actions.Check(posix_spawn_file_actions_adddup2(actions.Get(), STDERR_FILENO, STDOUT_FILENO));
  actions.Check(
      posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0));

  pid_t pid = 0;
  const int error =
      searchPath ? posix_spawnp(&pid, path.c_str(), actions.Get(), nullptr, argv.data(), environ)
                 : posix_spawn(&pid, path.c_str(), actions.Get(), nullptr, argv.data(), environ);
  if (error != 0) throw SystemError(error);
  if (wait) WaitForExit(pid);
}

std::string ArchiverArguments(const std::string& archiveFileName) {
  const std::string folder = archiveFileName.substr(0, archiveFileName.rfind(PathSeparator) + 1);
  return "e e \"" + archiveFileName + "\" -o\"" + folder + "\" -aoa";
}

void WriteFileAtomically(const std::string& fileName, const std::vector<char>& bytes) {
  AtomicOutputFile file(fileName);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

bool DownloadAndUnzip(const std::string& url, const std::string& archiveFileName,
                      OperationHost& host, const HttpLimits& limits) {
  {
    HttpClient client(limits);
    host.AppendLine("Attempting to Download : " + url);
    try {
      const std::vector<char> body = client.Get(url);
      host.AppendLine("Download completed, attempting to save to : " + archiveFileName);
      WriteFileAtomically(archiveFileName, body);
    } catch (const HttpError&) {
      // Whether the attempt counts is judged by the archive file alone: one left by an
      // earlier run still serves.
    }
  }
  if (!FileExists(archiveFileName)) {
    host.AppendLine("Download failed for some reason");
    return false;
  }
  const std::string arguments = ArchiverArguments(archiveFileName);
  host.AppendLine("Download successful, ... trying to unzip with " + arguments);
  RunProgram(ArchiverName, arguments, ShowNormal, true);
  return true;
}

}  // namespace orolith
