// The choice of programming hardware as the user makes it in the window, and the CV
// commands through each choice, against the simulated track and LGB interface.

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "testsupport/station_script.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

const char* const kStartTitle = "QARN2       DCC- Decoder Service      Version 0.8";
const char* const kNoLgbTitle = "keine Verbindung zu LGB55045";
// The items a hardware choice switches.
const char* const kSwitched[] = {"leseCV",    "Lokprobier", "Weicheprobier", "Funktionsdecprobier",
                                 "Progmodew", "Reset1"};
const serial::TComEvents kBoardEvents{serial::evRxChar, serial::evTxEmpty, serial::evRing};
const serial::TComEvents kLgbEvents{serial::evRxChar, serial::evRxFlag, serial::evRLSD, serial::evRx80Full};

class HardwareChoiceWindowTest : public Form1Fixture {
 protected:
  void SetUp() override { Start(); }

  // Opens the panel with "Prog. Hardware" and clicks `button` in it.
  void Pick(const char* button) {
    Choose("HardwareWahl");
    Find<QAbstractButton>(button)->click();
  }
  void SetLgb(const sim::LgbSettings& settings) {
    auto lock = Track().Lock();
    Track().Lgb().SetSettings(settings);
  }
  // The enabled state of kSwitched, by name.
  std::map<std::string, bool> SwitchedItems() const {
    std::map<std::string, bool> states;
    for (const char* item : kSwitched) states[item] = Find<QAction>(item)->isEnabled();
    return states;
  }
  // The states of kSwitched: "Einzelne CV" (leseCV) and the other five.
  static std::map<std::string, bool> Items(bool single_read, bool the_rest) {
    std::map<std::string, bool> states;
    for (const char* item : kSwitched) states[item] = the_rest;
    states["leseCV"] = single_read;
    return states;
  }
  // What the LGB interface made of the messages since the log was cleared.
  std::vector<std::string> InterfaceLog() const {
    std::vector<std::string> seen;
    for (const TrackLogEntry& e : Track().Log()) {
      if (e.kind == TrackLogEntry::kLgb) seen.push_back(e.text);
    }
    return seen;
  }
  int Greetings() const {
    int n = 0;
    for (const std::string& text : InterfaceLog()) n += text == "greeting";
    return n;
  }
  std::string Title() const { return form_->windowTitle().toStdString(); }

  void ReadCv(const char* number) {
    Choose("leseCV");
    Enter(number);
  }
  void WriteCv(const char* number, const char* value) {
    Choose("SchreibeCV");
    Enter(number);
    Enter(value);
  }
};

TEST_F(HardwareChoiceWindowTest, ProgHardwareOffersFourChoicesAndHidesTheOtherPanels) {
  Choose("Progmodew");
  form_->State().AbortFlag = false;
  Choose("HardwareWahl");
  EXPECT_TRUE(form_->State().AbortFlag);
  EXPECT_FALSE(Shown("ProgmodeWahl"));
  EXPECT_FALSE(Shown("ProgDir"));
  auto* box = Find<QGroupBox>("Hardwarebox");
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->title(), "Programmierhardware");

  // Exactly the four offered buttons, one under the other inside the box.
  std::vector<QString> shown;
  int last_top = -1;
  for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
    if (!button->isVisible()) continue;
    shown.push_back(button->text());
    EXPECT_TRUE(box->rect().contains(button->geometry())) << button->text().toStdString();
    EXPECT_GT(button->y(), last_top);
    last_top = button->y() + button->height() - 1;
  }
  EXPECT_EQ(shown,
            (std::vector<QString>{"QARN/ Tesmora", "Nur Booster/ direkt", "LGB-Interface", "DCC-EX (USB)"}));
  EXPECT_TRUE(Find<QAbstractButton>("ButtonQARN")->isChecked());
}

TEST_F(HardwareChoiceWindowTest, EachChoiceSwitchesMenusPortAndBackgroundStream) {
  struct Case {
    const char* button;
    int kind;
    std::map<std::string, bool> items;
    serial::TBaudRate rate;
    bool lgb;
  };
  const std::map<std::string, bool> board = Items(true, true);
  const std::map<std::string, bool> booster = Items(false, true);
  const std::map<std::string, bool> lgb = Items(true, false);
  // Every change between the three, each way.
  const Case cases[] = {
      {"ButtonBooster", 1, booster, serial::br19200, false},
      {"ButtonQARN", 0, board, serial::br19200, false},
      {"ButtonLGB", 2, lgb, serial::br9600, true},
      {"ButtonBooster", 1, booster, serial::br19200, false},
      {"ButtonLGB", 2, lgb, serial::br9600, true},
      {"ButtonQARN", 0, board, serial::br19200, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.button);
    const sim::SimTime before = Clock().Now();
    Pick(c.button);
    EXPECT_GE(Clock().Now() - before, 390ms);  // the choice's wait
    EXPECT_EQ(Link().HardwareKind, c.kind);
    EXPECT_TRUE(Find<QAbstractButton>(c.button)->isChecked());
    EXPECT_FALSE(Shown("Hardwarebox"));
    EXPECT_FALSE(Shown(c.button));
    EXPECT_EQ(SwitchedItems(), c.items);
    EXPECT_TRUE(Find<QAction>("SchreibeCV")->isEnabled());
    EXPECT_EQ(Port().BaudRate(), c.rate);
    EXPECT_EQ(Port().Events(), c.lgb ? kLgbEvents : kBoardEvents);
    EXPECT_EQ(Link().BackgroundStream, c.lgb ? std::string() : engine_->Streams().LongResetStream);
    EXPECT_TRUE(Track().Powered());  // DTR raised by both set-ups
    EXPECT_EQ(Find<QLabel>("Label2")->text(), "dir");
    EXPECT_EQ(Title(), kStartTitle);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HardwareChoiceWindowTest, ClickOnTheCheckedChoiceRunsNothing) {
  for (const char* button : {"ButtonQARN", "ButtonLGB"}) {
    SCOPED_TRACE(button);
    Pick(button);  // the first time the choice of LGB runs; QARN is checked from the start
    Track().ClearLog();
    const sim::SimTime before = Clock().Now();
    const std::map<std::string, bool> items = SwitchedItems();
    Pick(button);
    EXPECT_EQ(Clock().Now(), before);
    EXPECT_TRUE(Shown("Hardwarebox"));
    EXPECT_TRUE(Shown(button));
    EXPECT_EQ(SwitchedItems(), items);
    EXPECT_TRUE(Track().Log().empty());  // no set-up: nothing written, no greeting
  }
}

TEST_F(HardwareChoiceWindowTest, LgbChoiceTakesTheDirectMode) {
  Choose("Progmodew");
  Find<QAbstractButton>("ProgPag")->click();
  ASSERT_EQ(Find<QLabel>("Label2")->text(), "pag");

  Pick("ButtonLGB");
  EXPECT_EQ(form_->State().ProgrammingMode, "dir");
  EXPECT_EQ(Find<QLabel>("Label2")->text(), "dir");
  EXPECT_TRUE(Find<QAbstractButton>("ProgDir")->isChecked());
  EXPECT_FALSE(Find<QAbstractButton>("ProgPag")->isChecked());
  EXPECT_FALSE(Shown("ProgmodeWahl"));
  EXPECT_FALSE(Find<QAction>("Progmodew")->isEnabled());

  // With "dir" already chosen the mode step still runs its wait: the choice's 40
  // ticks, the mode's 40 and one greeting's 10.
  Pick("ButtonQARN");
  const sim::SimTime before = Clock().Now();
  Pick("ButtonLGB");
  EXPECT_GE(Clock().Now() - before, 890ms);
  EXPECT_EQ(Find<QLabel>("Label2")->text(), "dir");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HardwareChoiceWindowTest, LgbGreetingAnsweredWithinThreeTries) {
  struct Case {
    const char* name;
    sim::SimTime greeting_delay;
    int greetings;  // sent before the answer was seen, or all three
    bool answered;
  };
  // A try waits 10 ticks; the title, once changed, stays, so the failure comes last.
  const Case cases[] = {
      {"at once", 10ms, 1, true},
      {"during the second try", 150ms, 2, true},
      {"too late", 400ms, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pick("ButtonQARN");
    SetLgb({.greeting_delay = c.greeting_delay});
    Track().ClearLog();
    Pick("ButtonLGB");
    EXPECT_EQ(Greetings(), c.greetings);
    EXPECT_EQ(Link().LgbHelloSeen, c.answered);
    EXPECT_EQ(Title(), c.answered ? kStartTitle : kNoLgbTitle);
    EXPECT_EQ(Link().HardwareKind, 2);
  }
  // The late answers still come and are answered; the title stays.
  engine_->VirtualTime()->Pass(1s);
  EXPECT_TRUE(Link().LgbHelloSeen);
  EXPECT_EQ(Title(), kNoLgbTitle);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HardwareChoiceWindowTest, SilentInterfaceIsNamedInTheTitleUntilAnAnswerOrOtherHardware) {
  SetLgb({.silent = true});
  Pick("ButtonLGB");
  EXPECT_EQ(Title(), kNoLgbTitle);
  EXPECT_FALSE(Link().LgbHelloSeen);
  EXPECT_EQ(Link().HardwareKind, 2);
  EXPECT_EQ(SwitchedItems(), Items(true, false));
  // Nothing is refused: requests simply get no reply.
  ReadCv("29");
  EXPECT_EQ(Result(), "    nicht lesbar");
  WriteCv("29", "9");
  EXPECT_EQ(Result(), "CV 29 keine Best\u00e4tigung");

  // The set-up is repeated only by choosing another button first, which puts the
  // title back; a silent interface names itself again, one that answers does not.
  Track().ClearLog();
  Pick("ButtonLGB");
  EXPECT_EQ(Greetings(), 0);
  Pick("ButtonBooster");
  EXPECT_EQ(Title(), kStartTitle);
  Pick("ButtonLGB");
  EXPECT_EQ(Title(), kNoLgbTitle);
  SetLgb({});
  Pick("ButtonQARN");
  Pick("ButtonLGB");
  EXPECT_TRUE(Link().LgbHelloSeen);
  EXPECT_EQ(Title(), kStartTitle);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HardwareChoiceWindowTest, BackToTheBoardTheResetsRepeatAgain) {
  Pick("ButtonLGB");
  Pick("ButtonQARN");
  EXPECT_EQ(Port().BaudRate(), serial::br19200);
  EXPECT_TRUE(Find<QLabel>("Image1")->accessibleDescription().contains("Kontakt 3"));
  // The repetition starts again with the next write, here the CV box's reset.
  Choose("leseCV");
  engine_->VirtualTime()->Pass(100ms);
  Track().ClearLog();
  engine_->VirtualTime()->Pass(200ms);
  EXPECT_GT(Count(TrackLogEntry::kPacket), 15);
  EXPECT_EQ(Count(TrackLogEntry::kBadPacket), 0);
  EXPECT_TRUE(InterfaceLog().empty());
  Enter("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HardwareChoiceWindowTest, DccExStationProgramsThroughItsCommandsAndBackToTheBoard) {
  Pick("ButtonDCCEX");
  EXPECT_EQ(Link().HardwareKind, link::kDccEx);
  // It reads, writes and resets; the try-outs and the modes are the station's own.
  std::map<std::string, bool> items = Items(true, false);
  items["Reset1"] = true;
  EXPECT_EQ(SwitchedItems(), items);
  EXPECT_EQ(Port().BaudRate(), serial::br115200);
  EXPECT_EQ(Link().StationBanner, "DCC-EX V-5.0.0 / MEGA / STANDARD_MOTOR_SHIELD G-SIM");
  EXPECT_EQ(Title(), kStartTitle);  // the wait's text is gone once the station answered
  EXPECT_TRUE(Find<QLabel>("Image1")->accessibleDescription().contains("USB-Kabel"));

  Track().ClearLog();
  ReadCv("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  WriteCv("29", "9");
  EXPECT_EQ(Result(), "CV Nr 29=9 best\u00e4tigt");
  EXPECT_EQ(DecoderCv(29), 9);
  Choose("Reset1");
  Click(Find("ResetOK"));
  EXPECT_EQ(DecoderCv(29), 6);
  engine_->VirtualTime()->Pass(100ms);  // the last command on its way
  // Text both ways, never a packet of the program's own.
  std::vector<std::string> commands;
  for (const TrackLogEntry& e : Track().Log()) {
    EXPECT_NE(e.kind, TrackLogEntry::kPacket) << e.text;
    if (e.kind == TrackLogEntry::kStation && e.text.starts_with("to the station: <")) {
      commands.push_back(e.text.substr(16, e.text.find('>') - 15));
    }
  }
  EXPECT_EQ(commands, (std::vector<std::string>{"<1 PROG>", "<R 29>", "<W 29 9>", "<W 8 8>", "<0 PROG>"}));
  EXPECT_GT(Count(TrackLogEntry::kStation), 5);  // the answers as well

  // Back to the board: its track signal again, at its rate.
  Pick("ButtonQARN");
  EXPECT_EQ(Port().BaudRate(), serial::br19200);
  EXPECT_TRUE(Find<QLabel>("Image1")->accessibleDescription().contains("Kontakt 3"));
  ReadCv("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  EXPECT_TRUE(messages_.empty());
}

// The window on a real port, with a station written apart from the program that is
// still booting when the station is chosen.
class IndependentStationWindowTest : public HardwareChoiceWindowTest {
 protected:
  void SetUp() override {
    options_.ports.Set("COM1", station_.Device());
    options_.virtual_time = false;
    Start();
  }
  testsupport::StationScript station_{{"--boot", "1.5"}};
};

TEST_F(IndependentStationWindowTest, ReadsAndWritesOnceTheStationHasBooted) {
  ASSERT_FALSE(station_.Device().empty()) << "python3 did not start the station";
  Pick("ButtonDCCEX");
  EXPECT_EQ(Title(), kStartTitle);
  WriteCv("29", "12");
  EXPECT_EQ(Result(), "CV Nr 29=12 best\u00e4tigt");
  ReadCv("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 12");
}

TEST_F(HardwareChoiceWindowTest, AStationOnAnotherPortIsWaitedForAsItRestarts) {
  Pick("ButtonDCCEX");
  Choose("Ports");
  Find<QAbstractButton>("ButtonCOM2")->click();
  EXPECT_EQ(Title(), kStartTitle);
  ReadCv("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
}

// Nothing at the far end answers at 115200 bit/s.
class SilentStationWindowTest : public HardwareChoiceWindowTest {
 protected:
  void SetUp() override {
    options_.track.dccex = false;
    Start();
  }
};

TEST_F(SilentStationWindowTest, LeavesTheTitleSayingSoAndReadsNothing) {
  const sim::SimTime before = Clock().Now();
  Pick("ButtonDCCEX");
  EXPECT_GE(Clock().Now() - before, 6s);  // 5 s for the banner, 1 s after <s>
  EXPECT_EQ(Title(), "keine Antwort der DCC-EX-Zentrale");
  ReadCv("29");
  EXPECT_EQ(Result(), "    nicht lesbar");
  Pick("ButtonQARN");
  EXPECT_EQ(Title(), kStartTitle);
}

TEST_F(HardwareChoiceWindowTest, BoardReadsAndBoosterOnlyWrites) {
  ReadCv("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");

  Pick("ButtonBooster");
  EXPECT_FALSE(Find<QAction>("leseCV")->isEnabled());
  // The simulated track still answers on RI, as a booster with a detector would.
  WriteCv("29", "9");
  EXPECT_EQ(Result(), "CV Nr 29=9 best\u00e4tigt");
  EXPECT_EQ(DecoderCv(29), 9);
  EXPECT_GT(Count(TrackLogEntry::kPacket), 0);
  EXPECT_TRUE(InterfaceLog().empty());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HardwareChoiceWindowTest, LgbInterfaceProgramsWithoutTrackSignal) {
  Pick("ButtonLGB");
  Track().ClearLog();
  // Opening the CV box sends nothing: no reset stream, which the interface would
  // take for stray bytes.
  Choose("leseCV");
  engine_->VirtualTime()->Pass(200ms);
  EXPECT_TRUE(Track().Log().empty());

  Enter("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  WriteCv("29", "9");
  EXPECT_EQ(Result(), "CV Nr 29=9 best\u00e4tigt");
  EXPECT_EQ(DecoderCv(29), 9);
  EXPECT_EQ(InterfaceLog(), (std::vector<std::string>{"read CV 29 = 6", "write CV 29 = 9 (stored)"}));
  // The interface names CVs up to 255 only.
  ReadCv("300");
  EXPECT_EQ(Result(), "    nicht lesbar");

  // The whole sheet goes through the interface as well.
  auto* sheet = Find<QPlainTextEdit>("Decoder");
  sheet->setPlainText("1 0 Adresse\n29 0 Konfiguration");
  Find<QAction>("leseAlleCVs")->setEnabled(true);
  Choose("leseAlleCVs");
  EXPECT_EQ(sheet->toPlainText(), "1     3 Adresse\n29    9 Konfiguration");
  sheet->setPlainText("2 50");
  Find<QAction>("schreibealleCVs")->setEnabled(true);
  Choose("schreibealleCVs");
  EXPECT_EQ(Result(), "0 Fehler beim Schreiben");
  EXPECT_EQ(DecoderCv(2), 50);

  EXPECT_EQ(Count(TrackLogEntry::kPacket), 0);
  EXPECT_EQ(Count(TrackLogEntry::kBadPacket), 0);
  for (const std::string& text : InterfaceLog()) EXPECT_EQ(text.find("dropped"), std::string::npos) << text;
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HardwareChoiceWindowTest, HiddenChoicesOnlyEnableTheSingleRead) {
  // The Lenz and PR1 buttons are never shown; checked by the program, they neither
  // wait nor touch the port, and switch on "Einzelne CV" only.
  struct Case {
    const char* button;
    int kind;
  };
  Pick("ButtonLGB");
  const std::map<std::string, bool> after_lgb = Items(true, false);
  for (const Case& c : {Case{"ButtonLenz", 3}, Case{"ButtonPR1", 4}}) {
    SCOPED_TRACE(c.button);
    Choose("HardwareWahl");
    EXPECT_FALSE(Shown(c.button));
    const sim::SimTime before = Clock().Now();
    Find<QAbstractButton>(c.button)->setChecked(true);
    EXPECT_EQ(Clock().Now(), before);
    EXPECT_EQ(Link().HardwareKind, c.kind);
    EXPECT_FALSE(Shown("Hardwarebox"));
    EXPECT_EQ(SwitchedItems(), after_lgb);
    EXPECT_EQ(Port().BaudRate(), serial::br9600);
    EXPECT_TRUE(Link().BackgroundStream.empty());
  }

  // After the booster they leave its five items on and read as the board does.
  Pick("ButtonBooster");
  Find<QAbstractButton>("ButtonLenz")->setChecked(true);
  EXPECT_EQ(SwitchedItems(), Items(true, true));
  ReadCv("29");
  EXPECT_EQ(Result(), "CV Nr 29 = 6");
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
