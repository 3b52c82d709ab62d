#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "programming/program_state.h"

class QPrinter;
class QWidget;

namespace qarn2::ui {

class FileDialogs;
class SheetPane;

// The commands of the menu "Datei" on the decoder sheet: open a decoder file, save it,
// save it under a new name, set up the printer and print. Failures leave a command as
// exceptions whose message is the one to show (UTF-8), for the window's handler guard.
class SheetFiles {
 public:
  // What opening a file changes in the window outside the sheet.
  struct WindowHooks {
    // The mode display step for ProgrammingMode (the matching mode button checked,
    // with its wait, and Label2).
    std::function<void()> show_programming_mode;
    // ScanSheet of the CV commands on the sheet.
    std::function<void()> scan_sheet;
    std::function<void(std::string_view item)> enable_menu_item;
    std::function<void(std::string_view item)> disable_menu_item;
    // HardwareKind.
    std::function<int()> hardware_kind;
    // A CV command waits (reading or writing the sheet's CVs among them): the file
    // commands that change or read the sheet do nothing meanwhile.
    std::function<bool()> cv_command_running;
    // Closes the speed table editor without applying it.
    std::function<void()> close_curve_editor;
  };

  // `window` carries the title and owns the dialogs; all references outlive this.
  SheetFiles(QWidget* window, SheetPane& sheet, programming::ProgramState& state, FileDialogs& dialogs,
             WindowHooks hooks);
  ~SheetFiles();

  // `DecoderFileName`: the file's full path (UTF-8); empty until a file is chosen.
  const std::string& DecoderFileName() const { return file_name_; }

  // OeffnenDecoderClick: the file chosen in the open dialog becomes the sheet and its
  // name DecoderFileName, shown in the title; a mode line ("*" and up to three
  // characters) sets the programming mode and runs the mode step and ScanSheet; then
  // the items that need a file are enabled and the speed table editor is closed. A
  // file that cannot be read changes nothing (name and title stay those of the file
  // "speichern" writes). Nothing happens while a CV command waits.
  void Open();
  // The same for the decoder file `path` named on the command line, without the
  // dialog; a relative path is taken from the working folder.
  void OpenFile(const std::string& path);
  // SpeichernDecoderClick: the sheet into DecoderFileName, replacing the file whole.
  // Characters the file's code page lacks would be saved as '?': the user is asked
  // first, and "Nein" saves nothing.
  void Save();
  // SpeichernunterDecoderClick: a new name from the save dialog, then Save (its
  // question declined, nothing changes); the title shows the bare file name, after
  // the program's title once the save has succeeded. Nothing happens while a CV
  // command waits.
  void SaveUnder();
  // "JMRI-Roster importieren...": the chosen roster file made into a sheet, which then
  // stands as an opened file would (mode step, ScanSheet, menu items), but under no
  // file name: "speichern unter" gives it one. What the import left out is shown. A
  // file that is no roster, or whose locomotive has no CV value to import, changes
  // nothing. Nothing happens while a CV command waits.
  void ImportRoster();
  // A sheet made by the program (from a decoder definition): it stands as an imported
  // roster does, under no file name, `name` in the title.
  void TakeMadeSheet(const std::string& sheet, const std::string& name);
  // "JMRI-Roster exportieren...": the sheet as a roster file, written whole, named by
  // default after the decoder file (or the imported roster's id). Then how many CV
  // values went into which file is shown, with what was left out.
  void ExportRoster();
  // A sheet stands that the CV commands may read into: a file opened or a roster
  // imported.
  bool SheetLoaded() const { return !file_name_.empty() || !roster_id_.empty(); }

  // Druckereinrichten1Click: the printer set-up for later printing.
  void SetUpPrinter();
  // druckenDecoderClick: after the print dialog, the sheet's lines as displayed under
  // the file's name, in the printout's layout. Nothing happens while a CV command
  // waits.
  void Print();

 private:
  // The window's printer, made when first needed (it asks the printing system).
  QPrinter& Printer();
  // Where the file dialogs open: the current file's folder, else the working folder.
  std::string DialogFolder() const;
  // The program's title and the bare name of DecoderFileName.
  void ShowFileInTitle();
  // True when the sheet's text fits the file's code page, or the user agrees to '?'
  // for what does not.
  bool MaySave() const;
  // The sheet into DecoderFileName, without a question.
  void WriteSheet();

  QWidget* window_;
  SheetPane& sheet_;
  programming::ProgramState& state_;
  FileDialogs& dialogs_;
  WindowHooks hooks_;
  std::string file_name_;
  // The id of the roster imported last, while the sheet has no file name of its own.
  std::string roster_id_;
  std::unique_ptr<QPrinter> printer_;
};

}  // namespace qarn2::ui
