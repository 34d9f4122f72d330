// The map beside the front panel, driven with mouse events and read through the fields.

#include "gui/FloatSpin.h"
#include "gui/MapPanel.h"
#include "gui/Orolith_Main.h"
#include "gui/RegionMap.h"
#include "support/DataRoot.h"
#include "support/Rasters.h"
#include "support/TempFiles.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>

#include <array>
#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orolith {
namespace {

class RegionMapTest : public ::testing::Test {
 protected:
  TForm4& Open() {
    const std::string key = "DataRoot=" + root_.Root();
    form_ = std::make_unique<TForm4>(std::vector<const char*>{"orolith", key.c_str()}, '.');
    form_->Dialogs().ShowError = [this](const QString& text) {
      errors_.push_back(text.toStdString());
    };
    form_->Dialogs().Beep = [] {};
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    // The map as large as on a screen with room for the window, whatever the test platform's.
    form_->resize(TForm4::FrontPanelWidth + TForm4::PanelWidth, TForm4::WindowHeight);
    return *form_;
  }

  TRegionMap& Map() const { return *form_->RegionMap; }

  static void Type(QLineEdit* field, const QString& text) {
    field->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Tab);
  }

  void TypeRegion(const char* lon1, const char* lon2, const char* lat1, const char* lat2) const {
    Type(form_->Long1Ctl, QString::fromLatin1(lon1));
    Type(form_->Long2Ctl, QString::fromLatin1(lon2));
    Type(form_->Lat1Ctl, QString::fromLatin1(lat1));
    Type(form_->Lat2Ctl, QString::fromLatin1(lat2));
  }

  RegionFields Fields() const {
    return {form_->Long1Ctl->Value(), form_->Long2Ctl->Value(), form_->Lat1Ctl->Value(),
            form_->Lat2Ctl->Value()};
  }

  QPoint PixelOf(double lon, double lat) const {
    const PixelPoint p = ToPixel(Map().View(), {lon, lat});
    return {static_cast<int>(std::lround(p.X)), static_cast<int>(std::lround(p.Y))};
  }

  void Drag(QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton) const {
    QTest::mousePress(&Map(), button, {}, from);
    // In steps, as a hand moves.
    for (int step = 1; step <= 4; ++step) {
      QTest::mouseMove(&Map(), from + (to - from) * step / 4);
    }
    QTest::mouseRelease(&Map(), button, {}, to);
  }

  void Wheel(QPoint at, int angle) const {
    QWheelEvent wheel(at, Map().mapToGlobal(at), {}, {0, angle}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&Map(), &wheel);
  }

  bool ShadingEnds() const {
    // A first request may still be on its way from the timer that gathers them.
    QTest::qWait(100);
    return QTest::qWaitFor([this] { return !Map().Shading(); }, 10000);
  }

  void CopyTile(const char* shared, const char* folder, const char* name) const {
    std::filesystem::copy_file(test::SharedData(shared), root_.Path() / folder / name);
  }

  static std::size_t Colours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
    }
    return colours.size();
  }

  test::DataRoot root_;
  std::unique_ptr<TForm4> form_;
  std::vector<std::string> errors_;
};

bool SameView(const MapView& a, const MapView& b) {
  return a.CentreLon == b.CentreLon && a.CentreLat == b.CentreLat && a.Scale == b.Scale;
}

TEST_F(RegionMapTest, ADragDrawsTheRegionIntoTheFieldsAndTheMapKeepsStill) {
  Open();
  TypeRegion("7.2", "7.8", "46.2", "46.8");
  const MapView view = Map().View();
  const QPoint corner = PixelOf(7.3, 46.75);
  const GeoPoint cornerGeo =
      ToGeo(view, {static_cast<double>(corner.x()), static_cast<double>(corner.y())});

  Drag(corner, corner + QPoint(240, 180));
  EXPECT_TRUE(SameView(Map().View(), view)) << "the map moved while the region was drawn";
  const RegionFields whole = Fields();
  // Within the fields' six decimals and their single precision (4e-6 at 46 degrees).
  EXPECT_NEAR(whole.Long1, cornerGeo.Lon, 5e-6);
  EXPECT_NEAR(whole.Lat2, cornerGeo.Lat, 5e-6);
  EXPECT_NEAR(whole.Long2 - whole.Long1, 240 / LonScale(view), 1e-5);
  EXPECT_NEAR(whole.Lat2 - whole.Lat1, 180 / view.Scale, 1e-5);
  EXPECT_EQ(Map().Region(), whole) << "the rectangle is what the fields hold";
  // Six decimals, as the field writes them.
  EXPECT_EQ(form_->Long1Ctl->text().section(u'.', 1).size(), 6);

  Drag(corner, corner + QPoint(120, 180));
  const RegionFields half = Fields();
  EXPECT_EQ(half.Long1, whole.Long1);
  EXPECT_EQ(half.Lat1, whole.Lat1);
  EXPECT_EQ(half.Lat2, whole.Lat2);
  EXPECT_NEAR(half.Long2 - half.Long1, (whole.Long2 - whole.Long1) / 2, 1e-5);
  EXPECT_TRUE(SameView(Map().View(), view));

  // A click is no region.
  QTest::mouseClick(&Map(), Qt::LeftButton, {}, corner + QPoint(30, 30));
  EXPECT_EQ(Fields(), half);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RegionMapTest, DraggingAnEdgeMovesTheFieldThatHoldsIt) {
  Open();
  const struct {
    double lon;  // the press, on an edge of 7.2 .. 7.8, 46.2 .. 46.8
    double lat;
    QPoint by;
    std::array<bool, 4> moves;  // Long1, Long2, Lat1, Lat2
  } cases[] = {
      {7.8, 46.5, {50, 0}, {true, false, false, false}},
      {7.2, 46.5, {-30, 0}, {false, true, false, false}},
      {7.5, 46.2, {0, 40}, {false, false, false, true}},
      {7.6, 46.8, {20, -20}, {false, false, true, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lon << " " << c.lat);
    // The first fields hold the east and the north.
    TypeRegion("7.8", "7.2", "46.8", "46.2");
    const MapView view = Map().View();
    const RegionFields before = Fields();
    Drag(PixelOf(c.lon, c.lat), PixelOf(c.lon, c.lat) + c.by);
    const RegionFields after = Fields();
    EXPECT_TRUE(SameView(Map().View(), view));
    const std::array<float, 4> was{before.Long1, before.Long2, before.Lat1, before.Lat2};
    const std::array<float, 4> is{after.Long1, after.Long2, after.Lat1, after.Lat2};
    const std::array<double, 4> moved{c.by.x() / LonScale(view), c.by.x() / LonScale(view),
                                      -c.by.y() / view.Scale, -c.by.y() / view.Scale};
    for (std::size_t field = 0; field < 4; ++field) {
      EXPECT_NEAR(is[field] - was[field], c.moves[field] ? moved[field] : 0.0, 1e-5) << field;
    }
  }
}

TEST_F(RegionMapTest, TypingOrSteppingARegionFitsTheMapAndDrawingDoesNot) {
  Open();
  TypeRegion("7.2", "7.8", "46.2", "46.8");
  const MapView fitted = FitRegion({7.2F, 7.8F, 46.2F, 46.8F}, Map().width(), Map().height());
  EXPECT_TRUE(SameView(Map().View(), fitted));

  Drag(PixelOf(7.3, 46.7), PixelOf(7.4, 46.6));
  EXPECT_TRUE(SameView(Map().View(), fitted));

  Type(form_->Long2Ctl, QStringLiteral("8.4"));
  const MapView wider = FitRegion(BoxOf(Fields()), Map().width(), Map().height());
  EXPECT_TRUE(SameView(Map().View(), wider));
  EXPECT_FALSE(SameView(wider, fitted));

  // The spin button steps a whole degree: the map follows at once.
  const float south = Fields().Lat1;
  QTest::mouseClick(form_->Lat1Ctl->SpinButton()->DownButton(), Qt::LeftButton);
  const MapView stepped = FitRegion(BoxOf(Fields()), Map().width(), Map().height());
  EXPECT_NEAR(Fields().Lat1, south - 1, 1e-5);
  EXPECT_TRUE(SameView(Map().View(), stepped));
}

TEST_F(RegionMapTest, TheWheelZoomsAboutThePointerAndARightOrMiddleDragMovesTheMap) {
  Open();
  TypeRegion("7.2", "7.8", "46.2", "46.8");
  const RegionFields region = Fields();
  const MapView before = Map().View();
  const QPoint at(100, 500);
  const GeoPoint under = ToGeo(before, {100, 500});
  Wheel(at, 120);
  EXPECT_NEAR(Map().View().Scale, before.Scale * 1.25, 1e-9);
  const PixelPoint after = ToPixel(Map().View(), under);
  EXPECT_NEAR(after.X, 100, 1e-6);
  EXPECT_NEAR(after.Y, 500, 1e-6);
  Wheel(at, -240);
  EXPECT_NEAR(Map().View().Scale, before.Scale / 1.25, 1e-9);

  for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
    const MapView start = Map().View();
    Drag({300, 300}, {340, 270}, button);
    EXPECT_NEAR(Map().View().CentreLon, start.CentreLon - 40 / LonScale(start), 1e-9);
    EXPECT_NEAR(Map().View().CentreLat, start.CentreLat - 30 / start.Scale, 1e-9);
  }
  EXPECT_EQ(Fields(), region) << "moving the map draws nothing";
}

TEST_F(RegionMapTest, TilesAreShadedAndTintedAsTheCoverageCheckFindsThem) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  CopyTile("SRTM_3/N44W072.hgt", "SRTM_3", "N44W072.hgt");
  test::WriteBytes(root_.Path() / "SRTM_1" / "N44W071.hgt", {});  // there, but no tile
  Open();
  // Across the meridian between the two tiles.
  TypeRegion("-71.4", "-70.8", "44.2", "44.8");
  ASSERT_TRUE(ShadingEnds());
  const struct {
    std::int32_t lon;
    std::int32_t lat;
    TileCoverage coverage;
    bool shaded;
  } cases[] = {
      {-72, 44, TileCoverage::Srtm3, true},
      {-71, 44, TileCoverage::Missing, false},
  };
  for (const auto& c : cases) {
    const TilePicture* picture = Map().PictureAt(c.lon, c.lat);
    ASSERT_NE(picture, nullptr) << c.lon << " " << c.lat;
    EXPECT_EQ(picture->Coverage, c.coverage);
    EXPECT_EQ(picture->Shade != nullptr, c.shaded);
  }
  EXPECT_GE(Colours(Map().grab().toImage()), 200U) << "no hillshade";
  EXPECT_TRUE(errors_.empty()) << "an unreadable tile is no error";

  // Blocked, the tile is missing as the coverage check would say.
  form_->BlockSRTM3Ctl->setChecked(true);
  ASSERT_TRUE(ShadingEnds());
  EXPECT_EQ(Map().PictureAt(-72, 44)->Coverage, TileCoverage::Missing);
}

TEST_F(RegionMapTest, ATileThatLandsShowsOnTheMap) {
  OROLITH_REQUIRE_SHARED_DATA("SRTM_3/N44W072.hgt");
  Open();
  TypeRegion("-71.8", "-71.2", "44.2", "44.8");
  ASSERT_TRUE(ShadingEnds());
  ASSERT_NE(Map().PictureAt(-72, 44), nullptr);
  EXPECT_EQ(Map().PictureAt(-72, 44)->Coverage, TileCoverage::Missing);
  CopyTile("SRTM_3/N44W072.hgt", "SRTM_3", "N44W072.hgt");
  EXPECT_TRUE(QTest::qWaitFor(
      [this] { return Map().PictureAt(-72, 44)->Coverage == TileCoverage::Srtm3; }, 6000));
}

TEST_F(RegionMapTest, RegionsAtTheEdgesOfTheGlobeShowWhatThereIsAndNeverHang) {
  Open();
  const struct {
    const char* lon1;
    const char* lon2;
    const char* lat1;
    const char* lat2;
  } cases[] = {
      {"179.5", "180", "-0.5", "0.5"}, {"-180", "-179.5", "10", "11"}, {"-10", "10", "89.5", "90"},
      {"0", "1", "-90", "-89"},        {"-180", "180", "-90", "90"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lon1);
    TypeRegion(c.lon1, c.lon2, c.lat1, c.lat2);
    ASSERT_TRUE(ShadingEnds());
    const std::optional<TileRange> tiles = VisibleTiles(Map().View());
    ASSERT_TRUE(tiles.has_value());
    EXPECT_GE(tiles->West, -180);
    EXPECT_LE(tiles->East, 179);
    EXPECT_GE(tiles->South, -90);
    EXPECT_LE(tiles->North, 89);
    // The region on the map is the region of the fields.
    const GeoBox box = BoxOf(Map().Region());
    EXPECT_EQ(box.West, static_cast<double>(std::stof(c.lon1)));
    EXPECT_FALSE(Map().grab().toImage().isNull());
  }
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RegionMapTest, ThePointerIsReadWithHemisphereLetters) {
  Open();
  TypeRegion("7.2", "7.8", "46.2", "46.8");
  const QPoint at = PixelOf(7.5, 46.5);
  QTest::mouseMove(&Map(), at);
  const QString text = Map().PointerText();
  EXPECT_EQ(
      text.toStdString(),
      PointerText(ToGeo(Map().View(), {static_cast<double>(at.x()), static_cast<double>(at.y())})));
  EXPECT_TRUE(text.contains(QStringLiteral(" N  ")) && text.endsWith(QStringLiteral(" E")))
      << text.toStdString();
}

TEST_F(RegionMapTest, WithoutTilesTheMapShowsShoresBordersAndNames) {
  Open();
  TypeRegion("6.0", "8.0", "45.8", "46.8");  // Lake Geneva and the Swiss-French border
  const QImage map = Map().grab().toImage();
  std::size_t water = 0;
  for (int y = 0; y < map.height(); ++y) {
    for (int x = 0; x < map.width(); ++x) {
      const QColor c = map.pixelColor(x, y);
      water += c.blue() > c.red() + 60 && c.blue() > c.green() + 30;
    }
  }
  EXPECT_GT(water, 200U) << "no shore drawn";
  EXPECT_GE(Colours(map), 100U);
}

TEST_F(RegionMapTest, ASearchCentresTheMapOnThePlaceAndShiftEnterBoxesIt) {
  Open();
  TMapPanel& panel = *form_->MapPanel;
  Type(panel.SearchField(), QStringLiteral("zermatt"));
  QTest::keyClick(panel.SearchField(), Qt::Key_Return);
  ASSERT_TRUE(panel.Found().has_value());
  const GeoPoint centre = ToGeo(Map().View(), {Map().width() / 2.0, Map().height() / 2.0});
  EXPECT_NEAR(centre.Lon, 7.7486, 0.05);
  EXPECT_NEAR(centre.Lat, 46.02, 0.05);

  panel.SearchField()->setFocus();
  QTest::keyClick(panel.SearchField(), Qt::Key_Return, Qt::ShiftModifier);
  const GeoBox box = BoxOf(Fields());
  EXPECT_NEAR((box.West + box.East) / 2, panel.Found()->Lon, 1e-5);
  EXPECT_NEAR((box.South + box.North) / 2, panel.Found()->Lat, 1e-5);
  EXPECT_NEAR(box.North - box.South, 0.1, 1e-5) << "10 km";
  // A square on the ground, and so a square model.
  const PixelPoint nw = ToPixel(Map().View(), {box.West, box.North});
  const PixelPoint se = ToPixel(Map().View(), {box.East, box.South});
  EXPECT_NEAR((se.X - nw.X) / (se.Y - nw.Y), 1.0, 0.01);

  Type(panel.SearchField(), QStringLiteral("Xqzzyville"));
  EXPECT_FALSE(panel.FindPlace());
  EXPECT_TRUE(errors_.empty());
}

TEST_F(RegionMapTest, TheRastersExtentBecomesTheRegion) {
  Open();
  TMapPanel& panel = *form_->MapPanel;
  EXPECT_FALSE(panel.RasterButton()->isEnabled());
  form_->DemFileCtl->setText(QString::fromStdString(test::utm20s::WriteUtmPlane(root_.Root())));
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.RasterButton()->isEnabled(); }, 10000));
  QTest::mouseClick(panel.RasterButton(), Qt::LeftButton);
  const GeoBox extent = *Map().Raster().Extent;
  const GeoBox box = BoxOf(Fields());
  // Within the fields' six decimals and single precision.
  EXPECT_NEAR(box.West, extent.West, 5e-6);
  EXPECT_NEAR(box.North, extent.North, 5e-6);
  EXPECT_FALSE(Map().Raster().Shade.isNull());
  EXPECT_GE(Map().Raster().Outline.size(), 100U);
}

TEST_F(RegionMapTest, TheOnlineMapDrawsItsTilesWithTheCredit) {
  const test::TestServer server;
  const test::TempDir cache;
  QImage green(256, 256, QImage::Format_RGB32);
  green.fill(QColor(0, 200, 0));
  ASSERT_TRUE(green.save(QString::fromStdString((root_.Path() / "tile.png").string())));
  Open();
  TypeRegion("7.2", "7.8", "46.2", "46.8");
  for (const WebTile& tile : WebTilesInView(Map().View(), WebZoomFor(Map().View()), 100)) {
    server.Serve("/osm/" + std::to_string(tile.Zoom) + "/" + std::to_string(tile.X) + "/" +
                     std::to_string(tile.Y) + ".png",
                 root_.Path() / "tile.png");
  }
  Map().SetOnlineSource(server.Url("/agent/osm/"), cache.Path());
  form_->MapPanel->OnlineBox()->setChecked(true);
  ASSERT_TRUE(Map().OnlineMap());
  // Green under the missing tiles' light hatch and the names: most of the map.
  const auto greens = [this] {
    const QImage map = Map().grab().toImage();
    std::size_t greenPixels = 0;
    for (int y = 0; y < map.height(); y += 4) {
      for (int x = 0; x < map.width(); x += 4) {
        const QColor c = map.pixelColor(x, y);
        greenPixels += c.green() > c.red() + 60 && c.green() > c.blue() + 60;
      }
    }
    return greenPixels * 16 > static_cast<std::size_t>(map.width() * map.height()) / 2;
  };
  EXPECT_TRUE(QTest::qWaitFor(greens, 10000)) << "the tiles don't show";
  EXPECT_FALSE(server.Requests().empty());
  EXPECT_TRUE(std::filesystem::exists(cache.Path() / std::to_string(WebZoomFor(Map().View()))));
  form_->MapPanel->OnlineBox()->setChecked(false);
  EXPECT_FALSE(Map().OnlineMap());
  EXPECT_FALSE(greens());

  // A server that never answers holds nothing up when the map is switched off.
  Map().SetOnlineSource(server.Url("/hang/osm/"), cache.Path() / "hang");
  form_->MapPanel->OnlineBox()->setChecked(true);
  QTest::qWait(300);
  QElapsedTimer off;
  off.start();
  form_->MapPanel->OnlineBox()->setChecked(false);
  EXPECT_LT(off.elapsed(), 2000);
}

}  // namespace
}  // namespace orolith
