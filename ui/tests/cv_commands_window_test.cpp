// The CV commands as the user runs them from the window: the CV box, reading and
// writing the whole sheet, the factory reset, against the simulated decoder.

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/decoder_model.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

class CvCommandsWindowTest : public Form1Fixture {
 protected:
  void SetUp() override { Start(); }

  QPlainTextEdit* Sheet() const { return Find<QPlainTextEdit>("Decoder"); }
  QString Caption() const { return Find<QGroupBox>("GroupCVRW")->title(); }
  QString Prompt() const { return Find<QLabel>("CVLabel1")->text(); }
  void SetDecoderCv(int number, int value) {
    auto lock = Track().Lock();
    Track().Decoder().SetCv(number, static_cast<std::uint8_t>(value));
  }
  // What the decoder made of the service-mode packets since the log was cleared; only
  // the copies it acted on with `acted_only`.
  std::vector<std::string> ServicePackets(bool acted_only = false) const {
    std::vector<std::string> seen;
    for (const TrackLogEntry& e : Track().Log()) {
      const bool acted = e.text.find("(first copy)") == std::string::npos &&
                         e.text.find("(repeat)") == std::string::npos;
      if (e.text.starts_with("service:") && (acted || !acted_only)) seen.push_back(e.text);
    }
    return seen;
  }
  void SetSheet(const char* utf8) { Sheet()->setPlainText(QString::fromUtf8(utf8)); }
  QStringList SheetLines() const { return Sheet()->toPlainText().split('\n'); }
  bool Enabled(const char* item) const { return Find<QAction>(item)->isEnabled(); }
};

TEST_F(CvCommandsWindowTest, TheBoxControlsStayInsideTheBoxAndHoldTheirLongestTexts) {
  struct Control {
    const char* name;
    const char* longest_text;
  };
  const Control controls[] = {
      {"CVLabel1", "schreibe CV 1024 = 255"},
      {"CVedit", "1024"},
      {"CVResult", "CV 1024 keine Best\u00e4tigung"},
      {"CVRWEnde", "ENDE"},
  };
  auto* box = Find<QGroupBox>("GroupCVRW");
  const QRect inside(QPoint(0, box->fontMetrics().height()), box->size());
  std::vector<QRect> taken;
  for (const Control& c : controls) {
    SCOPED_TRACE(c.name);
    QWidget* w = Find(c.name);
    EXPECT_EQ(w->parentWidget(), box);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(inside.contains(w->geometry())) << w->geometry().x() << "," << w->geometry().y();
    for (const QRect& other : taken) EXPECT_FALSE(other.intersects(w->geometry()));
    taken.push_back(w->geometry());
    EXPECT_LE(w->fontMetrics().horizontalAdvance(QString::fromUtf8(c.longest_text)), w->width());
    EXPECT_EQ(w->font().pixelSize(), 11);
  }
  EXPECT_EQ(Find<QLabel>("CVLabel1")->text(), "eingeben:");
  EXPECT_EQ(Entry()->text(), "");
  EXPECT_EQ(Find<QLabel>("CVResult")->text(), "Ergebnis:");
  EXPECT_EQ(Find<QAbstractButton>("CVRWEnde")->text(), "ENDE");
}

TEST_F(CvCommandsWindowTest, ReadingSingleCvs) {
  Choose("leseCV");
  EXPECT_EQ(Caption(), "CV- Wert lesen");
  EXPECT_EQ(Prompt(), "CV- Nr eingeben:");
  EXPECT_EQ(Result(), "");
  for (const char* name : {"GroupCVRW", "CVLabel1", "CVedit", "CVResult", "CVRWEnde"}) {
    EXPECT_TRUE(Shown(name)) << name;
  }
  EXPECT_EQ(form_->focusWidget(), Entry());
  EXPECT_TRUE(Track().Powered());

  Enter("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  EXPECT_EQ(Entry()->text(), "29");  // ready to read the same CV again

  // CV 1 is the try-outs' address; the keypad's Enter works as well.
  SetDecoderCv(1, 17);
  Entry()->setText("1");
  PressEnter(Entry(), Qt::Key_Enter);
  EXPECT_EQ(Result(), "CV Nr 1 = 17");
  EXPECT_EQ(form_->State().LocoAddress, 17);

  // Register mode reaches CV 1..8 only.
  Choose("Progmodew");
  Find<QAbstractButton>("ProgReg")->click();
  Choose("leseCV");
  Enter("29");
  EXPECT_EQ(Result(), "    nicht lesbar");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CvCommandsWindowTest, WritingSingleCvs) {
  SetDecoderCv(29, 2);
  Choose("SchreibeCV");
  EXPECT_EQ(Caption(), "CV- Variable schreiben");
  EXPECT_EQ(form_->focusWidget(), Entry());
  Enter("29");
  EXPECT_EQ(Caption(), "CV Nr 29 schreiben");
  EXPECT_EQ(Prompt(), "CV- Wert eingeben:");
  EXPECT_EQ(Entry()->text(), "");
  Enter("6");
  EXPECT_EQ(Result(), "CV Nr 29=6 best\u00e4tigt");
  EXPECT_EQ(DecoderCv(29), 6);
  // Back at the CV step for the next one.
  EXPECT_EQ(Caption(), "CV- Variable schreiben");
  EXPECT_EQ(Prompt(), "CV- Nr eingeben:");
  EXPECT_EQ(Entry()->text(), "");

  // CV 7 is read-only: no acknowledge.
  Enter("7");
  Enter("99");
  EXPECT_EQ(Result(), "CV 7 keine Best\u00e4tigung");
  EXPECT_EQ(DecoderCv(7), sim::DecoderModel::DefaultCv(7));

  // CV 1 becomes the try-outs' address even when the decoder does not confirm.
  {
    auto lock = Track().Lock();
    Track().Decoder().SetAckPolicy(sim::AckPolicy::kNeverAfterWrite);
  }
  Enter("1");
  Enter("9");
  EXPECT_EQ(Result(), "CV 1 keine Best\u00e4tigung");
  EXPECT_EQ(form_->State().LocoAddress, 9);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CvCommandsWindowTest, EntriesOutOfRangeAreClearedAndNothingIsSent) {
  Choose("leseCV");
  Track().ClearLog();
  for (const char* entry : {"0", "1025", "abc", ""}) {
    SCOPED_TRACE(entry);
    Enter(entry);
    EXPECT_EQ(Entry()->text(), "");
    EXPECT_EQ(Caption(), "CV- Wert lesen");
  }
  EXPECT_TRUE(ServicePackets().empty());

  Choose("SchreibeCV");
  Enter("1025");
  EXPECT_EQ(Entry()->text(), "");
  EXPECT_EQ(Prompt(), "CV- Nr eingeben:");
  Enter("29");
  for (const char* value : {"300", "-1", "x"}) {
    SCOPED_TRACE(value);
    Enter(value);
    EXPECT_EQ(Entry()->text(), "");
    EXPECT_EQ(Caption(), "CV Nr 29 schreiben");  // still waiting for the value
    EXPECT_EQ(Prompt(), "CV- Wert eingeben:");
  }
  EXPECT_TRUE(ServicePackets().empty());
  Enter("38");
  EXPECT_EQ(DecoderCv(29), 38);
}

TEST_F(CvCommandsWindowTest, EnterInTheSheetRunsTheBoxStepAndStillBreaksTheLine) {
  Choose("leseCV");
  Enter("5");
  EXPECT_EQ(Result(), "CV Nr 5 = 255");

  SetDecoderCv(5, 200);
  SetSheet("5 255 Vmax");
  Sheet()->moveCursor(QTextCursor::End);
  PressEnter(Sheet());
  EXPECT_EQ(Result(), "CV Nr 5 = 200");  // the entry's CV, not the sheet's line
  EXPECT_EQ(Sheet()->toPlainText(), "5 255 Vmax\n");

  // Other keys only type; with the box closed Enter in the sheet is a line break
  // and nothing else: no hidden step, nothing sent, the track stays without power.
  const sim::SimTime before = Clock().Now();
  Type(Sheet(), "ab");
  EXPECT_EQ(Clock().Now(), before);
  Click(Find("CVRWEnde"));
  EXPECT_FALSE(Shown("GroupCVRW"));
  EXPECT_FALSE(Shown("CVedit"));
  EXPECT_FALSE(Track().Powered());
  Track().ClearLog();
  SetDecoderCv(5, 201);
  PressEnter(Sheet());
  EXPECT_EQ(Result(), "CV Nr 5 = 200");
  EXPECT_EQ(Count(sim::TrackLogEntry::kPacket), 0);
  EXPECT_FALSE(Track().Powered());
  EXPECT_EQ(Sheet()->toPlainText(), "5 255 Vmax\nab\n");
}

// While a CV command runs, what it would refuse is grey and the reset's "Ja" with it;
// after, each is as before. An Enter into the running read is refused with a word.
TEST_F(CvCommandsWindowTest, WhatARunningCommandRefusesIsNotOffered) {
  const char* const refused[] = {"OeffnenDecoder", "Decoderwahl",    "SpeichernunterDecoder", "druckenDecoder",
                                 "JmriImport",     "JmriExport",     "leseAlleCVs",           "schreibealleCVs"};
  std::map<std::string, bool> before;
  for (const char* item : refused) before[item] = Enabled(item);
  ASSERT_TRUE(before["OeffnenDecoder"]);
  std::map<std::string, bool> meanwhile;
  bool reset_offered = true;
  QString refusal;
  Choose("leseCV");
  on_tick_ = [&] {
    if (!refusal.isEmpty()) return;
    for (const char* item : refused) meanwhile[item] = Enabled(item);
    reset_offered = Find<QPushButton>("ResetOK")->isEnabled();
    Enter("1");
    refusal = Result();
  };
  Enter("29");
  on_tick_ = nullptr;
  for (const char* item : refused) EXPECT_FALSE(meanwhile[item]) << item;
  EXPECT_FALSE(reset_offered);
  EXPECT_EQ(refusal, QString::fromUtf8("Bitte warten, der Befehl l\u00e4uft noch"));
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  for (const char* item : refused) EXPECT_EQ(Enabled(item), before[item]) << item;
  EXPECT_TRUE(Find<QPushButton>("ResetOK")->isEnabled());
}

// What may stand beside the open CV box (opened before it or after) never covers it,
// and is back in its place once the box is closed.
TEST_F(CvCommandsWindowTest, NothingBesideTheOpenCvBoxCoversIt) {
  const char* const beside[] = {"Portbox", "Resetbox", "Image1"};
  std::map<std::string, QRect> home;
  for (const char* name : beside) home[name] = Find(name)->geometry();
  Choose("Ports");
  Choose("leseCV");
  Choose("Anschlsse");
  Choose("Reset1");
  const QRect box = Find("GroupCVRW")->geometry();
  ASSERT_TRUE(Shown("GroupCVRW"));
  for (const char* name : beside) {
    EXPECT_TRUE(Shown(name)) << name;
    EXPECT_FALSE(Find(name)->geometry().intersects(box)) << name;
    EXPECT_TRUE(form_->centralWidget()->rect().contains(Find(name)->geometry())) << name;
  }
  Find<QAbstractButton>("CVRWEnde")->click();
  ASSERT_FALSE(Shown("GroupCVRW"));
  for (const char* name : beside) EXPECT_EQ(Find(name)->geometry(), home[name]) << name;
  Find<QAbstractButton>("ResetNot")->click();
}

TEST_F(CvCommandsWindowTest, ReadingAllCvsRewritesTheNumberedLines) {
  SetDecoderCv(2, 123);
  form_->State().LocoAddress = 42;
  SetSheet(
      "*dir\n"
      "Testdecoder f\u00fcr Loks\n"
      "1 3 (Adresse)\n"
      "2 0 Anfahrspannung\n"
      "4 0 Verz\u00f6gerung\n"
      "29 6 Konfiguration\n"
      "67\n"
      "1000 Ende\n"
      "Bemerkung: 5 Werte");
  Find<QAction>("leseAlleCVs")->setEnabled(true);
  Choose("leseAlleCVs");
  EXPECT_EQ(SheetLines(), QStringList({
                              "*dir",
                              "Testdecoder f\u00fcr Loks",
                              "1     3 (Adresse)",
                              "2   123 Anfahrspannung",
                              "4     3 Verz\u00f6gerung",
                              "29    6 Konfiguration",
                              "67    9 ",
                              "1000   0 Ende",
                              "Bemerkung: 5 Werte",
                          }));
  EXPECT_EQ(Caption(), "Decoder auslesen");
  EXPECT_EQ(Prompt(), "lese CV 1000");
  EXPECT_EQ(Result(), "0 Fehler beim Auslesen");
  EXPECT_TRUE(Shown("CVRWEnde"));
  EXPECT_FALSE(Shown("CVedit"));
  EXPECT_EQ(form_->State().LocoAddress, 42);
  EXPECT_EQ(form_->State().SpeedTable[0], 9);
  EXPECT_TRUE(Enabled("Kennlinie"));
  EXPECT_TRUE(Enabled("schreibealleCVs"));

  // A sheet without CV lines takes both items away again.
  SetSheet("*dir\nnur Text");
  Choose("leseAlleCVs");
  EXPECT_EQ(Result(), "0 Fehler beim Auslesen");
  EXPECT_FALSE(Enabled("Kennlinie"));
  EXPECT_FALSE(Enabled("schreibealleCVs"));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CvCommandsWindowTest, WritingAllCvsTakesTheValuesOfTheSheet) {
  const char* const sheet =
      "*dir\n"
      "Titel\n"
      "2 50 Anfahrspannung\n"
      "29    ? Konfiguration\n"
      "29 9\n"
      "7 99 Version\n"
      "3 7 Beschleunigung";
  SetSheet(sheet);
  Track().ClearLog();
  Find<QAction>("schreibealleCVs")->setEnabled(true);
  Choose("schreibealleCVs");
  EXPECT_EQ(Sheet()->toPlainText(), QString::fromUtf8(sheet));
  EXPECT_EQ(DecoderCv(2), 50);
  EXPECT_EQ(DecoderCv(29), 9);
  EXPECT_EQ(DecoderCv(3), 7);
  EXPECT_EQ(ServicePackets(true), (std::vector<std::string>{
                                       "service: write CV 2 = 50 (stored)",
                                       "service: write CV 29 = 9 (stored)",
                                       "service: write CV 7 = 99 (refused: read-only)",
                                       "service: write CV 3 = 7 (stored)",
                                   }));
  EXPECT_EQ(Caption(), "Decoder programmieren");
  EXPECT_EQ(Prompt(), "schreibe CV 3 = 7");
  EXPECT_EQ(Result(), "1 mal keine Best\u00e4tigung");
  EXPECT_FALSE(Shown("CVedit"));

  SetSheet("2 51");
  Choose("schreibealleCVs");
  EXPECT_EQ(Result(), "0 Fehler beim Schreiben");
  EXPECT_EQ(DecoderCv(2), 51);
}

TEST_F(CvCommandsWindowTest, ReadingAllStopsAfterTheCvInProgress) {
  // What the user does while "read all" is reading CV 29.
  struct Interruption {
    const char* name;
    std::function<void()> act;
    bool track_on;  // afterwards
  };
  const Interruption cases[] = {
      {"ENDE", [this] { Click(Find("CVRWEnde")); }, false},
      {"Lokdecoder", [this] { Find<QAction>("Lokprobier")->trigger(); }, true},
  };
  Find<QAction>("leseAlleCVs")->setEnabled(true);
  for (const Interruption& c : cases) {
    SCOPED_TRACE(c.name);
    SetSheet("1 0 A\n29 0 B\n8 0 C");
    bool done = false;
    on_tick_ = [&] {
      if (!done && Prompt() == "lese CV 29") {
        done = true;
        c.act();
      }
    };
    Choose("leseAlleCVs");
    on_tick_ = nullptr;
    ASSERT_TRUE(done);
    // The scan of CV 29 stops unconfirmed and the line keeps its value; CV 8 is left
    // alone.
    EXPECT_EQ(SheetLines(), QStringList({"1     3 A", "29 0 B", "8 0 C"}));
    EXPECT_EQ(Prompt(), "lese CV 29");
    EXPECT_EQ(Result(), "1 Fehler beim Auslesen");
    EXPECT_FALSE(Shown("GroupCVRW"));
    EXPECT_EQ(Track().Powered(), c.track_on);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CvCommandsWindowTest, FactoryResetOnlyWhenConfirmed) {
  // A read first: the track is on and the resets go on in the background.
  Choose("leseCV");
  Enter("8");
  EXPECT_EQ(Result(), "CV Nr 8 = 13");
  SetDecoderCv(29, 38);
  SetDecoderCv(1, 10);

  // "ne, doch nicht": only the question goes; the resets go on, the decoder keeps its CVs.
  Choose("Reset1");
  EXPECT_TRUE(Shown("Resetbox"));
  EXPECT_TRUE(Shown("GroupCVRW"));  // the other panels stay
  EXPECT_EQ(Link().BackgroundStream, engine_->Streams().ResetBurst);
  Track().ClearLog();
  Click(Find("ResetNot"));
  EXPECT_FALSE(Shown("Resetbox"));
  engine_->VirtualTime()->Pass(200ms);
  EXPECT_GT(Count(TrackLogEntry::kPacket), 0);
  EXPECT_TRUE(ServicePackets().empty());
  EXPECT_TRUE(Track().Powered());
  EXPECT_EQ(DecoderCv(29), 38);

  // "Ja": CV 8 := 8 by register, three copies in a row, and the track off 5 ticks
  // after they were handed to the port.
  Choose("Reset1");
  Track().ClearLog();
  Click(Find("ResetOK"));
  EXPECT_FALSE(Shown("Resetbox"));
  EXPECT_EQ(DecoderCv(29), 6);
  EXPECT_EQ(DecoderCv(1), 3);
  EXPECT_FALSE(Track().Powered());
  std::vector<TrackLogEntry> packets;
  std::vector<sim::SimTime> power_changes;
  for (const TrackLogEntry& e : Track().Log()) {
    if (e.kind == TrackLogEntry::kPacket) packets.push_back(e);
    if (e.kind == TrackLogEntry::kPower) power_changes.push_back(e.time);
  }
  const std::vector<std::uint8_t> cv8_is_8{0x7F, 0x08, 0x77};
  const auto is_cv8 = [&](const TrackLogEntry& e) { return e.bytes == cv8_is_8; };
  const auto first = std::find_if(packets.begin(), packets.end(), is_cv8);
  ASSERT_LE(first - packets.begin() + 3, std::ssize(packets));
  EXPECT_EQ(std::count_if(packets.begin(), packets.end(), is_cv8), 3);
  EXPECT_TRUE(std::all_of(first, first + 3, is_cv8));  // one after the other
  ASSERT_EQ(power_changes.size(), 1u);  // the track off
  // The wait starts when the copies are handed over, just before the first goes out
  // (a copy takes 8 ms on the line).
  EXPECT_GE(power_changes[0] - first->time, 30ms);
  EXPECT_LE(power_changes[0] - first->time, 50ms);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CvCommandsWindowTest, FactoryResetAsTheFirstCommand) {
  // Nothing sent since the start: the question sets the resets going, so the decoder
  // takes the reset packet.
  SetDecoderCv(29, 38);
  Choose("Reset1");
  engine_->VirtualTime()->Pass(100ms);
  Click(Find("ResetOK"));
  EXPECT_EQ(DecoderCv(29), 6);
  EXPECT_FALSE(Track().Powered());
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
