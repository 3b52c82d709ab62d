// JMRI rosters and the track log as the user meets them in the window: a roster
// imported, the decoder read into it on the simulated track and exported again; the
// "Protokoll" window following a CV read, with and without "nur Befehle".

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/track_log_lines.h"
#include "sim/simulated_track.h"
#include "ui/tests/form1_fixture.h"
#include "ui/track_log_window.h"

namespace qarn2::ui {
namespace {

using namespace std::chrono_literals;

// The user at the dialogs: each roster dialog answers once with its file.
struct RosterDialogs : ScriptedOpen {
  std::optional<std::string> ChooseRosterOpen(QWidget*, const std::string&) override {
    return std::exchange(roster, std::nullopt);
  }
  std::optional<std::string> ChooseRosterSave(QWidget*, const std::string&, const std::string& name) override {
    suggested = name;
    return std::exchange(export_to, std::nullopt);
  }
  void ShowNotes(QWidget*, const std::string& title, const std::vector<std::string>& lines) override {
    notes_title = title;
    notes = lines;
  }

  std::optional<std::string> roster, export_to;
  std::string suggested, notes_title;
  std::vector<std::string> notes;
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A roster file as JMRI writes one: umlauts, an indexed CV and a value out of range.
const char kRoster[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<?xml-stylesheet type="text/xsl" href="/xml/XSLT/locomotive.xsl"?>
<locomotive-config xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="http://jmri.org/xml/schema/locomotive-config.xsd">
  <locomotive id="K&#246;f II" roadName="DB" roadNumber="323 447" dccAddress="3" comment="Gleisbau">
    <decoder model="Test" family="Test" comment="" />
    <locoaddress><dcclocoaddress number="3" longaddress="no" /><number>3</number><protocol>dcc_short</protocol></locoaddress>
    <values>
      <decoderDef>
        <varValue item="Short Address" value="3" />
      </decoderDef>
      <CVvalue name="1" value="3" />
      <CVvalue name="2" value="4" />
      <CVvalue name="3" value="20" />
      <CVvalue name="5" value="300" />
      <CVvalue name="16.2.257" value="1" />
      <CVvalue name="29" value="6" />
    </values>
  </locomotive>
</locomotive-config>
)";

class RosterWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    dialogs_.reset(script_ = new RosterDialogs);
    Start();
  }
  std::string Path(const char* name) const { return folder_.filePath(name).toStdString(); }
  QString SheetText() const { return Find<QPlainTextEdit>("Decoder")->toPlainText(); }
  bool Enabled(const char* item) const { return Find<QAction>(item)->isEnabled(); }
  void SetDecoderCv(int number, int value) {
    auto lock = Track().Lock();
    Track().Decoder().SetCv(number, static_cast<std::uint8_t>(value));
  }

  QTemporaryDir folder_;
  RosterDialogs* script_ = nullptr;
};

TEST_F(RosterWindowTest, ImportReadAllAndExportGiveTheDecodersValues) {
  const std::string roster = Path("koef.xml");
  std::ofstream(roster, std::ios::binary) << kRoster;
  Find<QPlainTextEdit>("Decoder")->setPlainText("*pag\nalte Lok\n1 5\n");

  script_->roster = roster;
  Choose("JmriImport");
  EXPECT_EQ(SheetText(), QString::fromUtf8("*dir\nK\u00f6f II (DB 323 447)\n1     3 \n2     4 \n3    20 \n29    6 \n"));
  EXPECT_EQ(form_->State().ProgrammingMode, "dir");
  // Unsaved, under no name: "speichern" would replace another file.
  EXPECT_EQ(form_->DecoderFileName(), "");
  EXPECT_FALSE(Enabled("SpeichernDecoder"));
  EXPECT_TRUE(Enabled("SpeichernunterDecoder"));
  EXPECT_TRUE(Enabled("leseAlleCVs"));
  EXPECT_TRUE(form_->windowTitle().contains(QString::fromUtf8("K\u00f6f II")));
  ASSERT_EQ(script_->notes.size(), 2u);
  EXPECT_EQ(script_->notes[0], "Zeile 14: CV 5 hat den Wert \u201E300\u201C, nicht 0..255, ausgelassen");
  EXPECT_NE(script_->notes[1].find("\u201E16.2.257\u201C"), std::string::npos) << script_->notes[1];
  EXPECT_TRUE(messages_.empty());

  // The decoder holds other values than the roster: reading brings them into the sheet.
  SetDecoderCv(2, 77);
  SetDecoderCv(3, 88);
  SetDecoderCv(29, 38);
  Choose("leseAlleCVs");
  EXPECT_EQ(Result(), "0 Fehler beim Auslesen");

  const std::string exported = Path("export.xml");
  script_->export_to = exported;
  Choose("JmriExport");
  EXPECT_EQ(script_->suggested, "K\u00f6f II.xml");
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  std::map<int, int> values;
  QXmlStreamReader xml(QByteArray::fromStdString(ReadBytes(exported)));
  QString id;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == u"locomotive") id = xml.attributes().value("id").toString();
    if (xml.name() == u"CVvalue") {
      values[xml.attributes().value("name").toInt()] = xml.attributes().value("value").toInt();
    }
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_EQ(id, QString::fromUtf8("K\u00f6f II"));
  EXPECT_EQ(values, (std::map<int, int>{{1, 3}, {2, 77}, {3, 88}, {29, 38}}));
  // Where they went, and how many.
  EXPECT_EQ(script_->notes_title, "JMRI-Roster exportiert");
  ASSERT_FALSE(script_->notes.empty());
  EXPECT_EQ(script_->notes[0], std::to_string(values.size()) + " CV-Werte nach " +
                                   std::filesystem::canonical(exported).string() + " geschrieben");
}

TEST_F(RosterWindowTest, AFileThatIsNoRosterOrHasNoCvValueChangesNothing) {
  const std::string bad = Path("bad.xml");
  std::ofstream(bad, std::ios::binary) << "<locomotive-config><locomotive id=\"x\"></values></locomotive-config>";
  Find<QPlainTextEdit>("Decoder")->setPlainText("Lok\n29 6\n");
  script_->roster = bad;
  Choose("JmriImport");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("ist kein g\u00fcltiges XML: Zeile 1"), std::string::npos) << messages_[0];
  EXPECT_EQ(SheetText(), "Lok\n29 6\n");

  std::ofstream(bad, std::ios::binary) << "<locomotive-config><locomotive id=\"x\"><values/></locomotive></locomotive-config>";
  script_->roster = bad;
  Choose("JmriImport");
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_NE(messages_[1].find("enth\u00e4lt keinen CV-Wert, der sich importieren l\u00e4sst"), std::string::npos);
  EXPECT_EQ(SheetText(), "Lok\n29 6\n");
}

class TrackLogWindowTest : public RosterWindowTest {
 protected:
  TrackLogWindow* OpenLog() {
    Choose("Protokoll");
    auto* window = form_->findChild<TrackLogWindow*>("Protokoll");
    EXPECT_NE(window, nullptr);
    if (window) {
      EXPECT_TRUE(window->isVisible());
    }
    return window;
  }
  static QStringList Lines(TrackLogWindow* window) {
    return window->List()->toPlainText().split('\n', Qt::SkipEmptyParts);
  }
};

TEST_F(TrackLogWindowTest, ACvReadShowsItsBurstsAndAcknowledgesInOrder) {
  TrackLogWindow* window = OpenLog();
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->isModal());
  window->Clear();
  Choose("leseCV");
  Enter("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  window->Poll();
  const QStringList lines = Lines(window);

  // CV 29 = 6: bits 1 and 2 are set, and each of their verifies is acknowledged
  // before the next bit's packets; the whole byte's verify last, acknowledged too.
  const auto first = [&](const QString& text, qsizetype from = 0) {
    for (qsizetype i = from; i < lines.size(); ++i) {
      if (lines[i].contains(text)) return i;
    }
    return qsizetype{-1};
  };
  qsizetype at = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const bool set = (6 >> bit) & 1;
    const qsizetype verify = first(QString("verify CV 29 bit %1 = 1 (%2)").arg(bit).arg(set ? "match" : "no match"), at);
    ASSERT_GE(verify, at) << "bit " << bit;
    const qsizetype ack = first("acknowledge", verify);
    // Where the next verify (the next bit's, or the whole byte's) begins.
    qsizetype next = -1;
    const QString this_bit = QString("bit %1 ").arg(bit);
    for (qsizetype i = verify; i < lines.size() && next < 0; ++i) {
      if (lines[i].contains("verify CV 29") && !lines[i].contains(this_bit)) next = i;
    }
    if (set) {
      EXPECT_TRUE(ack > verify && (next < 0 || ack < next)) << "bit " << bit;
    } else {
      EXPECT_TRUE(ack < 0 || (next >= 0 && ack > next)) << "bit " << bit;
    }
    at = verify;
  }
  const qsizetype byte = first("verify CV 29 = 6 (match)", at);
  ASSERT_GT(byte, at);
  EXPECT_GT(first("acknowledge", byte), byte);

  // The list is the log as the tool's trace prints it, line for line: the resets
  // between the bursts stand as runs with their counts.
  QStringList traced;
  for (const engine::TrackLogLine& line : engine::CollapseLog(Track().Log())) {
    traced << QString::fromStdString(engine::FormatLogLine(line));
  }
  EXPECT_EQ(lines, traced);
  EXPECT_FALSE(lines.filter(QString::fromUtf8("reset \u00D7")).isEmpty());

  // "nur Befehle" leaves the resets out, not the bursts; saved, the file holds the
  // lines as listed, either way.
  QCheckBox* commands_only = window->CommandsOnly();
  for (const bool only : {false, true}) {
    if (commands_only->isChecked() != only) commands_only->click();
    const QStringList listed = Lines(window);
    EXPECT_EQ(listed.filter("  reset").isEmpty(), only);
    EXPECT_EQ(listed.filter("service: "), lines.filter("service: "));
    const std::string saved = Path(only ? "befehle.txt" : "protokoll.txt");
    window->SaveTo(saved);
    // The outcome shows once the window's timer has looked.
    for (int i = 0; i < 300 && !window->Status()->text().startsWith("gespeichert"); ++i) {
      std::this_thread::sleep_for(10ms);
      QCoreApplication::processEvents();
    }
    EXPECT_EQ(window->Status()->text(), QString::fromStdString("gespeichert: " + saved));
    EXPECT_EQ(QString::fromStdString(ReadBytes(saved)).split('\n', Qt::SkipEmptyParts), listed);
  }

  // "Leeren": only what comes after it.
  window->findChild<QPushButton*>("ProtokollLeeren")->click();
  EXPECT_TRUE(window->List()->toPlainText().isEmpty());
  Enter("8");
  window->Poll();
  const QStringList after = Lines(window);
  ASSERT_FALSE(after.isEmpty());
  for (const QString& line : after) EXPECT_FALSE(line.contains("CV 29")) << line.toStdString();
  EXPECT_TRUE(std::any_of(after.begin(), after.end(), [](const QString& l) { return l.contains("verify CV 8 = 13"); }));
}

}  // namespace
}  // namespace qarn2::ui
