// The menu "Datei" as the user runs it from the window: decoder files opened, saved
// and saved under a new name, and printed, with the dialogs answered by a script.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFontInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "sheet/code_page.h"
#include "ui/form1_layout.h"
#include "ui/mode_panel.h"
#include "ui/program_options.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using namespace std::chrono_literals;

// The user at the dialogs: a file dialog answers with `file` once (then cancels);
// the print dialog does what `print` says.
struct ScriptedDialogs : FileDialogs {
  std::optional<std::string> ChooseOpen(QWidget*, const std::string&) override { return std::exchange(file, std::nullopt); }
  std::optional<std::string> ChooseSave(QWidget*, const std::string&) override { return std::exchange(file, std::nullopt); }
  bool PrinterSetup(QWidget*, QPrinter& printer) override {
    set_up = &printer;
    return true;
  }
  bool Print(QWidget*, QPrinter& printer) override { return print(printer); }

  std::optional<std::string> file;
  std::function<bool(QPrinter&)> print = [](QPrinter&) { return false; };
  QPrinter* set_up = nullptr;  // the printer of the last set-up
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class FileCommandsWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    dialogs_.reset(script_ = new ScriptedDialogs);
    Start();
  }

  std::string Path(const char* name) const { return folder_.filePath(name).toStdString(); }
  // A file in the temporary folder holding `bytes`.
  std::string File(const char* name, const std::string& bytes) const {
    WriteBytes(Path(name), bytes);
    return Path(name);
  }
  void Open(const std::optional<std::string>& path, const char* item = "OeffnenDecoder") {
    script_->file = path;
    Choose(item);
  }
  void SaveUnder(const std::optional<std::string>& path) {
    script_->file = path;
    Choose("SpeichernunterDecoder");
  }
  QPlainTextEdit* Sheet() const { return Find<QPlainTextEdit>("Decoder"); }
  bool Enabled(const char* item) const { return Find<QAction>(item)->isEnabled(); }
  bool Checked(const char* button) const { return Find<QAbstractButton>(button)->isChecked(); }
  QString Mode() const { return Find<QLabel>("Label2")->text(); }
  void SetDecoderCv(int number, int value) {
    auto lock = Track().Lock();
    Track().Decoder().SetCv(number, static_cast<std::uint8_t>(value));
  }

  QTemporaryDir folder_;
  ScriptedDialogs* script_ = nullptr;  // owned by the window
};

TEST_F(FileCommandsWindowTest, TheSheetPane) {
  QPlainTextEdit* pane = Sheet();
  EXPECT_EQ(pane->toPlainText(), "Decoder");
  EXPECT_TRUE(QFontInfo(pane->font()).fixedPitch());
  // First of the window's controls that Tab reaches.
  QWidget* first = form_->nextInFocusChain();
  while (first != form_.get() && !(first->focusPolicy() & Qt::TabFocus)) first = first->nextInFocusChain();
  EXPECT_EQ(first, pane);

  // Long lines wrap at the pane's width, and more lines than fit show no scroll bar.
  QStringList lines;
  for (int i = 1; i <= 60; ++i) {
    lines << QString("%1   0 Beschreibung einer CV, so lang, dass sie in einer Zeile des Fensters keinen Platz hat")
                 .arg(i);
  }
  pane->setPlainText(lines.join('\n'));
  EXPECT_GT(pane->document()->firstBlock().lineCount(), 1);
  EXPECT_FALSE(pane->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(pane->verticalScrollBar()->isVisible());
}

TEST_F(FileCommandsWindowTest, TheFileDialogsFilters) {
  const auto open = MakeDecoderFileDialog(form_.get(), false);
  EXPECT_EQ(open->nameFilters(),
            QStringList({"Decoderdateien (*.DEC *.dec)", "Lokdateien (*.LOC *.loc)", "alle Dateien (*)"}));
  EXPECT_EQ(open->selectedNameFilter(), open->nameFilters().front());
  EXPECT_EQ(open->fileMode(), QFileDialog::AnyFile);  // a missing name is taken, opening fails

  const auto save = MakeDecoderFileDialog(form_.get(), true);
  EXPECT_EQ(save->nameFilters(),
            QStringList({"Decoderdateien (*.DEC *.dec)", "Lokdateien (*.LOC *.loc)", "alls Dateien (*)"}));
  EXPECT_EQ(save->selectedNameFilter(), save->nameFilters().front());
  EXPECT_TRUE(save->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(save->defaultSuffix(), "");
}

TEST_F(FileCommandsWindowTest, OpeningTakesTheModeLineAndEnablesTheFileItems) {
  const std::string sample = QARN2_EXAMPLES_DIR "/zubehoerdecoder.DEC";
  const sim::SimTime before = Clock().Now();
  Open(sample);
  EXPECT_EQ(form_->DecoderFileName(), sample);
  std::string expected = sheet::Cp1252ToUtf8(ReadBytes(sample));
  std::erase(expected, '\r');
  EXPECT_EQ(Sheet()->toPlainText().toStdString(), expected);
  // The title names the file "speichern" writes.
  EXPECT_EQ(form_->windowTitle(), QString(kFormTitle) + "    zubehoerdecoder.DEC");
  EXPECT_EQ(Mode(), "pag");
  EXPECT_EQ(form_->State().ProgrammingMode, "pag");
  EXPECT_TRUE(Checked("ProgPag"));
  EXPECT_GE(Clock().Now() - before, 400ms);  // the mode button's wait
  for (const char* item : {"druckenDecoder", "SpeichernDecoder", "SpeichernunterDecoder", "leseAlleCVs"}) {
    EXPECT_TRUE(Enabled(item)) << item;
  }
  // As the sheet says: CV lines with values, none of the speed table.
  EXPECT_TRUE(Enabled("schreibealleCVs"));
  EXPECT_FALSE(Enabled("Kennlinie"));

  // A mode the program does not know: no button checked, the text shown all the same.
  Open(File("fremd.DEC", "*xyz-Modus\r\n67    Stufe 1\r\n"));
  EXPECT_EQ(Mode(), "xyz");
  EXPECT_EQ(form_->State().ProgrammingMode, "xyz");
  for (const ModeChoice& choice : kModeChoices) EXPECT_FALSE(Checked(choice.name)) << choice.name;
  EXPECT_FALSE(Enabled("schreibealleCVs"));  // the line has no value after its number
  EXPECT_TRUE(Enabled("Kennlinie"));

  // Without a mode line neither the mode nor the two items change, whatever the sheet.
  Open(File("ohne.LOC", "Titel\n2 7 Anfahrspannung\n"));
  EXPECT_EQ(Sheet()->toPlainText(), "Titel\n2 7 Anfahrspannung\n");
  EXPECT_EQ(Mode(), "xyz");
  EXPECT_FALSE(Enabled("schreibealleCVs"));
  EXPECT_TRUE(Enabled("Kennlinie"));

  // An empty file is an empty sheet.
  Open(File("leer.DEC", ""));
  EXPECT_EQ(Sheet()->toPlainText(), "");
  EXPECT_EQ(Mode(), "xyz");

  // Cancelling the dialog changes nothing.
  Sheet()->setPlainText("bearbeitet");
  Open(std::nullopt);
  EXPECT_EQ(Sheet()->toPlainText(), "bearbeitet");
  EXPECT_EQ(form_->DecoderFileName(), Path("leer.DEC"));
  EXPECT_EQ(form_->windowTitle(), QString(kFormTitle) + "    leer.DEC");

  // "Decoder wählen" is the same command.
  Open(sample, "Decoderwahl");
  EXPECT_EQ(form_->DecoderFileName(), sample);
  EXPECT_EQ(Mode(), "pag");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileCommandsWindowTest, TheFileNamedAtStartOpensAsFromTheMenu) {
  // "qarn2 -- -lok.DEC": the name after "--" is the file, whatever it begins with.
  const std::string named = File("-lok.DEC", "*pag\r\n1 3 Adresse\r\n");
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(folder_.path().toStdString());
  const ParsedOptions parsed = ParseProgramOptions(std::vector<std::string>{"--simulate", "--", "-lok.DEC"});
  ASSERT_EQ(parsed.error, "");
  form_->OpenAtStart(parsed.options.file);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(form_->DecoderFileName(), std::filesystem::path(named).lexically_normal().string());
  EXPECT_EQ(Sheet()->toPlainText(), "*pag\n1 3 Adresse\n");
  EXPECT_EQ(form_->windowTitle(), QString(kFormTitle) + "    -lok.DEC");
  EXPECT_EQ(Mode(), "pag");
  for (const char* item : {"druckenDecoder", "SpeichernDecoder", "SpeichernunterDecoder", "leseAlleCVs"}) {
    EXPECT_TRUE(Enabled(item)) << item;
  }
  // A file that cannot be read: the menu command's message, the sheet as it was.
  const std::string missing = Path("fehlt.DEC");
  form_->OpenAtStart(missing);
  Open(missing);
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0], messages_[1]);
  EXPECT_EQ(form_->DecoderFileName(), std::filesystem::path(named).lexically_normal().string());
  EXPECT_EQ(Sheet()->toPlainText(), "*pag\n1 3 Adresse\n");
}

TEST_F(FileCommandsWindowTest, UnderTheBareBoosterReadingAllStaysOff) {
  Choose("HardwareWahl");
  Find<QAbstractButton>("ButtonBooster")->click();
  Open(File("lok.DEC", "*dir\r\n1 3 Adresse\r\n"));
  EXPECT_TRUE(Enabled("SpeichernDecoder"));
  EXPECT_TRUE(Enabled("druckenDecoder"));
  EXPECT_FALSE(Enabled("leseAlleCVs"));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileCommandsWindowTest, AFileThatCannotBeReadLeavesTheSheet) {
  const std::string missing = Path("fehlt \u00e4.DEC");
  Open(missing);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Datei " + missing + " kann nicht ge\u00f6ffnet werden");
  EXPECT_EQ(Sheet()->toPlainText(), "Decoder");
  // Nothing changes: no name that "speichern" would write the old sheet under.
  EXPECT_EQ(form_->DecoderFileName(), "");
  EXPECT_EQ(form_->windowTitle(), kFormTitle);
  EXPECT_EQ(Mode(), "dir");
  for (const char* item : {"druckenDecoder", "SpeichernDecoder", "SpeichernunterDecoder", "leseAlleCVs"}) {
    EXPECT_FALSE(Enabled(item)) << item;
  }
}

TEST_F(FileCommandsWindowTest, SavingGivesBackTheFileByteForByteWithCrLf) {
  std::string high;
  for (int c = 0x80; c <= 0xFF; ++c) high += static_cast<char>(c);
  const std::string lf_only = "Titel \xE4\xF6\xFC\xDF\n" + high + "\n1 3 Adresse\xA0mit Leerzeichen\n\n";
  std::string crlf;
  for (char c : lf_only) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const std::string path = File("umlaute.DEC", lf_only);
  Open(path);
  EXPECT_EQ(Sheet()->document()->blockCount(), 5);
  Choose("SpeichernDecoder");
  EXPECT_EQ(ReadBytes(path), crlf);
  EXPECT_TRUE(messages_.empty());
}

// What the file's code page lacks is saved as '?' only when the user says so.
TEST_F(FileCommandsWindowTest, CharactersTheFileCannotHoldAreSavedOnlyAfterAYes) {
  const std::string old = "1 3 Adresse\r\n";
  const struct {
    QString typed;           // the sheet's text
    const char* item;        // the menu item that saves
    const char* answer;      // the button clicked in the question
    QString question;        // asked before saving
    std::string saved;       // the file afterwards (saving under a new name: the new one)
  } cases[] = {
      {"1 3 \u0141\u00f3d\u017a \u2192 A", "SpeichernDecoder", "Nein",
       "Die Zeichen \u0141, \u017a, \u2192 gibt es in der Zeichentabelle der Decoderdatei nicht; sie werden als ? "
       "gespeichert. Trotzdem speichern?",
       old},
      {"1 3 \u0141\u00f3d\u017a \u2192 A", "SpeichernDecoder", "Ja",
       "Die Zeichen \u0141, \u017a, \u2192 gibt es in der Zeichentabelle der Decoderdatei nicht; sie werden als ? "
       "gespeichert. Trotzdem speichern?",
       "1 3 ?\xF3" "d? ? A"},
      {"1 3 A\u200b", "SpeichernunterDecoder", "Nein",
       "Das Zeichen U+200B gibt es in der Zeichentabelle der Decoderdatei nicht; es wird als ? gespeichert. "
       "Trotzdem speichern?",
       ""},
      {"\u0391\u0392\u0393\u0394\u0395\u0396\u0397\u0398\u0399\u039a\u039b\u039c", "SpeichernDecoder", "Ja",
       "Die Zeichen \u0391, \u0392, \u0393, \u0394, \u0395, \u0396, \u0397, \u0398, \u0399, \u039a und 2 "
       "weitere gibt es in der Zeichentabelle der Decoderdatei nicht; sie werden als ? gespeichert. Trotzdem speichern?",
       "????????????"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    const std::string path = File("zeichen.DEC", old);
    Open(path);
    Sheet()->setPlainText(c.typed);
    const std::string new_name = Path("neu.DEC");
    std::filesystem::remove(new_name);
    script_->file = new_name;
    QString asked;
    // The question is modal: the user answers it once it shows.
    QTimer answer;
    answer.setSingleShot(true);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      asked = box->text();
      for (QAbstractButton* button : box->buttons()) {
        if (Displayed(button->text()) == c.answer) button->click();
      }
    });
    answer.start(0);
    Choose(c.item);
    answer.stop();
    EXPECT_EQ(asked, c.question);
    EXPECT_EQ(ReadBytes(std::string(c.item) == "SpeichernunterDecoder" ? new_name : path), c.saved);
    EXPECT_EQ(form_->DecoderFileName(), path);  // "Nein" takes no new name either
    EXPECT_EQ(Sheet()->toPlainText(), c.typed);  // what was typed stays
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileCommandsWindowTest, SavingUnderANewName) {
  Open(File("alt.DEC", "1 3 Adresse\r\n"));

  // No extension is added and an existing file is replaced without a question.
  const std::string lok1 = File("lok1", "alter Inhalt");
  SaveUnder(lok1);
  EXPECT_EQ(ReadBytes(lok1), "1 3 Adresse\r\n");
  EXPECT_EQ(form_->DecoderFileName(), lok1);
  EXPECT_EQ(form_->windowTitle(), "QARN2       DCC- Decoder Service      Version 0.8    lok1");

  // "speichern" goes to the new name from now on.
  Sheet()->setPlainText("2 7");
  Choose("SpeichernDecoder");
  EXPECT_EQ(ReadBytes(lok1), "2 7");
  EXPECT_EQ(ReadBytes(Path("alt.DEC")), "1 3 Adresse\r\n");

  // Cancelled: nothing changes.
  SaveUnder(std::nullopt);
  EXPECT_EQ(form_->DecoderFileName(), lok1);
  EXPECT_EQ(form_->windowTitle(), "QARN2       DCC- Decoder Service      Version 0.8    lok1");

  // A file that cannot be created: the message, the name taken, the bare name as title.
  const std::string unreachable = Path("fehlt/lok2.DEC");
  SaveUnder(unreachable);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Datei " + unreachable + " kann nicht erstellt werden");
  EXPECT_EQ(form_->DecoderFileName(), unreachable);
  EXPECT_EQ(form_->windowTitle(), "lok2.DEC");
  EXPECT_EQ(Sheet()->toPlainText(), "2 7");
}

TEST_F(FileCommandsWindowTest, ReadAllOnASampleAndSaveTheValues) {
  Open(QARN2_EXAMPLES_DIR "/lokdecoder.LOC");
  EXPECT_EQ(Mode(), "dir");
  EXPECT_TRUE(Enabled("Kennlinie"));
  SetDecoderCv(2, 7);
  SetDecoderCv(67, 9);
  SetDecoderCv(94, 200);
  Choose("leseAlleCVs");
  const std::string saved = Path("gelesen.LOC");
  SaveUnder(saved);
  ASSERT_TRUE(messages_.empty()) << messages_[0];

  const std::string file = ReadBytes(saved);
  for (const char* line : {"*dir\r\n", "\r\n1     3 Adresse\r\n", "\r\n2     7 Anfahrspannung\r\n",
                           "\r\n3     4 Anfahrverz\xF6gerung\r\n", "\r\n67    9 Kennlinie Stufe 1\r\n",
                           "\r\n94  200 Kennlinie Stufe 28\r\n",
                           "\r\nBemerkung: Motor glockenankerlos, Lastregelung aus\r\n"}) {
    EXPECT_NE(file.find(line), std::string::npos) << line;
  }
}

// The pages of a PDF that Qt wrote.
int PdfPages(const std::string& pdf) {
  int pages = 0;
  for (std::size_t at = pdf.find("/Type /Page"); at != std::string::npos; at = pdf.find("/Type /Page", at + 1)) {
    pages += pdf.compare(at, 12, "/Type /Pages") != 0;
  }
  return pages;
}

TEST_F(FileCommandsWindowTest, PrintingPrintsTheLinesAsDisplayed) {
  // 58 short lines and one that the pane wraps: 60 printed lines, two pages.
  std::string text;
  for (int i = 1; i <= 58; ++i) text += std::to_string(i) + " 0\r\n";
  text += "29 6 Konfiguration mit einer sehr langen Beschreibung, die das Fenster nicht fasst";
  Open(File("druck.DEC", text));
  ASSERT_EQ(Sheet()->document()->lastBlock().lineCount(), 2);

  Choose("Druckereinrichten1");
  const std::string pdf = Path("druck.pdf");
  bool accept = false;
  script_->print = [&](QPrinter& printer) {
    EXPECT_EQ(&printer, script_->set_up);  // the set-up applies to the printing
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    return accept;
  };
  Choose("druckenDecoder");
  EXPECT_FALSE(std::filesystem::exists(pdf));

  accept = true;
  Choose("druckenDecoder");
  EXPECT_EQ(PdfPages(ReadBytes(pdf)), 2);

  // Without the long line the rest fits on one page.
  QTextCursor cursor(Sheet()->document()->lastBlock());
  cursor.select(QTextCursor::BlockUnderCursor);
  cursor.removeSelectedText();
  Choose("druckenDecoder");
  EXPECT_EQ(PdfPages(ReadBytes(pdf)), 1);
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
