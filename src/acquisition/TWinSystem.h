#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orolith {

// An operating-system call that failed: "System Error.  Code: N." and the system's text.
class SystemError : public std::runtime_error {
 public:
  explicit SystemError(int code);
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

// Splits a command-line text into arguments the Windows way: blanks and control characters,
// and pairs of adjacent double quotes, separate arguments; a quoted stretch may hold blanks
// and loses its quotes; a backslash is an ordinary character.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The command-line text RunProgram hands over: arguments with one blank put in front unless
// they are empty or already begin with one.
std::string RunProgramCommandLine(std::string_view arguments);

// Starts programName with the arguments text split as above, its first word becoming the
// program's own name (argv[0]). A name without a folder is taken from the current directory
// when it is there, else from PATH. The program's standard output goes to our standard error
// and its standard input is empty. showState is the window show command of systems that have
// one. Throws SystemError when the program can't be started.
void RunProgram(const std::string& programName, const std::string& arguments,
                std::uint16_t showState, bool wait);

}  // namespace orolith
