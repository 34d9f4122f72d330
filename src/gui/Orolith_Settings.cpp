#include "gui/Orolith_Main.h"

#include "frontpanel/WindowKeys.h"
#include "frontpanel/Workspace.h"
#include "gui/FloatSpin.h"
#include "gui/RegionMap.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QVariant>

#include <utility>
#include <vector>

namespace orolith {
namespace {

// Where the fields are kept between runs: an INI file in the user's configuration folder
// (~/.config/Marlowen/Orolith.ini on Linux).
class SettingsStore : public QSettings {
 public:
  SettingsStore()
      : QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Marlowen"),
                  QStringLiteral("Orolith")) {}
};

const char* LayoutName(ArchiveLayout layout) {
  for (const ArchiveLayoutName& known : ArchiveLayouts) {
    if (known.Layout == layout) return known.Name;
  }
  return ArchiveLayouts.front().Name;
}

}  // namespace

void TForm4::RestoreSettings(const WindowKeys& keys) {
  SettingsStore store;
  const bool remember = keys.Remember.value_or(store.value("Remember", false).toBool());
  RememberCtl->setChecked(remember);
  if (!remember) return;
  // What the command line set stays; the rest is as it was left.
  const std::vector<std::pair<const char*, TPRFloatSpinEdit*>> numbers{
      {"Long1", Long1Ctl},
      {"Long2", Long2Ctl},
      {"Lat1", Lat1Ctl},
      {"Lat2", Lat2Ctl},
      {"Z1", Z1Ctl},
      {"Z2", Z2Ctl},
      {"XExtent", XSizeCtl},
      {"ZExtent", ZSizeCtl},
      {"ZBase", ZBaseCtl},
      {"XYPixelSize", XY_ResolutionCtl},
      {"Floor", keys.FloorGiven ? nullptr : FloorCtl},
      {"MaxError", keys.MaxErrorGiven ? nullptr : MaxErrorCtl},
      {"Scale", keys.ScaleGiven ? nullptr : ScaleCtl},
      {"Exaggeration", keys.ExaggerationGiven ? nullptr : ExaggerationCtl},
      {"LayerHeight", keys.LayerHeightGiven ? nullptr : LayerHeightCtl}};
  for (const auto& [key, field] : numbers) {
    const QVariant kept = store.value(QStringLiteral("Fields/") + QLatin1String(key));
    bool read = false;
    const float value = kept.toString().toFloat(&read);
    if (field != nullptr && read) field->SetValue(value);
  }
  const std::vector<std::pair<const char*, QCheckBox*>> boxes{
      {"BlockSrtm1", BlockSRTM1Ctl},
      {"BlockSrtm3", BlockSRTM3Ctl},
      {"BlockSrtm30", BlockSRTM30Ctl},
      {"BlockCop30", BlockCOP30Ctl},
      {"MissedDataZero", MissedDataCtl},
      {"Solid", SolidCtl},
      {"ElevationAuto", keys.ElevationAuto ? nullptr : ElevationAutoCtl},
      {"MaxErrorAuto", keys.MaxErrorGiven ? nullptr : MaxErrorAutoCtl}};
  for (const auto& [key, box] : boxes) {
    const QVariant kept = store.value(QStringLiteral("Boxes/") + QLatin1String(key), false);
    if (box != nullptr) box->setChecked(kept.toBool());
  }
  SaveFilenameCtl->setText(store.value("StlFileName", SaveFilenameCtl->text()).toString());
  if (keys.DemFile.empty()) DemFileCtl->setText(store.value("DemFile").toString());
  if (!keys.TileSourceGiven) {
    try {
      workspace_->Source = WithLayout(
          givenSource_, ArchiveLayoutNamed(store.value("TileSource").toString().toStdString()));
    } catch (const std::invalid_argument&) {
      // None kept, or not one this version knows: the first.
    }
  }
  const QString root = store.value("DataRoot").toString();
  if (!keys.DataRootFromCommandLine && !root.isEmpty()) {
    workspace_->Folders = MakeDataFolders(root.toStdString());
    rootOrigin_ = RootOrigin::SavedSettings;
  }
}

void TForm4::SaveSettings() const {
  SettingsStore store;
  // Unticked, nothing is kept, and no file is made: the next start begins with the initial
  // values.
  if (!store.allKeys().isEmpty()) store.clear();
  if (!RememberCtl->isChecked()) return;
  store.setValue("Remember", true);
  const std::vector<std::pair<const char*, const TPRFloatSpinEdit*>> numbers{
      {"Long1", Long1Ctl},
      {"Long2", Long2Ctl},
      {"Lat1", Lat1Ctl},
      {"Lat2", Lat2Ctl},
      {"Z1", Z1Ctl},
      {"Z2", Z2Ctl},
      {"XExtent", XSizeCtl},
      {"ZExtent", ZSizeCtl},
      {"ZBase", ZBaseCtl},
      {"Floor", FloorCtl},
      {"XYPixelSize", XY_ResolutionCtl},
      {"MaxError", MaxErrorCtl},
      {"Scale", ScaleCtl},
      {"Exaggeration", ExaggerationCtl},
      {"LayerHeight", LayerHeightCtl}};
  // Nine digits bring a float back to the same bits, whatever the locale.
  for (const auto& [key, field] : numbers) {
    store.setValue(QStringLiteral("Fields/") + QLatin1String(key),
                   QString::number(static_cast<double>(field->Value()), 'g', 9));
  }
  const std::vector<std::pair<const char*, const QCheckBox*>> boxes{
      {"BlockSrtm1", BlockSRTM1Ctl},       {"BlockSrtm3", BlockSRTM3Ctl},
      {"BlockSrtm30", BlockSRTM30Ctl},     {"BlockCop30", BlockCOP30Ctl},
      {"MissedDataZero", MissedDataCtl},   {"Solid", SolidCtl},
      {"ElevationAuto", ElevationAutoCtl}, {"MaxErrorAuto", MaxErrorAutoCtl}};
  for (const auto& [key, box] : boxes) {
    store.setValue(QStringLiteral("Boxes/") + QLatin1String(key), box->isChecked());
  }
  store.setValue("StlFileName", SaveFilenameCtl->text());
  store.setValue("DemFile", DemFileCtl->text());
  store.setValue("TileSource", QString::fromLatin1(LayoutName(Source().Layout)));
  // A root from the command line belongs to that start; one chosen here is kept.
  if (rootOrigin_ == RootOrigin::Chooser || rootOrigin_ == RootOrigin::SavedSettings) {
    store.setValue("DataRoot", QString::fromStdString(Folders().DataRoot));
  }
}

void TForm4::SelectDataRootCtlClick() {
  // The tile folders belong to the running operation until it ends.
  if (running_) {
    Beep();
    return;
  }
  if (const std::optional<QString> chosen =
          ChooseDataRoot(QString::fromStdString(Folders().DataRoot))) {
    UseDataRoot(chosen->toStdString(), RootOrigin::Chooser);
  }
}

void TForm4::UseDataRoot(const std::string& root, RootOrigin origin) {
  workspace_->Folders = MakeDataFolders(root);
  rootOrigin_ = origin;
  ShowDataRoot();
  RegionMap->SetTileSearch(Folders(), PanelBlocks());
  for (const std::string& line : DataRootLines(Folders(), origin)) AppendLine(line);
}

void TForm4::ShowDataRoot() {
  const QString root = QString::fromStdString(Folders().DataRoot);
  DataRootCtl->setText(DataRootCtl->fontMetrics().elidedText(
      root, Qt::ElideMiddle, DataRootCtl->contentsRect().width() - 6));
  DataRootCtl->setToolTip(
      QStringLiteral("The data root: tiles are looked for in its folders SRTM_1, COP30, SRTM_3 "
                     "and SRTM_30.\n%1")
          .arg(root));
}

}  // namespace orolith
