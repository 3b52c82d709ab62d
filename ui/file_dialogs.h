#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QFileDialog;
class QPrinter;
class QWidget;

namespace qarn2::ui {

// The dialogs of the menu "Datei": the file-open and file-save dialogs for decoder
// files, the printer set-up and the print dialog. The window asks them through this
// interface, so that its file commands can run without a person at the screen.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // The file chosen for opening or saving, with its full path (UTF-8, as the system
  // names files); nothing when the user cancels. The dialog opens in `folder`.
  virtual std::optional<std::string> ChooseOpen(QWidget* parent, const std::string& folder) = 0;
  virtual std::optional<std::string> ChooseSave(QWidget* parent, const std::string& folder) = 0;
  // Lets the user set up the page of `printer` (paper, orientation, margins) for later
  // printing; false when cancelled, the printer unchanged then.
  virtual bool PrinterSetup(QWidget* parent, QPrinter& printer) = 0;
  // Lets the user choose the printer and its options; false when cancelled (nothing is
  // to be printed then).
  virtual bool Print(QWidget* parent, QPrinter& printer) = 0;
  // The JMRI roster file to import, or the file to export into (suggested: `name` in
  // `folder`); nothing when the user cancels.
  virtual std::optional<std::string> ChooseRosterOpen(QWidget* /*parent*/, const std::string& /*folder*/) {
    return std::nullopt;
  }
  virtual std::optional<std::string> ChooseRosterSave(QWidget* /*parent*/, const std::string& /*folder*/,
                                                      const std::string& /*name*/) {
    return std::nullopt;
  }
  // Shows what an import or export left out (UTF-8 lines) until the user has read it.
  virtual void ShowNotes(QWidget* /*parent*/, const std::string& /*title*/, const std::vector<std::string>& /*notes*/) {}
};

// The system's dialogs, as Qt offers them. The file dialogs start in the folder they
// are given (never where Qt happened to be last) and keep the filter chosen last. The
// page set-up of a printer that prints into a PDF file is the program's own
// PageSetupDialog.
class QtFileDialogs : public FileDialogs {
 public:
  std::optional<std::string> ChooseOpen(QWidget* parent, const std::string& folder) override;
  std::optional<std::string> ChooseSave(QWidget* parent, const std::string& folder) override;
  bool PrinterSetup(QWidget* parent, QPrinter& printer) override;
  bool Print(QWidget* parent, QPrinter& printer) override;
  std::optional<std::string> ChooseRosterOpen(QWidget* parent, const std::string& folder) override;
  std::optional<std::string> ChooseRosterSave(QWidget* parent, const std::string& folder,
                                              const std::string& name) override;
  void ShowNotes(QWidget* parent, const std::string& title, const std::vector<std::string>& notes) override;

 private:
  std::optional<std::string> Choose(QWidget* parent, bool saving, const std::string& folder);

  QString open_filter_;
  QString save_filter_;
};

// The file dialog for decoder files, set up for opening or saving: decoder files,
// locomotive files or all files (the first preselected; Linux names are matched in
// either case of the extension). Opening takes a name that does not exist too (the
// open then fails with its message); saving adds no extension and overwrites an
// existing file without a question.
std::unique_ptr<QFileDialog> MakeDecoderFileDialog(QWidget* parent, bool saving);

}  // namespace qarn2::ui
