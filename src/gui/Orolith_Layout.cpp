#include "gui/Orolith_Main.h"

#include "frontpanel/DownloadSettings.h"
#include "frontpanel/ModelSettings.h"
#include "gui/FloatSpin.h"
#include "gui/MapPanel.h"
#include "gui/ModelView.h"
#include "gui/PanelLook.h"
#include "gui/RegionMap.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>
#include <vector>

namespace orolith {

void TForm4::CreateFrontPanel() {
  // Its controls keep their places; a window too short or too narrow for it scrolls it.
  FrontScroll = new QScrollArea(this);
  FrontScroll->setFrameShape(QFrame::NoFrame);
  FrontScroll->setWidgetResizable(false);
  FrontScroll->setFocusPolicy(Qt::NoFocus);
  FrontPanel = new QWidget;
  FrontPanel->resize(FrontPanelWidth, WindowHeight);
  FrontScroll->setWidget(FrontPanel);
}

QGroupBox* TForm4::MakeGroup(const QString& title, int left, int top, int width, int height) {
  auto* group = new TGroupBox(title, FrontPanel);
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

QCheckBox* TForm4::MakeCheckBox(QWidget* group, const QString& text, int left, int top, int width,
                                int room) {
  auto* box = new QCheckBox(text, group);
  // A stand-in font may need more room than Tahoma did; the group has some to spare, up to its
  // edge or a field beside the box. A text longer than that is narrowed until it fits.
  if (room == 0) room = group->width() - 2 - left;
  const int stretched = box->font().stretch();
  for (int stretch = (stretched > 0 ? stretched : int{QFont::Unstretched}) - 2;
       box->sizeHint().width() > room && stretch >= QFont::ExtraCondensed; stretch -= 2) {
    QFont narrower = box->font();
    narrower.setStretch(stretch);
    box->setFont(narrower);
  }
  box->setGeometry(left, top, std::max(width, std::min(box->sizeHint().width(), room)), 17);
  return box;
}

void TForm4::CreateRegionGroup() {
  // Taller than the three rows by the row of the band's Auto box.
  regionGroup_ = MakeGroup(QStringLiteral(" Region of Interest "), 8, 8, 273, 126);
  Long1Ctl = MakeSpinEdit(regionGroup_, fields::Longitude, 16, 16, 81);
  Long2Ctl = MakeSpinEdit(regionGroup_, fields::Longitude, 176, 16, 81);
  Lat1Ctl = MakeSpinEdit(regionGroup_, fields::Latitude, 16, 44, 81);
  Lat2Ctl = MakeSpinEdit(regionGroup_, fields::Latitude, 176, 44, 81);
  Z1Ctl = MakeSpinEdit(regionGroup_, fields::ElevationLow, 16, 72, 81);
  Z2Ctl = MakeSpinEdit(regionGroup_, fields::ElevationHigh, 176, 72, 81);
  MakeLabel(regionGroup_, QStringLiteral("Longitude"), 111, 19);
  MakeLabel(regionGroup_, QStringLiteral("Latitude"), 111, 47);
  MakeLabel(regionGroup_, QStringLiteral(" Elevation (m)"), 103, 72);
  ElevationAutoCtl = MakeCheckBox(
      regionGroup_, QStringLiteral("Auto: the region's own lowest and highest"), 16, 98, 241);
}

void TForm4::CreateOutputGroup() {
  // One row each, 25 pixels apart: each extent with what may set it in its place under it, then
  // the grid, and the error with the layer height that may set it.
  outputGroup_ = MakeGroup(QStringLiteral(" Output Dimensions "), 287, 8, 154, 218);
  XSizeCtl = MakeSpinEdit(outputGroup_, fields::XExtent, 80, 16, 64);
  ScaleCtl = MakeSpinEdit(outputGroup_, fields::Scale, 80, 41, 64);
  ZSizeCtl = MakeSpinEdit(outputGroup_, fields::ZExtent, 80, 66, 64);
  ExaggerationCtl = MakeSpinEdit(outputGroup_, fields::Exaggeration, 80, 91, 64);
  ZBaseCtl = MakeSpinEdit(outputGroup_, fields::ZBase, 80, 116, 65);
  XY_ResolutionCtl = MakeSpinEdit(outputGroup_, fields::XYPixelSize, 87, 141, 57);
  MaxErrorCtl = MakeSpinEdit(outputGroup_, fields::MaxError, 87, 166, 57);
  LayerHeightCtl = MakeSpinEdit(outputGroup_, fields::LayerHeight, 87, 191, 57);
  MakeLabel(outputGroup_, QStringLiteral("X Extent (mm)"), 3, 19);
  MakeLabel(outputGroup_, QStringLiteral("Scale 1:"), 3, 44);
  MakeLabel(outputGroup_, QStringLiteral("Z Extent (mm)"), 3, 69);
  MakeLabel(outputGroup_, QStringLiteral("Exaggeration"), 3, 94);
  MakeLabel(outputGroup_, QStringLiteral("Z Base (%)"), 3, 119);
  MakeLabel(outputGroup_, QStringLiteral("XY Pixel Size (m)"), 3, 144);
  MakeLabel(outputGroup_, QStringLiteral("Max. error (m)"), 3, 169);
  MaxErrorAutoCtl = MakeCheckBox(outputGroup_, QStringLiteral("Auto, layer (mm)"), 3, 193, 82, 82);
}

void TForm4::CreateFileGroup() {
  fileGroup_ = MakeGroup(QStringLiteral(" STL File "), 8, 128, 273, 98);
  SaveFilenameCtl = new QLineEdit(QStringLiteral("NewFile.stl"), fileGroup_);
  SaveFilenameCtl->setGeometry(16, 20, 241, 21);
  Button4 = new QPushButton(QStringLiteral("Select STL Filename ..."), fileGroup_);
  Button4->setGeometry(16, 47, 241, 25);
  PrintCtl = new QPushButton(QStringLiteral("Print: solid, auto band and error"), fileGroup_);
  PrintCtl->setGeometry(16, 74, 241, 22);
}

void TForm4::CreateSpecialCasesGroup() {
  specialGroup_ = MakeGroup(QStringLiteral("  Special Cases "), 447, 8, 164, 218);
  const auto makeCheckBox = [this](const char* text, int left, int top, int width) {
    return MakeCheckBox(specialGroup_, QString::fromLatin1(text), left, top, width);
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
  actionGroup_ = MakeGroup(QStringLiteral(" Do Something "), 617, 8, 185, 218);
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
  Label6 = new QLabel(FrontPanel);
  QFont labelFont = PanelFont("Tahoma", 16, QFont::SansSerif);
  labelFont.setBold(true);
  Label6->setFont(labelFont);
  Label6->setGeometry(16, 240, 572, 19);

  // The user's raster on a row of its own between the label and the log: a name, and the
  // dialog that chooses it.
  MakeLabel(FrontPanel, QStringLiteral("DEM file"), 16, 268);
  DemFileCtl = new QLineEdit(FrontPanel);
  DemFileCtl->setGeometry(72, 265, 700, 21);
  SelectDemCtl = new QToolButton(FrontPanel);
  SelectDemCtl->setText(QStringLiteral("..."));
  SelectDemCtl->setGeometry(776, 265, 26, 21);
  CreateDataRootRow();

  // From under the rows above to the status row: it takes the height the window gives.
  Memo1 = new QPlainTextEdit(FrontPanel);
  QFont logFont = PanelFont("Courier New", 13, QFont::TypeWriter);
  logFont.setFixedPitch(true);
  Memo1->setFont(logFont);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Tab moves on to the next control, as in every other field of the window.
  Memo1->setTabChangesFocus(true);
  Memo1->setFocus();
  CreateStatusRow();
  LayOutFrontPanel();
}

void TForm4::CreateDataRootRow() {
  // As the DEM file's row: the root in use, and the dialog that chooses another.
  MakeLabel(FrontPanel, QStringLiteral("Data root"), 16, 294);
  DataRootCtl = new QLabel(FrontPanel);
  DataRootCtl->setGeometry(72, 291, 700, 21);
  DataRootCtl->setFrameShape(QFrame::StyledPanel);
  DataRootCtl->setTextInteractionFlags(Qt::TextSelectableByMouse);
  SelectDataRootCtl = new QToolButton(FrontPanel);
  SelectDataRootCtl->setText(QStringLiteral("..."));
  SelectDataRootCtl->setGeometry(776, 291, 26, 21);
}

void TForm4::CreateStatusRow() {
  RememberCtl = new QCheckBox(QStringLiteral("Remember settings"), FrontPanel);
  ProgressCtl = new QProgressBar(FrontPanel);
  StopCtl = new QPushButton(QStringLiteral("Stop"), FrontPanel);
  ShowRunning(false);
}

void TForm4::LayOutFrontPanel() {
  const FrontPanelRows rows = ArrangeFrontPanel(FrontPanel->height());
  Memo1->setGeometry(rows.Log);
  const QRect status = rows.Status;
  const int remember = std::max(RememberCtl->sizeHint().width(), 130);
  constexpr int StopWidth = 82;
  RememberCtl->setGeometry(status.left(), status.top(), remember, status.height());
  StopCtl->setGeometry(status.right() + 1 - StopWidth, status.top(), StopWidth, status.height());
  ProgressCtl->setGeometry(status.left() + remember + 6, status.top() + 1,
                           status.width() - remember - StopWidth - 12, status.height() - 2);
}

void TForm4::resizeEvent(QResizeEvent* event) {
  const int scrollBar =
      FrontScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FrontScroll);
  const WindowLayout arranged = ArrangeWindow(size(), scrollBar);
  FrontScroll->setGeometry(arranged.Front);
  FrontPanel->resize(arranged.FrontPanel);
  LayOutFrontPanel();
  PreviewTabs->setGeometry(arranged.Preview);
  QWidget::resizeEvent(event);
}

void TForm4::CreatePreviewPanel() {
  PreviewTabs = new QTabWidget(this);
  PreviewTabs->setGeometry(FrontPanelWidth, 0, width() - FrontPanelWidth, height());
  MapPanel = new TMapPanel(PreviewTabs);
  RegionMap = MapPanel->Map();
  PreviewTabs->addTab(MapPanel, QStringLiteral("Map"));
  if (TModelView::CanDraw()) {
    ModelView = new TModelView(PreviewTabs);
    ModelView->SetDecimalSeparator(DecimalSeparator());
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
  // operations, file name, special cases; the rows under them; then the panel's tabs.
  const std::vector<QWidget*> order{
      Memo1,          Long1Ctl,        Long2Ctl,         Lat1Ctl,       Lat2Ctl,
      Z2Ctl,          Z1Ctl,           ElevationAutoCtl, XSizeCtl,      ScaleCtl,
      ZSizeCtl,       ExaggerationCtl, XY_ResolutionCtl, MaxErrorCtl,   MaxErrorAutoCtl,
      LayerHeightCtl, ZBaseCtl,        FileTestCtl,      CreateStlCtl,  GetSRTM1Ctl,
      GetSRTM3Ctl,    TileSourceCtl,   SaveFilenameCtl,  Button4,       PrintCtl,
      BlockSRTM1Ctl,  BlockSRTM3Ctl,   BlockSRTM30Ctl,   BlockCOP30Ctl, MissedDataCtl,
      SolidCtl,       FloorCtl,        DemFileCtl,       SelectDemCtl,  SelectDataRootCtl,
      RememberCtl,    StopCtl,         PreviewTabs};
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

}  // namespace orolith
