#include "gui/FloatSpin.h"

#include "base/NumberText.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QStylePainter>

#include <algorithm>
#include <array>

namespace orolith {
namespace {

// The character a classic edit control would receive for this key press: carriage return for
// both Enter keys, backspace, a control character for Ctrl+letter, or the printable text.
// Empty for keys that produce no character (arrows, Delete, function keys, Alt shortcuts).
QString TypedCharacters(const QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return QString(QChar(13));
    case Qt::Key_Backspace:
      return QString(QChar(8));
    default:
      break;
  }
  const QString text = event->text();
  if (text.isEmpty()) return {};
  const Qt::KeyboardModifiers chord =
      event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
  if (chord == Qt::ControlModifier) {
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) return QString(QChar(key - Qt::Key_A + 1));
    return {};
  }
  if (chord != Qt::NoModifier) return {};
  return text;
}

// Keys that change the text without typing a character.
bool EditsWithoutCharacter(const QKeyEvent* event) {
  static constexpr std::array keys{QKeySequence::Delete,
                                   QKeySequence::DeleteEndOfWord,
                                   QKeySequence::DeleteStartOfWord,
                                   QKeySequence::DeleteEndOfLine,
                                   QKeySequence::DeleteCompleteLine,
                                   QKeySequence::Undo,
                                   QKeySequence::Redo};
  return std::any_of(keys.begin(), keys.end(), [event](auto key) { return event->matches(key); });
}

bool IsClipboardEdit(const QKeyEvent* event) {
  return event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut);
}

}  // namespace

TSpinHalf::TSpinHalf(Qt::ArrowType arrow, QWidget* parent)
    : QAbstractButton(parent), arrow_(arrow) {
  setFocusPolicy(Qt::NoFocus);
  setAutoRepeat(true);
  setAutoRepeatDelay(TSpinButton::RepeatDelayMs);
  setAutoRepeatInterval(TSpinButton::RepeatIntervalMs);
}

void TSpinHalf::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  option.initFrom(this);
  option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
  painter.drawPrimitive(QStyle::PE_PanelButtonCommand, option);

  // A solid triangle drawn row by row stays crisp at the few pixels a half has.
  const int rows = std::max(1, std::min((width() - 7) / 2, height() - 5));
  const int centre = width() / 2;
  const int top = (height() - rows) / 2 + (isDown() ? 1 : 0);
  const QColor colour =
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
  for (int row = 0; row < rows; ++row) {
    const int spread = arrow_ == Qt::UpArrow ? row : rows - 1 - row;
    painter.fillRect(centre - spread, top + row, 2 * spread + 1, 1, colour);
  }
}

TSpinButton::TSpinButton(QWidget* parent)
    : QWidget(parent),
      up_(new TSpinHalf(Qt::UpArrow, this)),
      down_(new TSpinHalf(Qt::DownArrow, this)) {
  setMinimumWidth(DefaultWidth);
  setCursor(Qt::ArrowCursor);
  setFocusPolicy(Qt::NoFocus);
  connect(up_, &QAbstractButton::pressed, this, &TSpinButton::GiveFocus);
  connect(down_, &QAbstractButton::pressed, this, &TSpinButton::GiveFocus);
  connect(up_, &QAbstractButton::clicked, this, &TSpinButton::UpClick);
  connect(down_, &QAbstractButton::clicked, this, &TSpinButton::DownClick);
  resize(DefaultWidth, DefaultHeight);
  PlaceHalves();
}

void TSpinButton::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceHalves();
}

void TSpinButton::PlaceHalves() {
  // Two equal halves; the lower one overlaps the upper by a pixel.
  const int upper = (height() + 1) / 2;
  up_->setGeometry(0, 0, width(), upper);
  down_->setGeometry(0, upper - 1, width(), height() - upper + 1);
}

void TSpinButton::GiveFocus() {
  QWidget* control = focusControl_;
  if (control != nullptr && control->isEnabled() && control->focusPolicy() != Qt::NoFocus &&
      !control->hasFocus()) {
    control->setFocus(Qt::OtherFocusReason);
  }
}

TPRFloatSpinEdit::TPRFloatSpinEdit(QWidget* parent, char decimalSeparator)
    : QLineEdit(parent),
      spinButton_(new TSpinButton(this)),
      decimalSeparator_(decimalSeparator),
      beep_([] { QApplication::beep(); }) {
  setText(QStringLiteral("0.0"));
  spinButton_->SetFocusControl(this);
  connect(spinButton_, &TSpinButton::UpClick, this, [this] { StepUp(spinButton_); });
  connect(spinButton_, &TSpinButton::DownClick, this, [this] { StepDown(spinButton_); });
  AdjustToSize();
}

void TPRFloatSpinEdit::SetEditorEnabled(bool enabled) {
  editorEnabled_ = enabled;
  // A drop is a paste by other means.
  setAcceptDrops(enabled);
}

void TPRFloatSpinEdit::ApplyField(const FieldLimits& field) {
  SetFormatStr(field.FormatStr);
  SetIncrement(field.Increment);
  SetMaxValue(field.MaxValue);
  SetMinValue(field.MinValue);
  SetValue(field.Initial);
}

FieldLimits TPRFloatSpinEdit::Limits() const {
  return FieldLimits{minValue_, maxValue_, increment_, formatStr_.c_str(), 0.0F};
}

float TPRFloatSpinEdit::Value() const {
  return ReadFieldValue(text().toStdString(), Limits(), decimalSeparator_);
}

void TPRFloatSpinEdit::SetValue(float value) {
  setText(QString::fromStdString(FormatFieldValue(value, Limits(), decimalSeparator_)));
  // A number wider than the field shows its start, sign and leading digits, as a classic edit
  // control does after its text is set; QLineEdit would show the end.
  setCursorPosition(0);
}

std::int32_t TPRFloatSpinEdit::IntValue() const {
  return RoundHalfEven(Value());
}

void TPRFloatSpinEdit::SetIntValue(std::int32_t value) {
  SetValue(static_cast<float>(value));
}

int TPRFloatSpinEdit::MinimumHeight() const {
  constexpr int borderHeight = 1;
  const int own = QFontMetrics(font()).height();
  const int smaller = std::min(own, QFontMetrics(QApplication::font()).height());
  return own + smaller / 4 + 4 * borderHeight + 2;
}

bool TPRFloatSpinEdit::AcceptsChar(QChar c) const {
  const char16_t code = c.unicode();
  const bool numberChar = c == u'+' || c == u'-' || (c >= u'0' && c <= u'9') || c == u'E' ||
                          c == u'e' || c == QChar::fromLatin1(decimalSeparator_);
  const bool controlChar = code < 32 && code != 13;
  if (!numberChar && !controlChar) return false;
  if (!editorEnabled_ && (code >= 32 || code == 8)) return false;
  return true;
}

void TPRFloatSpinEdit::StepUp(QObject* /*sender*/) {
  Step(increment_);
}

void TPRFloatSpinEdit::StepDown(QObject* /*sender*/) {
  Step(-increment_);
}

void TPRFloatSpinEdit::Step(float delta) {
  if (isReadOnly()) {
    Beep();
    return;
  }
  const float sum = Value() + delta;
  SetValue(sum);
}

void TPRFloatSpinEdit::Beep() const {
  if (beep_) beep_();
}

void TPRFloatSpinEdit::keyPressEvent(QKeyEvent* event) {
  if (IsClipboardEdit(event) && !ClipboardEditAllowed()) {
    event->accept();
    return;
  }
  const bool arrow = event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
  if (event->key() == Qt::Key_Up) StepUp(this);
  if (event->key() == Qt::Key_Down) StepDown(this);
  if (!editorEnabled_ && EditsWithoutCharacter(event)) {
    Beep();
    event->accept();
    return;
  }
  const QString typed = TypedCharacters(event);
  if (!std::all_of(typed.begin(), typed.end(), [this](QChar c) { return AcceptsChar(c); })) {
    Beep();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
  // The arrows have done their work here; they must not travel on to the window.
  if (arrow) event->accept();
}

void TPRFloatSpinEdit::inputMethodEvent(QInputMethodEvent* event) {
  const QString commit = event->commitString();
  if (!std::all_of(commit.begin(), commit.end(), [this](QChar c) { return AcceptsChar(c); })) {
    Beep();
    event->accept();
    return;
  }
  QLineEdit::inputMethodEvent(event);
}

void TPRFloatSpinEdit::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the selection on X11.
  if (event->button() == Qt::MiddleButton && !ClipboardEditAllowed()) {
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void TPRFloatSpinEdit::contextMenuEvent(QContextMenuEvent* event) {
  if (ClipboardEditAllowed()) {
    QLineEdit::contextMenuEvent(event);
    return;
  }
  // Only what leaves the text alone is on offer, with QLineEdit's own wording.
  const auto withShortcut = [](const QString& text, QKeySequence::StandardKey key) {
    return text + u'\t' + QKeySequence(key).toString(QKeySequence::NativeText);
  };
  auto* menu = new QMenu(this);
  QAction* copyAction = menu->addAction(withShortcut(QLineEdit::tr("&Copy"), QKeySequence::Copy),
                                        this, &QLineEdit::copy);
  copyAction->setEnabled(hasSelectedText() && echoMode() == QLineEdit::Normal);
  menu->addSeparator();
  QAction* selectAction =
      menu->addAction(withShortcut(QLineEdit::tr("Select All"), QKeySequence::SelectAll), this,
                      &QLineEdit::selectAll);
  selectAction->setEnabled(!text().isEmpty());
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void TPRFloatSpinEdit::focusInEvent(QFocusEvent* event) {
  const bool hadSelection = hasSelectedText();
  QLineEdit::focusInEvent(event);
  // A click in the field places the cursor; a popup closing or the window coming back must
  // not select either.
  const Qt::FocusReason reason = event->reason();
  if (!autoSelect_) {
    // QLineEdit selects on Tab by itself.
    if (!hadSelection) deselect();
  } else if (reason != Qt::MouseFocusReason && reason != Qt::PopupFocusReason &&
             reason != Qt::ActiveWindowFocusReason) {
    selectAll();
  }
}

void TPRFloatSpinEdit::focusOutEvent(QFocusEvent* event) {
  QLineEdit::focusOutEvent(event);
  // Only a move to another control leaves the field; a context menu or another window does not.
  const Qt::FocusReason reason = event->reason();
  if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) {
    SetValue(Value());
  }
}

void TPRFloatSpinEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  AdjustToSize();
}

void TPRFloatSpinEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) AdjustToSize();
}

void TPRFloatSpinEdit::AdjustToSize() {
  // Too low a field grows; the nested resize then lays out again, which is harmless.
  const int minimum = MinimumHeight();
  if (height() < minimum) resize(width(), minimum);
  PlaceSpinButton();
  FitEditRect();
}

void TPRFloatSpinEdit::PlaceSpinButton() {
  const int buttonWidth = spinButton_->width();
  if (hasFrame()) {
    QStyleOptionFrame option;
    initStyleOption(&option);
    const int frame = option.lineWidth;
    spinButton_->setGeometry(frame + width() - buttonWidth - 5, frame, buttonWidth, height() - 5);
  } else {
    spinButton_->setGeometry(width() - buttonWidth, 1, buttonWidth, height() - 3);
  }
}

void TPRFloatSpinEdit::FitEditRect() {
  // The text stops two pixels short of the spin button.
  setTextMargins(0, 0, spinButton_->width() + 2, 0);
}

}  // namespace orolith
