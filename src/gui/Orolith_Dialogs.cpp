#include "gui/Orolith_Main.h"

#include "model/writers/ModelFile.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QStringList>

namespace orolith {
namespace {

// Hides the files that can't be written, and lists every folder, so that the user can move
// about. (QDir's Writable filter would hide everything that can be read.)
class WritableFilesAndFolders : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (files == nullptr) return true;
    const QFileInfo entry = files->fileInfo(files->index(row, 0, parent));
    return entry.isDir() || entry.isWritable();
  }
};

}  // namespace

void TForm4::Beep() {
  if (dialogs_.Beep) return dialogs_.Beep();
  QApplication::beep();
}

bool TForm4::AskOkCancel(const QString& text, const QString& caption) {
  if (dialogs_.AskOkCancel) return dialogs_.AskOkCancel(text, caption);
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Ok);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

void TForm4::ShowError(const QString& text) {
  if (dialogs_.ShowError) return dialogs_.ShowError(text);
  QMessageBox box(QMessageBox::Critical, windowTitle(), text, QMessageBox::Ok, this);
  box.exec();
}

void TForm4::ShowNotes(const QString& text) {
  if (dialogs_.ShowNotes) return dialogs_.ShowNotes(text);
  QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
  box.exec();
}

std::optional<QString> TForm4::ChooseSaveFile(const QString& fileName) {
  if (dialogs_.ChooseSaveFile) return dialogs_.ChooseSaveFile(fileName);
  QFileDialog dialog(this);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  // Read-only files are left out through the list's own model, which only Qt's dialog has.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setProxyModel(new WritableFilesAndFolders(&dialog));
  // Both kinds of model, the current name's selected; a name typed without an ending gets the
  // selected kind's, and none under all files.
  const QStringList types{QStringLiteral("STL files (*.stl)"), QStringLiteral("3MF files (*.3mf)"),
                          QStringLiteral("All files (*)")};
  const QStringList endings{QStringLiteral("stl"), QStringLiteral("3mf"), QString()};
  dialog.setNameFilters(types);
  const auto select = [&](qsizetype type) {
    dialog.selectNameFilter(types[type]);
    dialog.setDefaultSuffix(endings[type]);
  };
  select(IsThreeMfName(fileName.toStdString())                            ? 1
         : fileName.endsWith(QStringLiteral(".stl"), Qt::CaseInsensitive) ? 0
                                                                          : 2);
  connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& type) {
    if (types.contains(type)) select(types.indexOf(type));
  });
  dialog.selectFile(fileName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front();
}

std::optional<QString> TForm4::ChooseDemFile(const QString& fileName) {
  if (dialogs_.ChooseDemFile) return dialogs_.ChooseDemFile(fileName);
  // Any file: GDAL reads rasters of many formats and names.
  const QString chosen = QFileDialog::getOpenFileName(this, QStringLiteral("DEM file"), fileName);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen;
}

std::optional<QString> TForm4::ChooseDataRoot(const QString& root) {
  if (dialogs_.ChooseDataRoot) return dialogs_.ChooseDataRoot(root);
  const QString chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Data root"), root);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen;
}

}  // namespace orolith
