#include "ui/sheet_files.h"

#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTextBlock>
#include <QTextDocument>
#include <QWidget>

#include <filesystem>
#include <stdexcept>

#include "link/hardware_kind.h"
#include "roster/roster_export.h"
#include "roster/roster_format.h"
#include "roster/roster_import.h"
#include "safefile/safe_file.h"
#include "qtadapter/sheet_painter.h"
#include "sheet/code_page.h"
#include "sheet/decoder_file.h"
#include "sheet/print_layout.h"
#include "ui/file_dialogs.h"
#include "ui/lost_characters_question.h"
#include "ui/roster_messages.h"
#include "ui/form1_layout.h"
#include "ui/sheet_pane.h"
#include "ui/text_codec.h"

namespace qarn2::ui {
namespace {

// A file error's message is UTF-8, as the window shows it.
[[noreturn]] void RethrowForTheWindow(const sheet::SheetFileError& error) { throw std::runtime_error(error.what()); }

// At most this many characters after the "*" of a mode line name the mode.
constexpr std::size_t kModeLength = 3;

}  // namespace

SheetFiles::SheetFiles(QWidget* window, SheetPane& sheet, programming::ProgramState& state,
                       FileDialogs& dialogs, WindowHooks hooks)
    : window_(window), sheet_(sheet), state_(state), dialogs_(dialogs), hooks_(std::move(hooks)) {}

SheetFiles::~SheetFiles() = default;

std::string SheetFiles::DialogFolder() const {
  if (!file_name_.empty()) return QFileInfo(QString::fromStdString(file_name_)).absolutePath().toStdString();
  return QDir::currentPath().toStdString();
}

void SheetFiles::ShowFileInTitle() {
  const QString bare_name = QFileInfo(QString::fromStdString(file_name_)).fileName();
  window_->setWindowTitle(QString(kFormTitle) + "    " + bare_name);
}

void SheetFiles::Open() {
  // "Alle CVs" reads its lines from the sheet and writes them back as it goes: a new
  // sheet now would get the old run's values, or the decoder the new file's.
  if (hooks_.cv_command_running()) return;
  if (const std::optional<std::string> chosen = dialogs_.ChooseOpen(window_, DialogFolder())) OpenFile(*chosen);
}

void SheetFiles::OpenFile(const std::string& path) {
  if (hooks_.cv_command_running()) return;
  // The dialog gives full paths; DecoderFileName and the dialogs' folder need one too.
  std::string chosen = std::filesystem::absolute(path).lexically_normal().string();
  std::string text;
  try {
    text = sheet::ReadDecoderFile(chosen);
  } catch (const sheet::SheetFileError& e) {
    // Name and title stay those of the file "speichern" writes.
    RethrowForTheWindow(e);
  }
  file_name_ = std::move(chosen);
  roster_id_.clear();
  ShowFileInTitle();
  // The editor holds the old file's curve; "übernehmen" would write it into this one.
  hooks_.close_curve_editor();
  sheet_.SetText(text);
  if (text.starts_with('*')) {
    const std::string_view first_line = std::string_view(text).substr(0, text.find("\r\n"));
    state_.ProgrammingMode = std::string(first_line.substr(1, kModeLength));
    hooks_.show_programming_mode();
    hooks_.scan_sheet();
  }
  for (std::string_view item : {"druckenDecoder", "SpeichernDecoder", "SpeichernunterDecoder"}) {
    hooks_.enable_menu_item(item);
  }
  // A bare booster has no acknowledge input to read with.
  if (hooks_.hardware_kind() != link::kBooster) hooks_.enable_menu_item("leseAlleCVs");
}

void SheetFiles::ImportRoster() {
  if (hooks_.cv_command_running()) return;
  const std::optional<std::string> chosen = dialogs_.ChooseRosterOpen(window_, DialogFolder());
  if (!chosen) return;
  std::string problem;
  const std::optional<std::string> bytes = safefile::ReadRegularFile(*chosen, problem, roster::kMaxRosterSize);
  if (!bytes) throw std::runtime_error("Datei " + *chosen + " kann nicht gelesen werden (" + problem + ")");
  const roster::RosterImport imported = roster::ImportRoster(*bytes);
  if (imported.error) throw std::runtime_error(RosterErrorMessage(*chosen, *imported.error));
  TakeMadeSheet(imported.sheet, imported.id.empty() ? "Lok" : imported.id);
  if (const std::vector<std::string> notes = ImportNotes(imported); !notes.empty()) {
    dialogs_.ShowNotes(window_, "JMRI-Roster importiert", notes);
  }
}

void SheetFiles::TakeMadeSheet(const std::string& sheet, const std::string& name) {
  // Unsaved and under no name: "speichern" would otherwise replace the file opened
  // before with the new sheet.
  file_name_.clear();
  roster_id_ = name;
  window_->setWindowTitle(QString(kFormTitle) + "    JMRI: " + QString::fromStdString(roster_id_));
  hooks_.close_curve_editor();
  sheet_.SetText(sheet);
  state_.ProgrammingMode = sheet.substr(1, kModeLength);
  hooks_.show_programming_mode();
  hooks_.scan_sheet();
  for (std::string_view item : {"druckenDecoder", "SpeichernunterDecoder"}) hooks_.enable_menu_item(item);
  hooks_.disable_menu_item("SpeichernDecoder");
  if (hooks_.hardware_kind() != link::kBooster) hooks_.enable_menu_item("leseAlleCVs");
}

void SheetFiles::ExportRoster() {
  if (hooks_.cv_command_running()) return;
  std::string id = roster_id_;
  if (!file_name_.empty()) id = QFileInfo(QString::fromStdString(file_name_)).completeBaseName().toStdString();
  if (id.empty()) id = "Lok";
  const roster::RosterExport exported = roster::ExportRoster(sheet_.Text(), id);
  if (exported.error) throw std::runtime_error(SheetErrorMessage(*exported.error));
  const std::optional<std::string> chosen = dialogs_.ChooseRosterSave(window_, DialogFolder(), id + ".xml");
  if (!chosen) return;
  const safefile::Target target = safefile::ResolveTarget(*chosen);
  if (const std::string problem = safefile::WriteWhole(target, exported.xml); !problem.empty()) {
    throw std::runtime_error("Datei " + *chosen + " kann nicht erstellt werden (" + problem + ")");
  }
  // The file written: a link's target, where the chosen name was a link.
  const std::string& written = target.kind == safefile::Target::kStandardOutput ? *chosen : target.resolved;
  dialogs_.ShowNotes(window_, "JMRI-Roster exportiert", ExportNotes(exported, written));
}

bool SheetFiles::MaySave() const {
  // The pane's own characters: the sheet's lines come out of it already in the code
  // page, the lost ones as '?'.
  const auto* pane = window_->findChild<QPlainTextEdit*>(QStringLiteral("Decoder"));
  if (pane == nullptr) return true;
  QString text;
  for (QTextBlock block = pane->document()->begin(); block.isValid(); block = block.next()) text += block.text();
  const std::u32string missing = MissingFromCp1252(text);
  return missing.empty() || AskToSaveLosingCharacters(window_, missing);
}

void SheetFiles::Save() {
  if (MaySave()) WriteSheet();
}

void SheetFiles::WriteSheet() {
  try {
    sheet::WriteDecoderFile(file_name_, sheet_.Text());
  } catch (const sheet::SheetFileError& e) {
    RethrowForTheWindow(e);
  }
}

void SheetFiles::SaveUnder() {
  if (hooks_.cv_command_running()) return;
  std::optional<std::string> chosen = dialogs_.ChooseSave(window_, DialogFolder());
  if (!chosen || !MaySave()) return;
  file_name_ = std::move(*chosen);
  roster_id_.clear();
  // The bare name alone stays in the title when the save fails: the file "speichern"
  // will try again.
  window_->setWindowTitle(QFileInfo(QString::fromStdString(file_name_)).fileName());
  WriteSheet();
  ShowFileInTitle();
  // An imported roster had no file to save into; now it has.
  hooks_.enable_menu_item("SpeichernDecoder");
}

void SheetFiles::SetUpPrinter() { dialogs_.PrinterSetup(window_, Printer()); }

void SheetFiles::Print() {
  if (hooks_.cv_command_running()) return;
  QPrinter& printer = Printer();
  if (!dialogs_.Print(window_, printer)) return;
  const sheet::PrintLayout layout =
      sheet::LayOutPrint(file_name_, sheet_.DisplayedLines());
  std::string error;
  if (!qtadapter::PaintPrintLayout(printer, layout, error)) throw std::runtime_error(error);
}

QPrinter& SheetFiles::Printer() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *printer_;
}

}  // namespace qarn2::ui
