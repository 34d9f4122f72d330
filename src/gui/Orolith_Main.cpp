#include "gui/Orolith_Main.h"

#include "acquisition/Coverage.h"
#include "acquisition/RegionDownloads.h"
#include "base/Interrupt.h"
#include "frontpanel/WindowKeys.h"
#include "frontpanel/Workspace.h"
#include "gui/FloatSpin.h"
#include "gui/ModelView.h"
#include "gui/PanelLook.h"
#include "gui/RegionMap.h"
#include "model/ModelFile.h"
#include "model/TerrainModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
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
  move(0, 0);
  resize(FrontPanelWidth + PanelWidth, WindowHeight);

  CreateRegionGroup();
  CreateOutputGroup();
  CreateFileGroup();
  CreateSpecialCasesGroup();
  CreateActionGroup();
  CreateLog();
  CreatePreviewPanel();
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

QGroupBox* TForm4::MakeGroup(const QString& title, int left, int top, int width, int height) {
  auto* group = new TGroupBox(title, this);
  // A later group covers what an earlier one draws under it, as the groups overlap a little.
  group->setAutoFillBackground(true);
  group->setGeometry(left, top, width, height);
  return group;
}

TPRFloatSpinEdit* TForm4::MakeSpinEdit(QWidget* group, const FieldLimits& field, int left, int top,
                                       int width) {
  auto* edit = new TPRFloatSpinEdit(group, DecimalSeparator());
  edit->setGeometry(left, top, width, 22);
  edit->ApplyField(field);
  edit->SetBeep([this] { Beep(); });
  return edit;
}

void TForm4::MakeLabel(QWidget* group, const QString& text, int left, int top) {
  auto* label = new QLabel(text, group);
  label->move(left, top);
  label->adjustSize();
}

void TForm4::CreateRegionGroup() {
  regionGroup_ = MakeGroup(QStringLiteral(" Region of Interest "), 8, 8, 273, 106);
  Long1Ctl = MakeSpinEdit(regionGroup_, fields::Longitude, 16, 16, 81);
  Long2Ctl = MakeSpinEdit(regionGroup_, fields::Longitude, 176, 16, 81);
  Lat1Ctl = MakeSpinEdit(regionGroup_, fields::Latitude, 16, 44, 81);
  Lat2Ctl = MakeSpinEdit(regionGroup_, fields::Latitude, 176, 44, 81);
  Z1Ctl = MakeSpinEdit(regionGroup_, fields::ElevationLow, 16, 72, 81);
  Z2Ctl = MakeSpinEdit(regionGroup_, fields::ElevationHigh, 176, 72, 81);
  MakeLabel(regionGroup_, QStringLiteral("Longitude"), 111, 19);
  MakeLabel(regionGroup_, QStringLiteral("Latitude"), 111, 47);
  MakeLabel(regionGroup_, QStringLiteral(" Elevation (m)"), 103, 72);
}

void TForm4::CreateOutputGroup() {
  outputGroup_ = MakeGroup(QStringLiteral(" Output Dimensions "), 287, 8, 154, 186);
  XSizeCtl = MakeSpinEdit(outputGroup_, fields::XExtent, 80, 16, 64);
  ZSizeCtl = MakeSpinEdit(outputGroup_, fields::ZExtent, 80, 44, 64);
  ZBaseCtl = MakeSpinEdit(outputGroup_, fields::ZBase, 80, 85, 65);
  XY_ResolutionCtl = MakeSpinEdit(outputGroup_, fields::XYPixelSize, 87, 136, 57);
  MakeLabel(outputGroup_, QStringLiteral("X Extent"), 16, 19);
  MakeLabel(outputGroup_, QStringLiteral("Z Extent"), 16, 47);
  MakeLabel(outputGroup_, QStringLiteral("Z Base (%)"), 8, 88);
  MakeLabel(outputGroup_, QStringLiteral("XY Pixel Size (m)"), 3, 139);
  // Under the pixel size, in the room the group kept below it.
  MaxErrorCtl = MakeSpinEdit(outputGroup_, fields::MaxError, 87, 161, 57);
  MakeLabel(outputGroup_, QStringLiteral("Max. error (m)"), 3, 164);
}

void TForm4::CreateFileGroup() {
  fileGroup_ = MakeGroup(QStringLiteral(" STL File "), 8, 108, 273, 86);
  SaveFilenameCtl = new QLineEdit(QStringLiteral("NewFile.stl"), fileGroup_);
  SaveFilenameCtl->setGeometry(16, 20, 241, 21);
  Button4 = new QPushButton(QStringLiteral("Select STL Filename ..."), fileGroup_);
  Button4->setGeometry(16, 47, 241, 25);
}

void TForm4::CreateSpecialCasesGroup() {
  specialGroup_ = MakeGroup(QStringLiteral("  Special Cases "), 447, 8, 164, 186);
  const auto makeCheckBox = [this](const char* text, int left, int top, int width) {
    auto* box = new QCheckBox(QString::fromLatin1(text), specialGroup_);
    // A stand-in font may need more room than Tahoma did; the group has some to spare. A text
    // longer than that is narrowed until it fits.
    const int room = specialGroup_->width() - 2 - left;
    const int stretched = box->font().stretch();
    for (int stretch = (stretched > 0 ? stretched : int{QFont::Unstretched}) - 2;
         box->sizeHint().width() > room && stretch >= QFont::ExtraCondensed; stretch -= 2) {
      QFont narrower = box->font();
      narrower.setStretch(stretch);
      box->setFont(narrower);
    }
    box->setGeometry(left, top, std::max(width, std::min(box->sizeHint().width(), room)), 17);
    return box;
  };
  BlockSRTM1Ctl = makeCheckBox("Block use of SRTM-1 Data", 3, 23, 145);
  BlockSRTM3Ctl = makeCheckBox("Block use of SRTM-3 Data", 3, 43, 150);
  BlockSRTM30Ctl = makeCheckBox("Block use of SRTM-30 Data", 3, 66, 158);
  BlockCOP30Ctl = makeCheckBox("Block use of COP30 Data", 3, 85, 158);
  MissedDataCtl = makeCheckBox("Missed data set to 0 m", 5, 104, 153);
  SolidCtl = makeCheckBox("Closed solid (walls and base)", 5, 127, 153);
  // The solid's floor under its box.
  FloorCtl = MakeSpinEdit(specialGroup_, fields::Floor, 80, 150, 57);
  MakeLabel(specialGroup_, QStringLiteral("Floor (%)"), 22, 153);
}

void TForm4::CreateActionGroup() {
  actionGroup_ = MakeGroup(QStringLiteral(" Do Something "), 617, 8, 185, 186);
  const auto makeButton = [this](const char* text, int top) {
    auto* button = new QPushButton(QString::fromLatin1(text), actionGroup_);
    button->setGeometry(16, top, 153, 25);
    return button;
  };
  FileTestCtl = makeButton("Test for SRTM Files", 19);
  GetSRTM1Ctl = makeButton("Download SRTM-1 files", 56);
  GetSRTM3Ctl = makeButton("Download SRTM-3 files", 87);
  CreateStlCtl = makeButton("Create STL File", 147);
  // Where "Download SRTM-1 files" fetches from, right under it.
  MakeLabel(actionGroup_, QStringLiteral("Tile source"), 16, 120);
  TileSourceCtl = new QComboBox(actionGroup_);
  for (const ArchiveLayoutName& source : ArchiveLayouts) {
    TileSourceCtl->addItem(QString::fromLatin1(source.Caption), static_cast<int>(source.Layout));
  }
  TileSourceCtl->setGeometry(80, 117, 89, 22);
}

void TForm4::CreateLog() {
  Label6 = new QLabel(this);
  QFont labelFont = PanelFont("Tahoma", 16, QFont::SansSerif);
  labelFont.setBold(true);
  Label6->setFont(labelFont);
  Label6->setGeometry(16, 208, 572, 19);

  // The user's raster on a row of its own between the label and the log: a name, and the
  // dialog that chooses it.
  MakeLabel(this, QStringLiteral("DEM file"), 16, 236);
  DemFileCtl = new QLineEdit(this);
  DemFileCtl->setGeometry(72, 233, 700, 21);
  SelectDemCtl = new QToolButton(this);
  SelectDemCtl->setText(QStringLiteral("..."));
  SelectDemCtl->setGeometry(776, 233, 26, 21);

  Memo1 = new QPlainTextEdit(this);
  QFont logFont = PanelFont("Courier New", 13, QFont::TypeWriter);
  logFont.setFixedPitch(true);
  Memo1->setFont(logFont);
  Memo1->setGeometry(8, 260, 794, 542);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Tab moves on to the next control, as in every other field of the window.
  Memo1->setTabChangesFocus(true);
  Memo1->setFocus();
}

void TForm4::CreatePreviewPanel() {
  PreviewTabs = new QTabWidget(this);
  PreviewTabs->setGeometry(FrontPanelWidth, 0, width() - FrontPanelWidth, height());
  RegionMap = new TRegionMap(PreviewTabs);
  PreviewTabs->addTab(RegionMap, QStringLiteral("Map"));
  if (TModelView::CanDraw()) {
    ModelView = new TModelView(PreviewTabs);
    PreviewTabs->addTab(ModelView, QStringLiteral("Model"));
    return;
  }
  auto* none = new QLabel(
      QStringLiteral("The 3D view needs OpenGL, which this display does not offer."), PreviewTabs);
  none->setAlignment(Qt::AlignCenter);
  none->setWordWrap(true);
  PreviewTabs->addTab(none, QStringLiteral("Model"));
}

void TForm4::SetTabOrder() {
  // Group by group: log, region (the elevation row right before left), output dimensions,
  // operations, file name, special cases; then the panel's tabs.
  const std::vector<QWidget*> order{
      Memo1,       Long1Ctl,      Long2Ctl,      Lat1Ctl,          Lat2Ctl,       Z2Ctl,
      Z1Ctl,       XSizeCtl,      ZSizeCtl,      XY_ResolutionCtl, MaxErrorCtl,   ZBaseCtl,
      FileTestCtl, CreateStlCtl,  GetSRTM1Ctl,   GetSRTM3Ctl,      TileSourceCtl, SaveFilenameCtl,
      Button4,     BlockSRTM1Ctl, BlockSRTM3Ctl, BlockSRTM30Ctl,   BlockCOP30Ctl, MissedDataCtl,
      SolidCtl,    FloorCtl,      DemFileCtl,    SelectDemCtl,     PreviewTabs};
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void TForm4::ConnectHandlers() {
  connect(FileTestCtl, &QPushButton::clicked, this, &TForm4::FileTestCtlClick);
  connect(GetSRTM1Ctl, &QPushButton::clicked, this, &TForm4::GetSRTM1CtlClick);
  connect(GetSRTM3Ctl, &QPushButton::clicked, this, &TForm4::GetSRTM3CtlClick);
  connect(CreateStlCtl, &QPushButton::clicked, this, &TForm4::CreateStlCtlClick);
  connect(Button4, &QPushButton::clicked, this, &TForm4::Button4Click);
  connect(SelectDemCtl, &QToolButton::clicked, this, &TForm4::SelectDemCtlClick);
  connect(TileSourceCtl, &QComboBox::currentIndexChanged, this, &TForm4::TileSourceCtlChange);
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
  givenSource_ = keys.Source;
  seed_ = keys.Seed;
  // The one tile object is created here with the folders, as the window's own.
  workspace_ = std::make_unique<Workspace>(keys.Folders, keys.Source);
  DemFileCtl->setText(QString::fromStdString(keys.DemFile));
  ShowTileSource();
  RegionMap->SetTileSearch(Folders(), PanelBlocks());
  FitMapToFields();

  Memo1->clear();
  for (const std::string& line : StartupLines(Folders(), keys.DataRootFromCommandLine)) {
    AppendLine(line);
  }
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
  return panel;
}

void TForm4::AppendLine(const std::string& line) {
  Memo1->appendPlainText(QString::fromStdString(line));
}

void TForm4::ProcessPendingEvents() {
  QCoreApplication::processEvents();
  ThrowIfInterrupted();
}

void TForm4::ReportProgress(std::uint64_t /*cellsDone*/, std::uint64_t /*cellsPlanned*/) {
  ThrowIfInterrupted();
}

void TForm4::WhileWaiting() {
  QCoreApplication::processEvents();
  // Closing the window during a model run waits for its file; during a download, or while the
  // model waits for a pipe's reader, there is nothing to keep.
  if (closePending_) throw Interrupted();
  ThrowIfInterrupted();
}

bool TForm4::ConfirmLargeFile(const std::string& text, const std::string& caption) {
  return AskOkCancel(QString::fromStdString(text), QString::fromStdString(caption));
}

void TForm4::Beep() {
  if (dialogs_.Beep) return dialogs_.Beep();
  QApplication::beep();
}

bool TForm4::AskOkCancel(const QString& text, const QString& caption) {
  if (dialogs_.AskOkCancel) return dialogs_.AskOkCancel(text, caption);
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

void TForm4::ShowError(const QString& text) {
  if (dialogs_.ShowError) return dialogs_.ShowError(text);
  QMessageBox box(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
  box.exec();
}

std::optional<QString> TForm4::ChooseSaveFile(const QString& fileName) {
  if (dialogs_.ChooseSaveFile) return dialogs_.ChooseSaveFile(fileName);
  QFileDialog dialog(this);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  // Read-only files are left out; every folder stays listed so the user can move about.
  dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Writable | QDir::NoDotAndDotDot);
  // Both kinds of model, the current name's selected; a name typed without an ending gets the
  // selected kind's, and none under all files.
  const QStringList types{QStringLiteral("STL files (*.stl)"), QStringLiteral("3MF files (*.3mf)"),
                          QStringLiteral("All files (*)")};
  const QStringList endings{QStringLiteral("stl"), QStringLiteral("3mf"), QString()};
  dialog.setNameFilters(types);
  const auto select = [&](qsizetype type) {
    dialog.selectNameFilter(types[type]);
    dialog.setDefaultSuffix(endings[type]);
  };
  select(IsThreeMfName(fileName.toStdString())                            ? 1
         : fileName.endsWith(QStringLiteral(".stl"), Qt::CaseInsensitive) ? 0
                                                                          : 2);
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& type) {
    if (types.contains(type)) select(types.indexOf(type));
  });
  dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front();
}

std::optional<QString> TForm4::ChooseDemFile(const QString& fileName) {
  if (dialogs_.ChooseDemFile) return dialogs_.ChooseDemFile(fileName);
  // Any file: GDAL reads rasters of many formats and names.
  const QString chosen = QFileDialog::getOpenFileName(this, QStringLiteral("DEM file"), fileName);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen;
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
  settings_ = ReadModelSettings(ReadPanel());
  std::optional<QString> failure;
  try {
    operation(settings_, *workspace_, *this);
  } catch (const Interrupted&) {
    // Asked for by the user: nothing to report.
  } catch (const std::bad_alloc&) {
    failure = QStringLiteral("Out of memory");
  } catch (const std::exception& error) {
    failure = QString::fromStdString(error.what());
  } catch (...) {
    failure = QStringLiteral("Unknown error");
  }
  if (failure) ShowError(*failure);
  running_ = false;
  // Tiles may have come; the map need not wait for its next look.
  RegionMap->RefreshTiles();
  // A close asked for while the operation ran happens now that its file is complete.
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

void TForm4::resizeEvent(QResizeEvent* event) {
  // The front panel keeps its place; the panel beside it takes the rest of the window.
  PreviewTabs->setGeometry(FrontPanelWidth, 0, std::max(width() - FrontPanelWidth, 0), height());
  QWidget::resizeEvent(event);
}

void TForm4::closeEvent(QCloseEvent* event) {
  if (running_) {
    closePending_ = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
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
