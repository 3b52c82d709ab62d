// The three try-outs as the user runs them from the window, against the simulated
// decoder (own address 3) and the basic accessory decoders on the track.

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "sim/decoder_model.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

// Every control of the panel but the box itself.
const char* const kControls[] = {
    "Steuerlabel1", "SteuerEdit", "SpeedButton14", "SpeedButton28", "SpeedButton128", "F1check", "F2check",
    "F3check",      "F4check",    "F5check",       "F6check",       "F7check",        "F8check", "F9check",
    "F10check",     "F11check",   "F12check",      "FLcheck",       "SteuerLabel2",   "Regler",  "Steuerlabel3",
    "Weichenbox",   "WeicheButton1", "WeicheButton2", "SteuerEndeButton"};

// Bit 1 of CV 29: the decoder reads speed packets in 28-step (set) or 14-step form.
constexpr int kCv29With14Steps = 4;
constexpr int kCv29With28Steps = 6;

class TryOutWindowTest : public Form1Fixture {
 protected:
  void SetUp() override { Start(); }

  QScrollBar* Regler() const { return Find<QScrollBar>("Regler"); }
  QLineEdit* AddressEntry() const { return Find<QLineEdit>("SteuerEdit"); }
  QString PositionText() const { return Find<QLabel>("SteuerLabel2")->text(); }
  QString TurnoutCaption() const { return Find<QGroupBox>("Weichenbox")->title(); }
  bool Checked(const char* name) const { return Find<QAbstractButton>(name)->isChecked(); }
  // The user drags the regulator to `position`.
  void Move(int position) const { Regler()->setValue(position); }
  void EnterAddress(const QString& text) const {
    AddressEntry()->clear();
    Type(AddressEntry(), text);
    PressEnter(AddressEntry());
  }
  void SetDecoderCv(int number, int value) {
    auto lock = Track().Lock();
    Track().Decoder().SetCv(number, static_cast<std::uint8_t>(value));
  }
  QCheckBox* FunctionBox(int n) const {
    return Find<QCheckBox>(QByteArray("F").append(QByteArray::number(n)).append("check").constData());
  }
  // What the decoder made of the stream, once it has gone round a few times.
  sim::LocoState Loco() {
    engine_->VirtualTime()->Pass(200ms);
    auto lock = Track().Lock();
    return Track().Decoder().loco();
  }
  // Its speed-step mode, step, direction and headlight.
  std::tuple<int, int, bool, bool> Drive() {
    const sim::LocoState loco = Loco();
    return {loco.steps, loco.speed_step, loco.forward, loco.fl};
  }
  // Clicks "links" or "rechts" and lets the packets reach the track.
  void Switch(const char* button) {
    Find<QAbstractButton>(button)->click();
    engine_->VirtualTime()->Pass(50ms);
  }
  bool OutputOn(int decoder, int output) {
    auto lock = Track().Lock();
    return Track().Decoder().AccessoryOutputOn(decoder, output);
  }
  // The packets since the log was cleared with these bytes (the check byte left out).
  int Sent(std::vector<std::uint8_t> bytes) const {
    return CountPackets([&](const std::vector<std::uint8_t>& p) {
      return p.size() == bytes.size() + 1 && std::equal(bytes.begin(), bytes.end(), p.begin());
    });
  }
  // Basic accessory packets since the log was cleared.
  int AccessoryPackets() const {
    return CountPackets([](const std::vector<std::uint8_t>& p) { return p[0] >= 0x80 && p[0] <= 0xBF; });
  }
  template <typename Matches>
  int CountPackets(Matches matches) const {
    const std::vector<TrackLogEntry> log = Track().Log();
    return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const TrackLogEntry& e) {
      return e.kind == TrackLogEntry::kPacket && matches(e.bytes);
    }));
  }
  std::set<std::string> ShownControls() const {
    std::set<std::string> shown;
    for (const char* name : kControls) {
      if (Shown(name)) shown.insert(name);
    }
    return shown;
  }
};

TEST_F(TryOutWindowTest, EachTryOutShowsItsControlsWithoutOverlapAndEndHidesThemAll) {
  auto* box = Find<QGroupBox>("Steuerbox");
  EXPECT_TRUE(ShownControls().empty());
  EXPECT_FALSE(Find("SpeedButton128")->isEnabled());
  EXPECT_EQ(TurnoutCaption(), "");
  EXPECT_EQ(Regler()->minimum(), -14);
  EXPECT_EQ(Regler()->maximum(), 14);

  const std::set<std::string> common{"Steuerlabel1", "SteuerEdit", "F9check", "F10check",
                                     "F11check",     "F12check",   "SteuerEndeButton"};
  const std::set<std::string> functions{"F1check", "F2check", "F3check", "F4check", "F5check",
                                        "F6check", "F7check", "F8check", "FLcheck"};
  struct Case {
    const char* item;
    const char* address_label;
    std::set<std::string> own;
  };
  std::set<std::string> locomotive = functions;
  locomotive.insert({"SpeedButton14", "SpeedButton28", "SpeedButton128", "SteuerLabel2", "Regler", "Steuerlabel3"});
  const Case cases[] = {
      {"Lokprobier", "Lokadresse", locomotive},
      {"Weicheprobier", "WeichenNr", {"Weichenbox", "WeicheButton1", "WeicheButton2"}},
      {"Funktionsdecprobier", "Adresse", functions},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    Choose(c.item);
    std::set<std::string> expected = common;
    expected.insert(c.own.begin(), c.own.end());
    EXPECT_EQ(ShownControls(), expected);
    EXPECT_EQ(Find<QLabel>("Steuerlabel1")->text(), c.address_label);
    EXPECT_EQ(AddressEntry()->text(), "3");
    EXPECT_EQ(form_->focusWidget(), AddressEntry());
    // What is shown together lies inside the frame, below its caption, apart, and
    // holds its text.
    const QRect inside(QPoint(0, box->fontMetrics().height()), box->size());
    std::vector<QRect> taken;
    for (const std::string& name : expected) {
      SCOPED_TRACE(name);
      QWidget* w = Find(name.c_str());
      if (w->parentWidget() != box) continue;  // the turnout buttons, inside their own box
      EXPECT_TRUE(inside.contains(w->geometry()));
      for (const QRect& other : taken) EXPECT_FALSE(other.intersects(w->geometry()));
      taken.push_back(w->geometry());
      if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 16);
      }
      if (auto* label = qobject_cast<QLabel*>(w)) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
      }
    }
  }
  Click(Find("SteuerEndeButton"));
  EXPECT_FALSE(Shown("Steuerbox"));
  EXPECT_TRUE(ShownControls().empty());
  // The "links" and "rechts" buttons and the speed buttons are groups of their own.
  EXPECT_NE(Find("WeicheButton1")->parentWidget(), Find("SpeedButton14")->parentWidget());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(TryOutWindowTest, TheDecoderFollowsRegulatorAndBoxesIn14And28Steps) {
  SetDecoderCv(29, kCv29With14Steps);
  Choose("Lokprobier");
  EXPECT_TRUE(Checked("SpeedButton14"));
  EXPECT_TRUE(Track().Powered());
  Move(5);
  EXPECT_EQ(PositionText(), "5");
  EXPECT_EQ(Drive(), (std::tuple{14, 5, true, false}));
  Click(Find("FLcheck"));
  Move(-3);
  EXPECT_EQ(PositionText(), "-3");
  EXPECT_EQ(Drive(), (std::tuple{14, 3, false, true}));
  Move(0);  // stop keeps the last direction
  EXPECT_EQ(Drive(), (std::tuple{14, 0, false, true}));
  for (int n = 1; n <= 12; ++n) Click(FunctionBox(n));
  const std::array<bool, 13> f = Loco().f;
  EXPECT_EQ(std::count(f.begin() + 1, f.end(), true), 12);

  // 28 steps: the light goes in function group one.
  SetDecoderCv(29, kCv29With28Steps);
  Click(Find("SpeedButton28"));
  EXPECT_EQ(Regler()->maximum(), 28);
  EXPECT_EQ(form_->State().SpeedSteps, 28);
  Click(FunctionBox(5));
  Move(27);
  EXPECT_EQ(Drive(), (std::tuple{28, 27, true, true}));
  EXPECT_FALSE(Loco().f[5]);
  Move(-28);
  Click(Find("FLcheck"));
  EXPECT_EQ(Drive(), (std::tuple{28, 28, false, false}));

  // Toggled as a screen reader does it, a box sends too; the regulator's arrow keys
  // follow its scale.
  for (QCheckBox* box : {FunctionBox(6), Find<QCheckBox>("FLcheck")}) {
    QAccessibleInterface* access = QAccessible::queryAccessibleInterface(box);
    ASSERT_TRUE(access && access->actionInterface());
    access->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
  }
  EXPECT_FALSE(Loco().f[6]);  // it was on
  Regler()->setFocus();
  for (const auto& [key, position] : {std::pair{Qt::Key_Right, -27}, std::pair{Qt::Key_Left, -28}}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(Regler(), &press);
    EXPECT_EQ(Regler()->value(), position);
  }
  EXPECT_EQ(Drive(), (std::tuple{28, 28, false, true}));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(TryOutWindowTest, ANarrowerRangeMovesTheRegulatorAndSendsAtOnce) {
  Choose("Lokprobier");
  Click(Find("SpeedButton28"));
  Move(20);
  Track().ClearLog();
  Click(Find("SpeedButton14"));
  EXPECT_EQ(Regler()->value(), 14);
  EXPECT_EQ(PositionText(), "14");
  // One stream went out within the click: step 14 of 14, forward, two copies.
  EXPECT_EQ(Sent({0x03, 0x6F}), 2);
  EXPECT_EQ(Count(TrackLogEntry::kPacket), 24);

  // Wider: nothing until the next move, which goes out in 28-step form.
  Move(10);
  Track().ClearLog();
  Click(Find("SpeedButton28"));
  EXPECT_EQ(Regler()->value(), 10);
  EXPECT_EQ(Count(TrackLogEntry::kPacket), 0);
  Move(11);
  EXPECT_EQ(Sent({0x03, 0x67}), 2);  // step 11: 11 + 3 = 14, halved 7, bit 4 clear

  // From below: the minimum clamps.
  Move(-20);
  Click(Find("SpeedButton14"));
  EXPECT_EQ(Regler()->value(), -14);
  EXPECT_EQ(Sent({0x03, 0x4F}), 2);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(TryOutWindowTest, FunctionDecoderRightAfterStartStopsInReverse) {
  Choose("Funktionsdecprobier");
  EXPECT_FALSE(Shown("Regler"));
  engine_->VirtualTime()->Pass(100ms);
  EXPECT_GT(Sent({0x03, 0x40}), 0);
  EXPECT_GT(Sent({0x03, 0x80}), 0);

  Click(Find("FLcheck"));
  Click(Find("F2check"));
  Track().ClearLog();
  engine_->VirtualTime()->Pass(100ms);
  EXPECT_GT(Sent({0x03, 0x50}), 0);
  EXPECT_GT(Sent({0x03, 0x82}), 0);  // no light bit in 14-step form
  EXPECT_EQ(Sent({0x03, 0x40}), 0);
  EXPECT_EQ(Sent({0x03, 0x92}), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(TryOutWindowTest, TurnoutTryOutSwitchesOnlyOnAChange) {
  Choose("Weicheprobier");
  EXPECT_EQ(TurnoutCaption(), "Weiche 3");
  // The caption follows the entry at once; nothing is sent.
  Track().ClearLog();
  EnterAddress("6");
  EXPECT_EQ(TurnoutCaption(), "Weiche 6");
  EXPECT_EQ(Count(TrackLogEntry::kPacket), 0);

  // Turnout 6: decoder 2, output pair 1 (outputs 2 and 3). "links" twice sends once.
  Switch("WeicheButton1");
  EXPECT_EQ(Sent({0x82, 0xFB}), 5);
  EXPECT_TRUE(OutputOn(2, 3));
  Switch("WeicheButton1");
  EXPECT_EQ(AccessoryPackets(), 5);
  Switch("WeicheButton2");
  EXPECT_EQ(Sent({0x82, 0xFA}), 5);
  EXPECT_TRUE(OutputOn(2, 2));
  EXPECT_FALSE(OutputOn(2, 3));

  // The entry refuses what is no turnout number and keeps the last one.
  for (const char* text : {"abc", "-1", "128", ""}) {
    SCOPED_TRACE(text);
    EnterAddress(text);
    EXPECT_EQ(AddressEntry()->text(), "");
    EXPECT_EQ(TurnoutCaption(), "Weiche 6");
    EXPECT_EQ(form_->State().LocoAddress, 6);
  }
  // 0 is taken but switches nothing.
  EnterAddress("0");
  EXPECT_EQ(form_->State().LocoAddress, 0);
  Track().ClearLog();
  Switch("WeicheButton1");
  EXPECT_EQ(AccessoryPackets(), 0);
  EnterAddress("127");
  EXPECT_EQ(form_->State().LocoAddress, 127);
  EnterAddress("12");
  EXPECT_EQ(TurnoutCaption(), "Weiche 12");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(TryOutWindowTest, TheStreamOutlivesOtherPanelsUntilEnde) {
  SetDecoderCv(29, kCv29With14Steps);
  Choose("Lokprobier");
  Move(5);
  Click(Find("F3check"));

  // Another panel: the try-out goes on running on the track.
  Choose("Progmodew");
  EXPECT_FALSE(Shown("Steuerbox"));
  Track().ClearLog();
  engine_->VirtualTime()->Pass(100ms);
  EXPECT_GT(Sent({0x03, 0x66}), 0);
  EXPECT_TRUE(Track().Powered());

  // Opening again keeps the regulator and the boxes.
  Choose("Lokprobier");
  Choose("Lokprobier");
  EXPECT_EQ(Regler()->value(), 5);
  EXPECT_TRUE(Checked("F3check"));
  const sim::LocoState loco = Loco();
  EXPECT_EQ(loco.speed_step, 5);
  EXPECT_TRUE(loco.f[3]);

  // A new address goes out with the next change only.
  EnterAddress("0");
  Track().ClearLog();
  engine_->VirtualTime()->Pass(100ms);
  EXPECT_EQ(Sent({0x00, 0x66}), 0);
  Move(6);
  EXPECT_GT(Sent({0x00, 0x67}), 0);

  Click(Find("SteuerEndeButton"));
  EXPECT_FALSE(Shown("Steuerbox"));
  EXPECT_FALSE(Track().Powered());
  EXPECT_EQ(Link().BackgroundStream, engine_->Streams().ResetBurst);
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
