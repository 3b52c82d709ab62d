#include "ui/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

#include "ui/page_setup_dialog.h"

namespace qarn2::ui {

std::unique_ptr<QFileDialog> MakeDecoderFileDialog(QWidget* parent, bool saving) {
  auto dialog = std::make_unique<QFileDialog>(parent);
  // The save dialog's third entry is spelt as the program has always spelt it.
  dialog->setNameFilters({
      "Decoderdateien (*.DEC *.dec)",
      "Lokdateien (*.LOC *.loc)",
      saving ? "alls Dateien (*)" : "alle Dateien (*)",
  });
  dialog->selectNameFilter(dialog->nameFilters().front());
  dialog->setFileMode(QFileDialog::AnyFile);
  if (saving) {
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setDefaultSuffix(QString());
  } else {
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
  }
  return dialog;
}

std::optional<std::string> QtFileDialogs::Choose(QWidget* parent, bool saving, const std::string& folder) {
  const std::unique_ptr<QFileDialog> dialog = MakeDecoderFileDialog(parent, saving);
  QString& filter = saving ? save_filter_ : open_filter_;
  dialog->setDirectory(QString::fromStdString(folder));
  if (!filter.isEmpty()) dialog->selectNameFilter(filter);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = dialog->selectedFiles().front();
  filter = dialog->selectedNameFilter();
  return chosen.toStdString();
}

std::optional<std::string> QtFileDialogs::ChooseOpen(QWidget* parent, const std::string& folder) {
  return Choose(parent, false, folder);
}

std::optional<std::string> QtFileDialogs::ChooseSave(QWidget* parent, const std::string& folder) {
  return Choose(parent, true, folder);
}

std::optional<std::string> QtFileDialogs::ChooseRosterOpen(QWidget* parent, const std::string& folder) {
  QFileDialog dialog(parent, QStringLiteral("JMRI-Roster importieren"), QString::fromStdString(folder));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters({QStringLiteral("JMRI-Rosterdateien (*.xml *.XML)"), QStringLiteral("Alle Dateien (*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtFileDialogs::ChooseRosterSave(QWidget* parent, const std::string& folder,
                                                           const std::string& name) {
  QFileDialog dialog(parent, QStringLiteral("JMRI-Roster exportieren"), QString::fromStdString(folder));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters({QStringLiteral("JMRI-Rosterdateien (*.xml)"), QStringLiteral("Alle Dateien (*)")});
  dialog.setDefaultSuffix(QStringLiteral("xml"));
  dialog.selectFile(QString::fromStdString(name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

void QtFileDialogs::ShowNotes(QWidget* parent, const std::string& title, const std::vector<std::string>& notes) {
  QString text;
  for (const std::string& note : notes) text += QString::fromStdString(note) + u'\n';
  QMessageBox box(QMessageBox::Information, QString::fromStdString(title), text.trimmed(), QMessageBox::Ok, parent);
  box.exec();
}

bool QtFileDialogs::PrinterSetup(QWidget* parent, QPrinter& printer) {
  // The system's page set-up knows only the printers of the printing system (CUPS);
  // for a PDF file, where there is no printer, it complains and the program's own
  // dialog takes its place.
  if (printer.outputFormat() == QPrinter::NativeFormat) {
    QPageSetupDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
  }
  PageSetupDialog dialog(printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

bool QtFileDialogs::Print(QWidget* parent, QPrinter& printer) {
  QPrintDialog dialog(&printer, parent);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace qarn2::ui
