// The track link on the simulated track, on virtual time.

#include "link/track_link.h"

#include <gtest/gtest.h>

#include "encoding/fixed_streams.h"
#include "encoding/serial_encoder.h"
#include "link/hardware_setup.h"
#include "engine/testing/track_bench.h"

namespace qarn2::link {
namespace {

using namespace std::chrono_literals;
using sim::TrackLogEntry;

class TrackLinkTest : public ::testing::Test, protected engine::testing::TrackBench {
 protected:
  // The board's port set-up, with the resets set going.
  void SetUpBoard() {
    SetUpBoardPort(*link_, fixed_);
    port_->WriteText(link_->BackgroundStream);
  }

  std::string Burst(const encoding::Packet& packet, int copies = 5) {
    std::string burst;
    for (int i = 0; i < copies; ++i) burst += encoding::EncodeServicePacket(packet);
    return burst;
  }

  int Count(TrackLogEntry::Kind kind, sim::SimTime from = sim::SimTime{0},
            sim::SimTime to = sim::SimTime::max()) const {
    int n = 0;
    for (const TrackLogEntry& e : track_.Log()) n += e.kind == kind && e.time >= from && e.time <= to;
    return n;
  }
};

TEST_F(TrackLinkTest, WaitTicksCountsTimerTicksWhileTheBackgroundStreamRuns) {
  SetUpBoard();
  time_.Pass(3ms);  // anywhere between two ticks
  const sim::SimTime start = clock_.Now();
  link_->WaitTicks(40);
  const sim::SimTime waited = clock_.Now() - start;
  EXPECT_GE(waited, 390ms);
  EXPECT_LE(waited, 400ms);
  // The resets went on without a gap all the while.
  EXPECT_GT(Count(TrackLogEntry::kPacket, start, clock_.Now()), 30);
  EXPECT_EQ(Count(TrackLogEntry::kBreak), 0);
  // Even a wait of no ticks handles an event.
  const sim::SimTime before = clock_.Now();
  link_->WaitTicks(0);
  EXPECT_GT(clock_.Now(), before);
}

TEST_F(TrackLinkTest, AcknowledgeOnRingWithinFourTicks) {
  SetUpBoard();
  link_->WaitTicks(2);
  // CV 29 is 6: bit 1 matches, bit 0 does not.
  link_->AckFlag = false;
  port_->WriteText(Burst({0x78, 0x1C, 0xE9}));
  sim::SimTime start = clock_.Now();
  link_->AwaitAcknowledge();
  EXPECT_TRUE(link_->AckResult);
  EXPECT_LT(clock_.Now() - start, 30ms);  // ends at once with the ring

  link_->AckFlag = false;
  port_->WriteText(Burst({0x78, 0x1C, 0xE8}));
  start = clock_.Now();
  link_->AwaitAcknowledge();
  EXPECT_FALSE(link_->AckResult);
  // Four ticks; the tick missed while the write held the thread comes at once, as a
  // timer's does, so the window is 20 to 40 ms.
  EXPECT_GE(clock_.Now() - start, 20ms);
  EXPECT_LE(clock_.Now() - start, 40ms);

  // A flag left set from before gives true without waiting.
  link_->AckFlag = true;
  start = clock_.Now();
  link_->AwaitAcknowledge();
  EXPECT_TRUE(link_->AckResult);
  EXPECT_EQ(clock_.Now(), start);
}

TEST_F(TrackLinkTest, LgbAcknowledgeIsTheInterfacesReply) {
  SetUpBoard();
  link_->HardwareKind = kLgbInterface;
  link_->CvNumber = 300;  // low byte 0x2C
  const struct {
    std::string reply;
    bool result;
  } cases[] = {
      {std::string("\x98\x2C\x01", 3), true},
      {std::string("\x98\x2C\x00", 3), false},
      {std::string("\x98\x2D\x01", 3), false},
      {std::string("\x98\x2C", 2), false},
      {std::string("\x98", 1), false},
      {"", false},
  };
  for (const auto& c : cases) {
    link_->RxBuffer = c.reply;
    const sim::SimTime start = clock_.Now();
    link_->AwaitAcknowledge();
    EXPECT_EQ(link_->AckResult, c.result) << c.reply.size();
    if (c.reply.size() < 2) {
      EXPECT_GE(clock_.Now() - start, 200ms);  // no reply in time: 21 ticks
      EXPECT_LE(clock_.Now() - start, 210ms);
    }
  }
}

TEST_F(TrackLinkTest, ReceivedCharactersWithoutNulAndTheGreetingAnswered) {
  // At 9600 bit/s the simulated port is the LGB interface: the greeting request gets
  // the greeting, which the link answers.
  port_->SetBaudRate(serial::br9600);
  port_->SetEvents({serial::evRxChar, serial::evRxFlag, serial::evRLSD, serial::evRx80Full});
  port_->Open();
  port_->WriteText(std::string("\x10\x86", 2));
  link_->WaitTicks(10);
  EXPECT_EQ(link_->RxBuffer, "\x11\xEB\xFA");
  EXPECT_TRUE(link_->LgbHelloSeen);

  // NUL characters never enter the buffer.
  link_->RxBuffer = "ab";
  track_.Lgb().SetSettings(track_.Lgb().settings());
  link_->ComPort1RxChar(0);
  EXPECT_EQ(link_->RxBuffer, "ab");
}

TEST_F(TrackLinkTest, LgbSetUpGreetsUpToThreeTimes) {
  struct Case {
    const char* name;
    sim::SimTime answer_delay;
    bool silent;
    int greetings;
    bool seen;
  };
  const Case cases[] = {
      {"answered at once", 10ms, false, 1, true},
      // The answer comes within the second wait: no third greeting.
      {"answered late", 150ms, false, 2, true},
      {"no interface", 10ms, true, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUpBoard();
    link_->WaitTicks(5);
    sim::LgbSettings settings;
    settings.greeting_delay = c.answer_delay;
    settings.silent = c.silent;
    {
      auto lock = track_.Lock();
      track_.Lgb().SetSettings(settings);
    }
    link_->LgbHelloSeen = true;  // from an earlier set-up
    track_.ClearLog();
    const sim::SimTime start = clock_.Now();
    EXPECT_EQ(SetUpLgbPort(*link_), c.seen);
    EXPECT_EQ(link_->LgbHelloSeen, c.seen);
    EXPECT_GE(clock_.Now() - start, c.greetings * 90ms);
    EXPECT_LE(clock_.Now() - start, c.greetings * 100ms);
    link_->WaitTicks(30);
    int greetings = 0;
    for (const TrackLogEntry& e : track_.Log()) greetings += e.kind == TrackLogEntry::kLgb && e.text == "greeting";
    EXPECT_EQ(greetings, c.silent ? 0 : c.greetings);  // a silent interface logs nothing
    EXPECT_EQ(Count(TrackLogEntry::kPacket), 0);   // nothing repeated any more
    EXPECT_EQ(port_->BaudRate(), serial::br9600);
    EXPECT_TRUE(track_.Powered());
  }
}

TEST_F(TrackLinkTest, PowerCycleTakesThePowerAwayFor200Ms) {
  SetUpBoard();
  link_->WaitTicks(1);
  track_.ClearLog();
  link_->PowerCycle();
  std::vector<sim::SimTime> power;
  for (const TrackLogEntry& e : track_.Log()) {
    if (e.kind == TrackLogEntry::kPower) power.push_back(e.time);
  }
  ASSERT_EQ(power.size(), 2u);
  EXPECT_GE(power[1] - power[0], 190ms);
  EXPECT_LE(power[1] - power[0], 200ms);
  EXPECT_TRUE(track_.Powered());

  link_->HardwareKind = kLgbInterface;  // the LGB interface: nothing
  track_.ClearLog();
  link_->PowerCycle();
  EXPECT_EQ(Count(TrackLogEntry::kPower), 0);
}

TEST_F(TrackLinkTest, MovingThePortStopsTheBackgroundStreamUntilTheNextWrite) {
  SetUpBoard();
  bool hidden = false;
  const sim::SimTime start = clock_.Now();
  link_->MovePort("COM2", [&] { hidden = true; });
  EXPECT_TRUE(hidden);
  EXPECT_EQ(port_->Port(), "COM2");
  EXPECT_TRUE(port_->Connected());
  const sim::SimTime moved = clock_.Now();
  EXPECT_GE(moved - start, 390ms);
  // The resets ran on during the wait, and nothing goes out on the new port.
  EXPECT_GT(Count(TrackLogEntry::kPacket, start, moved), 30);
  link_->WaitTicks(20);
  EXPECT_EQ(Count(TrackLogEntry::kPacket, moved + 10ms, clock_.Now()), 0);
}

}  // namespace
}  // namespace qarn2::link
