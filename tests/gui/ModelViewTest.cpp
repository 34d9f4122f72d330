// The 3D view on a real X display with Mesa's software renderer (tests/gui/with_display.sh),
// judged by the frames it draws.

#include "frontpanel/Workspace.h"
#include "gui/FloatSpin.h"
#include "gui/ModelView.h"
#include "gui/Orolith_Main.h"
#include "model/writers/STL.h"
#include "support/GridSurface.h"
#include "support/Packages.h"
#include "support/StlReader.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orolith {
namespace {

using test::TempDir;

// Rolling hills of columns x rows unit cells, two faces each; with walls and a floor at z = -4
// when solid.
TSTL Hills(int columns, int rows, bool solid) {
  const auto height = [](int i, int j) { return 6 + 4 * std::sin(i / 6.0) * std::cos(j / 5.0); };
  return test::GridSurface(columns, rows, height, solid, -4);
}

class ModelViewTest : public ::testing::Test {
 protected:
  ModelViewTest() {
    view_.resize(480, 480);
    view_.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&view_));
  }

  std::string Saved(const TSTL& stl, const char* name) const {
    const std::string file = (dir_.Path() / name).string();
    stl.SaveBinary(file);
    return file;
  }

  void Show(const std::string& file) {
    view_.ShowModel(QString::fromStdString(file));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !view_.Reading(); }, 20000));
  }

  QImage Frame() { return view_.grabFramebuffer().convertToFormat(QImage::Format_RGB32); }

  // Pixels that are not the background.
  static int Lit(const QImage& frame) {
    const QRgb background = frame.pixel(0, frame.height() - 1);
    int lit = 0;
    for (int y = 0; y < frame.height(); ++y) {
      for (int x = 0; x < frame.width(); ++x) lit += frame.pixel(x, y) != background ? 1 : 0;
    }
    return lit;
  }

  static std::size_t Shades(const QImage& frame) {
    std::set<QRgb> shades;
    for (int y = 0; y < frame.height(); ++y) {
      for (int x = 0; x < frame.width(); ++x) shades.insert(frame.pixel(x, y));
    }
    return shades.size();
  }

  static int Differing(const QImage& a, const QImage& b) {
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
      for (int x = 0; x < a.width(); ++x) differing += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
    }
    return differing;
  }

  void DragBy(QPoint by) {
    const QPoint from(240, 240);
    QTest::mousePress(&view_, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step) {
      QTest::mouseMove(&view_, from + by * step / 4);
    }
    QTest::mouseRelease(&view_, Qt::LeftButton, {}, from + by);
  }

  TempDir dir_;
  TModelView view_;
};

TEST_F(ModelViewTest, AModelIsDrawnLitAndShadedWhereItIs) {
  const QImage empty = Frame();
  EXPECT_EQ(Lit(empty), 0) << "nothing to draw yet";
  EXPECT_EQ(view_.Scale(), QString());
  Show(Saved(Hills(60, 40, false), "hills.stl"));
  EXPECT_EQ(view_.TrianglesShown(), 60U * 40U * 2U);
  EXPECT_TRUE(view_.Note().startsWith(QStringLiteral("hills.stl: 4800 triangles, 60.0 × 40.0 × ")))
      << view_.Note().toStdString();
  EXPECT_TRUE(view_.Note().endsWith(QStringLiteral(" mm")));
  // A round length, about a fifth of the view wide.
  EXPECT_EQ(view_.Scale(), QStringLiteral("20 mm"));
  EXPECT_GE(view_.ScaleWidth(), 40);
  EXPECT_LE(view_.ScaleWidth(), 120);
  const QImage frame = Frame();
  const int area = frame.width() * frame.height();
  EXPECT_GE(Lit(frame), area / 8) << "the model fills a good part of the view";
  EXPECT_NE(frame.pixel(240, 240), frame.pixel(0, 0)) << "the middle of the model";
  EXPECT_GE(Shades(frame), 100U) << "lit and shaded, not one flat colour";
}

TEST_F(ModelViewTest, ADragTurnsItTheWheelZoomsADoubleClickBringsTheFirstViewBack) {
  Show(Saved(Hills(60, 40, false), "hills.stl"));
  const QImage first = Frame();
  const int area = first.width() * first.height();

  DragBy({120, 0});
  const QImage turned = Frame();
  EXPECT_GE(Differing(first, turned), area / 20) << "the drag did not turn the model";
  DragBy({0, 80});
  EXPECT_GE(Differing(turned, Frame()), area / 20) << "the drag did not tilt the model";

  QWheelEvent wheel(QPointF(240, 240), view_.mapToGlobal(QPointF(240, 240)), {}, {0, 360},
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view_, &wheel);
  const QImage zoomed = Frame();
  EXPECT_GT(Lit(zoomed), Lit(turned)) << "zooming in fills more of the view";

  QTest::mouseDClick(&view_, Qt::LeftButton, {}, QPoint(100, 100));
  EXPECT_EQ(Differing(first, Frame()), 0);
}

TEST_F(ModelViewTest, ASolidShowsItsWallsAndFloor) {
  Show(Saved(Hills(60, 40, false), "surface.stl"));
  const QImage surface = Frame();
  Show(Saved(Hills(60, 40, true), "solid.stl"));
  const QImage solid = Frame();
  // Seen from the south and above, the southern wall stands below the surface's edge, and the
  // surface hides the floor (drawn last, it would cover the surface with one flat colour).
  EXPECT_GT(Lit(solid), Lit(surface) + 1000);
  EXPECT_GE(Shades(solid), 100U);
  const auto floorColoured = [](const QImage& frame) {
    int count = 0;
    for (int y = 0; y < frame.height(); ++y) {
      for (int x = 0; x < frame.width(); ++x) {
        const QRgb p = frame.pixel(x, y);
        count += qBlue(p) > qRed(p) + 12 && qBlue(p) > qGreen(p) + 12 ? 1 : 0;
      }
    }
    return count;
  };
  EXPECT_EQ(floorColoured(solid), 0);
  // Seen from below, the floor fills the place of the surface.
  for (int i = 0; i < 9; ++i) DragBy({0, -40});
  const QImage below = Frame();
  EXPECT_GE(Lit(below), below.width() * below.height() / 10);
  EXPECT_GE(floorColoured(below), below.width() * below.height() / 10);
}

TEST_F(ModelViewTest, ALargeModelIsShownDecimatedAndTheCornerSaysSo) {
  view_.SetTriangleBudget(2000);
  Show(Saved(Hills(100, 100, true), "large.stl"));
  EXPECT_LE(view_.TrianglesShown(), 2000U);
  EXPECT_GE(view_.TrianglesShown(), 500U);
  EXPECT_TRUE(view_.Note().startsWith(QStringLiteral("large.stl: decimated for the view, ")))
      << view_.Note().toStdString();
  EXPECT_TRUE(view_.Note().contains(QStringLiteral(" of 20802 triangles, 100.0 × 100.0 × ")));
  EXPECT_GE(Lit(Frame()), 480 * 480 / 8);
}

// Faces at infinity or of no number among a surface, read whole and decimated: the view draws
// the rest.
TEST_F(ModelViewTest, FacesAtInfinityLeaveTheRestDrawn) {
  const float inf = std::numeric_limits<float>::infinity();
  for (const float far : {inf, std::numeric_limits<float>::quiet_NaN()}) {
    for (const std::uint64_t budget : {std::uint64_t{1000000}, std::uint64_t{2000}}) {
      view_.SetTriangleBudget(budget);
      TSTL stl = Hills(60, 40, false);
      for (int i = 0; i < 20; ++i)
        stl.AddFace(MakeVec(-far, 0, 1), MakeVec(far, 1, 2), MakeVec(0, far, -far));
      Show(Saved(stl, "far.stl"));
      EXPECT_GT(view_.TrianglesShown(), 0U) << far << " " << budget;
      EXPECT_GE(Lit(Frame()), 480 * 480 / 8) << far << " " << budget;
    }
  }
}

TEST_F(ModelViewTest, AFileThatCantBeReadIsSaidInTheCornerAndNothingIsDrawn) {
  Show(Saved(Hills(10, 10, false), "first.stl"));
  ASSERT_GT(view_.TrianglesShown(), 0U);
  const std::string missing = (dir_.Path() / "gone.stl").string();
  Show(missing);
  EXPECT_EQ(view_.TrianglesShown(), 0U);
  EXPECT_TRUE(view_.Note().startsWith(QStringLiteral("The model could not be read: ")));
  EXPECT_TRUE(view_.Note().contains(QString::fromStdString(missing)));
  EXPECT_EQ(Lit(Frame()), 0);
}

// The package of the same faces is drawn as its STL is, pixel for pixel.
TEST_F(ModelViewTest, APackageIsDrawnAsItsStlIs) {
  const TSTL hills = Hills(60, 40, true);
  Show(Saved(hills, "hills.stl"));
  const QImage stl = Frame();
  const std::string package = (dir_.Path() / "hills.3mf").string();
  test::SaveThreeMf(hills, package);
  Show(package);
  EXPECT_TRUE(view_.Note().startsWith(QStringLiteral("hills.3mf: 5202 triangles, 60.0 × 40.0 × ")))
      << view_.Note().toStdString();
  EXPECT_EQ(Differing(stl, Frame()), 0);
}

// The middle of the lit pixels.
QPointF Centre(const QImage& frame) {
  const QRgb background = frame.pixel(0, frame.height() - 1);
  double x = 0, y = 0, lit = 0;
  for (int row = 0; row < frame.height(); ++row) {
    for (int column = 0; column < frame.width(); ++column) {
      if (frame.pixel(column, row) == background) continue;
      x += column;
      y += row;
      ++lit;
    }
  }
  return lit > 0 ? QPointF(x / lit, y / lit) : QPointF();
}

TEST_F(ModelViewTest, ARightDragMovesItAndTheWheelZoomsTowardsThePointer) {
  Show(Saved(Hills(60, 40, false), "hills.stl"));
  const QPointF first = Centre(Frame());
  const QPoint from(240, 240);
  QTest::mousePress(&view_, Qt::RightButton, {}, from);
  for (int step = 1; step <= 4; ++step) QTest::mouseMove(&view_, from + QPoint(15, 10) * step);
  QTest::mouseRelease(&view_, Qt::RightButton, {}, from + QPoint(60, 40));
  const QPointF moved = Centre(Frame());
  EXPECT_NEAR(moved.x() - first.x(), 60, 4);
  EXPECT_NEAR(moved.y() - first.y(), 40, 4);

  // Towards a point left of the middle: the model grows away from it, and the bar with it.
  QTest::mouseDClick(&view_, Qt::LeftButton, {}, from);
  const QString length = view_.Scale();
  const int width = view_.ScaleWidth();
  const QPointF pointer(120, 240);
  QWheelEvent wheel(pointer, view_.mapToGlobal(pointer), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view_, &wheel);
  EXPECT_GT(Centre(Frame()).x() - first.x(), 25);
  const double grown = view_.ScaleWidth() / view_.Scale().split(u' ')[0].toDouble() /
                       (width / length.split(u' ')[0].toDouble());
  EXPECT_NEAR(grown, 1.2, 0.03);
}

TEST_F(ModelViewTest, OnlyTheModelAskedForLastIsShown) {
  const std::string large = Saved(Hills(200, 200, false), "large.stl");
  const std::string small = Saved(Hills(10, 10, false), "small.stl");
  view_.ShowModel(QString::fromStdString(large));
  Show(small);
  EXPECT_EQ(view_.TrianglesShown(), 200U);
  QTest::qWait(200);
  EXPECT_EQ(view_.TrianglesShown(), 200U);
  EXPECT_TRUE(view_.Note().startsWith(QStringLiteral("small.stl")));
}

TEST(ModelViewWindow, CreateStlFileShowsTheModelJustWrittenAndADragTurnsIt) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  TempDir dir;
  const std::string root = "DataRoot=" + test::SharedData("");
  TForm4 form(std::vector<const char*>{"orolith", root.c_str()}, '.');
  std::vector<std::string> errors;
  form.Dialogs().ShowError = [&](const QString& text) { errors.push_back(text.toStdString()); };
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  ASSERT_NE(form.ModelView, nullptr) << "no OpenGL on this display";
  const auto type = [](QLineEdit* field, const char* text) {
    field->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, QString::fromLatin1(text));
    QTest::keyClick(field, Qt::Key_Tab);
  };
  type(form.Long1Ctl, "-71.4");
  type(form.Long2Ctl, "-71.2");
  type(form.Lat1Ctl, "44.2");
  type(form.Lat2Ctl, "44.4");
  type(form.Z2Ctl, "2000");
  type(form.XSizeCtl, "100");
  type(form.ZSizeCtl, "20");
  type(form.XY_ResolutionCtl, "200");
  const std::string stl = (dir.Path() / "made.stl").string();
  type(form.SaveFilenameCtl, stl.c_str());
  QTest::mouseClick(form.SolidCtl, Qt::LeftButton, {}, QPoint(5, form.SolidCtl->height() / 2));
  QTest::mouseClick(form.CreateStlCtl, Qt::LeftButton, {}, QPoint(5, 12));

  EXPECT_EQ(form.PreviewTabs->currentWidget(), static_cast<QWidget*>(form.ModelView));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form.ModelView->Reading(); }, 20000));
  EXPECT_EQ(form.ModelView->TrianglesShown(), test::ReadStl(stl).faces.size());
  const QImage first = form.ModelView->grabFramebuffer();
  QTest::mousePress(form.ModelView, Qt::LeftButton, {}, QPoint(200, 300));
  QTest::mouseMove(form.ModelView, QPoint(260, 310));
  QTest::mouseMove(form.ModelView, QPoint(320, 320));
  QTest::mouseRelease(form.ModelView, Qt::LeftButton, {}, QPoint(320, 320));
  EXPECT_NE(form.ModelView->grabFramebuffer(), first);
  EXPECT_TRUE(errors.empty());
}

}  // namespace
}  // namespace orolith
