#pragma once

#include "frontpanel/ModelSettings.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>

namespace orolith {

// One half of a spin button: an arrow face that steps on release and repeats while held.
class TSpinHalf : public QAbstractButton {
  Q_OBJECT

 public:
  TSpinHalf(Qt::ArrowType arrow, QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::ArrowType arrow_;
};

// The up/down button at the right edge of a spin edit. A press on either half first gives the
// focus control the focus; a click steps once at the release, and holding the button down steps
// again after 400 ms and then every 100 ms while the pointer stays over the half.
class TSpinButton : public QWidget {
  Q_OBJECT

 public:
  static constexpr int DefaultWidth = 15;
  static constexpr int DefaultHeight = 17;
  static constexpr int RepeatDelayMs = 400;
  static constexpr int RepeatIntervalMs = 100;

  explicit TSpinButton(QWidget* parent);

  void SetFocusControl(QWidget* control) { focusControl_ = control; }
  QAbstractButton* UpButton() const { return up_; }
  QAbstractButton* DownButton() const { return down_; }

 signals:
  void UpClick();
  void DownClick();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void GiveFocus();
  void PlaceHalves();

  TSpinHalf* up_;
  TSpinHalf* down_;
  QPointer<QWidget> focusControl_;
};

// A single-line field holding one single-precision number with a spin button at its right
// edge. The number lives in the text: Value parses it, SetValue formats into it; limits, format
// and step behave like the front panel's FieldLimits.
class TPRFloatSpinEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit TPRFloatSpinEdit(QWidget* parent = nullptr, char decimalSeparator = '.');

  const std::string& FormatStr() const { return formatStr_; }
  void SetFormatStr(std::string format) { formatStr_ = std::move(format); }
  float MinValue() const { return minValue_; }
  void SetMinValue(float value) { minValue_ = value; }
  float MaxValue() const { return maxValue_; }
  void SetMaxValue(float value) { maxValue_ = value; }
  float Increment() const { return increment_; }
  void SetIncrement(float value) { increment_ = value; }
  bool EditorEnabled() const { return editorEnabled_; }
  void SetEditorEnabled(bool enabled);
  bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool enabled) { autoSelect_ = enabled; }
  char DecimalSeparator() const { return decimalSeparator_; }
  void SetDecimalSeparator(char separator) { decimalSeparator_ = separator; }

  // Applies a field's format, step and limits and shows its initial value.
  void ApplyField(const FieldLimits& field);

  // The number the text stands for, clamped; MinValue when the text is not a number. Reading
  // never changes the text.
  float Value() const;
  // Writes value into the text and shows the text's start.
  void SetValue(float value);
  // Value rounded to the nearest integer, halves to even.
  std::int32_t IntValue() const;
  void SetIntValue(std::int32_t value);

  // Sounds when a keystroke is refused or a read-only field is stepped.
  void SetBeep(std::function<void()> beep) { beep_ = std::move(beep); }

  // Smallest height that shows the font whole: the font's height, a quarter of the smaller of
  // it and the application font's height, four border heights and two pixels.
  int MinimumHeight() const;

  TSpinButton* SpinButton() const { return spinButton_; }

  virtual bool AcceptsChar(QChar c) const;
  virtual void StepUp(QObject* sender);
  virtual void StepDown(QObject* sender);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  FieldLimits Limits() const;
  bool ClipboardEditAllowed() const { return editorEnabled_ && !isReadOnly(); }
  void Beep() const;
  void Step(float delta);
  void AdjustToSize();
  void PlaceSpinButton();
  void FitEditRect();

  std::string formatStr_ = "%.3f";
  float minValue_ = 0.0F;
  float maxValue_ = 0.0F;
  float increment_ = 1.0F;
  TSpinButton* spinButton_;
  bool editorEnabled_ = true;
  bool autoSelect_ = true;
  char decimalSeparator_;
  std::function<void()> beep_;
};

}  // namespace orolith
