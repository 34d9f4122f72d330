#pragma once

#include "base/Interrupt.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace orolith {

// What an operation needs of the program that runs it: the window and the command-line tool
// each implement it, tests implement it with a vector of lines.
class OperationHost {
 public:
  // decimalSeparator: the user's, for every number the operation writes.
  explicit OperationHost(char decimalSeparator = '.') : decimalSeparator_(decimalSeparator) {}
  OperationHost(const OperationHost&) = delete;
  OperationHost& operator=(const OperationHost&) = delete;
  virtual ~OperationHost() = default;

  char DecimalSeparator() const noexcept { return decimalSeparator_; }

  // Appends one whole line at the end of the log.
  virtual void AppendLine(const std::string& line) = 0;
  // Lets the program handle what is pending (called once per tile by the operations that
  // say so). May throw Interrupted to stop the operation.
  virtual void ProcessPendingEvents() = 0;
  // The large-file question: true for OK, false for Cancel.
  virtual bool ConfirmLargeFile(const std::string& text, const std::string& caption) = 0;
  // Progress of a long generation, reported once per tile column at most; optional. May throw
  // Interrupted to stop the operation.
  virtual void ReportProgress(std::uint64_t /*cellsDone*/, std::uint64_t /*cellsPlanned*/) {}
  // Progress of an operation that walks the region's tiles (the coverage check, the downloads):
  // tilesDone of tilesPlanned are finished, the next is under way. Reported once per tile;
  // optional. May throw Interrupted to stop the operation.
  virtual void ReportTileProgress(std::uint64_t /*tilesDone*/, std::uint64_t /*tilesPlanned*/) {}
  // Called every few tens of milliseconds while an operation waits on the network or on the
  // archiver: the window keeps answering here. Throws Interrupted to end the wait at once.
  virtual void WhileWaiting() { ThrowIfInterrupted(); }
  // A note for the person running the program that the log does not carry (why a download
  // attempt failed, a folder that can't be read). The command-line tool prints it on stderr;
  // the window's log stays as it is.
  virtual void Diagnose(const std::string& /*text*/) {}

 protected:
  void SetDecimalSeparator(char decimalSeparator) noexcept { decimalSeparator_ = decimalSeparator; }

 private:
  char decimalSeparator_;
};

// The banner that opens a block of the log: width asterisks, the title, width asterisks.
void AppendBanner(OperationHost& host, std::string_view title, std::size_t width);

// Appends a text of several lines separated by CR LF as one log line each.
void AppendLines(OperationHost& host, std::string_view text);

}  // namespace orolith
