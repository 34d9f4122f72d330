#pragma once

#include "base/OperationHost.h"

#include <string>
#include <vector>

namespace orolith::test {

// A host that records every line and note and answers the large-file question as told.
class RecordingHost : public OperationHost {
 public:
  explicit RecordingHost(char decimalSeparator = '.') : OperationHost(decimalSeparator) {}
  void UseSeparator(char decimalSeparator) { SetDecimalSeparator(decimalSeparator); }

  void AppendLine(const std::string& line) override { lines.push_back(line); }
  void ProcessPendingEvents() override { ++pumps; }
  bool ConfirmLargeFile(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + ": " + text);
    return answer;
  }
  void Diagnose(const std::string& text) override { notes.push_back(text); }

  std::vector<std::string> lines;
  std::vector<std::string> questions;
  std::vector<std::string> notes;
  int pumps = 0;
  bool answer = true;
};

}  // namespace orolith::test
