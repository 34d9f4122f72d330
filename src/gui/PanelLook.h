#pragma once

#include <QFont>
#include <QGroupBox>

class QPaintEvent;

namespace orolith {

// A group box in the classic look: the title sits on the frame's top line, so controls placed
// just below the title stay clear of the frame whatever the style.
class TGroupBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// family at pixelSize, with the fallback's kind of face where the family is absent.
QFont PanelFont(const char* family, int pixelSize, QFont::StyleHint fallback);

}  // namespace orolith
