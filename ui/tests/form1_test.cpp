// The window as a whole: start-up, controls, menu, panels, ports.

#include "ui/form1.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <string>
#include <string_view>
#include <vector>

#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

using Form1Test = Form1Fixture;

TEST_F(Form1Test, StartUpLeavesTheBoardReadyOnCom1) {
  Start();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(form_->windowTitle().toStdString(), "QARN2       DCC- Decoder Service      Version 0.8");
  EXPECT_EQ(Find<QLabel>("Label2")->text(), "dir");
  EXPECT_EQ(form_->State().ProgrammingMode, "dir");
  EXPECT_EQ(form_->State().LocoAddress, 3);
  EXPECT_EQ(form_->State().SpeedSteps, 14);
  EXPECT_FALSE(form_->State().AbortFlag);
  EXPECT_EQ(Link().HardwareKind, 0);
  EXPECT_NE(Link().TxRequest, nullptr);
  // The three radio buttons the start-up checked.
  for (const char* name : {"ProgDir", "ButtonQARN", "ButtonCOM1"}) {
    EXPECT_TRUE(Find<QAbstractButton>(name)->isChecked()) << name;
  }
  // Three waits of 40 ticks before the window showed.
  EXPECT_GE(Clock().Now(), 3 * 390ms);
  EXPECT_LE(Clock().Now(), 3 * 400ms + 20ms);

  EXPECT_TRUE(Port().Connected());
  EXPECT_EQ(Port().Port(), "COM1");
  EXPECT_EQ(Port().BaudRate(), serial::br19200);
  EXPECT_EQ(Port().Events(), (serial::TComEvents{serial::evRxChar, serial::evTxEmpty, serial::evRing}));
  EXPECT_EQ(Link().BackgroundStream, engine_->Streams().LongResetStream);
  // The board's set-up switched the track on; reopening COM1 left DTR off again.
  // Nothing has been written yet.
  std::vector<std::string> power;
  for (const TrackLogEntry& e : Track().Log()) {
    if (e.kind == TrackLogEntry::kPower) power.push_back(e.text);
  }
  EXPECT_EQ(power, (std::vector<std::string>{"track power on", "track power off"}));
  EXPECT_FALSE(Track().Powered());
  EXPECT_EQ(Count(TrackLogEntry::kPacket), 0);
  // The first command that writes starts the repetition of the background stream.
  Link().SetDTR(true);
  Port().WriteText(engine_->Streams().ResetStream);
  engine_->VirtualTime()->Pass(100ms);
  // (The reset written first stands behind only 10 preamble bits after the idle line:
  // no decoder takes it. The repeated ones have 15.)
  EXPECT_GE(Count(TrackLogEntry::kPacket), 10);
  EXPECT_EQ(Count(TrackLogEntry::kBadPacket), 0);
}

struct ControlRow {
  const char* name;
  int left, top, width, height;
  bool shown;
  const char* text;
};

QString TextOf(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
  if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) return edit->toPlainText();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  return {};
}

TEST_F(Form1Test, ControlsStandWhereTheWindowPutsThem) {
  Start();
  const QString mode_caption = QString(31, ' ') + "Programmier- Mode" + QString(29, ' ');
  const ControlRow rows[] = {
      {"StaticText1", 8, 0, 98, 17, true, "Programmier- Mode:"},
      {"Label2", 112, 0, 32, 13, true, "dir"},
      {"Infolabel", 464, 8, 96, 13, false, nullptr},
      {"Image1", 320, 0, 353, 241, false, ""},
      {"Decoder", 56, 32, 569, 401, true, "Decoder"},
      {"GroupCVRW", 208, 64, 185, 129, false, "GroupCVRW"},
      {"Portbox", 368, 72, 113, 89, false, "Port"},
      {"Hardwarebox", 456, 152, 153, 169, false, "Programmierhardware"},
      {"ProgmodeWahl", 192, 112, 289, 161, false, nullptr},
      {"Steuerbox", 208, 64, 265, 329, false, "Decoder ausprobieren"},
      {"Kennlinienbox", 80, 40, 529, 377, false, "Geschwindigkeitskennlinie"},
      {"Resetbox", 72, 72, 185, 105, false, "Decoder- Factory- Reset"},
  };
  QWidget* client = form_->centralWidget();
  EXPECT_GE(client->y(), form_->menuBar()->height());  // the client area lies below the menu
  for (const ControlRow& row : rows) {
    SCOPED_TRACE(row.name);
    QWidget* w = Find(row.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget(), client);
    EXPECT_EQ(w->geometry(), QRect(row.left, row.top, row.width, row.height));
    EXPECT_EQ(w->isVisible(), row.shown);
    if (row.text != nullptr) {
      EXPECT_EQ(TextOf(w), QString::fromUtf8(row.text));
    }
    // The sheet has a font of its own.
    EXPECT_EQ(w->font().pixelSize(), std::string_view(row.name) == "Decoder" ? 13 : 11);
  }
  EXPECT_EQ(Find<QGroupBox>("ProgmodeWahl")->title(), mode_caption);
  // The maker's line fits its label.
  auto* info = Find<QLabel>("Infolabel");
  EXPECT_FALSE(info->text().isEmpty());
  EXPECT_LE(info->fontMetrics().horizontalAdvance(info->text()), info->width());
  EXPECT_EQ(Find<QLabel>("Image1")->pixmap().size(), QSize(351, 235));
  EXPECT_EQ(form_->frameGeometry().size(), QSize(696, 480));

  // The buttons of the panels, with their texts; all hidden with their panels.
  const std::pair<const char*, const char*> buttons[] = {
      {"ButtonCOM1", "COM1"}, {"ButtonCOM2", "COM2"}, {"ButtonPrinter", "Printer Port"},
      {"ButtonQARN", "QARN/ Tesmora"}, {"ButtonBooster", "Nur Booster/ direkt"},
      {"ButtonLGB", "LGB-Interface"}, {"ButtonLenz", "Lenz Interface"}, {"ButtonPR1", "Digitrax PR1"},
      {"ProgDir", "Direct Mode (dir) f\u00fcr alle modernen Decoder"},
      {"ProgDio", "Direct Mode ohme Bit- Manipulation"},
      {"ProgReg", "Register- Mode (alte Decoder mit nur 8 CVs)"},
      {"ProgPag", "Page Mode"},
      {"Progroc", "Lenz/ Roco alt (alte Lenz und Roco Decoder)"},
      {"ResetOK", "Ja"}, {"ResetNot", "ne, doch nicht"},
  };
  for (const auto& [name, text] : buttons) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Find<QAbstractButton>(name)->text(), QString::fromUtf8(text));
    EXPECT_FALSE(Shown(name));
  }
  // The mode buttons stand on the window itself, so they form one group.
  EXPECT_EQ(Find("Progroc")->parentWidget(), client);
}

struct MenuRow {
  const char* menu;
  const char* item;
  const char* caption;
  bool enabled;
};

TEST_F(Form1Test, MenuBarHoldsEveryItemWithItsStartState) {
  Start();
  const MenuRow rows[] = {
      {"Datei", "OeffnenDecoder", "Decoderdatei \u00f6ffnen", true},
      {"Datei", "SpeichernDecoder", "Decoderdatei speichern", false},
      {"Datei", "SpeichernunterDecoder", "Decoderdatei speichern unter", false},
      {"Datei", "druckenDecoder", "Decoderdatei drucken", false},
      {"Datei", "Druckereinrichten1", "Drucker einrichten", true},
      {"Datei", "ENDE", "ENDE", true},
      {"Datei", "JmriImport", "JMRI-Roster importieren...", true},
      {"Datei", "JmriExport", "JMRI-Roster exportieren...", true},
      {"Datei", "DefinitionSheet", "Decoderblatt aus Definition...", true},
      {"Bearbeiten", "Kennlinie", "Kennlinie", false},
      {"Decoder", "Decoderwahl", "Decoder w\u00e4hlen", true},
      {"Decoder", "Progmodew", "Prog-Mode w\u00e4hlen", true},
      {"Decoder", "Reset1", "Reset", true},
      {"Decoder", "Erkennen1", "Erkennen", true},
      {"CV auslesen", "leseCV", "Einzelne CV", true},
      {"CV auslesen", "leseAlleCVs", "Alle CVs", false},
      {"CV auslesen", "vergleicheCVs", "Vergleichen", false},
      {"CV Schreiben", "SchreibeCV", "Einzelne CV", true},
      {"CV Schreiben", "schreibealleCVs", "Alle CVs", false},
      {"Ausprobieren", "Lokprobier", "Lokdecoder", true},
      {"Ausprobieren", "Weicheprobier", "Weichendecoder", true},
      {"Ausprobieren", "Funktionsdecprobier", "Funktionsdecoder", true},
      {"Konfiguration", "HardwareWahl", "Prog. Hardware", true},
      {"Konfiguration", "Ports", "Ports", true},
      {"Info", "berQARN3", "\u00dcber QARN", true},
      {"Info", "Anschlsse", "Anschl\u00fcsse", true},
      {"Info", "Protokoll", "Protokoll", true},
  };
  // Walk the bar as the user sees it: menus in order, items in order.
  std::vector<std::pair<QString, QAction*>> seen;
  for (QAction* menu_action : form_->menuBar()->actions()) {
    for (QAction* item : menu_action->menu()->actions()) seen.emplace_back(Displayed(menu_action->text()), item);
  }
  ASSERT_EQ(seen.size(), std::size(rows));
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(rows[i].item);
    EXPECT_EQ(seen[i].first, QString::fromUtf8(rows[i].menu));
    EXPECT_EQ(seen[i].second->objectName(), rows[i].item);
    EXPECT_EQ(Displayed(seen[i].second->text()), QString::fromUtf8(rows[i].caption));
    EXPECT_EQ(seen[i].second->isEnabled(), rows[i].enabled);
  }
}

TEST_F(Form1Test, PanelCommandsHideEveryOtherPanelButLeaveTheRest) {
  Start();
  struct Case {
    const char* item;
    bool hides_panels;
    const char* own_panel;  // shown again after the others are hidden
  };
  const Case cases[] = {
      {"Progmodew", true, "ProgmodeWahl"}, {"leseCV", true, "GroupCVRW"},
      {"SchreibeCV", true, "GroupCVRW"},   {"Lokprobier", true, "Steuerbox"},
      {"Weicheprobier", true, "Steuerbox"}, {"Funktionsdecprobier", true, "Steuerbox"},
      {"HardwareWahl", true, "Hardwarebox"}, {"Ports", false, ""},
      {"Reset1", false, ""},               {"berQARN3", false, ""},
      {"Anschlsse", false, ""},
  };
  const char* const panels[] = {"GroupCVRW", "Hardwarebox", "Steuerbox", "Kennlinienbox", "ProgmodeWahl"};
  const char* const others[] = {"Portbox", "Resetbox", "Image1", "Infolabel"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    for (const char* name : panels) Find(name)->show();
    for (const char* name : others) Find(name)->show();
    form_->State().AbortFlag = false;
    Choose(c.item);
    EXPECT_EQ(form_->State().AbortFlag, c.hides_panels);
    for (const char* name : panels) {
      const bool expected = !c.hides_panels || std::string(c.own_panel) == name;
      EXPECT_EQ(Shown(name), expected) << name;
    }
    for (const char* name : others) EXPECT_TRUE(Shown(name)) << name;
  }
  // The mode buttons go with their frame.
  form_->HideAllPanels();
  EXPECT_FALSE(Shown("ProgDir"));
  EXPECT_TRUE(Port().Connected());  // the port is left alone
}

TEST_F(Form1Test, InformationViews) {
  Start();
  // "Über QARN" twice: the line stays; one click hides it.
  Choose("berQARN3");
  Choose("berQARN3");
  EXPECT_TRUE(Shown("Infolabel"));
  Click(Find("Infolabel"));
  EXPECT_FALSE(Shown("Infolabel"));

  // "Anschlüsse" while the mode panel is open: the picture takes the sheet's place,
  // the panel stays; a click on the picture brings the sheet back.
  Choose("Progmodew");
  Choose("Anschlsse");
  EXPECT_TRUE(Shown("Image1"));
  EXPECT_FALSE(Shown("Decoder"));
  EXPECT_TRUE(Shown("ProgmodeWahl"));
  Click(Find("Image1"));
  EXPECT_FALSE(Shown("Image1"));
  EXPECT_TRUE(Shown("Decoder"));
  EXPECT_TRUE(Shown("ProgmodeWahl"));
}

TEST_F(Form1Test, ModePanelSetsTheModeOnlyWhenAnotherButtonIsChosen) {
  Start();
  Choose("Progmodew");
  // The checked button: nothing runs, no time passes, the panel stays.
  const sim::SimTime before = Clock().Now();
  Find<QAbstractButton>("ProgDir")->click();
  EXPECT_EQ(Clock().Now(), before);
  EXPECT_TRUE(Shown("ProgmodeWahl"));

  Find<QAbstractButton>("ProgReg")->click();
  EXPECT_GE(Clock().Now() - before, 390ms);
  EXPECT_EQ(form_->State().ProgrammingMode, "reg");
  EXPECT_EQ(Find<QLabel>("Label2")->text(), "reg");
  EXPECT_FALSE(Shown("ProgmodeWahl"));
  EXPECT_FALSE(Shown("ProgReg"));
  EXPECT_FALSE(Find<QAbstractButton>("ProgDir")->isChecked());
}

TEST_F(Form1Test, PortPanelMovesThePortToCom2) {
  Start();
  Link().SetDTR(true);
  Port().WriteText(engine_->Streams().ResetStream);  // the background stream now repeats on COM1
  engine_->VirtualTime()->Pass(50ms);
  Choose("Ports");
  EXPECT_TRUE(Shown("Portbox"));
  EXPECT_TRUE(Shown("ButtonCOM1"));
  EXPECT_TRUE(Shown("ButtonCOM2"));
  EXPECT_FALSE(Shown("ButtonPrinter"));

  // COM1 is the checked choice: nothing runs, the panel stays.
  const sim::SimTime before = Clock().Now();
  Find<QAbstractButton>("ButtonCOM1")->click();
  EXPECT_EQ(Clock().Now(), before);
  EXPECT_TRUE(Shown("Portbox"));

  Track().ClearLog();
  Find<QAbstractButton>("ButtonCOM2")->click();
  EXPECT_GE(Clock().Now() - before, 390ms);
  EXPECT_FALSE(Shown("Portbox"));
  EXPECT_TRUE(Port().Connected());
  EXPECT_EQ(Port().Port(), "COM2");
  // The resets ran on through the wait, then stopped with the closing; on COM2
  // nothing goes out until the next write, even with the track switched on.
  EXPECT_GT(Count(TrackLogEntry::kPacket), 30);
  Link().SetDTR(true);
  Track().ClearLog();
  engine_->VirtualTime()->Pass(200ms);
  EXPECT_EQ(Count(TrackLogEntry::kPacket), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Form1Test, MissingCom1IsReportedAndTheWindowStaysUsable) {
  options_.ports.Set("COM1", "/nonexistent/qarn2-no-such-port");
  Start();
  // Once as the window loads, once more when the board's set-up opens the port again:
  // the port's message, then the system's words and what to do.
  const std::string message = std::string("Unable to open com port (win error code: 2)\n") +
                              "/nonexistent/qarn2-no-such-port: " + std::strerror(ENOENT) +
                              ". Ist der Adapter eingesteckt? Den Anschluss mit --port COMn=PFAD nennen "
                              "(z. B. /dev/ttyUSB0 oder ein Name unter /dev/serial/by-id/).";
  EXPECT_EQ(messages_, (std::vector<std::string>{message, message}));
  EXPECT_FALSE(Port().Connected());
  EXPECT_FALSE(Find<QAbstractButton>("ButtonCOM1")->isChecked());
  EXPECT_EQ(form_->windowTitle().toStdString(), "QARN2       DCC- Decoder Service      Version 0.8");
  EXPECT_EQ(Find<QLabel>("Label2")->text(), "dir");
  EXPECT_EQ(form_->State().LocoAddress, 3);
  EXPECT_EQ(form_->State().SpeedSteps, 14);
  EXPECT_TRUE(form_->isVisible());

  // Trying COM1 from the panel fails the same way: the message, the handler ends.
  Choose("Ports");
  Find<QAbstractButton>("ButtonCOM1")->click();
  EXPECT_EQ(messages_.size(), 3u);
  EXPECT_FALSE(Port().Connected());
  // COM2 stands on the track: the port opens there.
  Choose("Ports");
  Find<QAbstractButton>("ButtonCOM2")->click();
  EXPECT_EQ(messages_.size(), 3u);
  EXPECT_TRUE(Port().Connected());
  EXPECT_EQ(Port().Port(), "COM2");
}

TEST_F(Form1Test, EndClosesTheWindowAndThePort) {
  Start();
  ASSERT_TRUE(Port().Connected());
  Choose("ENDE");
  EXPECT_FALSE(form_->isVisible());
  EXPECT_FALSE(Port().Connected());
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
