#include "base/Interrupt.h"
#include "gui/FloatSpin.h"
#include "gui/MapPanel.h"
#include "gui/Orolith_Main.h"
#include "gui/RegionMap.h"
#include "gui/WindowLayout.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace orolith {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

// Opens the window as the program does and answers its dialogs as told. The settings it may
// keep go to a folder of the test's own.
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(settingsDir_.Root()));
  }

  TForm4& Open(std::vector<const char*> arguments = {"orolith"}, char separator = '.',
               bool realDialogs = false) {
    form_.reset();
    form_ = std::make_unique<TForm4>(arguments, separator);
    if (!realDialogs) {
      WindowDialogs& dialogs = form_->Dialogs();
      dialogs.Beep = [this] { ++beeps_; };
      dialogs.AskOkCancel = [this](const QString& text, const QString& caption) {
        questions_.push_back(caption.toStdString() + ": " + text.toStdString());
        return answer_;
      };
      dialogs.ShowError = [this](const QString& text) { errors_.push_back(text.toStdString()); };
      dialogs.ShowNotes = [this](const QString& text) { notes_.push_back(text.toStdString()); };
      dialogs.ChooseSaveFile = [this](const QString&) -> std::optional<QString> {
        ++fileDialogs_;
        return std::nullopt;
      };
    }
    form_->show();
    form_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    // As on a screen with room for it, whatever the test platform's screen.
    form_->resize(TForm4::FrontPanelWidth + TForm4::PanelWidth, TForm4::WindowHeight);
    return *form_;
  }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const QString& line : form_->Memo1->toPlainText().split(u'\n')) {
      lines.push_back(line.toStdString());
    }
    return lines;
  }

  static long Count(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
  }

  // Types text over a field's content and leaves it with Tab, as a user would.
  static void Type(QLineEdit* field, const QString& text) {
    field->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Tab);
  }

  static void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
  }

  // A region inside one tile, with the flat 0 m stand-in for its missing file.
  void SmallFlatRegion(const std::string& stlFile) {
    Type(form_->Long1Ctl, QStringLiteral("7.1"));
    Type(form_->Long2Ctl, QStringLiteral("7.102"));
    Type(form_->Lat1Ctl, QStringLiteral("46.1"));
    Type(form_->Lat2Ctl, QStringLiteral("46.102"));
    Click(form_->MissedDataCtl);
    Type(form_->SaveFilenameCtl, QString::fromStdString(stlFile));
  }

  // A region whose model would pass the size question's threshold many times over.
  void HugeRegion(const std::filesystem::path& stlFile) {
    Type(form_->Long2Ctl, QStringLiteral("0.2"));
    Type(form_->Lat2Ctl, QStringLiteral("0.2"));
    Type(form_->XY_ResolutionCtl, QStringLiteral("15"));
    Type(form_->SaveFilenameCtl, QString::fromStdString(stlFile.string()));
  }

  // Face count from the STL header, checked against the file's length.
  static std::uint32_t CompleteStlFaces(const std::filesystem::path& file) {
    const std::vector<unsigned char> bytes = test::ReadBytes(file);
    EXPECT_GE(bytes.size(), 84U);
    if (bytes.size() < 84) return 0;
    const std::uint32_t faces = bytes[80] | (bytes[81] << 8) | (bytes[82] << 16) |
                                (static_cast<std::uint32_t>(bytes[83]) << 24);
    EXPECT_EQ(bytes.size(), 84U + 50U * faces);
    return faces;
  }

  TempDir settingsDir_;
  std::unique_ptr<TForm4> form_;
  int beeps_ = 0;
  int fileDialogs_ = 0;
  bool answer_ = true;
  std::vector<std::string> questions_;
  std::vector<std::string> errors_;
  std::vector<std::string> notes_;
};

std::string WorkingDirectory() {
  return std::filesystem::current_path().string() + "/";
}

TEST_F(MainWindowTest, OpensWithTheInitialFrontPanel) {
  {
    // At the top left of the screen's free area, as large as the front panel and the map need
    // or the area allows.
    const std::vector<const char*> arguments{"orolith"};
    const TForm4 fresh(arguments, '.');
    const QRect available = QApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(fresh.pos(), available.topLeft());
    EXPECT_EQ(fresh.size(), QSize(810 + TForm4::PanelWidth, 817).boundedTo(available.size()));
  }
  TForm4& form = Open();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Marlowen Orolith 20130304"));
  // The front panel's 810 pixels, and the panel beside it as tall as the window.
  EXPECT_EQ(form.FrontScroll->geometry(), QRect(0, 0, 810, 817));
  EXPECT_EQ(form.PreviewTabs->geometry(), QRect(810, 0, TForm4::PanelWidth, 817));
  EXPECT_GE(form.PreviewTabs->currentWidget()->width(), 480);
  EXPECT_GE(form.PreviewTabs->currentWidget()->height(), 480);
  ASSERT_EQ(form.PreviewTabs->count(), 2);
  EXPECT_EQ(form.PreviewTabs->tabText(0), QStringLiteral("Map"));
  EXPECT_EQ(form.PreviewTabs->tabText(1), QStringLiteral("Model"));
  EXPECT_EQ(form.PreviewTabs->currentWidget(), static_cast<QWidget*>(form.MapPanel));
  EXPECT_EQ(QApplication::focusWidget(), form.Memo1) << "the log has the focus at start";

  const std::vector<std::pair<TPRFloatSpinEdit*, const char*>> fields{
      {form.Long1Ctl, "0.000000"},    {form.Long2Ctl, "0.000000"}, {form.Lat1Ctl, "0.000000"},
      {form.Lat2Ctl, "0.000000"},     {form.Z1Ctl, "0"},           {form.Z2Ctl, "1000"},
      {form.XSizeCtl, "5.000"},       {form.ZSizeCtl, "1.000"},    {form.ZBaseCtl, "0.0"},
      {form.XY_ResolutionCtl, "100"}, {form.FloorCtl, "5.0"},      {form.MaxErrorCtl, "0.00"}};
  for (const auto& [field, text] : fields) EXPECT_EQ(field->text(), QString::fromLatin1(text));
  EXPECT_EQ(form.SaveFilenameCtl->text(), QStringLiteral("NewFile.stl"));
  for (QCheckBox* box : {form.BlockSRTM1Ctl, form.BlockSRTM3Ctl, form.BlockSRTM30Ctl,
                         form.MissedDataCtl, form.SolidCtl}) {
    EXPECT_FALSE(box->isChecked()) << box->text().toStdString();
  }
  EXPECT_EQ(form.SolidCtl->text(), QStringLiteral("Closed solid (walls and base)"));
  EXPECT_EQ(form.SolidCtl->parentWidget(), form.MissedDataCtl->parentWidget());
  EXPECT_FLOAT_EQ(form.ReadPanel().FloorPercent, 5.0F);
  EXPECT_EQ(form.FloorCtl->parentWidget(), form.SolidCtl->parentWidget());
  EXPECT_EQ(form.MaxErrorCtl->parentWidget(), form.XY_ResolutionCtl->parentWidget());
  EXPECT_EQ(form.ReadPanel().MaxError, 0.0F) << "the regular grid";
  EXPECT_EQ(form.TileSourceCtl->currentText(), QStringLiteral("ESA"));
  EXPECT_EQ(form.TileSourceCtl->parentWidget(), form.GetSRTM1Ctl->parentWidget());

  EXPECT_EQ(form.Memo1->font().family(), QStringLiteral("Courier New"));
  EXPECT_EQ(form.Memo1->font().pixelSize(), 13);
  EXPECT_EQ(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_TRUE(form.Label6->font().bold());
  EXPECT_EQ(form.Label6->font().pixelSize(), 16);
  EXPECT_EQ(form.Long1Ctl->font().family(), QStringLiteral("Tahoma"));
  EXPECT_EQ(form.Long1Ctl->font().pixelSize(), 11);
  EXPECT_EQ(
      form.Label6->text(),
      QStringLiteral("Download SRTM Files from    https://step.esa.int/auxdata/dem/SRTMGL1/"));
}

// The panel's text shown whole, whatever font stands in for Tahoma.
::testing::AssertionResult ShowsItsTextWhole(QWidget* control) {
  const QString name = control->metaObject()->className();
  int room = control->width();
  int needed = control->sizeHint().width();
  if (auto* field = qobject_cast<QLineEdit*>(control)) {
    // Up to the spin button, or the field's right edge, inside the frame.
    room = (field->textMargins().right() > 0 ? field->width() - field->textMargins().right()
                                             : field->width()) -
           4;
    needed = field->fontMetrics().horizontalAdvance(field->text());
  }
  if (needed <= room) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << name.toStdString() << " needs " << needed << " pixels, has " << room;
}

TEST_F(MainWindowTest, EveryControlShowsItsTextWholeInsideItsGroup) {
  TForm4& form = Open();
  const QList<QGroupBox*> groups = form.findChildren<QGroupBox*>();
  ASSERT_EQ(groups.size(), 5);
  int controls = 0;
  for (QGroupBox* group : groups) {
    SCOPED_TRACE(group->title().toStdString());
    EXPECT_TRUE(form.FrontPanel->rect().contains(group->geometry()));
    const QList<QWidget*> inside = group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* control : inside) {
      ++controls;
      // Clear of the title on the frame's top line, and of the other controls.
      const QRect within = group->rect().adjusted(1, group->fontMetrics().height() - 2, -1, -1);
      EXPECT_TRUE(within.contains(control->geometry()))
          << control->metaObject()->className() << " at " << control->x() << "," << control->y();
      EXPECT_TRUE(ShowsItsTextWhole(control));
      for (QWidget* other : inside) {
        EXPECT_TRUE(other == control || !other->geometry().intersects(control->geometry()))
            << control->metaObject()->className() << " meets " << other->metaObject()->className();
      }
    }
  }
  EXPECT_EQ(controls, 10 + 16 + 3 + 8 + 6)
      << "region and the band's Auto box, output dimensions (the max. error's field and label, "
         "and the print's fields and box included), file and Print, boxes and the floor, "
         "buttons and the tile source";
  // Below the groups: the label, the rows of the DEM file and of the data root, the log, and
  // the status row, each clear of the others and inside the front panel.
  const std::vector<QWidget*> below{form.Label6,      form.DemFileCtl,        form.SelectDemCtl,
                                    form.DataRootCtl, form.SelectDataRootCtl, form.Memo1,
                                    form.RememberCtl, form.ProgressCtl,       form.StopCtl};
  for (QWidget* control : below) {
    SCOPED_TRACE(control->metaObject()->className());
    EXPECT_TRUE(form.FrontPanel->rect().adjusted(0, 0, 0, -8).contains(control->geometry()));
    EXPECT_TRUE(ShowsItsTextWhole(control) || control == form.Memo1 || control == form.ProgressCtl);
    for (QGroupBox* group : groups) EXPECT_LT(group->geometry().bottom(), control->y());
    for (QWidget* other : below) {
      EXPECT_TRUE(other == control || !other->geometry().intersects(control->geometry()));
    }
  }
}

TEST_F(MainWindowTest, TabVisitsTheControlsGroupByGroup) {
  TForm4& form = Open();
  // The layer height is left out: it takes no input until its Auto box is ticked.
  const std::vector<QWidget*> expected{form.Long1Ctl,
                                       form.Long2Ctl,
                                       form.Lat1Ctl,
                                       form.Lat2Ctl,
                                       form.Z2Ctl,
                                       form.Z1Ctl,
                                       form.ElevationAutoCtl,
                                       form.XSizeCtl,
                                       form.ScaleCtl,
                                       form.ZSizeCtl,
                                       form.ExaggerationCtl,
                                       form.XY_ResolutionCtl,
                                       form.MaxErrorCtl,
                                       form.MaxErrorAutoCtl,
                                       form.ZBaseCtl,
                                       form.FileTestCtl,
                                       form.CreateStlCtl,
                                       form.GetSRTM1Ctl,
                                       form.GetSRTM3Ctl,
                                       form.TileSourceCtl,
                                       form.SaveFilenameCtl,
                                       form.Button4,
                                       form.PrintCtl,
                                       form.BlockSRTM1Ctl,
                                       form.BlockSRTM3Ctl,
                                       form.BlockSRTM30Ctl,
                                       form.BlockCOP30Ctl,
                                       form.MissedDataCtl,
                                       form.SolidCtl,
                                       form.FloorCtl,
                                       form.DemFileCtl,
                                       form.SelectDemCtl,
                                       form.SelectDataRootCtl,
                                       form.RememberCtl,
                                       form.PreviewTabs->tabBar(),
                                       form.MapPanel->SearchField(),
                                       form.MapPanel->FindButton(),
                                       form.MapPanel->BoxButton(),
                                       form.MapPanel->OnlineBox(),
                                       form.Memo1};
  ASSERT_EQ(QApplication::focusWidget(), form.Memo1);
  for (QWidget* next : expected) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), form.MapPanel->OnlineBox());
  // Tabbing through fields rewrites nothing that was already canonical.
  EXPECT_EQ(form.Z2Ctl->text(), QStringLiteral("1000"));
}

TEST_F(MainWindowTest, TheLogOpensWithTheLinesOfTheRootInUse) {
  const struct {
    std::vector<const char*> arguments;
    std::string root;
    RootOrigin origin;
  } cases[] = {{{"orolith"}, WorkingDirectory(), RootOrigin::ExecutionDirectory},
               {{"orolith", "dataroot=/Maps/Alps"}, "/Maps/Alps/", RootOrigin::CommandLine}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.root);
    TForm4& form = Open(c.arguments);
    EXPECT_EQ(form.Folders().DataRoot, c.root);
    EXPECT_EQ(Log(), StartupLines(MakeDataFolders(c.root), c.origin));
    EXPECT_EQ(form.DataRootCtl->text().toStdString(), c.root);
  }
}

TEST_F(MainWindowTest, Label6ShowsWholeTheAddressSrtm1TilesComeFrom) {
  const struct {
    std::vector<const char*> arguments;
    const char* address;
  } cases[] = {
      {{"orolith", "archivehost=Mirror.example.org:8080"},
       "http://Mirror.example.org:8080/srtm/version2_1/"},
      {{"orolith", "TileSource=aws"}, "https://s3.amazonaws.com/elevation-tiles-prod/skadi/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    TForm4& form = Open(c.arguments);
    EXPECT_EQ(form.Label6->text().toStdString(),
              std::string("Download SRTM Files from    ") + c.address);
    EXPECT_EQ(Srtm1BaseUrl(form.Source()), c.address) << "the downloads go elsewhere";
    EXPECT_GE(form.Label6->width(), form.Label6->sizeHint().width()) << "the address is cut";
    EXPECT_EQ(Log().size(), 10U);
  }
  EXPECT_TRUE(errors_.empty());
}

TEST_F(MainWindowTest, TheTileSourceChoiceSetsTheAddressTheDownloadsUseAndShowsIt) {
  const std::string archive = "http://dds.cr.usgs.gov/srtm/version2_1/";
  const std::string esa = "https://step.esa.int/auxdata/dem/SRTMGL1/";
  const std::string aws = "https://s3.amazonaws.com/elevation-tiles-prod/skadi/";
  const std::string cache = "https://cache.example.org/esa/";
  const std::string cop = "https://copernicus-dem-30m.s3.amazonaws.com/";
  const struct {
    std::vector<const char*> arguments;
    const char* first;                                 // the choice the window opens with
    std::vector<std::pair<int, std::string>> choices;  // index chosen, address then
  } cases[] = {
      {{"orolith"}, "ESA", {{1, aws}, {3, archive}, {0, esa}}},
      {{"orolith", "tilesource=ESA", "TileUrl=https://cache.example.org/esa"},
       "ESA",
       {{1, aws}, {3, archive}, {0, cache}}},
      {{"orolith", "ArchiveHost=h:81"},
       "SRTM v2.1",
       {{1, aws}, {3, "http://h:81/srtm/version2_1/"}}},
      {{"orolith", "TileSource=copernicus"}, "Copernicus", {{0, esa}, {2, cop}, {3, archive}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    TForm4& form = Open(c.arguments);
    EXPECT_EQ(form.TileSourceCtl->currentText().toStdString(), c.first);
    for (const auto& [index, address] : c.choices) {
      form.TileSourceCtl->setCurrentIndex(index);
      EXPECT_EQ(Srtm1BaseUrl(form.Source()), address);
      const std::string files = address == cop ? "Copernicus GLO-30" : "SRTM";
      EXPECT_EQ(form.Label6->text().toStdString(),
                "Download " + files + " Files from    " + address);
      EXPECT_GE(form.Label6->width(), form.Label6->sizeHint().width());
    }
  }
  // From the keyboard, as a user goes through the choices.
  TForm4& form = Open();
  form.TileSourceCtl->setFocus(Qt::TabFocusReason);
  QTest::keyClick(form.TileSourceCtl, Qt::Key_Down);
  EXPECT_EQ(Srtm1BaseUrl(form.Source()), aws);
  EXPECT_EQ(beeps_, 0);
}

TEST_F(MainWindowTest, ADownloadUnderWayKeepsItsTileSource) {
  TempDir dir;
  TForm4& form = Open();
  SmallFlatRegion((dir.Path() / "model.stl").string());
  bool chosenDuringRun = false;
  QTimer::singleShot(0, [&] {
    chosenDuringRun = form.OperationRunning();
    form.TileSourceCtl->setCurrentIndex(
        form.TileSourceCtl->findData(static_cast<int>(ArchiveLayout::Aws)));
  });
  Click(form.CreateStlCtl);
  ASSERT_TRUE(chosenDuringRun);
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(form.Source().Layout, ArchiveLayout::Esa);
  EXPECT_EQ(form.TileSourceCtl->currentText(), QStringLiteral("ESA"));
  form.TileSourceCtl->setCurrentIndex(1);
  EXPECT_EQ(form.Source().Layout, ArchiveLayout::Aws) << "once the run is over";
}

TEST_F(MainWindowTest, AnUnusableTileSourceIsLoggedAndShownOnceTheWindowIsUp) {
  TForm4& form =
      Open({"orolith", "TileSource=usgs", "TileUrl=https://x.example.org/", "ArchiveHost=h:81"});
  const std::string text =
      "TileSource: unknown tile source 'usgs' (known: esa, aws, copernicus, srtm-v2.1); "
      "downloads use http://h:81/srtm/version2_1/";
  EXPECT_TRUE(QTest::qWaitFor([&] { return !errors_.empty(); }, 2000));
  EXPECT_EQ(errors_, std::vector<std::string>{text});
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 11U);
  EXPECT_EQ(log[10], text);
  EXPECT_EQ(form.Label6->text(),
            QStringLiteral("Download SRTM Files from    http://h:81/srtm/version2_1/"));
}

TEST_F(MainWindowTest, AnUnreadableFloorIsReportedAndTheLabelShowsNoPassword) {
  TForm4& form = Open(
      {"orolith", "Floor=abc", "TileSource=esa", "TileUrl=https://me:pw@cache.example.org/dem"});
  const std::string text = "Floor: 'abc' is not a number; the floor stays 5.0 percent";
  EXPECT_TRUE(QTest::qWaitFor([&] { return !errors_.empty(); }, 2000));
  EXPECT_EQ(errors_, std::vector<std::string>{text});
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 11U);
  EXPECT_EQ(log[10], text);
  EXPECT_FLOAT_EQ(form.ReadPanel().FloorPercent, 5.0F);
  EXPECT_EQ(form.Label6->text(),
            QStringLiteral("Download SRTM Files from    https://cache.example.org/dem/"));
  // The downloads still send them.
  EXPECT_EQ(form.Source().TileUrl, "https://me:pw@cache.example.org/dem/");
}

TEST_F(MainWindowTest, TheDemFileAndTheCopernicusBoxReachThePanel) {
  TForm4& form = Open({"orolith", "Dem=/maps/a.tif", "TileSource=copernicus"});
  EXPECT_EQ(
      form.Label6->text(),
      QStringLiteral(
          "Download Copernicus GLO-30 Files from    https://copernicus-dem-30m.s3.amazonaws.com/"));
  EXPECT_EQ(form.BlockCOP30Ctl->text(), QStringLiteral("Block use of COP30 Data"));
  EXPECT_EQ(form.ReadPanel().DemFile, "/maps/a.tif");
  EXPECT_FALSE(form.ReadPanel().BlockCop30);
  std::vector<QString> offered;
  form.Dialogs().ChooseDemFile = [&](const QString& name) -> std::optional<QString> {
    offered.push_back(name);
    return QStringLiteral("/maps/b.tif");
  };
  Click(form.SelectDemCtl);
  Click(form.BlockCOP30Ctl);
  EXPECT_EQ(offered, std::vector<QString>{QStringLiteral("/maps/a.tif")});
  EXPECT_EQ(form.ReadPanel().DemFile, "/maps/b.tif");
  EXPECT_TRUE(form.ReadPanel().BlockCop30);
  // The field emptied, the tiles come from the folders again.
  form.DemFileCtl->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(form.DemFileCtl, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(form.DemFileCtl, Qt::Key_Delete);
  EXPECT_EQ(form.ReadPanel().DemFile, "");
}

TEST_F(MainWindowTest, FileNameButtonTakesWhatTheDialogReturns) {
  TForm4& form = Open();
  std::vector<QString> offered;
  std::optional<QString> reply = QStringLiteral("/somewhere/else/model");
  form.Dialogs().ChooseSaveFile = [&](const QString& name) {
    offered.push_back(name);
    return reply;
  };
  Click(form.Button4);
  EXPECT_EQ(form.SaveFilenameCtl->text(), QStringLiteral("/somewhere/else/model"))
      << "no extension added";
  reply.reset();
  Click(form.Button4);
  EXPECT_EQ(form.SaveFilenameCtl->text(), QStringLiteral("/somewhere/else/model"));
  ASSERT_EQ(offered.size(), 2U);
  EXPECT_EQ(offered[0], QStringLiteral("NewFile.stl"));
  EXPECT_EQ(offered[1], QStringLiteral("/somewhere/else/model"));
}

// The names the save dialog lists in its folder, once it has read them.
std::vector<std::string> Listed(const QFileDialog& dialog) {
  const auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
  if (view == nullptr) return {};
  const QModelIndex folder = view->rootIndex();
  std::vector<std::string> names;
  for (int row = 0; row < view->model()->rowCount(folder); ++row) {
    names.push_back(view->model()->index(row, 0, folder).data().toString().toStdString());
  }
  return names;
}

// The dialog offers both kinds of model, the current name's selected: a name typed without an
// ending gets that kind's, and none when all files are listed.
TEST_F(MainWindowTest, SaveDialogOffersBothModelTypesAndDoesNotAskAboutOverwriting) {
  TempDir dir;
  // Each an existing file; then the 3MF type is chosen, which changes an ending or gives the
  // name one.
  const struct {
    const char* name;
    const char* type;
    const char* ending;
    const char* chosen;
  } cases[] = {{"old.stl", "STL files (*.stl)", "stl", "old.3mf"},
               {"old.3MF", "3MF files (*.3mf)", "3mf", "old.3mf"},
               {"old", "All files (*)", "", "old.3mf"}};
  TForm4& form = Open({"orolith"}, '.', true);
  form.Dialogs().Beep = [this] { ++beeps_; };
  // Its folder's folders and files are listed, but not a file that can't be written (which
  // the superuser can).
  std::filesystem::create_directories(dir.Path() / "tiles");
  test::WriteText(dir.Path() / "locked.stl", "");
  std::filesystem::permissions(dir.Path() / "locked.stl", std::filesystem::perms::owner_read);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string existing = (dir.Path() / c.name).string();
    const std::string chosen = (dir.Path() / c.chosen).string();
    test::WriteBytes(existing, {1, 2, 3});
    Type(form.SaveFilenameCtl, QString::fromStdString(existing));
    bool inspected = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      inspected = true;
      EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
      EXPECT_EQ(dialog->nameFilters(),
                (QStringList{"STL files (*.stl)", "3MF files (*.3mf)", "All files (*)"}));
      EXPECT_EQ(dialog->selectedNameFilter(), QString::fromLatin1(c.type));
      EXPECT_EQ(dialog->defaultSuffix(), QString::fromLatin1(c.ending));
      // The list fills from a thread of its own.
      std::vector<std::string> names;
      const auto has = [&](const std::string& name) {
        return std::count(names.begin(), names.end(), name) == 1;
      };
      EXPECT_TRUE(QTest::qWaitFor(
          [&] {
            names = Listed(*dialog);
            return has("tiles");
          },
          3000))
          << "folders are listed";
      EXPECT_TRUE(has(c.name));
      if (std::string(c.ending) == "stl") {
        EXPECT_EQ(has("locked.stl"), ::geteuid() == 0) << "read-only files are hidden";
      }
      EXPECT_EQ(dialog->selectedFiles().value(0).toStdString(), existing);
      // Choosing a type gives the name its ending.
      dialog->selectNameFilter(QStringLiteral("3MF files (*.3mf)"));
      emit dialog->filterSelected(QStringLiteral("3MF files (*.3mf)"));
      EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("3mf"));
      // Once the list has left out what the type hides.
      EXPECT_TRUE(QTest::qWaitFor(
          [&] { return dialog->selectedFiles().value(0).toStdString() == chosen; }, 2000))
          << dialog->selectedFiles().value(0).toStdString();
      // Accepting an existing file would block on a question if one were asked.
      if (dialog->testOption(QFileDialog::DontConfirmOverwrite)) {
        static_cast<QDialog*>(dialog)->accept();  // as its Save button does
      } else {
        ADD_FAILURE() << "the dialog would ask before overwriting";
        dialog->reject();
      }
    });
    Click(form.Button4);
    EXPECT_TRUE(inspected);
    EXPECT_EQ(form.SaveFilenameCtl->text().toStdString(), chosen);
    EXPECT_EQ(test::ReadBytes(existing).size(), 3U) << "choosing a name writes nothing";
    EXPECT_EQ(std::filesystem::exists(chosen), chosen == existing);
  }
}

TEST_F(MainWindowTest, PanelValuesComeFromTheirOwnControls) {
  TForm4& form = Open();
  Type(form.Long1Ctl, QStringLiteral("12"));
  Type(form.Long2Ctl, QStringLiteral("11"));
  Type(form.Lat1Ctl, QStringLiteral("-3"));
  Type(form.Lat2Ctl, QStringLiteral("-4"));
  Type(form.Z1Ctl, QStringLiteral("800"));
  Type(form.Z2Ctl, QStringLiteral("200"));
  Type(form.XSizeCtl, QStringLiteral("150"));
  Type(form.ZSizeCtl, QStringLiteral("30"));
  Type(form.ZBaseCtl, QStringLiteral("10"));
  Type(form.SaveFilenameCtl, QStringLiteral("/tmp/unused.stl"));
  Click(form.BlockSRTM3Ctl);
  Click(form.MissedDataCtl);
  // Still in the field: the text is read as typed.
  form.XY_ResolutionCtl->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(form.XY_ResolutionCtl, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(form.XY_ResolutionCtl, QStringLiteral("90.5"));

  const FrontPanelValues panel = form.ReadPanel();
  EXPECT_FLOAT_EQ(panel.Long1, 12.0F);
  EXPECT_FLOAT_EQ(panel.Long2, 11.0F);
  EXPECT_FLOAT_EQ(panel.Lat1, -3.0F);
  EXPECT_FLOAT_EQ(panel.Lat2, -4.0F);
  EXPECT_FLOAT_EQ(panel.Z1, 800.0F);
  EXPECT_FLOAT_EQ(panel.Z2, 200.0F);
  EXPECT_FLOAT_EQ(panel.XExtent, 150.0F);
  EXPECT_FLOAT_EQ(panel.ZExtent, 30.0F);
  EXPECT_FLOAT_EQ(panel.ZBasePercent, 10.0F);
  EXPECT_FLOAT_EQ(panel.XYPixelSize, 90.5F);
  EXPECT_EQ(panel.StlFileName, "/tmp/unused.stl");
  EXPECT_FALSE(panel.BlockSrtm1);
  EXPECT_TRUE(panel.BlockSrtm3);
  EXPECT_FALSE(panel.BlockSrtm30);
  EXPECT_TRUE(panel.MissedDataZero);

  // The click moves the focus first, so the field is rewritten before the operation reads it.
  // The operation orders the limits for itself and leaves the fields as they are.
  Click(form.FileTestCtl);
  EXPECT_EQ(form.XY_ResolutionCtl->text(), QStringLiteral("90")) << "90.5 to the even 90";
  EXPECT_FLOAT_EQ(form.Settings().XYPixelSize, 90.0F);
  EXPECT_EQ(form.Settings().LonMin, 11.0L);
  EXPECT_EQ(form.Settings().LonMax, 12.0L);
  EXPECT_EQ(form.Settings().ZMin, 200.0L);
  EXPECT_EQ(form.Settings().ZMax, 800.0L);
  EXPECT_EQ(form.Settings().XYResolution, 90);
  EXPECT_EQ(form.Long1Ctl->text(), QStringLiteral("12.000000"));
  EXPECT_EQ(form.Z1Ctl->text(), QStringLiteral("800"));
  EXPECT_EQ(Count(Log(), "   Elevation Limits : 200   to   800 m"), 1);
}

TEST_F(MainWindowTest, FloorKeyAndSolidBoxMakeAClosedModel) {
  TempDir dir;
  const std::string stl = (dir.Path() / "solid.stl").string();
  TForm4& form = Open({"orolith", "FLOOR=12.5"});
  EXPECT_EQ(form.FloorCtl->text(), QStringLiteral("12.5")) << "the key sets the field";
  EXPECT_FLOAT_EQ(form.ReadPanel().FloorPercent, 12.5F);
  SmallFlatRegion(stl);
  Click(form.CreateStlCtl);
  EXPECT_EQ(Count(Log(), "   Closed solid, floor 12.50 percent of the Z extent"), 0) << "box off";
  const std::uint32_t surface = CompleteStlFaces(stl);

  Click(form.SolidCtl);
  EXPECT_TRUE(form.ReadPanel().Solid);
  Click(form.CreateStlCtl);
  EXPECT_EQ(Count(Log(), "   Closed solid, floor 12.50 percent of the Z extent"), 1);
  // Three cells a side (0.002 / 0.001 + 1): on each side six wall faces and three bottom faces.
  EXPECT_EQ(surface, 2U * 3U * 3U);
  EXPECT_EQ(CompleteStlFaces(stl), surface + 4 * 3 * 3);

  Type(form.FloorCtl, QStringLiteral("150"));
  EXPECT_EQ(form.FloorCtl->text(), QStringLiteral("100.0")) << "within the field's limits";
  Click(form.CreateStlCtl);
  EXPECT_EQ(Count(Log(), "   Closed solid, floor 100.00 percent of the Z extent"), 1);
  EXPECT_TRUE(errors_.empty());
}

// The field asks for an adaptive surface: its summary line, fewer faces than the regular grid.
TEST_F(MainWindowTest, MaxErrorFieldMakesAnAdaptiveSurface) {
  TempDir dir;
  const std::string stl = (dir.Path() / "adaptive.stl").string();
  TForm4& form = Open({"orolith", "MAXERROR=0.75"});
  EXPECT_EQ(form.MaxErrorCtl->text(), QStringLiteral("0.75")) << "the key sets the field";
  Type(form.MaxErrorCtl, QStringLiteral("0"));
  SmallFlatRegion(stl);
  Click(form.CreateStlCtl);
  const std::uint32_t regular = CompleteStlFaces(stl);
  EXPECT_EQ(Count(Log(), "   Adaptive surface, max. error 0.50 m"), 0);

  Type(form.MaxErrorCtl, QStringLiteral("0.5"));
  EXPECT_FLOAT_EQ(form.ReadPanel().MaxError, 0.5F);
  Click(form.CreateStlCtl);
  EXPECT_EQ(Count(Log(), "   Adaptive surface, max. error 0.50 m"), 1);
  // Flat ground: two faces for the whole piece, where the grid has two a cell.
  EXPECT_EQ(regular, 2U * 3U * 3U);
  EXPECT_EQ(CompleteStlFaces(stl), 2U);
  EXPECT_EQ(Count(Log(), "2 Faces created, now saving to " + stl + " ..."), 1);

  Type(form.MaxErrorCtl, QStringLiteral("-3"));
  EXPECT_EQ(form.MaxErrorCtl->text(), QStringLiteral("0.00")) << "within the field's limits";
  EXPECT_TRUE(errors_.empty());
}

// The keys set the print fields, a field something else stands in for takes no input, and the
// Print button sets up a print, keeping what was typed.
TEST_F(MainWindowTest, PrintKeysFieldsAndButton) {
  TForm4& form = Open({"orolith", "Scale=25000", "ElevationAuto=1", "MaxError=auto"});
  EXPECT_EQ(form.ReadPanel().Scale, 25000.0F);
  EXPECT_FALSE(form.Z1Ctl->isEnabled() || form.XSizeCtl->isEnabled() ||
               form.MaxErrorCtl->isEnabled());
  Type(form.ScaleCtl, QStringLiteral("0"));
  Click(form.ElevationAutoCtl);
  Click(form.MaxErrorAutoCtl);
  EXPECT_TRUE(form.XSizeCtl->isEnabled() && form.Z1Ctl->isEnabled());
  EXPECT_FALSE(form.LayerHeightCtl->isEnabled());
  Type(form.ZBaseCtl, QStringLiteral("5"));
  Click(form.PrintCtl);
  const FrontPanelValues panel = form.ReadPanel();
  EXPECT_TRUE(panel.Solid && panel.ElevationAuto && panel.MaxErrorAuto);
  EXPECT_EQ(panel.XExtent, 150.0F);
  EXPECT_EQ(panel.ZExtent, 20.0F);
  EXPECT_EQ(panel.ZBasePercent, 5.0F) << "typed";
}

TEST_F(MainWindowTest, WithoutOpenGLTheModelTabSaysSoAndTheModelIsStillMade) {
  TempDir dir;
  TForm4& form = Open();
  if (form.ModelView != nullptr) GTEST_SKIP() << "this display gives OpenGL";
  auto* note = qobject_cast<QLabel*>(form.PreviewTabs->widget(1));
  ASSERT_NE(note, nullptr);
  EXPECT_TRUE(note->text().contains(QStringLiteral("OpenGL")));
  SmallFlatRegion((dir.Path() / "model.stl").string());
  Click(form.CreateStlCtl);
  EXPECT_EQ(Log().back(), "File has been saved");
  EXPECT_TRUE(errors_.empty());
}

TEST_F(MainWindowTest, CommaSeparatorReachesFieldsAndLog) {
  TForm4& form = Open({"orolith"}, ',');
  EXPECT_EQ(form.Long1Ctl->text(), QStringLiteral("0,000000"));
  EXPECT_EQ(form.ZSizeCtl->text(), QStringLiteral("1,000"));
  EXPECT_EQ(form.ZBaseCtl->text(), QStringLiteral("0,0"));
  Type(form.Long2Ctl, QStringLiteral("0,5"));
  Click(form.FileTestCtl);
  EXPECT_EQ(Count(Log(), "   Longitude Limits : 0,000000   to   0,500000 degrees"), 1);
  EXPECT_EQ(beeps_, 0);
}

TEST_F(MainWindowTest, ClosingTheQuestionBoxCancelsAndWritesNothing) {
  TempDir dir;
  const std::filesystem::path stl = dir.Path() / "huge.stl";
  TForm4& form = Open();
  form.Dialogs().AskOkCancel = nullptr;  // the real box
  HugeRegion(stl);
  const std::vector<std::string> before = Log();

  bool inspected = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    inspected = true;
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Warning : Very Large STL FileSize"));
    EXPECT_EQ(box->text(), QStringLiteral("Are you sure you want to make a 356 MB STL File?"));
    box->close();
  });
  Click(form.CreateStlCtl);
  EXPECT_TRUE(inspected);
  EXPECT_EQ(Log(), before);
  EXPECT_FALSE(std::filesystem::exists(stl));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(MainWindowTest, LargeFileConfirmedIsGeneratedAndSaved) {
  TempDir dir;
  const std::filesystem::path stl = dir.Path() / "large.stl";
  TForm4& form = Open();
  // Just over the question's threshold: (100000 / 15)^2 * 0.12 * 4 * 0.1 faces of 50 bytes.
  Type(form.Long2Ctl, QStringLiteral("0.12"));
  Type(form.Lat2Ctl, QStringLiteral("0.1"));
  Type(form.XY_ResolutionCtl, QStringLiteral("15"));
  Click(form.MissedDataCtl);
  Type(form.SaveFilenameCtl, QString::fromStdString(stl.string()));

  answer_ = true;
  Click(form.CreateStlCtl);
  ASSERT_EQ(questions_.size(), 1U);
  EXPECT_TRUE(errors_.empty());
  const std::vector<std::string> log = Log();
  EXPECT_EQ(log.back(), "File has been saved");
  // The flat stand-in tile gives two faces per cell.
  EXPECT_GT(CompleteStlFaces(stl), 1000000U);
}

TEST_F(MainWindowTest, UncreatableFileIsReportedAndTheWindowGoesOn) {
  TempDir dir;
  const std::string stl = (dir.Path() / "missing" / "model.stl").string();
  TForm4& form = Open();
  SmallFlatRegion(stl);
  Click(form.CreateStlCtl);

  ASSERT_EQ(errors_.size(), 1U);
  EXPECT_NE(errors_[0].find(stl), std::string::npos) << errors_[0];
  const std::vector<std::string> log = Log();
  // Known before the first tile.
  EXPECT_EQ(log.back(), " * * * * * * * * * * * * * * * * *");
  EXPECT_EQ(Count(log, "File has been saved"), 0);
  EXPECT_FALSE(form.OperationRunning());

  Click(form.FileTestCtl);
  EXPECT_EQ(Count(Log(), "  File Verification "), 1) << "the next operation runs";
  EXPECT_EQ(errors_.size(), 1U);
  EXPECT_EQ(beeps_, 0);
}

TEST_F(MainWindowTest, ARegionWithoutTilesIsAnErrorAndKeepsTheOldFile) {
  TempDir dir;
  const std::string root = "DataRoot=" + dir.Root();
  const std::filesystem::path stl = dir.Path() / "model.stl";
  test::WriteText(stl, "old");
  TForm4& form = Open({"orolith", root.c_str()});
  Type(form.Long1Ctl, QStringLiteral("7.1"));
  Type(form.Long2Ctl, QStringLiteral("7.2"));
  Type(form.SaveFilenameCtl, QString::fromStdString(stl.string()));
  Click(form.CreateStlCtl);
  EXPECT_EQ(errors_,
            std::vector<std::string>{"No elevation data in the region: no tile of it was found"});
  EXPECT_EQ(Log().back(), " * * * * * * * * * * * * * * * * *");
  EXPECT_EQ(test::ReadText(stl), "old");
  EXPECT_EQ(test::FolderEntries(dir.Path()), std::vector<std::string>{"model.stl"});
  EXPECT_FALSE(form.OperationRunning());
}

TEST_F(MainWindowTest, ClickWhileAnOperationRunsIsRefusedWithABeep) {
  TempDir dir;
  const std::filesystem::path stl = dir.Path() / "model.stl";
  TForm4& form = Open();
  SmallFlatRegion(stl.string());

  bool clickedDuringRun = false;
  QTimer::singleShot(0, [&] {
    clickedDuringRun = form.OperationRunning();
    Click(form.FileTestCtl);
    Click(form.CreateStlCtl);
    Click(form.Button4);
  });
  Click(form.CreateStlCtl);
  ASSERT_TRUE(clickedDuringRun);
  EXPECT_EQ(beeps_, 3);
  EXPECT_EQ(fileDialogs_, 0);
  const std::vector<std::string> log = Log();
  EXPECT_EQ(Count(log, "  Configuration Summary "), 1);
  EXPECT_EQ(Count(log, "  File Verification "), 0);
  EXPECT_EQ(log.back(), "File has been saved");
  EXPECT_GT(CompleteStlFaces(stl), 0U);
  EXPECT_EQ(form.SaveFilenameCtl->text(), QString::fromStdString(stl.string()));
}

// Each operation shows its progress and ends within moments of Stop, Escape or a close, as a
// signal ends it: nothing half-written is left, an older file stays, and the log says so.
TEST_F(MainWindowTest, StopEscapeOrCloseEndsEveryOperationAtOnce) {
  const test::TestServer server;
  const std::string host = "ArchiveHost=" + server.Host() + "/hang";
  enum Operation { Model, Check, Download };
  const std::vector<std::pair<const char*, std::function<void(TForm4&)>>> stops{
      {"Stop", [](TForm4& form) { Click(form.StopCtl); }},
      {"Escape", [](TForm4& form) { QTest::keyClick(form.Long1Ctl, Qt::Key_Escape); }},
      {"close", [](TForm4& form) { form.close(); }}};
  for (const Operation operation : {Model, Check, Download}) {
    for (const auto& [how, stop] : stops) {
      SCOPED_TRACE(std::string(how) + " of operation " + std::to_string(operation));
      TempDir dir;
      std::filesystem::create_directories(dir.Path() / "SRTM_3");
      const std::filesystem::path stl = dir.Path() / "model.stl";
      test::WriteText(stl, "old");
      const std::string root = "DataRoot=" + dir.Root();
      TForm4& form = Open({"orolith", root.c_str(), host.c_str()});
      QPushButton* button = form.CreateStlCtl;
      if (operation == Model) {
        HugeRegion(stl);
        Click(form.MissedDataCtl);
      } else if (operation == Check) {
        // Some 40000 tiles: longer than the test waits.
        Type(form.Long1Ctl, QStringLiteral("-180"));
        Type(form.Long2Ctl, QStringLiteral("180"));
        Type(form.Lat1Ctl, QStringLiteral("-55"));
        Type(form.Lat2Ctl, QStringLiteral("55"));
        button = form.FileTestCtl;
      } else {
        Type(form.Long2Ctl, QStringLiteral("0.5"));
        button = form.GetSRTM3Ctl;
      }
      // Stopped once the bar has moved (a download's stays busy while it waits).
      bool stopEnabled = false;
      int progress = -1;
      std::optional<std::chrono::steady_clock::time_point> stopped;
      const auto started = std::chrono::steady_clock::now();
      const auto patience = operation == Download ? 500ms : 20s;
      QTimer watch;
      QObject::connect(&watch, &QTimer::timeout, [&] {
        const bool moved = form.ProgressCtl->value() > 0;
        if (stopped || !(moved || std::chrono::steady_clock::now() - started > patience)) return;
        stopEnabled = form.StopCtl->isEnabled();
        progress = form.ProgressCtl->value();
        stopped = std::chrono::steady_clock::now();
        stop(form);
      });
      watch.start(5);
      answer_ = true;
      Click(button);
      ASSERT_TRUE(stopped) << "the operation ended before it was stopped";
      EXPECT_LT(std::chrono::steady_clock::now() - *stopped, 2s);
      EXPECT_TRUE(stopEnabled);
      EXPECT_GE(progress, operation == Download ? 0 : 1) << "the bar did not move";
      EXPECT_EQ(Log().back(), "Stopped by the user");
      EXPECT_TRUE(errors_.empty());
      EXPECT_FALSE(form.OperationRunning());
      EXPECT_FALSE(form.StopCtl->isEnabled());
      EXPECT_EQ(form.isVisible(), std::string(how) != "close");
      EXPECT_TRUE(test::ReadText(stl) == "old") << "the old file was replaced";
      EXPECT_EQ(test::FolderEntries(dir.Path()), (std::vector<std::string>{"SRTM_3", "model.stl"}));
      EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "SRTM_3"));
    }
  }
}

TEST_F(MainWindowTest, ADownloadKeepsTheWindowAnsweringAndClosingStopsItAtOnce) {
  const test::TestServer server;
  TempDir dir;
  std::filesystem::create_directories(dir.Path() / "SRTM_3");
  // The server takes every request and never answers.
  const std::string root = "DataRoot=" + dir.Root();
  const std::string host = "ArchiveHost=" + server.Host() + "/hang";
  TForm4& form = Open({"orolith", root.c_str(), host.c_str()});
  Type(form.Long1Ctl, QStringLiteral("6.5"));
  Type(form.Long2Ctl, QStringLiteral("6.5"));
  Type(form.Lat1Ctl, QStringLiteral("45.5"));
  Type(form.Lat2Ctl, QStringLiteral("45.5"));

  int ticksWhileRunning = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (form.OperationRunning()) ++ticksWhileRunning;
  });
  ticker.start(50);
  QTimer::singleShot(500, [&] { Click(form.FileTestCtl); });
  QTimer::singleShot(1000, [&] { form.close(); });
  const auto started = std::chrono::steady_clock::now();
  Click(form.GetSRTM3Ctl);
  const auto took = std::chrono::steady_clock::now() - started;
  ticker.stop();

  EXPECT_LT(took, std::chrono::seconds(5)) << "the close did not stop the transfer";
  EXPECT_GE(ticksWhileRunning, 10) << "the window did not answer during the transfer";
  EXPECT_EQ(beeps_, 1) << "the click during the download was not refused";
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(errors_.empty());
  const std::vector<std::string> log = Log();
  EXPECT_EQ(log.back(), "Stopped by the user");
  EXPECT_EQ(log.end()[-2], "Attempting to Download : http://" + server.Host() +
                               "/hang/srtm/version2_1/SRTM3/Africa/N45E006.hgt.zip");
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path() / "SRTM_3"));
}

// Why an attempt failed is not in the log; the window says it once the run is over.
TEST_F(MainWindowTest, TheReasonsBehindTheLogsFailuresAreShownAfterTheRun) {
  TempDir dir;
  const std::string root = "DataRoot=" + dir.Root();
  TForm4& form = Open({"orolith", root.c_str(), "TileUrl=http://127.0.0.1:1/esa/"});
  Click(form.GetSRTM1Ctl);
  EXPECT_EQ(Log().back(), "There are 1 missing SRTM-1 files");
  EXPECT_EQ(Count(Log(), "Download failed for some reason"), 1);
  ASSERT_EQ(notes_.size(), 1U);
  EXPECT_TRUE(notes_[0].starts_with(
      "http://127.0.0.1:1/esa/N00E000.SRTMGL1.hgt.zip: Failed to connect to 127.0.0.1 port 1"))
      << notes_[0];
  // A run with nothing to say shows nothing.
  Click(form.FileTestCtl);
  EXPECT_EQ(notes_.size(), 1U);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(MainWindowTest, WaitingForAPipesReaderKeepsTheWindowAnsweringAndClosingEndsIt) {
  TempDir dir;
  const std::filesystem::path fifo = dir.Path() / "model.stl";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // Should the window wait where it can't answer, a reader comes after 5 s and lets it go.
  std::atomic<bool> ended{false};
  std::thread rescue([&] {
    for (int i = 0; i < 100 && !ended; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ended) return;
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[4096];
    for (int i = 0; i < 100 && ::read(fd, buffer, sizeof buffer) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
  });
  TForm4& form = Open();
  SmallFlatRegion(fifo.string());

  int ticksWhileRunning = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (form.OperationRunning()) ++ticksWhileRunning;
  });
  ticker.start(50);
  QTimer::singleShot(500, [&] { Click(form.FileTestCtl); });
  QTimer::singleShot(1000, [&] { form.close(); });
  const auto started = std::chrono::steady_clock::now();
  Click(form.CreateStlCtl);
  const auto took = std::chrono::steady_clock::now() - started;
  ticker.stop();
  ended = true;
  rescue.join();

  EXPECT_LT(took, std::chrono::seconds(4)) << "the close did not end the wait";
  EXPECT_GE(ticksWhileRunning, 10) << "the window did not answer while it waited";
  EXPECT_EQ(beeps_, 1) << "the click during the wait was not refused";
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(Log().end()[-2], " * * * * * * * * * * * * * * * * *");
  EXPECT_EQ(Log().back(), "Stopped by the user");
  EXPECT_EQ(test::FolderEntries(dir.Path()), std::vector<std::string>{"model.stl"});
}

TEST_F(MainWindowTest, TheDataRootChosenMovesTheTileFoldersAndTheMapAndIsLogged) {
  TempDir dir;
  TForm4& form = Open();
  std::vector<QString> offered;
  form.Dialogs().ChooseDataRoot = [&](const QString& root) -> std::optional<QString> {
    offered.push_back(root);
    return QString::fromStdString(dir.Path().string());
  };
  Click(form.SelectDataRootCtl);
  EXPECT_EQ(offered, std::vector<QString>{QString::fromStdString(WorkingDirectory())});
  const DataFolders folders = MakeDataFolders(dir.Root());
  EXPECT_EQ(form.Folders().Srtm3Dir, folders.Srtm3Dir);
  EXPECT_EQ(form.DataRootCtl->text().toStdString(), dir.Root());
  const std::vector<std::string> log = Log();
  const std::vector<std::string> expected = DataRootLines(folders, RootOrigin::Chooser);
  EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()), expected);
  Click(form.FileTestCtl);
  EXPECT_EQ(Count(Log(), "N00E000.hgt was not found ... consider installing"), 1);
}

TEST_F(MainWindowTest, RememberedSettingsComeBackUnderTheCommandLineAndOnlyWhenAskedFor) {
  TempDir root;
  {
    TForm4& form = Open();
    EXPECT_FALSE(form.RememberCtl->isChecked()) << "nothing is kept unless asked for";
    Type(form.Long1Ctl, QStringLiteral("7.2"));
    Type(form.ZBaseCtl, QStringLiteral("12.5"));
    Type(form.FloorCtl, QStringLiteral("8"));
    Type(form.SaveFilenameCtl, QStringLiteral("alps.3mf"));
    Click(form.SolidCtl);
    form.TileSourceCtl->setCurrentIndex(
        form.TileSourceCtl->findData(static_cast<int>(ArchiveLayout::Aws)));
    form.Dialogs().ChooseDataRoot = [&](const QString&) -> std::optional<QString> {
      return QString::fromStdString(root.Root());
    };
    Click(form.SelectDataRootCtl);
    Click(form.RememberCtl);
    form.close();
  }
  const struct {
    std::vector<const char*> arguments;
    bool kept;
    const char* floor;
    ArchiveLayout source;
  } cases[] = {
      {{"orolith"}, true, "8.0", ArchiveLayout::Aws},
      {{"orolith", "floor=3", "TileSource=copernicus", "DataRoot=/maps"},
       true,
       "3.0",
       ArchiveLayout::Copernicus},
      {{"orolith", "Remember=no"}, false, "5.0", ArchiveLayout::Esa},
      // Left unticked, the last window forgot them.
      {{"orolith"}, false, "5.0", ArchiveLayout::Esa},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.size());
    TForm4& form = Open(c.arguments);
    EXPECT_EQ(form.RememberCtl->isChecked(), c.kept);
    EXPECT_EQ(form.Long1Ctl->text(),
              c.kept ? QStringLiteral("7.200000") : QStringLiteral("0.000000"));
    EXPECT_EQ(form.ZBaseCtl->text(), c.kept ? QStringLiteral("12.5") : QStringLiteral("0.0"));
    EXPECT_EQ(form.FloorCtl->text(), QString::fromLatin1(c.floor));
    EXPECT_EQ(form.SaveFilenameCtl->text(),
              c.kept ? QStringLiteral("alps.3mf") : QStringLiteral("NewFile.stl"));
    EXPECT_EQ(form.SolidCtl->isChecked(), c.kept);
    EXPECT_EQ(form.Source().Layout, c.source);
    const bool given = c.arguments.size() > 2;
    EXPECT_EQ(Log()[1], given ? "DataRoot taken from command line argument : /maps/"
                        : c.kept
                            ? "DataRoot taken from saved settings : " + root.Root()
                            : "DataRoot taken from execution directory : " + WorkingDirectory());
    form.close();
  }
}

// The front panel keeps its controls where they are; the log and the panel beside it take the
// room the window has, and the front panel scrolls in a window too short for it.
TEST_F(MainWindowTest, TheLogAndTheMapTakeTheRoomTheFrontPanelScrollsWhenShort) {
  TForm4& form = Open();
  const QRect region = form.Long1Ctl->parentWidget()->geometry();
  const QRect label = form.Label6->geometry();
  int logHeight = 0;
  int mapWidth = 0;
  for (const QSize size :
       {QSize(960, 560), QSize(1280, 720), QSize(1366, 768), QSize(1920, 1200), QSize(700, 400)}) {
    SCOPED_TRACE(size.width());
    form.resize(size);
    EXPECT_EQ(form.Long1Ctl->parentWidget()->geometry(), region);
    EXPECT_EQ(form.Label6->geometry(), label);
    EXPECT_EQ(form.PreviewTabs->geometry().right(), size.width() - 1);
    EXPECT_EQ(form.PreviewTabs->height(), size.height());
    EXPECT_EQ(form.PreviewTabs->x(), form.FrontScroll->width());
    const bool tall = size.height() >= layout::MinFrontHeight;
    EXPECT_EQ(form.FrontPanel->height(), tall ? size.height() : layout::MinFrontHeight);
    EXPECT_EQ(form.StopCtl->geometry().bottom(), form.FrontPanel->height() - 9);
    if (size.width() <= 1920 && size.height() >= 560) {
      EXPECT_GT(form.Memo1->height(), logHeight) << "the log grows with the window";
      EXPECT_GT(form.PreviewTabs->width(), mapWidth) << "so does the map";
    }
    logHeight = form.Memo1->height();
    mapWidth = form.PreviewTabs->width();
  }
}

TEST(WindowLayout, TheFrontPanelFitsBesideTheMapOrScrollsAndTheWindowFitsTheScreen) {
  constexpr int Bar = 15;
  const struct {
    QSize client;
    int frontWidth;
    int panelHeight;
  } cases[] = {
      {{1370, 817}, 810, 817},
      {{1366, 768}, 810, 768},
      {{960, 600}, 810, 600},                     // 1920 x 1200 at twice the scale
      {{960, 400}, 825, layout::MinFrontHeight},  // a vertical bar beside the panel
      {{800, 600}, 680, 600 - Bar},               // scrolled sideways
      {{800, layout::MinFrontHeight}, 680, layout::MinFrontHeight},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.client.width() * 10000 + c.client.height());
    const WindowLayout arranged = ArrangeWindow(c.client, Bar);
    EXPECT_EQ(arranged.Front, QRect(0, 0, c.frontWidth, c.client.height()));
    EXPECT_EQ(arranged.Preview,
              QRect(c.frontWidth, 0, c.client.width() - c.frontWidth, c.client.height()));
    EXPECT_EQ(arranged.FrontPanel, QSize(810, c.panelHeight));
    const FrontPanelRows rows = ArrangeFrontPanel(c.panelHeight);
    EXPECT_EQ(rows.Log.top(), layout::LogTop);
    EXPECT_GE(rows.Log.height(), layout::MinLogHeight);
    EXPECT_LT(rows.Log.bottom(), rows.Status.top());
    EXPECT_EQ(rows.Status.bottom(), c.panelHeight - 9);
  }
  // A laptop's screen with a panel at the top, and a title bar: the frame fits.
  const QRect available(0, 32, 1366, 736);
  const QRect placed = FittedWindow(QSize(1370, 817), available, QMargins(1, 28, 1, 1));
  EXPECT_EQ(placed, QRect(0, 32, 1364, 707));
  EXPECT_EQ(FittedWindow(QSize(1370, 817), QRect(0, 0, 1920, 1080), QMargins(1, 28, 1, 1)),
            QRect(0, 0, 1370, 817));
}

// Signals for the window's tests: the handlers are in place, and each test forgets its stop.
class MainWindowSignalTest : public MainWindowTest {
 protected:
  MainWindowSignalTest() { InstallInterruptHandlers(); }
  ~MainWindowSignalTest() override { ClearInterrupt(); }
};

TEST_F(MainWindowSignalTest, TermDuringAModelRunEndsItWithoutAFileAndClosesTheWindow) {
  TempDir dir;
  const std::filesystem::path stl = dir.Path() / "model.stl";
  TForm4& form = Open();
  SmallFlatRegion(stl.string());
  // Sent while the run lets events in, before its tile.
  QTimer::singleShot(0, [] { ::raise(SIGTERM); });
  Click(form.CreateStlCtl);
  EXPECT_TRUE(errors_.empty()) << "a stop asked for is no error";
  EXPECT_EQ(Count(Log(), "Topography generation completed"), 0);
  EXPECT_FALSE(form.OperationRunning());
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(MainWindowSignalTest, HangupWhileIdleClosesTheWindowAndAnswersAnOpenQuestion) {
  TempDir dir;
  TForm4& form = Open({"orolith"}, '.', true);
  HugeRegion(dir.Path() / "huge.stl");
  // The question box is open when the signal comes.
  QTimer::singleShot(0, [] { ::raise(SIGHUP); });
  Click(form.CreateStlCtl);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "huge.stl")) << "the question was not Cancel";
  QTest::qWait(300);
  EXPECT_FALSE(form.isVisible());

  ClearInterrupt();
  TForm4& idle = Open();
  ::raise(SIGHUP);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !idle.isVisible(); }, 1000));
}

}  // namespace
}  // namespace orolith
