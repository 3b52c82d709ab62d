// Whole flows through the window as the user runs them, down to what the simulated
// decoder and LGB interface got: single CVs in every programming mode, whole decoder
// files, modes the program does not know, the CV commands after a try-out, "ENDE" in
// the middle of a read, the sheet edited during "Alle CVs", and the hardware choices.

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextCursor>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/decoder_model.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

const serial::TComEvents kBoardEvents{serial::evRxChar, serial::evTxEmpty, serial::evRing};

// The user at the file dialogs: the open dialog answers with `file` once, then cancels.
struct ScriptedDialogs : FileDialogs {
  std::optional<std::string> ChooseOpen(QWidget*, const std::string&) override { return std::exchange(file, std::nullopt); }
  std::optional<std::string> ChooseSave(QWidget*, const std::string&) override { return std::nullopt; }
  bool PrinterSetup(QWidget*, QPrinter&) override { return false; }
  bool Print(QWidget*, QPrinter&) override { return false; }

  std::optional<std::string> file;
};

// One CV line of a decoder file: number, value (-1 for none) and the user's text.
struct CvLine {
  int line;
  int cv;
  int value;
  QString description;
};

std::vector<CvLine> CvLinesOf(const QStringList& lines) {
  static const QRegularExpression kCvLine("^(\\d+) +(\\d+)? *(.*)$");
  std::vector<CvLine> found;
  for (int i = 0; i < lines.size(); ++i) {
    const QRegularExpressionMatch m = kCvLine.match(lines[i]);
    if (!m.hasMatch()) continue;
    found.push_back({i, m.captured(1).toInt(), m.captured(2).isEmpty() ? -1 : m.captured(2).toInt(), m.captured(3)});
  }
  return found;
}

// Service-mode shaped packets (0111xxxx, register, paged and direct) on the track.
bool ServiceShaped(const TrackLogEntry& e) {
  return e.kind == TrackLogEntry::kPacket && !e.bytes.empty() && (e.bytes[0] & 0xF0) == 0x70;
}

class EngineFlowsWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    dialogs_.reset(script_ = new ScriptedDialogs);
    Start();
  }

  QPlainTextEdit* Sheet() const { return Find<QPlainTextEdit>("Decoder"); }
  QStringList SheetLines() const { return Sheet()->toPlainText().split('\n'); }
  QString Prompt() const { return Find<QLabel>("CVLabel1")->text(); }
  QString Caption() const { return Find<QGroupBox>("GroupCVRW")->title(); }
  QString Mode() const { return Find<QLabel>("Label2")->text(); }
  bool Enabled(const char* item) const { return Find<QAction>(item)->isEnabled(); }

  void SetDecoderCv(int number, int value) {
    auto lock = Track().Lock();
    Track().Decoder().SetCv(number, static_cast<std::uint8_t>(value));
  }
  sim::LocoState Loco() {
    auto lock = Track().Lock();
    return Track().Decoder().loco();
  }
  void SetLgb(const sim::LgbSettings& settings) {
    auto lock = Track().Lock();
    Track().Lgb().SetSettings(settings);
  }

  // "Decoder" / "Prog-Mode wählen" and the mode's button.
  void ChooseMode(const char* button) {
    Choose("Progmodew");
    Find<QAbstractButton>(button)->click();
  }
  // "Prog. Hardware" and the choice's button.
  void Pick(const char* button) {
    Choose("HardwareWahl");
    Find<QAbstractButton>(button)->click();
  }
  void Open(const std::string& path) {
    script_->file = path;
    Choose("OeffnenDecoder");
  }
  static std::string Example(const char* name) { return std::string(QARN2_EXAMPLES_DIR "/") + name; }
  // A decoder file in the temporary folder.
  std::string File(const char* name, const std::string& bytes) const {
    const std::string path = folder_.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  void ReadCv(const std::string& number) {
    Choose("leseCV");
    Enter(QString::fromStdString(number));
  }
  void WriteCv(const std::string& number, const std::string& value) {
    Choose("SchreibeCV");
    Enter(QString::fromStdString(number));
    Enter(QString::fromStdString(value));
  }
  void Drive(int position) { Find<QScrollBar>("Regler")->setValue(position); }

  // What the decoder made of in service mode since the log was cleared, from `since` on.
  std::vector<std::string> ServiceMeanings(sim::SimTime since = sim::SimTime{0}) const {
    std::vector<std::string> seen;
    for (const TrackLogEntry& e : Track().Log()) {
      if (e.time >= since && e.kind == TrackLogEntry::kPacket && e.text.starts_with("service:")) {
        seen.push_back(e.text);
      }
    }
    return seen;
  }
  int ServiceShapedPackets() const {
    int n = 0;
    for (const TrackLogEntry& e : Track().Log()) n += ServiceShaped(e);
    return n;
  }
  int Packets(const std::vector<std::uint8_t>& bytes) const {
    int n = 0;
    for (const TrackLogEntry& e : Track().Log()) {
      n += e.kind == TrackLogEntry::kPacket && e.bytes.size() == bytes.size() + 1 &&
           std::equal(bytes.begin(), bytes.end(), e.bytes.begin());
    }
    return n;
  }
  // Replaces line `index` of the sheet as the user would, by selecting and typing over it.
  void EditLine(int index, const QString& text) {
    QTextCursor cursor(Sheet()->document()->findBlockByNumber(index));
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(text);
  }

  QTemporaryDir folder_;
  ScriptedDialogs* script_ = nullptr;  // owned by the window
};

TEST_F(EngineFlowsWindowTest, EveryModeWritesAndReadsBackThroughTheCvBox) {
  struct Cv {
    int number;      // as typed
    int decoder_cv;  // where it lands in the decoder
  };
  struct Case {
    const char* button;
    const char* mode;
    std::vector<Cv> cvs;
  };
  // Register 5 is the decoder's configuration, CV 29.
  const Case cases[] = {
      {"ProgDir", "dir", {{1, 1}, {29, 29}, {1024, 1024}}},
      {"ProgDio", "dio", {{1, 1}, {29, 29}, {1024, 1024}}},
      {"ProgReg", "reg", {{1, 1}, {5, 29}}},
      {"ProgPag", "pag", {{1, 1}, {29, 29}, {1024, 1024}}},
      {"Progroc", "roc", {{1, 1}, {5, 29}}},
  };
  for (const Case& c : cases) {
    ChooseMode(c.button);
    ASSERT_EQ(Mode(), c.mode);
    for (const Cv& cv : c.cvs) {
      for (int value : {0, 1, 129, 255}) {
        const std::string n = std::to_string(cv.number);
        const std::string v = std::to_string(value);
        SCOPED_TRACE(std::string(c.mode) + " CV " + n + " = " + v);
        // Something else in the decoder first, so that neither step can pass by luck.
        SetDecoderCv(cv.decoder_cv, (value + 77) % 256);
        WriteCv(n, v);
        EXPECT_EQ(Result(), QString::fromStdString("CV Nr " + n + "=" + v + " best\u00e4tigt"));
        EXPECT_EQ(DecoderCv(cv.decoder_cv), value);
        ReadCv(n);
        EXPECT_EQ(Result(), QString::fromStdString("CV Nr " + n + " = " + v));
      }
    }
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, RegisterWriteAfterAPagedOneReachesTheRegistersCv) {
  // The paged write leaves the decoder's page register at the last page (CV 1021..1024);
  // the register write must still land in CV 1, as the register read does.
  ChooseMode("ProgPag");
  WriteCv("1024", "255");
  ASSERT_EQ(Result(), "CV Nr 1024=255 best\u00e4tigt");
  ChooseMode("ProgReg");
  SetDecoderCv(1, 77);
  SetDecoderCv(1021, 50);
  Track().ClearLog();
  WriteCv("1", "0");
  EXPECT_EQ(Result(), "CV Nr 1=0 best\u00e4tigt");
  EXPECT_EQ(DecoderCv(1), 0);
  EXPECT_EQ(DecoderCv(1021), 50);
  const std::vector<std::string> meanings = ServiceMeanings();
  EXPECT_NE(std::find(meanings.begin(), meanings.end(), "service: write register 1 (CV 1) = 0 (stored)"),
            meanings.end())
      << ::testing::PrintToString(meanings);
}

TEST_F(EngineFlowsWindowTest, TheExampleFilesGoWholeIntoTheDecoderAndBack) {
  struct Case {
    const char* file;
    const char* mode;
  };
  const Case cases[] = {
      {"lokdecoder.LOC", "dir"},
      {"funktionsdecoder.DEC", "dio"},
      {"zubehoerdecoder.DEC", "pag"},
  };
  bool saw_bracketed_description = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Open(Example(c.file));
    ASSERT_EQ(Mode(), c.mode);
    const QStringList original = SheetLines();
    const std::vector<CvLine> cv_lines = CvLinesOf(original);
    ASSERT_GT(cv_lines.size(), 5u);
    for (const CvLine& l : cv_lines) {
      if (l.value >= 0) SetDecoderCv(l.cv, (l.value + 1) % 256);
    }

    Choose("schreibealleCVs");
    EXPECT_EQ(Result(), "0 Fehler beim Schreiben");
    EXPECT_EQ(SheetLines(), original);
    for (const CvLine& l : cv_lines) {
      if (l.value >= 0) {
        EXPECT_EQ(DecoderCv(l.cv), l.value) << "CV " << l.cv;
      }
    }

    // Changed behind the sheet's back: reading must bring the decoder's values.
    for (const CvLine& l : cv_lines) {
      if (l.value >= 0) SetDecoderCv(l.cv, l.value ^ 0x55);
    }
    Choose("leseAlleCVs");
    EXPECT_EQ(Result(), "0 Fehler beim Auslesen");
    const QStringList read = SheetLines();
    ASSERT_EQ(read.size(), original.size());
    std::size_t next = 0;
    for (int i = 0; i < read.size(); ++i) {
      if (next < cv_lines.size() && cv_lines[next].line == i) {
        const CvLine& l = cv_lines[next++];
        saw_bracketed_description |= l.description.startsWith('(');
        const QRegularExpression expected(QString("^%1 +%2 %3$")
                                              .arg(l.cv)
                                              .arg(DecoderCv(l.cv))
                                              .arg(QRegularExpression::escape(l.description)));
        EXPECT_TRUE(expected.match(read[i]).hasMatch()) << read[i].toStdString();
      } else {
        EXPECT_EQ(read[i], original[i]);
      }
    }
  }
  EXPECT_TRUE(saw_bracketed_description);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, AModeNoneOfTheFiveSendsNothingAndFailsEveryCv) {
  for (const char* mode_line : {"*DIR", "*xyz"}) {
    SCOPED_TRACE(mode_line);
    ChooseMode("ProgDir");
    // A CV read in a known mode first: its value must not turn up below.
    ReadCv("1");
    ASSERT_EQ(Result(), "CV Nr 1 = 3");

    Open(File("fremd.DEC", std::string(mode_line) + "\r\nTitel\r\n1 0 Adresse\r\n29 0 (Konfiguration)\r\n"));
    ASSERT_EQ(Mode(), QString(mode_line).mid(1));
    Track().ClearLog();
    ReadCv("29");
    EXPECT_EQ(Result(), "    nicht lesbar");
    WriteCv("29", "9");
    EXPECT_EQ(Result(), "CV 29 keine Best\u00e4tigung");
    EXPECT_EQ(DecoderCv(29), 6);

    Choose("leseAlleCVs");
    EXPECT_EQ(Result(), "2 Fehler beim Auslesen");
    const QStringList lines = SheetLines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_TRUE(QRegularExpression("^1 +\\? Adresse$").match(lines[2]).hasMatch()) << lines[2].toStdString();
    EXPECT_TRUE(QRegularExpression("^29 +\\? \\(Konfiguration\\)$").match(lines[3]).hasMatch())
        << lines[3].toStdString();

    engine_->VirtualTime()->Pass(100ms);
    EXPECT_EQ(ServiceShapedPackets(), 0);
    EXPECT_TRUE(ServiceMeanings().empty());
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, CvCommandsWorkAfterALocomotiveTryOutLeftRunning) {
  Open(File("kurz.DEC", "*dir\r\n1 0 Adresse\r\n5 0 Vmax\r\n29 0 Konfiguration\r\n"));
  SetDecoderCv(5, 200);
  struct Case {
    const char* name;
    int position;  // of the regulator, 0: left where it is
  };
  for (const Case& c : {Case{"stehend", 0}, Case{"fahrend", 5}}) {
    SCOPED_TRACE(c.name);
    Choose("Lokprobier");
    if (c.position != 0) {
      Drive(c.position);
      engine_->VirtualTime()->Pass(200ms);
      ASSERT_GT(Loco().speed_step, 0);  // the try-out really drives
    }
    Choose("leseCV");
    Enter("29");
    EXPECT_EQ(Result(), "CV Nr 29 = 6");

    Choose("Lokprobier");
    engine_->VirtualTime()->Pass(100ms);
    Sheet()->setPlainText("*dir\n1 0 Adresse\n5 0 Vmax\n29 0 Konfiguration");
    Choose("leseAlleCVs");
    EXPECT_EQ(Result(), "0 Fehler beim Auslesen");
    EXPECT_EQ(SheetLines(), QStringList({"*dir", "1     3 Adresse", "5   200 Vmax", "29    6 Konfiguration"}));
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, TurnoutTryOutStopsTheLocomotiveAtItsAddress) {
  Choose("Lokprobier");
  Drive(5);
  engine_->VirtualTime()->Pass(200ms);
  ASSERT_GT(Loco().speed_step, 0);

  Choose("Weicheprobier");
  EXPECT_EQ(form_->State().LocoAddress, 3);
  Track().ClearLog();
  engine_->VirtualTime()->Pass(300ms);
  EXPECT_EQ(Loco().speed_step, 0);
  EXPECT_TRUE(Track().Powered());
  EXPECT_GT(Packets({0x03, 0x60}), 0);  // address 3: stop, forward
  EXPECT_EQ(Packets({0x03, 0x65}), 0);  // no longer step 5
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, EnterInTheSheetWithTheBoxClosedSendsNothing) {
  struct Case {
    const char* name;
    std::function<void()> leave;
  };
  const Case cases[] = {
      {"write box awaiting its value",
       [this] {
         Choose("SchreibeCV");
         Enter("29");
         ASSERT_EQ(Prompt(), "CV- Wert eingeben:");
         Type(Entry(), "77");  // typed, never confirmed
         Click(Find("CVRWEnde"));
       }},
      {"read box closed",
       [this] {
         ReadCv("29");
         Click(Find("CVRWEnde"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sheet()->setPlainText("29 6 Konfiguration");
    c.leave();
    ASSERT_FALSE(Shown("GroupCVRW"));
    const QString result = Result();
    Track().ClearLog();
    Sheet()->moveCursor(QTextCursor::End);
    PressEnter(Sheet());
    engine_->VirtualTime()->Pass(100ms);
    EXPECT_EQ(ServiceShapedPackets(), 0);
    EXPECT_EQ(DecoderCv(29), 6);
    EXPECT_FALSE(Track().Powered());
    EXPECT_EQ(Result(), result);
    EXPECT_EQ(Sheet()->toPlainText(), "29 6 Konfiguration\n");
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, TheReopenedBoxReplacesThePreviousEntryWhenTyping) {
  struct Case {
    const char* name;
    bool end_first;
    const char* item;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"read again", false, "leseCV", [this] { EXPECT_EQ(Result(), "CV Nr 3 = 42"); }},
      {"read after ENDE", true, "leseCV", [this] { EXPECT_EQ(Result(), "CV Nr 3 = 42"); }},
      {"write", false, "SchreibeCV", [this] { EXPECT_EQ(Caption(), "CV Nr 3 schreiben"); }},
  };
  SetDecoderCv(3, 42);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadCv("29");
    ASSERT_EQ(Result(), "CV Nr 29 = 6");
    if (c.end_first) Click(Find("CVRWEnde"));
    Choose(c.item);
    EXPECT_EQ(Entry()->selectedText(), "29");
    Type(Entry(), "3");
    PressEnter(Entry());
    c.check();
    Click(Find("CVRWEnde"));
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, EndeDuringTheWaitsOfAReadLeavesTheTrackSilentAndOff) {
  struct Case {
    const char* name;
    const char* button;
    const char* cv;
    std::function<bool()> moment;  // when the user clicks "ENDE"
  };
  const Case cases[] = {
      {"roc power cycle", "Progroc", "5", [this] { return !Track().Powered(); }},
      {"pag pause after the page write", "ProgPag", "29",
       [this] {
         // The page register write has reached the track, the scan not yet begun.
         return Packets({0x7D, 0x08}) > 0 && Result().isEmpty();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChooseMode(c.button);
    Choose("leseCV");
    Track().ClearLog();
    std::optional<sim::SimTime> clicked;
    on_tick_ = [&] {
      if (!clicked && c.moment()) {
        clicked = Clock().Now();
        Click(Find("CVRWEnde"));
      }
    };
    Enter(c.cv);
    engine_->VirtualTime()->Pass(300ms);
    on_tick_ = nullptr;
    ASSERT_TRUE(clicked.has_value());
    EXPECT_FALSE(Shown("GroupCVRW"));
    EXPECT_FALSE(Track().Powered());
    EXPECT_TRUE(ServiceMeanings(*clicked).empty());
    // None of the scan's verify packets was even written.
    int verifies = 0;
    for (const TrackLogEntry& e : Track().Log()) verifies += ServiceShaped(e) && (e.bytes[0] & 0x08) == 0;
    EXPECT_EQ(verifies, 0);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, ReadingAllLeavesALineTheUserEditedMeanwhile) {
  struct Case {
    const char* name;
    int line;  // edited while CV 29 is being read
    const char* text;
    QStringList expected;
    const char* result;
  };
  const Case cases[] = {
      {"the line being read", 2, "29 99 von Hand", {"*dir", "1     3 A", "29 99 von Hand", "8    13 C"},
       "1 Fehler beim Auslesen"},
      {"a line still to come", 3, "8 0 Hersteller", {"*dir", "1     3 A", "29    6 B", "8    13 Hersteller"},
       "0 Fehler beim Auslesen"},
  };
  Open(File("drei.DEC", "*dir\r\n1 0 A\r\n29 0 B\r\n8 0 C\r\n"));
  ASSERT_EQ(DecoderCv(8), 13);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Sheet()->setPlainText("*dir\n1 0 A\n29 0 B\n8 0 C");
    bool edited = false;
    on_tick_ = [&] {
      if (!edited && Prompt() == "lese CV 29") {
        edited = true;
        EditLine(c.line, c.text);
      }
    };
    Choose("leseAlleCVs");
    on_tick_ = nullptr;
    ASSERT_TRUE(edited);
    EXPECT_EQ(SheetLines(), c.expected);
    EXPECT_EQ(Result(), c.result);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, LgbRepliesCutShortOrArrivingSlowly) {
  struct Case {
    const char* name;
    int reply_limit;
    bool slow;
    bool read;       // the value comes through
    bool confirmed;  // the write is confirmed
  };
  const Case cases[] = {
      {"whole", -1, false, true, true},         {"whole, slowly", -1, true, true, true},
      {"3 characters", 3, false, false, true},  {"3 characters, slowly", 3, true, false, true},
      {"2 characters", 2, false, false, false}, {"1 character", 1, false, false, false},
  };
  Pick("ButtonLGB");
  ASSERT_TRUE(Link().LgbHelloSeen);
  int value = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetDecoderCv(29, value);
    SetLgb({.reply_limit = c.reply_limit, .one_at_a_time = c.slow, .character_gap = c.slow ? 30ms : 0ms});
    ReadCv("29");
    EXPECT_EQ(Result(), c.read ? QString("CV Nr 29 = %1").arg(value) : QString("    nicht lesbar"));
    ++value;
    WriteCv("29", std::to_string(value));
    EXPECT_EQ(Result(), c.confirmed ? QString("CV Nr 29=%1 best\u00e4tigt").arg(value)
                                    : QString("CV 29 keine Best\u00e4tigung"));
    EXPECT_EQ(DecoderCv(29), value);  // the interface stored it either way
    ++value;
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, BackToTheBoardAfterLgbAndAnotherPortReads) {
  Pick("ButtonLGB");
  Choose("Ports");
  Find<QAbstractButton>("ButtonCOM2")->click();
  EXPECT_EQ(Port().Port(), "COM2");
  EXPECT_FALSE(Shown("Portbox"));
  Pick("ButtonQARN");
  EXPECT_EQ(Port().OpenEvents(), kBoardEvents);
  ReadCv("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  WriteCv("29", "9");
  EXPECT_EQ(Result(), "CV Nr 29=9 best\u00e4tigt");
  EXPECT_EQ(DecoderCv(29), 9);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, BackFromLgbTheResetsRepeatAtOnce) {
  for (const char* button : {"ButtonQARN", "ButtonBooster"}) {
    SCOPED_TRACE(button);
    Pick("ButtonLGB");
    Pick(button);
    Track().ClearLog();
    engine_->VirtualTime()->Pass(100ms);
    EXPECT_GE(Packets({0x00, 0x00}), 5);
    EXPECT_EQ(Count(TrackLogEntry::kBadPacket), 0);
    EXPECT_TRUE(Track().Powered());
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, BareBoosterTakesReadingAllAwayUntilTheBoard) {
  struct Case {
    const char* name;
    bool file_first;
  };
  for (const Case& c : {Case{"file, then booster", true}, Case{"booster, then file", false}}) {
    SCOPED_TRACE(c.name);
    const std::string file = File("lok.DEC", "*dir\r\n1 0 Adresse\r\n");
    if (c.file_first) Open(file);
    Pick("ButtonBooster");
    if (!c.file_first) Open(file);
    EXPECT_FALSE(Enabled("leseAlleCVs"));
    EXPECT_FALSE(Enabled("leseCV"));
    Pick("ButtonQARN");
    EXPECT_TRUE(Enabled("leseAlleCVs"));
    Choose("leseAlleCVs");
    EXPECT_EQ(Result(), "0 Fehler beim Auslesen");
    EXPECT_EQ(SheetLines(), QStringList({"*dir", "1     3 Adresse", ""}));
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(EngineFlowsWindowTest, FactoryResetBringsTheDecoderBackToItsDefaults) {
  struct Case {
    const char* name;
    std::function<void()> before;
  };
  const Case cases[] = {
      {"first command", [] {}},
      {"after a read", [this] { ReadCv("29"); }},
      {"after driving", [this] {
         Choose("Lokprobier");
         Drive(5);
         engine_->VirtualTime()->Pass(100ms);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.before();
    SetDecoderCv(1, 10);
    SetDecoderCv(3, 77);
    SetDecoderCv(29, 38);
    Choose("Reset1");
    Track().ClearLog();
    Click(Find("ResetOK"));
    bool reset_seen = false;
    for (const std::string& meaning : ServiceMeanings()) reset_seen |= meaning.find("factory reset") != std::string::npos;
    EXPECT_TRUE(reset_seen);
    for (int cv : {1, 3, 29}) EXPECT_EQ(DecoderCv(cv), sim::DecoderModel::DefaultCv(cv)) << "CV " << cv;
    EXPECT_FALSE(Track().Powered());
  }
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
