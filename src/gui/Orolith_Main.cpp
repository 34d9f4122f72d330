#include "gui/Orolith_Main.h"

#include "acquisition/Coverage.h"
#include "acquisition/RegionDownloads.h"
#include "base/Interrupt.h"
#include "frontpanel/WindowKeys.h"
#include "frontpanel/Workspace.h"
#include "gui/FloatSpin.h"
#include "gui/MapPanel.h"
#include "gui/ModelView.h"
#include "gui/PanelLook.h"
#include "gui/RegionMap.h"
#include "model/TerrainModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <new>
#include <vector>

namespace orolith {
namespace {

constexpr const char* ProgramTitle = "Marlowen Orolith 20130304";

}  // namespace

TForm4::TForm4(std::span<const char* const> arguments, char decimalSeparator, QWidget* parent)
    : QWidget(parent), OperationHost(decimalSeparator) {
  setWindowTitle(QStringLiteral("Marlowen Orolith"));
  setFont(PanelFont("Tahoma", 11, QFont::SansSerif));
  CreateFrontPanel();
  CreateRegionGroup();
  CreateOutputGroup();
  CreateFileGroup();
  CreateSpecialCasesGroup();
  CreateActionGroup();
  CreateLog();
  CreatePreviewPanel();
  PlaceOnScreen();
  SetToolTips();
  SetTabOrder();
  ConnectHandlers();
  ConnectPreview();
  WatchForInterrupts();
  FormCreate(arguments);
}

TForm4::~TForm4() {
  // QWidget's destructor closes the window and so takes the focus out of a field, whose signals
  // must not reach this window any more.
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

const DataFolders& TForm4::Folders() const {
  return workspace_->Folders;
}

const ArchiveSource& TForm4::Source() const {
  return workspace_->Source;
}

TSRTM& TForm4::Tile() {
  return workspace_->Tile;
}

void TForm4::ConnectHandlers() {
  connect(FileTestCtl, &QPushButton::clicked, this, &TForm4::FileTestCtlClick);
  connect(GetSRTM1Ctl, &QPushButton::clicked, this, &TForm4::GetSRTM1CtlClick);
  connect(GetSRTM3Ctl, &QPushButton::clicked, this, &TForm4::GetSRTM3CtlClick);
  connect(CreateStlCtl, &QPushButton::clicked, this, &TForm4::CreateStlCtlClick);
  connect(Button4, &QPushButton::clicked, this, &TForm4::Button4Click);
  connect(SelectDemCtl, &QToolButton::clicked, this, &TForm4::SelectDemCtlClick);
  connect(SelectDataRootCtl, &QToolButton::clicked, this, &TForm4::SelectDataRootCtlClick);
  connect(StopCtl, &QPushButton::clicked, this, &TForm4::RequestStop);
  // Escape stops the running operation wherever the focus is; a box or a dialog open takes it
  // first.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &TForm4::RequestStop);
  connect(TileSourceCtl, &QComboBox::currentIndexChanged, this, &TForm4::TileSourceCtlChange);
  connect(PrintCtl, &QPushButton::clicked, this, &TForm4::PrintCtlClick);
  for (QCheckBox* box : {ElevationAutoCtl, MaxErrorAutoCtl}) {
    connect(box, &QCheckBox::toggled, this, &TForm4::ShowFieldsInUse);
  }
  for (TPRFloatSpinEdit* field : {ScaleCtl, ExaggerationCtl}) {
    connect(field, &QLineEdit::textChanged, this, &TForm4::ShowFieldsInUse);
  }
}

void TForm4::ConnectPreview() {
  for (TPRFloatSpinEdit* field : {Long1Ctl, Long2Ctl, Lat1Ctl, Lat2Ctl}) {
    connect(field, &QLineEdit::textChanged, this, [this, field] { RegionFieldChanged(field); });
    connect(field, &QLineEdit::editingFinished, this, &TForm4::FitMapToFields);
  }
  for (QCheckBox* box : {BlockSRTM1Ctl, BlockSRTM3Ctl, BlockSRTM30Ctl, BlockCOP30Ctl}) {
    connect(box, &QCheckBox::toggled, this,
            [this] { RegionMap->SetTileSearch(Folders(), PanelBlocks()); });
  }
  connect(RegionMap, &TRegionMap::RegionDrawn, this, &TForm4::TakeDrawnRegion);
  connect(DemFileCtl, &QLineEdit::textChanged, this,
          [this](const QString& path) { RegionMap->SetRaster(path.toStdString()); });
  ConnectModelSize();
}

void TForm4::PlaceOnScreen() {
  // At the top left of the screen's free area, as large as it allows; the frame is known only
  // once the window is shown (FitOnScreen).
  setMinimumSize(layout::MinWindow);
  const QRect placed = FittedWindow(QSize(FrontPanelWidth + PanelWidth, WindowHeight),
                                    screen()->availableGeometry(), QMargins());
  move(placed.topLeft());
  resize(placed.size());
  placedSize_ = placed.size();
}

void TForm4::FitOnScreen() {
  // A size given since is the user's.
  if (size() != placedSize_) return;
  const QRect available = screen()->availableGeometry();
  const QRect frame = frameGeometry();
  if (available.contains(frame)) return;
  const QRect client = geometry();
  const QRect placed =
      FittedWindow(size(), available,
                   QMargins(client.left() - frame.left(), client.top() - frame.top(),
                            frame.right() - client.right(), frame.bottom() - client.bottom()));
  move(placed.topLeft());
  resize(placed.size());
  placedSize_ = placed.size();
}

void TForm4::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shownBefore_) return;
  shownBefore_ = true;
  // The window manager adds its frame once the window is up, when it gets to it; until the
  // window fits, each look may find it.
  for (const int delay : {0, 200, 1000}) QTimer::singleShot(delay, this, &TForm4::FitOnScreen);
}

void TForm4::WatchForInterrupts() {
  // A signal can't touch the window itself; the stop it asks for is looked at here and by the
  // running operation's own checks.
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, &TForm4::CloseOnInterrupt);
  timer->start(100);
}

void TForm4::FormCreate(std::span<const char* const> arguments) {
  setWindowTitle(QString::fromLatin1(ProgramTitle));
  const WindowKeys keys = ReadWindowKeys(arguments, DecimalSeparator());
  FloorCtl->SetValue(keys.FloorPercent);
  MaxErrorCtl->SetValue(keys.MaxError);
  MaxErrorAutoCtl->setChecked(keys.MaxErrorAuto);
  ElevationAutoCtl->setChecked(keys.ElevationAuto);
  ScaleCtl->SetValue(keys.Scale);
  ExaggerationCtl->SetValue(keys.Exaggeration);
  LayerHeightCtl->SetValue(keys.LayerHeight);
  ShowFieldsInUse();
  RegionMap->SetModelPanel(ReadPanel());
  givenSource_ = keys.Source;
  seed_ = keys.Seed;
  waterLevel_ = keys.WaterLevel;
  rootOrigin_ =
      keys.DataRootFromCommandLine ? RootOrigin::CommandLine : RootOrigin::ExecutionDirectory;
  // The one tile object is created here with the folders, as the window's own.
  workspace_ = std::make_unique<Workspace>(keys.Folders, keys.Source);
  DemFileCtl->setText(QString::fromStdString(keys.DemFile));
  MapPanel->OnlineBox()->setChecked(keys.OnlineMap);
  RestoreSettings(keys);
  ShowTileSource();
  ShowDataRoot();
  RegionMap->SetTileSearch(Folders(), PanelBlocks());
  FitMapToFields();

  Memo1->clear();
  for (const std::string& line : StartupLines(Folders(), rootOrigin_)) AppendLine(line);
  for (const std::string& problem : keys.Problems) {
    AppendLine(problem);
    // Shown once the window is up, so that the box has the window to stand on.
    QTimer::singleShot(0, this, [this, problem] { ShowError(QString::fromStdString(problem)); });
  }
}

FrontPanelValues TForm4::ReadPanel() const {
  FrontPanelValues panel;
  panel.Long1 = Long1Ctl->Value();
  panel.Long2 = Long2Ctl->Value();
  panel.Lat1 = Lat1Ctl->Value();
  panel.Lat2 = Lat2Ctl->Value();
  panel.Z1 = Z1Ctl->Value();
  panel.Z2 = Z2Ctl->Value();
  panel.XExtent = XSizeCtl->Value();
  panel.ZExtent = ZSizeCtl->Value();
  panel.ZBasePercent = ZBaseCtl->Value();
  panel.XYPixelSize = XY_ResolutionCtl->Value();
  panel.StlFileName = SaveFilenameCtl->text().toStdString();
  panel.BlockSrtm1 = BlockSRTM1Ctl->isChecked();
  panel.BlockSrtm3 = BlockSRTM3Ctl->isChecked();
  panel.BlockSrtm30 = BlockSRTM30Ctl->isChecked();
  panel.BlockCop30 = BlockCOP30Ctl->isChecked();
  panel.MissedDataZero = MissedDataCtl->isChecked();
  panel.Solid = SolidCtl->isChecked();
  panel.FloorPercent = FloorCtl->Value();
  panel.MaxError = MaxErrorCtl->Value();
  panel.DemFile = DemFileCtl->text().toStdString();
  panel.Scale = ScaleCtl->Value();
  panel.Exaggeration = ExaggerationCtl->Value();
  panel.ElevationAuto = ElevationAutoCtl->isChecked();
  panel.MaxErrorAuto = MaxErrorAutoCtl->isChecked();
  panel.LayerHeight = LayerHeightCtl->Value();
  panel.Extras.WaterLevel = waterLevel_;
  return panel;
}

void TForm4::AppendLine(const std::string& line) {
  Memo1->appendPlainText(QString::fromStdString(line));
}

void TForm4::FileTestCtlClick() {
  RunOperation(CheckTileCoverage);
}

void TForm4::GetSRTM1CtlClick() {
  RunOperation(DownloadSrtm1Files);
}

void TForm4::GetSRTM3CtlClick() {
  RunOperation(DownloadSrtm3Files);
}

void TForm4::CreateStlCtlClick() {
  GenerationOptions options;
  options.Seed = seed_;
  bool saved = false;
  RunOperation([&](const ModelSettings& settings, Workspace& workspace, OperationHost& host) {
    saved = CreateStlModel(settings, workspace, host, options) == RunOutcome::Completed;
  });
  if (!saved || !isVisible() || ModelView == nullptr) return;
  PreviewTabs->setCurrentWidget(ModelView);
  ModelView->ShowModel(QString::fromStdString(settings_.StlFileName));
}

void TForm4::TileSourceCtlChange(int index) {
  const auto layout = static_cast<ArchiveLayout>(TileSourceCtl->itemData(index).toInt());
  if (layout == Source().Layout) return;
  // A download under way keeps the source it started with.
  if (running_) {
    Beep();
    ShowTileSource();
    return;
  }
  workspace_->Source = WithLayout(givenSource_, layout);
  ShowTileSource();
}

void TForm4::ShowTileSource() {
  const QSignalBlocker quiet(TileSourceCtl);
  TileSourceCtl->setCurrentIndex(TileSourceCtl->findData(static_cast<int>(Source().Layout)));
  const bool copernicus = Source().Layout == ArchiveLayout::Copernicus;
  Label6->setText((copernicus ? QStringLiteral("Download Copernicus GLO-30 Files from    ")
                              : QStringLiteral("Download SRTM Files from    ")) +
                  QString::fromStdString(AddressShown(Srtm1BaseUrl(Source()))));
  // A longer address widens the label as far as the front panel allows.
  Label6->resize(std::clamp(Label6->sizeHint().width(), 572, FrontPanelWidth - 2 * Label6->x()),
                 Label6->height());
}

TileBlocks TForm4::PanelBlocks() const {
  return {BlockSRTM1Ctl->isChecked(), BlockSRTM3Ctl->isChecked(), BlockSRTM30Ctl->isChecked(),
          BlockCOP30Ctl->isChecked()};
}

RegionFields TForm4::PanelRegion() const {
  return {Long1Ctl->Value(), Long2Ctl->Value(), Lat1Ctl->Value(), Lat2Ctl->Value()};
}

void TForm4::RegionFieldChanged(TPRFloatSpinEdit* field) {
  RegionMap->SetRegion(PanelRegion());
  // Typing goes on until the field is left; a step, or a text set otherwise, is complete.
  if (!field->isModified()) FitMapToFields();
}

void TForm4::FitMapToFields() {
  if (takingDrawnRegion_) return;
  const RegionFields region = PanelRegion();
  if (mapRegion_ == region) return;
  mapRegion_ = region;
  RegionMap->SetRegion(region);
  RegionMap->FitToRegion();
}

void TForm4::TakeDrawnRegion(const RegionFields& fields) {
  takingDrawnRegion_ = true;
  Long1Ctl->SetValue(fields.Long1);
  Long2Ctl->SetValue(fields.Long2);
  Lat1Ctl->SetValue(fields.Lat1);
  Lat2Ctl->SetValue(fields.Lat2);
  takingDrawnRegion_ = false;
  mapRegion_ = PanelRegion();
  RegionMap->SetRegion(*mapRegion_);
}

void TForm4::Button4Click() {
  // The dialog runs its own event loop; while an operation runs, the window stays with it.
  if (running_) {
    Beep();
    return;
  }
  if (const std::optional<QString> chosen = ChooseSaveFile(SaveFilenameCtl->text())) {
    SaveFilenameCtl->setText(*chosen);
  }
}

void TForm4::SelectDemCtlClick() {
  if (running_) {
    Beep();
    return;
  }
  if (const std::optional<QString> chosen = ChooseDemFile(DemFileCtl->text())) {
    DemFileCtl->setText(*chosen);
  }
}

}  // namespace orolith
