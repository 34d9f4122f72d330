#include "gui/Orolith_Main.h"

#include "frontpanel/ModelSettings.h"
#include "gui/FloatSpin.h"
#include "model/ModelSetup.h"

#include "gui/RegionMap.h"

#include <QCheckBox>

namespace orolith {

void TForm4::PrintCtlClick() {
  FrontPanelValues panel = ReadPanel();
  // What was typed stays: an X extent other than the start's, a scale, a Z extent or an
  // exaggeration, a pedestal.
  const PrintGiven given{panel.XExtent != fields::XExtent.Initial || panel.Scale > 0,
                         panel.ZExtent != fields::ZExtent.Initial || panel.Exaggeration > 0,
                         panel.ZBasePercent != fields::ZBase.Initial};
  ApplyPrintPreset(panel, given);
  SolidCtl->setChecked(panel.Solid);
  ElevationAutoCtl->setChecked(panel.ElevationAuto);
  MaxErrorAutoCtl->setChecked(panel.MaxErrorAuto);
  XSizeCtl->SetValue(panel.XExtent);
  ZSizeCtl->SetValue(panel.ZExtent);
  ZBaseCtl->SetValue(panel.ZBasePercent);
}

void TForm4::ConnectModelSize() {
  const auto show = [this] { RegionMap->SetModelPanel(ReadPanel()); };
  for (TPRFloatSpinEdit* field :
       {Z1Ctl, Z2Ctl, XSizeCtl, ScaleCtl, ZSizeCtl, ExaggerationCtl, ZBaseCtl, FloorCtl}) {
    connect(field, &QLineEdit::textChanged, this, show);
  }
  for (QCheckBox* box : {ElevationAutoCtl, SolidCtl}) connect(box, &QCheckBox::toggled, this, show);
}

void TForm4::ShowFieldsInUse() {
  Z1Ctl->setEnabled(!ElevationAutoCtl->isChecked());
  Z2Ctl->setEnabled(!ElevationAutoCtl->isChecked());
  XSizeCtl->setEnabled(!(ScaleCtl->Value() > 0));
  ZSizeCtl->setEnabled(!(ExaggerationCtl->Value() > 0));
  MaxErrorCtl->setEnabled(!MaxErrorAutoCtl->isChecked());
  LayerHeightCtl->setEnabled(MaxErrorAutoCtl->isChecked());
}

}  // namespace orolith
