// The try-outs on the simulated track, on virtual time: what the decoder does with
// the stream, the turnouts, and the end.

#include "tryout/tryout_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "link/hardware_setup.h"
#include "engine/testing/track_bench.h"

namespace qarn2::tryout {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

// The regulator as the window has it: a range that clamps, and a handler that runs
// when the clamping moves it.
struct Panel : TryOutView {
  void CheckSpeedButton14() override {
    if (speed14_checked) return;
    speed14_checked = true;
    commands->ChooseSpeedSteps(14);
  }
  void SetRegulatorRange(int minimum, int maximum) override {
    const int clamped = std::clamp(position, minimum, maximum);
    if (clamped == position) return;
    position = clamped;
    commands->RegulatorChanged(position);
  }
  void Move(int to) {
    position = to;
    commands->RegulatorChanged(to);
  }
  void ChooseSteps(int steps) {
    speed14_checked = steps == 14;
    commands->ChooseSpeedSteps(steps);
  }
  void ClearAddressEntry() override { ++cleared; }
  void SetTurnoutCaption(const std::string& text) override { turnout_caption = text; }
  bool TurnoutBoxShown() const override { return true; }

  TryOutCommands* commands = nullptr;
  bool speed14_checked = false;
  int position = 0;
  int cleared = 0;
  std::string turnout_caption;
};

class TryOutCommandsTest : public ::testing::Test, protected engine::testing::TrackBench {
 protected:
  TryOutCommandsTest() {
    commands_ = std::make_unique<TryOutCommands>(*link_, fixed_, state_, panel_);
    panel_.commands = commands_.get();
    state_.LocoAddress = 3;
    state_.SpeedSteps = 14;
    link::SetUpBoardPort(*link_, fixed_);
  }

  // The decoder takes its speed steps from CV 29 bit 1, as a real one does.
  void DecoderSteps(int steps) {
    auto lock = track_.Lock();
    track_.Decoder().SetCv(29, steps == 28 ? 6 : 4);
  }
  // What the decoder (address 3) drives once the stream has been on the track a while.
  sim::LocoState Loco() {
    link_->WaitTicks(10);
    auto lock = track_.Lock();
    return track_.Decoder().loco();
  }
  bool Output(int decoder, int output) {
    link_->WaitTicks(5);
    auto lock = track_.Lock();
    return track_.Decoder().AccessoryOutputOn(decoder, output);
  }
  // Packets for locomotive `address` in the log.
  int PacketsFor(int address) const {
    int n = 0;
    for (const TrackLogEntry& e : track_.Log()) n += e.kind == TrackLogEntry::kPacket && e.bytes[0] == address;
    return n;
  }

  programming::ProgramState state_;
  Panel panel_;
  std::unique_ptr<TryOutCommands> commands_;
};

TEST_F(TryOutCommandsTest, TheDecoderDrivesAsThePanelSays) {
  DecoderSteps(14);
  commands_->OpenLocomotiveTryOut();
  EXPECT_TRUE(state_.AbortFlag);
  sim::LocoState loco = Loco();
  EXPECT_EQ(loco.speed_step, 0);
  EXPECT_FALSE(loco.forward);

  panel_.Move(5);
  commands_->SetLight(true);
  loco = Loco();
  EXPECT_EQ(loco.steps, 14);
  EXPECT_EQ(loco.speed_step, 5);
  EXPECT_TRUE(loco.forward);
  EXPECT_TRUE(loco.fl);

  DecoderSteps(28);
  panel_.ChooseSteps(28);
  panel_.Move(-27);
  for (int n : {1, 4, 5, 8, 9, 12}) commands_->SetFunction(n, true);
  loco = Loco();
  EXPECT_EQ(loco.steps, 28);
  EXPECT_EQ(loco.speed_step, 27);
  EXPECT_FALSE(loco.forward);
  EXPECT_TRUE(loco.fl);  // now in function group one
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(loco.f[n], n == 1 || n == 4 || n == 5 || n == 8 || n == 9 || n == 12) << n;

  panel_.Move(0);
  loco = Loco();
  EXPECT_EQ(loco.speed_step, 0);
  EXPECT_FALSE(loco.forward);  // the stop keeps the last direction

  // The stream (about 150 ms) repeats with no gap: half a second, three rounds and
  // more, without a break.
  track_.ClearLog();
  link_->WaitTicks(50);
  EXPECT_EQ(Count(TrackLogEntry::kBreak) + Count(TrackLogEntry::kBadPacket), 0);
  EXPECT_GE(PacketsFor(3), 8 * 3);
}

// The speed byte of locomotive 3 last sent.
int LastSpeedByte(const std::vector<TrackLogEntry>& log) {
  int byte = -1;
  for (const TrackLogEntry& e : log) {
    if (e.kind == TrackLogEntry::kPacket && e.bytes[0] == 3 && (e.bytes[1] & 0xC0) == 0x40) byte = e.bytes[1];
  }
  return byte;
}

TEST_F(TryOutCommandsTest, NarrowerRangeClampsAndSendsAtOnce) {
  commands_->OpenLocomotiveTryOut();
  panel_.ChooseSteps(28);
  panel_.Move(20);
  link_->WaitTicks(5);
  EXPECT_EQ(LastSpeedByte(track_.Log()), 0x7B);  // 28 steps: step 20
  panel_.ChooseSteps(14);
  EXPECT_EQ(commands_->RegulatorPosition(), 14);
  link_->WaitTicks(5);
  EXPECT_EQ(LastSpeedByte(track_.Log()), 0x6F);  // 14 steps: step 14

  // Wider again: nothing changes on the track until the next move.
  panel_.Move(10);
  panel_.ChooseSteps(28);
  link_->WaitTicks(5);
  EXPECT_EQ(LastSpeedByte(track_.Log()), 0x6B);  // still 14 steps: step 10
  panel_.Move(11);
  link_->WaitTicks(5);
  EXPECT_EQ(LastSpeedByte(track_.Log()), 0x67);  // 28 steps: step 11
}

TEST_F(TryOutCommandsTest, ANewAddressGoesOutWithTheNextChange) {
  commands_->OpenFunctionTryOut();
  for (const char* bad : {"abc", "", "-1", "128"}) commands_->EnterAddress(bad);
  EXPECT_EQ(panel_.cleared, 4);
  EXPECT_EQ(state_.LocoAddress, 3);
  commands_->EnterAddress("5");
  EXPECT_EQ(state_.LocoAddress, 5);
  track_.ClearLog();
  link_->WaitTicks(10);
  EXPECT_EQ(PacketsFor(5), 0);
  commands_->SetFunction(2, true);
  link_->WaitTicks(10);
  EXPECT_GT(PacketsFor(5), 0);
  commands_->EnterAddress("0");
  EXPECT_EQ(state_.LocoAddress, 0);
  commands_->EnterAddress("127");
  EXPECT_EQ(state_.LocoAddress, 127);
}

TEST_F(TryOutCommandsTest, TurnoutsSwitchTheirOutputPair) {
  commands_->OpenTurnoutTryOut();
  EXPECT_EQ(panel_.turnout_caption, "Weiche 3");
  // Turnout n is decoder (n - 1) / 4 + 1, pair (n - 1) mod 4; "links" is its output 1.
  const struct {
    int turnout;
    int decoder;
    int pair;
  } cases[] = {{1, 1, 0}, {4, 1, 3}, {5, 2, 0}, {6, 2, 1}, {127, 32, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.turnout);
    commands_->EnterAddress(std::to_string(c.turnout));
    EXPECT_EQ(panel_.turnout_caption, "Weiche " + std::to_string(c.turnout));
    commands_->ChooseTurnout(true);
    EXPECT_TRUE(Output(c.decoder, 2 * c.pair + 1));
    commands_->ChooseTurnout(false);
    EXPECT_TRUE(Output(c.decoder, 2 * c.pair));
  }
  // Turnout 0, and anything under the LGB interface, sends nothing.
  commands_->EnterAddress("0");
  track_.ClearLog();
  commands_->ChooseTurnout(true);
  link_->HardwareKind = link::kLgbInterface;
  commands_->EnterAddress("1");
  commands_->ChooseTurnout(true);
  link_->WaitTicks(5);
  int accessory = 0;
  for (const TrackLogEntry& e : track_.Log()) accessory += e.kind == TrackLogEntry::kPacket && (e.bytes[0] & 0xC0) == 0x80;
  EXPECT_EQ(accessory, 0);
}

TEST_F(TryOutCommandsTest, EndLeavesResetsAndNoPower) {
  commands_->OpenLocomotiveTryOut();
  panel_.Move(3);
  commands_->End();
  EXPECT_EQ(link_->BackgroundStream, fixed_.ResetBurst);
  link_->WaitTicks(20);
  EXPECT_FALSE(track_.Powered());
  // Another command that only hides the panel leaves the stream running.
  commands_->OpenLocomotiveTryOut();
  panel_.Move(4);
  const std::string stream = link_->BackgroundStream;
  panel_.HideAllPanels();
  link_->WaitTicks(10);
  EXPECT_EQ(link_->BackgroundStream, stream);
  EXPECT_TRUE(track_.Powered());
  EXPECT_EQ(commands_->RegulatorPosition(), 4);  // kept for the next opening
}

}  // namespace
}  // namespace qarn2::tryout
