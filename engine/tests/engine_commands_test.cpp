// Whole CV commands on the engine as the window and the tool build it, on virtual
// time and on the wall clock: the CV box typed into, the outcome as the box shows it,
// and what the simulated decoder got.

#include "engine/engine.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/testing/track_bench.h"
#include "engine/virtual_time_base.h"
#include "link/hardware_kind.h"
#include "serial/com_error.h"
#include "sim/simulated_ports.h"

namespace qarn2::engine {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

// The CV box's result line as the window would show it.
struct ResultLine : programming::CvCommandsView {
  void SetCvResult(const std::string& text) override { result = text; }
  std::string result;
};

EngineOptions OnTheTrack(bool virtual_time) {
  EngineOptions options;
  sim::MapEveryPortToTheTrack(options.ports);
  options.virtual_time = virtual_time;
  return options;
}

class EngineCommandsTest : public ::testing::TestWithParam<bool> {
 protected:
  EngineCommandsTest() : engine_(OnTheTrack(GetParam())) { engine_.SetViews(&view_, nullptr); }
  ~EngineCommandsTest() override { engine_.SetViews(nullptr, nullptr); }

  // The start as the tool makes it: the board's set-up, the resets repeating.
  void SetUpBoard() {
    engine_.Link().HardwareKind = link::kBoard;
    engine_.SetUpHardware(link::kBoard);
    engine_.Link().RestartBackground();
    engine_.Link().WaitTicks(10);
  }
  std::string Write(const std::string& mode, int cv, int value) {
    engine_.State().ProgrammingMode = mode;
    engine_.Cv().OpenCvBox(true);
    engine_.Cv().EnterInCvBox(std::to_string(cv));
    engine_.Cv().EnterInCvBox(std::to_string(value));
    return view_.result;
  }
  std::string Read(const std::string& mode, int cv) {
    engine_.State().ProgrammingMode = mode;
    engine_.Cv().OpenCvBox(false);
    engine_.Cv().EnterInCvBox(std::to_string(cv));
    return view_.result;
  }
  int DecoderCv(int cv) {
    auto lock = engine_.Track().Lock();
    return engine_.Track().Decoder().Cv(cv);
  }
  int Acknowledges() const {
    int n = 0;
    for (const TrackLogEntry& e : engine_.TraceEntries()) n += e.kind == TrackLogEntry::kAcknowledge;
    return n;
  }

  Engine engine_;
  ResultLine view_;
};

TEST_P(EngineCommandsTest, WriteAndReadBackInEveryMode) {
  SetUpBoard();
  struct Case {
    const char* mode;
    int cv;
  };
  // The register methods reach registers 1..8 only (register 2 is CV 2).
  const Case cases[] = {{"dir", 1}, {"dio", 29}, {"reg", 2}, {"pag", 1024}, {"roc", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const int value = c.cv == 1 ? 3 : 1;  // CV 1 stays a short address the try-outs take
    EXPECT_EQ(Write(c.mode, c.cv, value),
              "CV Nr " + std::to_string(c.cv) + "=" + std::to_string(value) + " best\xE4tigt");
    EXPECT_EQ(DecoderCv(c.cv), value);
    EXPECT_EQ(Read(c.mode, c.cv), "CV Nr " + std::to_string(c.cv) + " = " + std::to_string(value));
  }
}

// A paged write is acknowledged twice (page register, data register) while its one
// long burst is still being written, and a transmit-empty waits to be handed over
// then: the two rings must stay two.
TEST_P(EngineCommandsTest, PagedWriteCountsBothAcknowledges) {
  SetUpBoard();
  for (int value : {34, 35, 36}) {
    SCOPED_TRACE(value);
    const int before = Acknowledges();
    EXPECT_EQ(Write("pag", 29, value), "CV Nr 29=" + std::to_string(value) + " best\xE4tigt");
    EXPECT_EQ(Acknowledges() - before, 2);
    EXPECT_EQ(DecoderCv(29), value);
  }
  // A read-only CV: only the page write is acknowledged, and that is no confirmation.
  const int before = Acknowledges();
  const int cv7 = DecoderCv(7);
  EXPECT_EQ(Write("pag", 7, cv7 + 1), "CV 7 keine Best\xE4tigung");
  EXPECT_EQ(Acknowledges() - before, 1);
}

TEST_P(EngineCommandsTest, LgbRepliesArrivingSlowlyAreWaitedFor) {
  {
    auto lock = engine_.Track().Lock();
    sim::LgbSettings slow;
    slow.one_at_a_time = true;
    slow.character_gap = 30ms;
    engine_.Track().Lgb().SetSettings(slow);
  }
  engine_.Link().HardwareKind = link::kLgbInterface;
  ASSERT_TRUE(engine_.SetUpHardware(link::kLgbInterface));
  EXPECT_EQ(Write("dir", 29, 9), "CV Nr 29=9 best\xE4tigt");
  EXPECT_EQ(Read("dir", 29), "CV Nr 29 = 9");
}

INSTANTIATE_TEST_SUITE_P(BothClocks, EngineCommandsTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "VirtualTime" : "WallClock";
                         });

// A decoder that acknowledges weakly: every acknowledge lost, the CV is written all the
// same but the write is not confirmed and a read finds nothing. A lost share (30 %)
// is drawn from the seed, so a run on virtual time repeats exactly.
TEST(EngineTest, LostAcknowledgesFailWhatTheyConfirmAndRepeatWithTheirSeed) {
  EngineOptions options = OnTheTrack(true);
  options.track.ack_loss = 1.0;
  {
    Engine engine(options);
    ResultLine view;
    engine.SetViews(&view, nullptr);
    engine.SetUpHardware(link::kBoard);
    engine.Link().RestartBackground();
    engine.State().ProgrammingMode = "dir";
    engine.Cv().OpenCvBox(true);
    engine.Cv().EnterInCvBox("29");
    engine.Cv().EnterInCvBox("34");
    EXPECT_FALSE(engine.Link().AckResult);
    {
      auto lock = engine.Track().Lock();
      EXPECT_EQ(engine.Track().Decoder().Cv(29), 34);
    }
    int lost = 0;
    for (const TrackLogEntry& e : engine.Track().Log()) {
      lost += e.text.find("(acknowledge lost)") != std::string::npos;
      EXPECT_NE(e.kind, TrackLogEntry::kAcknowledge);
    }
    EXPECT_GT(lost, 0);
    engine.SetViews(nullptr, nullptr);
  }

  options.track.ack_loss = 0.3;
  const auto run = [&](std::uint64_t seed) {
    options.track.ack_loss_seed = seed;
    Engine engine(options);
    engine.SetUpHardware(link::kBoard);
    engine.Link().RestartBackground();
    engine.State().ProgrammingMode = "dir";
    engine.Cv().OpenCvBox(false);
    std::string outcome;
    for (int cv : {1, 7, 8, 29}) {
      engine.Cv().EnterInCvBox(std::to_string(cv));
      outcome += std::to_string(engine.Link().AckResult) + " ";
    }
    std::vector<std::string> log;
    for (const TrackLogEntry& e : engine.Track().Log()) log.push_back(FormatLogEntry(e));
    return std::pair{outcome, log};
  };
  const auto first = run(7);
  EXPECT_EQ(run(7), first);
  EXPECT_NE(run(8).second, first.second);
}

// On the wall clock the program may come to its notifications late (a loaded machine).
// Commands written while the background runs must still be followed by the background
// without a pause: the next copy is asked for, and queued, while the command's last
// characters still go out, not once the UART's FIFO (8.3 ms) is all that is left.
TEST(EngineLineTest, TheBackgroundFollowsEveryCommandWithoutAPauseWhenTheProgramIsLate) {
  Engine engine(OnTheTrack(false));
  link::TrackLink& link = engine.Link();
  link.HardwareKind = link::kBoard;
  engine.SetUpHardware(link::kBoard);
  link.RestartBackground();
  link.WaitTicks(5);
  engine.Track().ClearLog();
  for (int i = 0; i < 6; ++i) {
    link.Port().WriteText(engine.Streams().ResetBurst);
    std::this_thread::sleep_for(15ms);
    link.WaitTicks(1);
  }
  link.PowerOffWhenDrained();
  int packets = 0;
  for (const TrackLogEntry& e : engine.Track().Log()) {
    packets += e.kind == TrackLogEntry::kPacket;
    EXPECT_FALSE(e.kind == TrackLogEntry::kBreak && e.text.find("gap") != std::string::npos) << FormatLogEntry(e);
  }
  EXPECT_GT(packets, 6 * 3);
}

// The regulator moved: once the new speed is on the track, the old one never comes
// back (the port asks for the next characters while the new stream still goes out).
TEST(EngineLineTest, AfterARegulatorChangeOnlyTheNewSpeedGoesOut) {
  Engine engine(OnTheTrack(false));
  link::TrackLink& link = engine.Link();
  link.HardwareKind = link::kBoard;
  engine.SetUpHardware(link::kBoard);
  link.RestartBackground();
  engine.TryOut().OpenLocomotiveTryOut();
  link.WaitTicks(10);
  engine.TryOut().RegulatorChanged(5);
  link.WaitTicks(20);
  engine.TryOut().RegulatorChanged(-7);
  link.WaitTicks(20);
  // Speed packets of locomotive 3 (01DLSSSS, 14 steps: SSSS is the step + 1), in order.
  std::vector<int> steps;
  for (const TrackLogEntry& e : engine.Track().Log()) {
    if (e.kind == TrackLogEntry::kPacket && e.bytes.size() == 3 && e.bytes[0] == 3 && (e.bytes[1] & 0xC0) == 0x40) {
      const int code = e.bytes[1] & 0x0F;
      const int step = code == 0 ? 0 : code - 1;
      if (steps.empty() || steps.back() != step) steps.push_back(step);
    }
  }
  EXPECT_EQ(steps, (std::vector<int>{0, 5, 7}));
}

// The try-out ended and a CV read right after it powers the track again: nothing of
// the try-out's stream still queued in the port may reach the locomotive then.
TEST(EngineLineTest, AfterTheTryOutEndsItsStreamNeverReachesThePoweredTrack) {
  Engine engine(OnTheTrack(true));
  link::TrackLink& link = engine.Link();
  link.HardwareKind = link::kBoard;
  engine.SetUpHardware(link::kBoard);
  link.RestartBackground();
  engine.TryOut().OpenLocomotiveTryOut();
  engine.TryOut().RegulatorChanged(5);
  link.WaitTicks(50);
  engine.TryOut().End();
  const std::size_t ended = engine.Track().Log().size();
  engine.Cv().OpenCvBox(false);
  engine.Cv().EnterInCvBox("29");
  const std::vector<TrackLogEntry> log = engine.Track().Log();
  for (auto e = log.begin() + static_cast<std::ptrdiff_t>(ended); e != log.end(); ++e) {
    EXPECT_FALSE(e->kind == TrackLogEntry::kPacket && e->bytes[0] == 3) << FormatLogEntry(*e);
  }
}

TEST(EngineTest, LinkBuildsWithoutTheSimulatedTrackAndTheToolsShareOneComposition) {
  // A real port that is not there: the engine is built all the same, and opening
  // fails with the port's own message.
  EngineOptions options;
  options.ports.Set("COM1", "/nonexistent/ttyS0");
  Engine engine(options);
  EXPECT_FALSE(engine.Simulated());
  EXPECT_EQ(engine.VirtualTime(), nullptr);
  EXPECT_EQ(engine.State().ProgrammingMode, "dir");
  EXPECT_EQ(engine.State().LocoAddress, 3);
  EXPECT_EQ(engine.State().SpeedSteps, 14);
  try {
    engine.SetUpHardware(link::kBoard);
    FAIL() << "opened a port that is not there";
  } catch (const serial::EComPort& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: 2)");
  }
}

}  // namespace
}  // namespace qarn2::engine
