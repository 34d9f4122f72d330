#include "gui/Orolith_Main.h"

#include "base/Interrupt.h"
#include "frontpanel/Workspace.h"
#include "gui/RegionMap.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <new>

namespace orolith {
namespace {

// How often a running operation lets the window answer: often enough for a click on Stop to
// feel immediate, seldom enough to cost the work nothing.
constexpr std::chrono::milliseconds AnswerEvery{40};

// The log's line for an operation stopped on request.
constexpr const char* StoppedLine = "Stopped by the user";

}  // namespace

void TForm4::ProcessPendingEvents() {
  QCoreApplication::processEvents();
  lastAnswered_ = std::chrono::steady_clock::now();
  ThrowIfStopped();
}

void TForm4::ReportProgress(std::uint64_t cellsDone, std::uint64_t cellsPlanned) {
  ShowProgress(cellsDone, cellsPlanned, false);
  AnswerWhileBusy();
}

void TForm4::ReportTileProgress(std::uint64_t tilesDone, std::uint64_t tilesPlanned) {
  ShowProgress(tilesDone, tilesPlanned, true);
  AnswerWhileBusy();
}

void TForm4::WhileWaiting() {
  QCoreApplication::processEvents();
  lastAnswered_ = std::chrono::steady_clock::now();
  ThrowIfStopped();
}

bool TForm4::ConfirmLargeFile(const std::string& text, const std::string& caption) {
  return AskOkCancel(QString::fromStdString(text), QString::fromStdString(caption));
}

void TForm4::Diagnose(const std::string& text) {
  notes_.push_back(text);
}

QString TForm4::NotesText() const {
  // A region of many tiles may fail in as many ways; the first ones tell the story.
  constexpr std::size_t shown = 20;
  QStringList lines;
  for (std::size_t i = 0; i < notes_.size() && i < shown; ++i) {
    lines.push_back(QString::fromStdString(notes_[i]));
  }
  if (notes_.size() > shown) {
    lines.push_back(QStringLiteral("... and %1 more").arg(notes_.size() - shown));
  }
  return lines.join(u'\n');
}

void TForm4::AnswerWhileBusy() {
  // Events belong to the window's thread; a report from elsewhere only looks at the stop.
  if (QThread::currentThread() == thread()) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAnswered_ >= AnswerEvery) {
      lastAnswered_ = now;
      QCoreApplication::processEvents();
    }
  }
  ThrowIfStopped();
}

void TForm4::ThrowIfStopped() const {
  if (stopRequested_) throw Interrupted();
  ThrowIfInterrupted();
}

void TForm4::RequestStop() {
  if (!running_ || stopRequested_) return;
  stopRequested_ = true;
  StopCtl->setEnabled(false);
  ProgressCtl->setFormat(QStringLiteral("Stopping ..."));
}

void TForm4::ShowRunning(bool running) {
  StopCtl->setEnabled(running);
  progressShown_ = -1;
  ProgressCtl->setTextVisible(running);
  ProgressCtl->setFormat(QString());
  // Busy until the operation says how far it has come.
  ProgressCtl->setRange(0, running ? 0 : 1);
  ProgressCtl->setValue(0);
}

void TForm4::ShowProgress(std::uint64_t done, std::uint64_t planned, bool tiles) {
  if (planned == 0 || stopRequested_) return;
  constexpr int Steps = 1000;
  const int step = static_cast<int>(std::min(done, planned) * Steps / planned);
  // Tiles are few: each one shows; a model's cells move the bar a thousandth at a time.
  const int shown = tiles ? static_cast<int>(std::min<std::uint64_t>(done, 1U << 30)) : step;
  if (shown == progressShown_) return;
  progressShown_ = shown;
  if (ProgressCtl->maximum() != Steps) ProgressCtl->setRange(0, Steps);
  ProgressCtl->setValue(step);
  ProgressCtl->setFormat(tiles ? QStringLiteral("Tile %1 of %2")
                                     .arg(static_cast<qulonglong>(std::min(done + 1, planned)))
                                     .arg(static_cast<qulonglong>(planned))
                               : QStringLiteral("%p %"));
}

void TForm4::RunOperation(
    const std::function<void(const ModelSettings&, Workspace&, OperationHost&)>& operation) {
  // The operations pump events between tiles, so a click can arrive while one runs; the tile
  // object and the face list belong to the running one.
  if (running_) {
    Beep();
    return;
  }
  running_ = true;
  stopRequested_ = false;
  notes_.clear();
  lastAnswered_ = std::chrono::steady_clock::now();
  ShowRunning(true);
  settings_ = ReadModelSettings(ReadPanel());
  std::optional<QString> failure;
  bool interrupted = false;
  try {
    operation(settings_, *workspace_, *this);
  } catch (const Interrupted&) {
    // Asked for: no error. A signal closes the window anyway; a stop the user asked for is
    // worth a line.
    interrupted = true;
    if (stopRequested_) AppendLine(StoppedLine);
  } catch (const std::bad_alloc&) {
    failure = QStringLiteral("Out of memory");
  } catch (const std::exception& error) {
    failure = QString::fromStdString(error.what());
  } catch (...) {
    failure = QStringLiteral("Unknown error");
  }
  running_ = false;
  stopRequested_ = false;
  ShowRunning(false);
  // The reasons behind the log's failures, where they are seen: with the error that ended the
  // operation, or on their own once it is done.
  const QString notes = NotesText();
  if (failure) {
    ShowError(notes.isEmpty() ? *failure : *failure + QStringLiteral("\n\n") + notes);
  } else if (!notes.isEmpty() && !interrupted) {
    ShowNotes(notes);
  }
  // Tiles may have come; the map need not wait for its next look.
  RegionMap->RefreshTiles();
  // A close asked for while the operation ran happens now that it has ended.
  if (closePending_ || InterruptSignal() != 0) {
    closePending_ = false;
    close();
  }
}

void TForm4::CloseOnInterrupt() {
  if (InterruptSignal() == 0) return;
  // A question or an error box open now is answered Cancel; a running operation stops at its
  // next check and closes the window as it ends.
  if (QWidget* box = QApplication::activeModalWidget()) box->close();
  if (!running_) close();
}

void TForm4::closeEvent(QCloseEvent* event) {
  // The operation stops at its next check, leaving nothing half-written, and then the window
  // closes.
  if (running_) {
    closePending_ = true;
    RequestStop();
    event->ignore();
    return;
  }
  SaveSettings();
  QWidget::closeEvent(event);
}

}  // namespace orolith
