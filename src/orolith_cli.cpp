#include "CliOptions.h"
#include "acquisition/Coverage.h"
#include "acquisition/RegionDownloads.h"
#include "base/Errors.h"
#include "base/Files.h"
#include "base/Interrupt.h"
#include "base/NumberText.h"
#include "frontpanel/TSystem.h"
#include "frontpanel/Workspace.h"
#include "model/ModelSetup.h"
#include "model/SizeEstimate.h"
#include "model/TerrainModel.h"
#include "preview/Places.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace orolith {
namespace {

constexpr int ExitError = 1;
constexpr int ExitUsage = 2;
constexpr int ExitCancelled = 3;

// The log goes to stdout a line at a time, or to stderr when the model takes stdout; progress
// and the large-file question go to stderr, and only when a person is there to see them; so do
// the notes the log does not carry. An interrupt ends the run at its next check.
class ConsoleHost : public OperationHost {
 public:
  ConsoleHost(char decimalSeparator, bool yes, bool logOnStderr)
      : OperationHost(decimalSeparator),
        yes_(yes),
        log_(logOnStderr ? stderr : stdout),
        stderrTerminal_(::isatty(STDERR_FILENO) == 1),
        stdinTerminal_(::isatty(STDIN_FILENO) == 1) {}
  ~ConsoleHost() override { ClearProgress(); }

  void AppendLine(const std::string& line) override {
    ClearProgress();
    std::fwrite(line.data(), 1, line.size(), log_);
    std::fputc('\n', log_);
    if (std::fflush(log_) != 0) {
      throw std::runtime_error(std::string("Cannot write the log to standard ") +
                               (log_ == stdout ? "output" : "error") +
                               (errno == EPIPE ? ": its reader stopped reading" : ""));
    }
  }

  void ProcessPendingEvents() override { ThrowIfInterrupted(); }

  bool ConfirmLargeFile(const std::string& text, const std::string& caption) override {
    if (yes_) return true;
    if (!stderrTerminal_ || !stdinTerminal_) {
      unasked_ = true;
      return false;
    }
    ClearProgress();
    std::fprintf(stderr, "%s\n%s [y/N] ", caption.c_str(), text.c_str());
    std::fflush(stderr);
    // Ctrl-C at the question ends the run at once rather than after the next Enter.
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (::poll(&input, 1, 100) == 0) ThrowIfInterrupted();
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
  }

  void ReportProgress(std::uint64_t done, std::uint64_t planned) override {
    ThrowIfInterrupted();
    if (!stderrTerminal_ || planned == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - lastShown_ < std::chrono::milliseconds(100)) return;
    lastShown_ = now;
    std::fprintf(stderr, "\r%llu of %llu cells (%llu %%)", static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(planned),
                 static_cast<unsigned long long>(done * 100 / planned));
    std::fflush(stderr);
    shown_ = true;
  }

  void Diagnose(const std::string& text) override {
    ClearProgress();
    std::fprintf(stderr, "orolith-cli: %s\n", text.c_str());
  }

  void ClearProgress() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
  }

  // Whether the large-file question went unasked for want of a terminal.
  bool Unasked() const { return unasked_; }

 private:
  bool yes_;
  std::FILE* log_;
  bool unasked_ = false;
  bool stderrTerminal_;
  bool stdinTerminal_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point lastShown_{};
};

// Whether the model named file goes where stdout goes: through descriptor 1 or another one
// open on the same file or pipe.
bool IntoStandardOutput(const std::string& file) {
  const std::optional<int> fd = AtomicOutputFile::OutputDescriptor(file);
  if (!fd) return false;
  struct stat model {};
  struct stat out {};
  return *fd == STDOUT_FILENO || (::fstat(*fd, &model) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
                                  model.st_dev == out.st_dev && model.st_ino == out.st_ino);
}

// 0 when the run left no tile undone; else 1, after the tiles and why on stderr: the log says
// "not found" alike of a tile the server lacks and of one it could not be asked for.
int DownloadStatus(const DownloadOutcome& outcome) {
  if (outcome.Complete()) return 0;
  const std::size_t count = outcome.Failed.size();
  std::fprintf(stderr, "orolith-cli: %zu %s could not be downloaded:\n", count,
               count == 1 ? "tile" : "tiles");
  for (const TileFailure& failure : outcome.Failed) {
    std::fprintf(stderr, "orolith-cli:   %s: %s\n", failure.Tile.c_str(), failure.Reason.c_str());
  }
  return ExitError;
}

// The megabytes the large-file question asked about: of the model as a printer's options set
// it up, with the band found again when it is to be found.
long double AskedSize(const ModelSettings& settings, Workspace& workspace, OperationHost& host) {
  if (!PrintSetup(settings)) return EstimateSize(settings).MegaBytes;
  std::optional<DemRaster> dem;
  if (!settings.DemFile.empty()) dem.emplace(settings.DemFile);
  return EstimateSize(SettingsForModel(settings, workspace, dem ? &*dem : nullptr, host)).MegaBytes;
}

// The map's search: the best matches on stdout, one a line; 1 when there is none.
int FindPlaces(const std::string& name, char sep) {
  constexpr std::size_t MaxLines = 20;
  const std::vector<const Place*> found = Places::Builtin().Find(name, MaxLines);
  if (found.empty()) {
    std::fprintf(stderr, "orolith-cli: no place found whose name begins with \"%s\"\n",
                 name.c_str());
    return ExitError;
  }
  for (const Place* place : found) std::printf("%s\n", PlaceLine(*place, sep).c_str());
  return 0;
}

int RunCommand(const CliOptions& options, char sep) {
  if (options.Command == CliCommand::FindPlace) return FindPlaces(options.PlaceName, sep);
  Workspace workspace(
      MakeDataFolders(options.DataRoot.empty() ? std::filesystem::current_path().string()
                                               : options.DataRoot),
      options.Source);
  FrontPanelValues panel = options.Panel;
  if (options.RegionFromDem) UseRasterExtent(panel);
  if (panel.StlFileName == "-") panel.StlFileName = "/dev/stdout";
  // The stream then holds the model alone.
  const bool logOnStderr =
      options.Command == CliCommand::Create && IntoStandardOutput(panel.StlFileName);
  ConsoleHost host(sep, options.Yes, logOnStderr);
  const ModelSettings settings = ReadModelSettings(panel);
  switch (options.Command) {
    case CliCommand::Create: {
      GenerationOptions generation;
      generation.Seed = options.Seed;
      const RunOutcome outcome = CreateStlModel(settings, workspace, host, generation);
      host.ClearProgress();
      if (outcome == RunOutcome::Completed) return 0;
      if (host.Unasked()) {
        std::fprintf(stderr,
                     "orolith-cli: cancelled: the STL file would be about %s MB, and there is no "
                     "terminal to ask whether to make it; rerun with --yes to make it\n",
                     FormatText(sep, "%.0f", {AskedSize(settings, workspace, host)}).c_str());
      }
      return ExitCancelled;
    }
    case CliCommand::Test:
      CheckTileCoverage(settings, workspace, host);
      return 0;
    case CliCommand::DownloadSrtm1:
      return DownloadStatus(DownloadSrtm1Files(settings, workspace, host));
    case CliCommand::DownloadSrtm3:
      return DownloadStatus(DownloadSrtm3Files(settings, workspace, host));
    case CliCommand::FindPlace:
      break;
  }
  return ExitError;
}

int Main(int argc, char** argv) {
  InstallInterruptHandlers();
  const char sep = EnvironmentDecimalSeparator();
  CliOptions options;
  try {
    options = ParseCliOptions(argc, argv, sep);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "orolith-cli: %s\nRun orolith-cli --help for the options.\n", e.what());
    return ExitUsage;
  }
  if (options.Info) {
    std::fputs(options.Info->c_str(), stdout);
    return 0;
  }
  for (const std::string& warning : options.Warnings) {
    std::fprintf(stderr, "orolith-cli: warning: %s\n", warning.c_str());
  }
  try {
    return RunCommand(options, sep);
  } catch (const Interrupted& e) {
    std::fprintf(stderr, "orolith-cli: %s\n", e.what());
    // The status a shell gives a program the signal ended.
    return 128 + (InterruptSignal() != 0 ? InterruptSignal() : SIGINT);
  } catch (const std::bad_alloc&) {
    std::fputs("orolith-cli: Out of memory\n", stderr);
  } catch (const FileError& e) {
    std::fprintf(stderr, "orolith-cli: %s\n", e.what());
    if (e.ErrorNumber() == EPIPE) {
      std::fprintf(stderr,
                   "orolith-cli: the reader of \"%s\" stopped reading before the end of the "
                   "model\n",
                   e.FileName().c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orolith-cli: %s\n", e.what());
  }
  return ExitError;
}

}  // namespace
}  // namespace orolith

int main(int argc, char** argv) {
  return orolith::Main(argc, argv);
}
