#include "gui/FloatSpin.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <string>
#include <vector>

namespace orolith {
namespace {

constexpr FieldLimits NoLimits{0.0F, 0.0F, 1.0F, "%.0f", 0.0F};

// A window with spin edits under test and a plain field to move the focus to.
class SpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.resize(320, 200);
    next_ = new QLineEdit(&window_);
    next_->setGeometry(200, 16, 81, 22);
    edit_ = Add(fields::Longitude);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    edit_->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(edit_->hasFocus());
  }

  TPRFloatSpinEdit* Add(const FieldLimits& field, char separator = '.') {
    auto* edit = new TPRFloatSpinEdit(&window_, separator);
    edit->setGeometry(16, 16 + 30 * added_++, 81, 22);
    edit->ApplyField(field);
    edit->SetBeep([this] { ++beeps_; });
    edit->show();
    return edit;
  }

  // Selects everything and types text over it, key by key.
  static void Replace(TPRFloatSpinEdit* edit, const QString& text) {
    edit->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty()) {
      QTest::keyClick(edit, Qt::Key_Backspace);
    } else {
      QTest::keyClicks(edit, text);
    }
  }

  static void Leave(TPRFloatSpinEdit* edit) {
    QTest::keyClick(edit, Qt::Key_Tab);
    ASSERT_FALSE(edit->hasFocus());
  }

  static void Paste(TPRFloatSpinEdit* edit, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  }

  static QAbstractButton* Up(TPRFloatSpinEdit* edit) { return edit->SpinButton()->UpButton(); }
  static QAbstractButton* Down(TPRFloatSpinEdit* edit) { return edit->SpinButton()->DownButton(); }

  QWidget window_;
  QLineEdit* next_ = nullptr;
  TPRFloatSpinEdit* edit_ = nullptr;
  int added_ = 0;
  int beeps_ = 0;
};

TEST_F(SpinEditTest, LeavingTheFieldRewritesWhatWasTyped) {
  struct Row {
    const char* typed;
    const char* shown;
  };
  const std::vector<Row> rows{{"", "-180.000000"},     {"200", "180.000000"},
                              {"-200", "-180.000000"}, {"12.5", "12.500000"},
                              {"-7e1", "-70.000000"},  {"0.1234567", "0.123457"},
                              {"1e+2", "100.000000"},  {"--1", "-180.000000"},
                              {"1e", "-180.000000"},   {".", "0.000000"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    Replace(edit_, QString::fromLatin1(row.typed));
    EXPECT_EQ(edit_->text(), QString::fromLatin1(row.typed));
    Leave(edit_);
    EXPECT_EQ(edit_->text(), QString::fromLatin1(row.shown));
  }
  EXPECT_EQ(beeps_, 0);
}

TEST_F(SpinEditTest, ReadingTheValueLeavesTheTextAlone) {
  Replace(edit_, QStringLiteral("200"));
  EXPECT_FLOAT_EQ(edit_->Value(), 180.0F);
  EXPECT_EQ(edit_->IntValue(), 180);
  EXPECT_EQ(edit_->text(), QStringLiteral("200"));
}

TEST_F(SpinEditTest, EnterKeysBeepAndChangeNothing) {
  Replace(edit_, QStringLiteral("12"));
  QSignalSpy returned(edit_, &QLineEdit::returnPressed);
  QSignalSpy finished(edit_, &QLineEdit::editingFinished);
  QTest::keyClick(edit_, Qt::Key_Return);
  QTest::keyClick(edit_, Qt::Key_Enter);
  EXPECT_EQ(beeps_, 2);
  EXPECT_EQ(edit_->text(), QStringLiteral("12"));
  EXPECT_EQ(returned.count(), 0);
  EXPECT_EQ(finished.count(), 0);
}

TEST_F(SpinEditTest, KeyFilterTakesNumberCharactersOnly) {
  Replace(edit_, QStringLiteral("+-0123456789Ee."));
  EXPECT_EQ(beeps_, 0);
  EXPECT_EQ(edit_->text(), QStringLiteral("+-0123456789Ee."));

  Replace(edit_, QStringLiteral("1"));
  QTest::keyClicks(edit_, QStringLiteral(",x 2/"));
  EXPECT_EQ(beeps_, 4) << "comma, letter, blank and slash are refused";
  EXPECT_EQ(edit_->text(), QStringLiteral("12"));
  // Control characters other than carriage return go through: backspace edits.
  QTest::keyClick(edit_, Qt::Key_Backspace);
  EXPECT_EQ(edit_->text(), QStringLiteral("1"));
  EXPECT_EQ(beeps_, 4);
}

TEST_F(SpinEditTest, CommaLocaleSwapsTheSeparators) {
  TPRFloatSpinEdit* comma = Add(fields::Longitude, ',');
  EXPECT_EQ(comma->text(), QStringLiteral("0,000000"));
  Replace(comma, QStringLiteral("12.5"));
  EXPECT_EQ(beeps_, 1) << "the point is refused where the comma separates";
  EXPECT_EQ(comma->text(), QStringLiteral("125"));
  Replace(comma, QStringLiteral("12,5"));
  EXPECT_FLOAT_EQ(comma->Value(), 12.5F);
  Leave(comma);
  EXPECT_EQ(comma->text(), QStringLiteral("12,500000"));
}

TEST_F(SpinEditTest, PastedTextIsNotFilteredButReadsAsMinimum) {
  Paste(edit_, QStringLiteral("abc"));
  EXPECT_EQ(edit_->text(), QStringLiteral("abc"));
  EXPECT_FLOAT_EQ(edit_->Value(), -180.0F);
  QTest::mouseClick(Up(edit_), Qt::LeftButton);
  EXPECT_EQ(edit_->text(), QStringLiteral("-179.000000"));

  Paste(edit_, QStringLiteral("abc"));
  QTest::mouseClick(Down(edit_), Qt::LeftButton);
  EXPECT_EQ(edit_->text(), QStringLiteral("-180.000000"));

  // A comma is no separator here, so the whole text is no number.
  Paste(edit_, QStringLiteral("12,5"));
  EXPECT_EQ(edit_->text(), QStringLiteral("12,5"));
  EXPECT_FLOAT_EQ(edit_->Value(), -180.0F);
  EXPECT_EQ(beeps_, 0);
}

TEST_F(SpinEditTest, StepsStopAtTheLimits) {
  Replace(edit_, QStringLiteral("179.5"));
  QTest::mouseClick(Up(edit_), Qt::LeftButton);
  EXPECT_EQ(edit_->text(), QStringLiteral("180.000000"));
  QTest::mouseClick(Up(edit_), Qt::LeftButton);
  EXPECT_EQ(edit_->text(), QStringLiteral("180.000000"));
  QTest::keyClick(edit_, Qt::Key_Down);
  EXPECT_EQ(edit_->text(), QStringLiteral("179.000000"));
  QTest::keyClick(edit_, Qt::Key_Up);
  QTest::keyClick(edit_, Qt::Key_Up);
  EXPECT_EQ(edit_->text(), QStringLiteral("180.000000"));

  Replace(edit_, QStringLiteral("-179.5"));
  QTest::mouseClick(Down(edit_), Qt::LeftButton);
  QTest::mouseClick(Down(edit_), Qt::LeftButton);
  EXPECT_EQ(edit_->text(), QStringLiteral("-180.000000"));
  EXPECT_EQ(beeps_, 0);

  TPRFloatSpinEdit* zExtent = Add(fields::ZExtent);
  EXPECT_EQ(zExtent->text(), QStringLiteral("1.000"));
  Replace(zExtent, QStringLiteral("0"));
  Leave(zExtent);
  EXPECT_EQ(zExtent->text(), QStringLiteral("0.010"));
}

TEST_F(SpinEditTest, FieldWithoutLimitsTakesAnyNumber) {
  TPRFloatSpinEdit* free = Add(NoLimits);
  Replace(free, QStringLiteral("1e6"));
  Leave(free);
  EXPECT_EQ(free->text(), QStringLiteral("1000000"));
  Replace(free, QStringLiteral("-5e3"));
  Leave(free);
  EXPECT_EQ(free->text(), QStringLiteral("-5000"));
  QTest::keyClick(free, Qt::Key_Down);
  EXPECT_EQ(free->text(), QStringLiteral("-5001"));
}

TEST_F(SpinEditTest, IntValueRoundsHalvesToEven) {
  TPRFloatSpinEdit* free = Add(FieldLimits{0.0F, 0.0F, 1.0F, "%.3f", 0.0F});
  struct Row {
    const char* text;
    std::int32_t expected;
  };
  for (const Row& row : {Row{"2.5", 2}, Row{"3.5", 4}, Row{"100.4", 100}, Row{"-2.5", -2},
                         Row{"0.5", 0}, Row{"1.5", 2}, Row{"-0.6", -1}}) {
    SCOPED_TRACE(row.text);
    Replace(free, QString::fromLatin1(row.text));
    EXPECT_EQ(free->IntValue(), row.expected);
  }
  free->SetIntValue(-7);
  EXPECT_EQ(free->text(), QStringLiteral("-7.000"));
}

TEST_F(SpinEditTest, HeldHalfRepeatsAfterDelayThenStepsOnceAtRelease) {
  QAbstractButton* up = Up(edit_);
  const QPoint centre = up->rect().center();
  QTest::mousePress(up, Qt::LeftButton, {}, centre);
  QTest::qWait(250);
  EXPECT_FLOAT_EQ(edit_->Value(), 0.0F) << "no step before the first repeat or the release";
  QTest::qWait(850);
  const float held = edit_->Value();
  // Repeats at 400, 500, ... 1100 ms, give or take the timer's slack; a busy machine may
  // deliver fewer.
  EXPECT_GE(held, 2.0F);
  EXPECT_LE(held, 9.0F);
  QTest::mouseRelease(up, Qt::LeftButton, {}, centre);
  EXPECT_FLOAT_EQ(edit_->Value(), held + 1.0F);
  QTest::qWait(300);
  EXPECT_FLOAT_EQ(edit_->Value(), held + 1.0F) << "repeating ends with the release";
}

TEST_F(SpinEditTest, PointerOffTheHalfNeitherRepeatsNorClicks) {
  QAbstractButton* down = Down(edit_);
  QTest::mousePress(down, Qt::LeftButton, {}, down->rect().center());
  const QPoint outside(down->width() / 2, down->height() + 40);
  QTest::mouseMove(down, outside);
  QTest::qWait(700);
  QTest::mouseRelease(down, Qt::LeftButton, {}, outside);
  EXPECT_EQ(edit_->text(), QStringLiteral("0.000000"));
}

TEST_F(SpinEditTest, PressOnTheSpinButtonFocusesTheField) {
  next_->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(next_->hasFocus());
  QTest::mousePress(Up(edit_), Qt::LeftButton);
  EXPECT_TRUE(edit_->hasFocus());
  QTest::mouseRelease(Up(edit_), Qt::LeftButton);
  EXPECT_EQ(edit_->text(), QStringLiteral("1.000000"));
}

TEST_F(SpinEditTest, LockedEditorRefusesEditingButSteps) {
  edit_->SetEditorEnabled(false);
  QTest::keyClicks(edit_, QStringLiteral("5"));
  QTest::keyClick(edit_, Qt::Key_Backspace);
  QTest::keyClick(edit_, Qt::Key_Delete);
  EXPECT_EQ(beeps_, 3);
  EXPECT_EQ(edit_->text(), QStringLiteral("0.000000"));

  // Paste and cut are ignored without a sound.
  QGuiApplication::clipboard()->setText(QStringLiteral("77"));
  QTest::keyClick(edit_, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(edit_, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(edit_, Qt::Key_X, Qt::ControlModifier);
  QTest::keyClick(edit_, Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(beeps_, 3);
  EXPECT_EQ(edit_->text(), QStringLiteral("0.000000"));

  QTest::keyClick(edit_, Qt::Key_Up);
  EXPECT_EQ(edit_->text(), QStringLiteral("1.000000"));
  QTest::mouseClick(Up(edit_), Qt::LeftButton);
  EXPECT_EQ(edit_->text(), QStringLiteral("2.000000"));
  EXPECT_EQ(beeps_, 3);

  // The context menu offers no way round the lock.
  QTest::keyClick(edit_, Qt::Key_A, Qt::ControlModifier);
  QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                              edit_->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(edit_, &menuEvent);
  auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
  ASSERT_NE(menu, nullptr);
  int offered = 0;
  for (QAction* action : menu->actions()) {
    if (!action->isEnabled() || action->isSeparator()) continue;
    ++offered;
    action->trigger();
    EXPECT_EQ(edit_->text(), QStringLiteral("2.000000")) << action->text().toStdString();
  }
  EXPECT_GE(offered, 2) << "copy and select all stay available";
  menu->close();
}

TEST_F(SpinEditTest, ReadOnlyFieldBeepsOnEveryStep) {
  edit_->setReadOnly(true);
  QTest::mouseClick(Up(edit_), Qt::LeftButton);
  QTest::mouseClick(Down(edit_), Qt::LeftButton);
  QTest::keyClick(edit_, Qt::Key_Up);
  QTest::keyClick(edit_, Qt::Key_Down);
  EXPECT_EQ(beeps_, 4);
  Paste(edit_, QStringLiteral("5"));
  EXPECT_EQ(beeps_, 4);
  EXPECT_EQ(edit_->text(), QStringLiteral("0.000000"));
}

TEST_F(SpinEditTest, EnteringByKeyboardSelectsEnteringByMouseDoesNot) {
  next_->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(next_, Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_TRUE(edit_->hasFocus());
  EXPECT_EQ(edit_->selectedText(), edit_->text());

  next_->setFocus(Qt::OtherFocusReason);
  QTest::mouseClick(edit_, Qt::LeftButton, {}, QPoint(10, edit_->height() / 2));
  ASSERT_TRUE(edit_->hasFocus());
  EXPECT_TRUE(edit_->selectedText().isEmpty());

  edit_->SetAutoSelect(false);
  next_->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(next_, Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_TRUE(edit_->hasFocus());
  EXPECT_TRUE(edit_->selectedText().isEmpty());
}

TEST_F(SpinEditTest, TextStaysClearOfTheSpinButton) {
  const TSpinButton* spin = edit_->SpinButton();
  EXPECT_TRUE(edit_->rect().contains(spin->geometry()));
  EXPECT_EQ(spin->width(), TSpinButton::DefaultWidth);
  // Two halves of (almost) equal height sharing one pixel row.
  const QRect up = spin->UpButton()->geometry();
  const QRect down = spin->DownButton()->geometry();
  EXPECT_EQ(up.top(), 0);
  EXPECT_EQ(down.bottom(), spin->height() - 1);
  EXPECT_EQ(down.top(), up.bottom());
  EXPECT_LE(std::abs(up.height() - down.height()), 1);

  Replace(edit_, QStringLiteral("1234567890123456789012345678901234567890"));
  QTest::keyClick(edit_, Qt::Key_End);
  edit_->repaint();  // the field scrolls its text when it paints
  // The reported rectangle is the cursor widened on both sides; its middle is the cursor.
  const QRect cursor = edit_->inputMethodQuery(Qt::ImCursorRectangle).toRect();
  EXPECT_LT(cursor.center().x(), spin->geometry().left());
}

TEST_F(SpinEditTest, ANumberWiderThanTheFieldShowsItsStart) {
  // Where the field shows its cursor: the middle of the rectangle it reports.
  const auto cursorX = [this] {
    edit_->repaint();  // the field scrolls its text when it paints
    return edit_->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
  };
  const auto wider = [this] {
    return QFontMetrics(edit_->font()).horizontalAdvance(edit_->text()) >
           edit_->SpinButton()->geometry().left();
  };
  edit_->SetValue(-122.5F);
  ASSERT_EQ(edit_->text(), QStringLiteral("-122.500000"));
  ASSERT_TRUE(wider()) << "the text fits; nothing to test";
  EXPECT_EQ(edit_->cursorPosition(), 0);
  EXPECT_LT(cursorX(), 8);

  // After a step and after the field rewrites what was typed.
  QTest::keyClick(edit_, Qt::Key_Down);
  EXPECT_EQ(edit_->text(), QStringLiteral("-123.500000"));
  EXPECT_LT(cursorX(), 8);
  Replace(edit_, QStringLiteral("-180"));
  Leave(edit_);
  EXPECT_EQ(edit_->text(), QStringLiteral("-180.000000"));
  EXPECT_LT(cursorX(), 8);
}

TEST_F(SpinEditTest, ShortFieldGrowsToItsMinimumHeight) {
  const int minimum = edit_->MinimumHeight();
  EXPECT_GT(minimum, 8);
  edit_->resize(81, 8);
  EXPECT_EQ(edit_->height(), minimum);
  EXPECT_TRUE(edit_->rect().contains(edit_->SpinButton()->geometry()));

  QFont large = edit_->font();
  large.setPixelSize(30);
  edit_->setFont(large);
  EXPECT_GT(edit_->MinimumHeight(), 30);
  EXPECT_EQ(edit_->height(), edit_->MinimumHeight());
  EXPECT_TRUE(edit_->rect().contains(edit_->SpinButton()->geometry()));
}

TEST(SpinEditDefaults, FreshFieldHasNoLimitsAndThreeDecimals) {
  TPRFloatSpinEdit edit;
  EXPECT_EQ(edit.text(), QStringLiteral("0.0"));
  EXPECT_FLOAT_EQ(edit.Value(), 0.0F);
  int beeps = 0;
  edit.SetBeep([&beeps] { ++beeps; });
  edit.show();
  QTest::mouseClick(edit.SpinButton()->DownButton(), Qt::LeftButton);
  QTest::mouseClick(edit.SpinButton()->DownButton(), Qt::LeftButton);
  EXPECT_EQ(edit.text(), QStringLiteral("-2.000"));
  EXPECT_EQ(beeps, 0);
}

}  // namespace
}  // namespace orolith
