#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// Splits a command-line text into arguments the Windows way: blanks and control characters,
// and pairs of adjacent double quotes, separate arguments; a quoted stretch may hold blanks
// and loses its quotes; a backslash is an ordinary character.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The command-line text RunProgram hands over: arguments with one blank put in front unless
// they are empty or already begin with one.
std::string RunProgramCommandLine(std::string_view arguments);

// A started program. One still running when this object goes is killed and reaped: no program
// outlives the wait that was meant for it.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) noexcept : pid_(pid) {}
  ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_) { other.pid_ = 0; }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ~ChildProcess();

  // Waits for the program to end and gives its wait status. whileWaiting, when given, is called
  // every few milliseconds meanwhile and may throw, which kills the program.
  int Wait(const std::function<void()>& whileWaiting = {});
  // Ends the program at once and reaps it.
  void Kill() noexcept;
  // Lets the program run on without us.
  void Detach() noexcept { pid_ = 0; }

 private:
  pid_t pid_;
};

// Starts programName with argv (argv[0] is the program's own name; an empty argv gives it
// programName). A name without a folder is taken from the current directory when it is there,
// else from PATH. The program's standard output goes to outputFd, its standard input is empty.
// Throws SystemError when the program can't be started.
ChildProcess StartProgram(const std::string& programName, std::vector<std::string> argv,
                          int outputFd);

// Starts programName with the arguments text split as above, its first word becoming the
// program's own name (argv[0]), for a whole command line as one text. The program's standard
// output goes to our standard error and its standard input is empty. showState is the window
// show command of systems that have one. Throws SystemError when the program can't be started.
// The unpacking starts the archiver with StartProgram, to read the tile from its output;
// RunProgram has no caller in the programs today.
void RunProgram(const std::string& programName, const std::string& arguments,
                std::uint16_t showState, bool wait);

}  // namespace orolith
