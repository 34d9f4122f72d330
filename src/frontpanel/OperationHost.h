#pragma once

#include <cstdint>
#include <string>

namespace orolith {

// What an operation needs of the program that runs it: the window and the command-line tool
// each implement it, tests implement it with a vector of lines.
class OperationHost {
 public:
  virtual ~OperationHost() = default;

  // Appends one whole line at the end of the log.
  virtual void AppendLine(const std::string& line) = 0;
  // Lets the program handle what is pending (called once per tile by the operations that
  // say so).
  virtual void ProcessPendingEvents() = 0;
  // The large-file question: true for OK, false for Cancel.
  virtual bool ConfirmLargeFile(const std::string& text, const std::string& caption) = 0;
  // Progress of a long generation, reported once per tile column at most; optional.
  virtual void ReportProgress(std::uint64_t /*cellsDone*/, std::uint64_t /*cellsPlanned*/) {}
};

}  // namespace orolith
