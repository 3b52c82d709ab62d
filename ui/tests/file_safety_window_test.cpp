// The menu "Datei" on paths that are no decoder files, and the sheet kept safe from
// commands that would spoil it: saving onto devices, FIFOs and folders, opening what
// never ends, opening while "Alle CVs" reads or the speed table editor is open,
// printing, names beyond ASCII, and where the file dialogs open.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/command_line.h"
#include "ui/form1_layout.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

namespace fs = std::filesystem;

// The user at the dialogs, counted: a file dialog answers with `file` once (then
// cancels) and notes the folder it was to open in; the print dialog prints into the
// PDF file `pdf`, or is cancelled while that is empty.
struct ScriptedDialogs : FileDialogs {
  std::optional<std::string> ChooseOpen(QWidget*, const std::string& folder) override {
    open_folders.push_back(folder);
    return std::exchange(file, std::nullopt);
  }
  std::optional<std::string> ChooseSave(QWidget*, const std::string& folder) override {
    save_folders.push_back(folder);
    return std::exchange(file, std::nullopt);
  }
  bool PrinterSetup(QWidget*, QPrinter&) override { return false; }
  bool Print(QWidget*, QPrinter& printer) override {
    ++prints;
    if (pdf.empty()) return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    return true;
  }

  std::optional<std::string> file;
  std::string pdf;
  std::vector<std::string> open_folders;
  std::vector<std::string> save_folders;
  int prints = 0;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// What `command` prints on its standard output.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

int PdfPages(const std::string& pdf) {
  const std::string info = Output("pdfinfo " + Quoted(pdf) + " 2>/dev/null");
  const std::size_t at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

// Should the program block on the FIFO at `path` (opening it, reading it, writing it),
// this lets it go after a while with a line of text on the way, so that the test
// fails instead of hanging. A program that leaves FIFOs alone never meets it.
class FifoRescue {
 public:
  explicit FifoRescue(std::string path)
      : path_(std::move(path)), thread_([this] {
          std::unique_lock lock(mutex_);
          if (done_changed_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; })) return;
          stepped_in_ = true;
          const int fd = ::open(path_.c_str(), O_RDWR | O_NONBLOCK);
          if (fd < 0) return;
          constexpr char kLine[] = "99 9 aus der Leitung\r\n";
          (void)!::write(fd, kLine, sizeof kLine - 1);
          ::close(fd);
        }) {}
  ~FifoRescue() { Finish(); }
  // Whether the program had to be let go.
  bool Finish() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_changed_.notify_one();
    if (thread_.joinable()) thread_.join();
    return stepped_in_;
  }

 private:
  std::string path_;
  std::mutex mutex_;
  std::condition_variable done_changed_;
  bool done_ = false;
  bool stepped_in_ = false;
  std::thread thread_;
};

// A sheet of the speed table, CV 67..94 holding `entries`.
std::string SpeedFile(const std::array<int, 28>& entries) {
  std::string text = "*dir\r\nLok\r\n1 3 Adresse\r\n";
  for (int i = 0; i < 28; ++i) {
    text += std::to_string(67 + i) + " " + std::to_string(entries[static_cast<std::size_t>(i)]) + " Stufe " +
            std::to_string(i + 1) + "\r\n";
  }
  return text + "Ende";
}

QString WithoutCr(std::string text) {
  std::erase(text, '\r');
  return QString::fromStdString(text);
}

class FileSafetyWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    dialogs_.reset(script_ = new ScriptedDialogs);
    Start();
  }

  std::string Path(const char* utf8_name) const {
    return folder_.filePath(QString::fromUtf8(utf8_name)).toStdString();
  }
  std::string File(const char* utf8_name, const std::string& bytes) const {
    WriteBytes(Path(utf8_name), bytes);
    return Path(utf8_name);
  }
  void Open(const std::optional<std::string>& path) {
    script_->file = path;
    Choose("OeffnenDecoder");
  }
  void SaveUnder(const std::optional<std::string>& path) {
    script_->file = path;
    Choose("SpeichernunterDecoder");
  }
  QPlainTextEdit* Sheet() const { return Find<QPlainTextEdit>("Decoder"); }
  QString Title(const char* utf8_bare_name) const {
    return QString(kFormTitle) + "    " + QString::fromUtf8(utf8_bare_name);
  }
  QString Prompt() const { return Find<QLabel>("CVLabel1")->text(); }
  void SetDecoderCv(int number, int value) {
    auto lock = Track().Lock();
    Track().Decoder().SetCv(number, static_cast<std::uint8_t>(value));
  }
  QScrollBar* Bar(int n) const { return Find<QScrollBar>(QString("ScrollBar%1").arg(n).toLatin1().constData()); }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder_.path().toStdString())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  QTemporaryDir folder_;
  ScriptedDialogs* script_ = nullptr;  // owned by the window
};

TEST_F(FileSafetyWindowTest, SavingUnderAPathNoFileCanTakeIsRefusedAndLeavesIt) {
  const std::string fifo = Path("leitung.DEC");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string folder = Path("ordner");
  fs::create_directory(folder);
  WriteBytes(folder + "/drin.DEC", "drin");
  struct stat full_before {};
  ASSERT_EQ(::stat("/dev/full", &full_before), 0);
  ASSERT_TRUE(S_ISCHR(full_before.st_mode));

  Open(File("quelle.DEC", "1 3 Adresse\r\n"));
  const std::vector<std::string> entries_before = FolderEntries();

  struct Refused {
    std::string path;
    const char* bare_name;
    std::function<void()> unchanged;
  };
  const Refused cases[] = {
      {fifo, "leitung.DEC", [&] { EXPECT_TRUE(fs::is_fifo(fifo)); }},
      {"/dev/full", "full",
       [&] {
         struct stat after {};
         ASSERT_EQ(::stat("/dev/full", &after), 0);
         EXPECT_TRUE(S_ISCHR(after.st_mode));
         EXPECT_EQ(after.st_rdev, full_before.st_rdev);
       }},
      {folder, "ordner",
       [&] {
         EXPECT_TRUE(fs::is_directory(folder));
         EXPECT_EQ(ReadBytes(folder + "/drin.DEC"), "drin");
         EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
       }},
      {Path("fehlt/lok.DEC"), "lok.DEC", [&] { EXPECT_FALSE(fs::exists(Path("fehlt"))); }},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.path);
    messages_.clear();
    FifoRescue rescue(fifo);
    SaveUnder(c.path);
    EXPECT_FALSE(rescue.Finish()) << "blocked on the FIFO";
    EXPECT_EQ(messages_, std::vector<std::string>{"Datei " + c.path + " kann nicht erstellt werden"});
    c.unchanged();
    // Not saved: the bare name only, not the program's title.
    EXPECT_EQ(form_->windowTitle(), QString::fromUtf8(c.bare_name));
    EXPECT_EQ(Sheet()->toPlainText(), "1 3 Adresse\n");
  }
  // Nothing left beside them, and the file opened first is as it was.
  EXPECT_EQ(FolderEntries(), entries_before);
  EXPECT_EQ(ReadBytes(Path("quelle.DEC")), "1 3 Adresse\r\n");
}

TEST_F(FileSafetyWindowTest, SavingThroughASymbolicLinkWritesTheFileItNamesAndKeepsTheLink) {
  Open(File("quelle.DEC", "1 3 Adresse\r\n"));
  Sheet()->setPlainText("2 7 neu");

  WriteBytes(Path("echt.DEC"), "alter Inhalt");
  fs::create_symlink("echt.DEC", Path("verweis.DEC"));
  // A link to a file not there yet: the file is made, the link stays.
  fs::create_symlink("neu.DEC", Path("neu-verweis.DEC"));

  for (const char* link : {"verweis.DEC", "neu-verweis.DEC"}) {
    SCOPED_TRACE(link);
    SaveUnder(Path(link));
    EXPECT_TRUE(fs::is_symlink(Path(link)));
    EXPECT_EQ(form_->DecoderFileName(), Path(link));
    EXPECT_EQ(form_->windowTitle(), Title(link));
  }
  EXPECT_EQ(fs::read_symlink(Path("verweis.DEC")), "echt.DEC");
  EXPECT_EQ(fs::read_symlink(Path("neu-verweis.DEC")), "neu.DEC");
  EXPECT_EQ(ReadBytes(Path("echt.DEC")), "2 7 neu");
  EXPECT_EQ(ReadBytes(Path("neu.DEC")), "2 7 neu");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileSafetyWindowTest, OpeningWhatIsNoDecoderFileFailsAtOnceAndSavingKeepsTheFileBefore) {
  const std::string before = File("vorher.DEC", "*dir\r\n1 3 Adresse\r\n");
  Open(before);
  Sheet()->setPlainText("*dir\n1 3 Adresse\n2 7 bearbeitet");

  const std::string fifo = Path("leitung.DEC");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // Sparse files past the size limit and at it, a sheet at the start of each.
  const std::string too_large = File("gross.DEC", "5 9 Vmax\r\n");
  fs::resize_file(too_large, 17 * 1024 * 1024);
  const std::string at_limit = File("grenze.DEC", "5 9 Vmax\r\n");
  fs::resize_file(at_limit, 16 * 1024 * 1024);

  for (const std::string& path : {fifo, std::string("/dev/zero"), too_large}) {
    SCOPED_TRACE(path);
    messages_.clear();
    FifoRescue rescue(fifo);
    Open(path);
    EXPECT_FALSE(rescue.Finish()) << "blocked on the FIFO";
    EXPECT_EQ(messages_, std::vector<std::string>{"Datei " + path + " kann nicht ge\u00f6ffnet werden"});
    EXPECT_EQ(Sheet()->toPlainText(), "*dir\n1 3 Adresse\n2 7 bearbeitet");
    EXPECT_EQ(form_->DecoderFileName(), before);
    EXPECT_EQ(form_->windowTitle(), "QARN2       DCC- Decoder Service      Version 0.8    vorher.DEC");
  }

  // "speichern" writes the file opened before, not the one that failed.
  messages_.clear();
  Choose("SpeichernDecoder");
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(ReadBytes(before), "*dir\r\n1 3 Adresse\r\n2 7 bearbeitet");
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_EQ(fs::file_size(too_large), 17u * 1024 * 1024);
  EXPECT_EQ(ReadBytes(too_large).substr(0, 10), "5 9 Vmax\r\n");
  EXPECT_EQ(form_->windowTitle(), Title("vorher.DEC"));

  // A file of the limit's size is still a decoder file (its text ends at the first NUL).
  Open(at_limit);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Sheet()->toPlainText(), "5 9 Vmax\n");
  EXPECT_EQ(form_->DecoderFileName(), at_limit);
}

TEST_F(FileSafetyWindowTest, FileCommandsDoNothingWhileAllCvsAreRead) {
  struct Attempt {
    const char* item;
    std::function<int()> asked;  // how often the command's dialog has been asked
  };
  const Attempt attempts[] = {
      {"OeffnenDecoder", [this] { return static_cast<int>(script_->open_folders.size()); }},
      {"SpeichernunterDecoder", [this] { return static_cast<int>(script_->save_folders.size()); }},
      {"druckenDecoder", [this] { return script_->prints; }},
  };
  const std::string old_file = File("alt.DEC", "*dir\r\n1 0 A\r\n29 0 B\r\n3 0 C\r\n");
  const std::string new_file = File("neu.DEC", "*dir\r\n1 77 neu\r\n");
  const std::string save_to = Path("unter.DEC");
  const std::string pdf = Path("druck.pdf");
  SetDecoderCv(1, 5);
  SetDecoderCv(29, 38);
  SetDecoderCv(3, 4);

  for (const Attempt& a : attempts) {
    SCOPED_TRACE(a.item);
    Open(old_file);
    const int asked_before = a.asked();
    script_->file = a.item == std::string("OeffnenDecoder") ? new_file : save_to;
    script_->pdf = pdf;
    bool tried = false;
    on_tick_ = [&] {
      if (!tried && Prompt() == "lese CV 29") {
        tried = true;
        // Grey meanwhile: chosen anyway (by a shortcut), it does nothing.
        EXPECT_FALSE(Find<QAction>(a.item)->isEnabled());
        Find<QAction>(a.item)->trigger();
      }
    };
    Choose("leseAlleCVs");
    on_tick_ = nullptr;
    ASSERT_TRUE(tried);
    EXPECT_EQ(a.asked(), asked_before);
    // The read went on to its end on the old sheet.
    EXPECT_EQ(Find<QLabel>("CVResult")->text(), "0 Fehler beim Auslesen");
    EXPECT_EQ(Sheet()->toPlainText(), "*dir\n1     5 A\n29   38 B\n3     4 C\n");
    EXPECT_EQ(form_->DecoderFileName(), old_file);
    EXPECT_EQ(form_->windowTitle(), Title("alt.DEC"));
    EXPECT_FALSE(fs::exists(save_to));
    EXPECT_FALSE(fs::exists(pdf));
    script_->file.reset();
    script_->pdf.clear();
  }
  EXPECT_EQ(ReadBytes(old_file), "*dir\r\n1 0 A\r\n29 0 B\r\n3 0 C\r\n");

  // Once the read is over, opening works again.
  Open(new_file);
  EXPECT_EQ(Sheet()->toPlainText(), "*dir\n1 77 neu\n");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileSafetyWindowTest, OpeningAFileClosesTheSpeedTableEditorWithoutApplyingIt) {
  std::array<int, 28> first{};
  std::array<int, 28> second{};
  for (int i = 0; i < 28; ++i) {
    first[static_cast<std::size_t>(i)] = 9 * i;
    second[static_cast<std::size_t>(i)] = 250 - 7 * i;
  }
  Open(File("erste.DEC", SpeedFile(first)));
  Choose("Kennlinie");
  Find<QAbstractButton>("KennlwahlGerade")->click();
  for (int at = Bar(28)->value(); at < 100;) Bar(28)->setValue(++at);
  ASSERT_NE(form_->State().SpeedTable, first);

  const std::string second_text = SpeedFile(second);
  Open(File("zweite.DEC", second_text));
  EXPECT_FALSE(Shown("Kennlinienbox"));
  EXPECT_EQ(Sheet()->toPlainText(), WithoutCr(second_text));

  // Opened again, the editor holds the new file's entries, and that is what it applies.
  Choose("Kennlinie");
  for (int n = 1; n <= 28; ++n) EXPECT_EQ(255 - Bar(n)->value(), second[static_cast<std::size_t>(n - 1)]) << n;
  Find<QAbstractButton>("KennOK")->click();
  const QStringList lines = Sheet()->toPlainText().split('\n');
  for (int i = 0; i < 28; ++i) {
    EXPECT_EQ(lines.value(3 + i),
              QString("%1  %2 Stufe %3").arg(67 + i).arg(second[static_cast<std::size_t>(i)], 3).arg(i + 1));
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileSafetyWindowTest, AnEntryAboveOneByteIsTakenAs255) {
  std::array<int, 28> entries{};
  for (int i = 0; i < 28; ++i) entries[static_cast<std::size_t>(i)] = 8 * i;
  std::string text = SpeedFile(entries);
  const std::string line_80 = "\r\n80 104 Stufe 14\r\n";
  const std::size_t at = text.find(line_80);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, line_80.size(), "\r\n80  300 Stufe 14\r\n");
  const std::string path = File("zuhoch.DEC", text);

  QApplication::setActiveWindow(form_.get());
  for (const bool cancel_first : {false, true}) {
    SCOPED_TRACE(cancel_first ? "after abbrechen" : "at once");
    Open(path);
    const int openings = cancel_first ? 2 : 1;
    for (int opening = 1; opening <= openings; ++opening) {
      SCOPED_TRACE(opening);
      Choose("Kennlinie");
      EXPECT_EQ(form_->State().SpeedTable[13], 255);
      EXPECT_EQ(Bar(14)->value(), 0);
      Bar(13)->setFocus(Qt::TabFocusReason);
      Bar(14)->setFocus(Qt::TabFocusReason);
      EXPECT_EQ(Find<QLabel>("KennlWert")->text(), "CV 80= 255");
      if (opening < openings) Find<QAbstractButton>("KennNix")->click();
    }
    Find<QAbstractButton>("KennOK")->click();
    const QStringList lines = Sheet()->toPlainText().split('\n');
    EXPECT_EQ(lines.value(3 + 13), "80  255 Stufe 14");
    EXPECT_EQ(lines.value(3 + 12), "79   96 Stufe 13");
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileSafetyWindowTest, TheLineEndClosingAFileMakesNoPageOfItsOwn) {
  struct Printout {
    int lines;
    const char* after_them;
    int pages;
  };
  const Printout cases[] = {
      {59, "\r\n", 1},
      {60, "\r\n", 2},
      {59, "\r\n\r\n", 2},  // an empty 60th line is printed
  };
  for (const Printout& c : cases) {
    SCOPED_TRACE(std::to_string(c.lines) + " lines");
    std::string text;
    for (int i = 1; i <= c.lines; ++i) text += (i > 1 ? "\r\n" : "") + std::to_string(i) + " 0";
    Open(File("druck.DEC", text + c.after_them));
    script_->pdf = Path(("druck" + std::to_string(&c - cases) + ".pdf").c_str());
    Choose("druckenDecoder");
    EXPECT_EQ(PdfPages(script_->pdf), c.pages);
  }
  EXPECT_TRUE(messages_.empty());
}

// The tool takes the same lines of a file as the window: what the window prints and
// reads into with "Alle CVs" is what the tool's print and read-all make of it.
TEST_F(FileSafetyWindowTest, TheToolTakesAFileAsTheWindowDoes) {
  std::string lines;
  for (int i = 1; i <= 59; ++i) lines += "Zeile" + std::to_string(i) + "\r\n";
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"nul.DEC", std::string("29 6 K") + '\0' + "Rest\r\n1 99 X\r\n"},  // a NUL ends the text
      {"leer60.DEC", lines + "\r\n"},                                     // an empty 60th line: two pages
      {"zeilen59.DEC", lines},
      {"enden.DEC", "Lok\n1 5 Adresse\r29 0\r\n\n3 9"},
      {"leer.DEC", ""},
  };
  const auto tool = [](const std::vector<std::string>& args) {
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCommandLine(args, in, out, err), 0) << err.str();
    return out.str();
  };
  const auto printed = [](const std::string& pdf) { return Output("pdftotext " + Quoted(pdf) + " - 2>/dev/null"); };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const std::string path = File(f.name, f.bytes);
    Open(path);
    script_->pdf = path + ".window.pdf";
    Choose("druckenDecoder");
    tool({"print", path, "--pdf", path + ".tool.pdf"});
    EXPECT_NE(printed(script_->pdf), "");
    EXPECT_EQ(printed(path + ".tool.pdf"), printed(script_->pdf));

    Choose("leseAlleCVs");
    SaveUnder(path + ".gelesen");
    EXPECT_EQ(tool({"read-all", "--virtual-time", path}), ReadBytes(path + ".gelesen"));
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileSafetyWindowTest, ANameBeyondAsciiIsShownAsItIs) {
  const std::string path = Path("\u0141\u00f3d\u017a.DEC");
  Open(path);
  EXPECT_EQ(messages_, std::vector<std::string>{"Datei " + path + " kann nicht ge\u00f6ffnet werden"});

  WriteBytes(path, "1 3 Adresse\r\n");
  messages_.clear();
  Open(path);
  EXPECT_EQ(form_->windowTitle(), Title("\u0141\u00f3d\u017a.DEC"));

  script_->pdf = Path("lodz.pdf");
  Choose("druckenDecoder");
  const std::string printed = Output("pdftotext -layout " + Quoted(script_->pdf) + " - 2>/dev/null");
  EXPECT_NE(printed.find(path), std::string::npos) << printed;
  EXPECT_NE(printed.find("1 3 Adresse"), std::string::npos) << printed;
  EXPECT_TRUE(messages_.empty());
}

TEST_F(FileSafetyWindowTest, TheFileDialogsOpenInTheCurrentFilesFolder) {
  const std::string working = QDir::currentPath().toStdString();
  Open(std::nullopt);
  Find<QAction>("SpeichernunterDecoder")->setEnabled(true);
  SaveUnder(std::nullopt);
  EXPECT_EQ(script_->open_folders.back(), working);
  EXPECT_EQ(script_->save_folders.back(), working);

  fs::create_directory(Path("a"));
  fs::create_directory(Path("b"));
  Open(File("a/lok.DEC", "1 3 Adresse\r\n"));
  Open(std::nullopt);
  SaveUnder(std::nullopt);
  EXPECT_EQ(script_->open_folders.back(), Path("a"));
  EXPECT_EQ(script_->save_folders.back(), Path("a"));

  SaveUnder(Path("b/kopie.DEC"));
  Open(std::nullopt);
  SaveUnder(std::nullopt);
  EXPECT_EQ(script_->open_folders.back(), Path("b"));
  EXPECT_EQ(script_->save_folders.back(), Path("b"));

  // A file that could not be opened is not the current one.
  Open(Path("a/fehlt.DEC"));
  EXPECT_EQ(messages_.size(), 1u);
  Open(std::nullopt);
  EXPECT_EQ(script_->open_folders.back(), Path("b"));
}

}  // namespace
}  // namespace qarn2::ui
