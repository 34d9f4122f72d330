#pragma once

#include "base/OperationHost.h"
#include "frontpanel/DownloadSettings.h"
#include "frontpanel/ModelSettings.h"
#include "gui/WindowLayout.h"
#include "preview/MapGeometry.h"
#include "tiles/TileSource.h"

#include <QSize>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class QCheckBox;
class QCloseEvent;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QResizeEvent;
class QScrollArea;
class QShowEvent;
class QTabWidget;
class QToolButton;

namespace orolith {

class TModelView;
class TPRFloatSpinEdit;
class TMapPanel;
class TRegionMap;
class TSRTM;
struct WindowKeys;
struct Workspace;

// The window's conversations with the user: each one left empty is the Qt dialog. Tests set them
// to observe and answer.
struct WindowDialogs {
  std::function<void()> Beep;
  // The OK/Cancel question without an icon; true for OK. Closing the box is Cancel.
  std::function<bool(const QString& text, const QString& caption)> AskOkCancel;
  // The modal report of an error that ended an operation.
  std::function<void(const QString& text)> ShowError;
  // The report, after an operation, of what its log does not say: why download attempts
  // failed, a data root or tile folder that can't be used.
  std::function<void(const QString& text)> ShowNotes;
  // The save dialog opened on fileName: the chosen full name, or nothing when cancelled.
  std::function<std::optional<QString>(const QString& fileName)> ChooseSaveFile;
  // The open dialog for the user's raster, opened on fileName: the chosen file, or nothing.
  std::function<std::optional<QString>(const QString& fileName)> ChooseDemFile;
  // The folder dialog for the data root, opened on root: the chosen folder, or nothing.
  std::function<std::optional<QString>(const QString& root)> ChooseDataRoot;
};

// The main window: every setting, the four operations, the file name and the log on the front
// panel, and beside it the map of the region and the 3D view of the model last made. It owns
// the one tile object, the data root and its tile folders and the download folder lists for
// the life of the process, and runs one operation at a time, with its progress and a Stop
// button under the log. The log and the panel beside the front panel take what room the window
// has; the front panel scrolls when the window is too short for it.
class TForm4 : public QWidget, public OperationHost {
  Q_OBJECT

 public:
  static constexpr int FrontPanelWidth = layout::FrontPanelWidth;
  static constexpr int PanelWidth = layout::PreviewWidth;
  static constexpr int WindowHeight = layout::WindowHeight;

  // arguments: the command line, program name first. decimalSeparator: the locale's, for every
  // number the window shows or reads.
  TForm4(std::span<const char* const> arguments, char decimalSeparator, QWidget* parent = nullptr);
  ~TForm4() override;

  WindowDialogs& Dialogs() { return dialogs_; }
  const DataFolders& Folders() const;
  const ArchiveSource& Source() const;
  // The front-panel settings as the last operation read them.
  const ModelSettings& Settings() const { return settings_; }
  TSRTM& Tile();
  bool OperationRunning() const { return running_; }
  // Asks the running operation to stop at its next check (Stop, Escape); nothing when none runs.
  void RequestStop();

  // Every field as an operation sees it.
  FrontPanelValues ReadPanel() const;

  void AppendLine(const std::string& line) override;
  // The window answers between tiles; a signal (INT, TERM, HUP) ends the operation.
  void ProcessPendingEvents() override;
  // The progress bar follows, and the window answers every few tens of milliseconds; Stop,
  // Escape, closing the window or a signal ends the operation.
  void ReportProgress(std::uint64_t cellsDone, std::uint64_t cellsPlanned) override;
  void ReportTileProgress(std::uint64_t tilesDone, std::uint64_t tilesPlanned) override;
  // The window answers while a download waits; closing it or a signal ends the wait at once.
  void WhileWaiting() override;
  bool ConfirmLargeFile(const std::string& text, const std::string& caption) override;
  // Kept for the end of the operation, which shows them all at once.
  void Diagnose(const std::string& text) override;

  TPRFloatSpinEdit* Long1Ctl = nullptr;
  TPRFloatSpinEdit* Long2Ctl = nullptr;
  TPRFloatSpinEdit* Lat1Ctl = nullptr;
  TPRFloatSpinEdit* Lat2Ctl = nullptr;
  TPRFloatSpinEdit* Z1Ctl = nullptr;
  TPRFloatSpinEdit* Z2Ctl = nullptr;
  TPRFloatSpinEdit* XSizeCtl = nullptr;
  TPRFloatSpinEdit* ZSizeCtl = nullptr;
  TPRFloatSpinEdit* ZBaseCtl = nullptr;
  TPRFloatSpinEdit* XY_ResolutionCtl = nullptr;
  QLineEdit* SaveFilenameCtl = nullptr;
  QPushButton* Button4 = nullptr;
  QCheckBox* BlockSRTM1Ctl = nullptr;
  QCheckBox* BlockSRTM3Ctl = nullptr;
  QCheckBox* BlockSRTM30Ctl = nullptr;
  QCheckBox* BlockCOP30Ctl = nullptr;
  QCheckBox* MissedDataCtl = nullptr;
  QCheckBox* SolidCtl = nullptr;
  // The user's raster, whose heights replace the tile folders' when it names one.
  QLineEdit* DemFileCtl = nullptr;
  QToolButton* SelectDemCtl = nullptr;
  TPRFloatSpinEdit* FloorCtl = nullptr;
  TPRFloatSpinEdit* MaxErrorCtl = nullptr;
  // What sets the model up for a printer: the band found in the region, a map scale for the X
  // extent, an exaggeration for the Z extent, the max. error from the layer height, and the
  // button that sets all of them for a print.
  QCheckBox* ElevationAutoCtl = nullptr;
  TPRFloatSpinEdit* ScaleCtl = nullptr;
  TPRFloatSpinEdit* ExaggerationCtl = nullptr;
  QCheckBox* MaxErrorAutoCtl = nullptr;
  TPRFloatSpinEdit* LayerHeightCtl = nullptr;
  QPushButton* PrintCtl = nullptr;
  QPushButton* FileTestCtl = nullptr;
  QPushButton* GetSRTM1Ctl = nullptr;
  QPushButton* GetSRTM3Ctl = nullptr;
  QComboBox* TileSourceCtl = nullptr;
  QPushButton* CreateStlCtl = nullptr;
  QLabel* Label6 = nullptr;
  // The data root in use, and the dialog that chooses another.
  QLabel* DataRootCtl = nullptr;
  QToolButton* SelectDataRootCtl = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  // Under the log: whether the fields are kept for the next start, and the running operation's
  // progress with its Stop button.
  QCheckBox* RememberCtl = nullptr;
  QProgressBar* ProgressCtl = nullptr;
  QPushButton* StopCtl = nullptr;
  // The front panel's own widget, inside the area that scrolls it.
  QWidget* FrontPanel = nullptr;
  QScrollArea* FrontScroll = nullptr;
  QTabWidget* PreviewTabs = nullptr;
  // The map with its search bar and switches; RegionMap is its map.
  TMapPanel* MapPanel = nullptr;
  TRegionMap* RegionMap = nullptr;
  // None where the display gives no OpenGL; the tab then says so.
  TModelView* ModelView = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateFrontPanel();
  void CreateRegionGroup();
  void CreateOutputGroup();
  void CreateFileGroup();
  void CreateSpecialCasesGroup();
  void CreateActionGroup();
  void CreateLog();
  void CreateDataRootRow();
  void CreateStatusRow();
  void CreatePreviewPanel();
  void SetToolTips();
  void SetTabOrder();
  void ConnectHandlers();
  void ConnectPreview();
  void WatchForInterrupts();
  void FormCreate(std::span<const char* const> arguments);

  // The window within the screen's free area, as large as the front panel and the map need.
  void PlaceOnScreen();
  void FitOnScreen();
  void LayOutFrontPanel();

  QGroupBox* MakeGroup(const QString& title, int left, int top, int width, int height);
  TPRFloatSpinEdit* MakeSpinEdit(QWidget* group, const FieldLimits& field, int left, int top,
                                 int width);
  void MakeLabel(QWidget* group, const QString& text, int left, int top);
  // room: the most the box may take, 0 for up to the group's edge.
  QCheckBox* MakeCheckBox(QWidget* group, const QString& text, int left, int top, int width,
                          int room = 0);

  void FileTestCtlClick();
  void GetSRTM1CtlClick();
  void GetSRTM3CtlClick();
  void CreateStlCtlClick();
  void Button4Click();
  void SelectDemCtlClick();
  void SelectDataRootCtlClick();
  void PrintCtlClick();
  // The fields that an automatic value or a scale stands in for take no input while it does.
  void ShowFieldsInUse();
  // The model's size beside the map's rectangle follows every field it depends on.
  void ConnectModelSize();
  void TileSourceCtlChange(int index);
  void CloseOnInterrupt();

  // Takes root as the data root: the tile folders, the map and the label follow, and the log
  // says where the tiles are now looked for.
  void UseDataRoot(const std::string& root, RootOrigin origin);
  void ShowDataRoot();

  // The fields, boxes and choices kept from the last run, under what the command line set.
  void RestoreSettings(const WindowKeys& keys);
  void SaveSettings() const;

  // The progress bar and the Stop button while an operation runs, and idle again.
  void ShowRunning(bool running);
  void ShowProgress(std::uint64_t done, std::uint64_t planned, bool tiles);
  // Lets the window answer, at most every few tens of milliseconds, then stops the operation
  // when a stop has been asked for.
  void AnswerWhileBusy();
  void ThrowIfStopped() const;

  void ShowTileSource();
  TileBlocks PanelBlocks() const;
  RegionFields PanelRegion() const;
  // The rectangle follows the fields at once; the map fits a region typed or stepped in, and
  // keeps still for one it drew itself.
  void RegionFieldChanged(TPRFloatSpinEdit* field);
  void FitMapToFields();
  void TakeDrawnRegion(const RegionFields& fields);

  // Runs one operation on the panel's values; a second one while it runs is refused with a
  // beep, and an error that ends it is shown in a message box.
  void RunOperation(
      const std::function<void(const ModelSettings&, Workspace&, OperationHost&)>& operation);

  void Beep();
  bool AskOkCancel(const QString& text, const QString& caption);
  void ShowError(const QString& text);
  void ShowNotes(const QString& text);
  // The notes of the operation that just ended, one a line; empty when it left none.
  QString NotesText() const;
  std::optional<QString> ChooseSaveFile(const QString& fileName);
  std::optional<QString> ChooseDemFile(const QString& fileName);
  std::optional<QString> ChooseDataRoot(const QString& root);

  WindowDialogs dialogs_;
  std::unique_ptr<Workspace> workspace_;
  ModelSettings settings_;
  // The tile source as the command line gave it; the choice of another keeps its settings.
  ArchiveSource givenSource_;
  // The region the map last fitted or drew.
  std::optional<RegionFields> mapRegion_;
  bool takingDrawnRegion_ = false;
  // From Seed= on the command line: every model run makes the same centres.
  std::optional<std::uint64_t> seed_;
  std::optional<float> waterLevel_;  // WaterLevel=
  QGroupBox* regionGroup_ = nullptr;
  QGroupBox* outputGroup_ = nullptr;
  QGroupBox* fileGroup_ = nullptr;
  QGroupBox* specialGroup_ = nullptr;
  QGroupBox* actionGroup_ = nullptr;
  RootOrigin rootOrigin_ = RootOrigin::ExecutionDirectory;
  bool running_ = false;
  bool closePending_ = false;
  // Stop, Escape or a close asked the running operation to end.
  bool stopRequested_ = false;
  bool shownBefore_ = false;
  // The size the window was placed with, until anyone else gives it one.
  QSize placedSize_;
  std::chrono::steady_clock::time_point lastAnswered_;
  // The bar's last value, so that it is set only when it moves.
  int progressShown_ = -1;
  // What the running operation passed to Diagnose.
  std::vector<std::string> notes_;
};

}  // namespace orolith
