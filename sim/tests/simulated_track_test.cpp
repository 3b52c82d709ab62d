// The simulated track behind the serial port, on the virtual and on the real clock.

#include "sim/simulated_track.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "encoding/fixed_streams.h"
#include "encoding/serial_encoder.h"
#include "serial/com_port.h"
#include "serial/tests/fake_device.h"

namespace qarn2::sim {
namespace {

using namespace std::chrono_literals;
using serial::TComPort;
using serial::testing::TestHandOff;

// A port on the simulated track, set up as for the programming board.
struct Bench {
  explicit Bench(SimClock& clock, SimulatedTrack::Options options = {})
      : clock(clock), track(clock, options), port(hand_off, [this](const std::string&) {
    return track.MakeDevice();
  }) {
    port.SetBaudRate(serial::br19200);
    port.SetEvents({serial::evRxChar, serial::evTxEmpty, serial::evRing});
    port.OnRing = [this](serial::TCustomComPort&) { ++rings; };
    port.OnTxEmpty = [this](serial::TCustomComPort& sender) {
      ++tx_empty;
      if (!background.empty()) sender.WriteTextAsync(background, request);
    };
    serial::CreateRequest(request);
    port.Open();
  }
  ~Bench() {
    port.Close();
    serial::FreeRequest(request);
  }

  // The user-interface thread's "handle pending events": let the events raised so far
  // through and serve them until the event thread waits again.
  void Settle() {
    if (!clock.IsVirtual()) {
      hand_off.ServePending(1ms);
      return;
    }
    do {
      track.ReleaseEvents();
      do {
        hand_off.ServePending(0ms);
      } while (!track.EventsSettled());
    } while (track.EventsRaised());
  }

  // Lets `duration` pass, handling events all along.
  void Pass(SimTime duration) {
    const SimTime until = clock.Now() + duration;
    if (auto* virtual_clock = dynamic_cast<VirtualClock*>(&clock)) {
      while (clock.Now() < until) {
        virtual_clock->AdvanceTo(until, [this] { return track.EventsRaised(); });
        Settle();
      }
    } else {
      while (clock.Now() < until) Settle();
    }
  }

  SimClock& clock;
  SimulatedTrack track;
  TestHandOff hand_off;
  TComPort port;
  serial::TComRequest* request = nullptr;
  std::string background;
  int rings = 0;
  int tx_empty = 0;
};

// Reads CV 29 bit by bit as the direct bit method does: power on, resets, then for
// each bit a burst of five bit-verify packets and a 40 ms acknowledge window.
int ReadCv29ByBits(Bench& bench) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  bench.background = fixed.LongResetStream;
  bench.port.SetDTR(true);
  bench.port.WriteText(fixed.LongResetStream);
  bench.Pass(20ms);
  int value = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const std::string verify = encoding::EncodeServicePacket({0x78, 0x1C, static_cast<std::uint8_t>(0xE8 + bit)});
    std::string burst;
    for (int i = 0; i < 5; ++i) burst += verify;
    const int rings_before = bench.rings;
    bench.port.WriteText(burst);
    bench.Pass(40ms);
    if (bench.rings > rings_before) value |= 1 << bit;
  }
  bench.port.SetDTR(false);
  bench.Pass(5ms);
  return value;
}

struct Shape {
  TrackLogEntry::Kind kind;
  std::vector<std::uint8_t> bytes;
  std::string text;
  bool operator==(const Shape&) const = default;
};

// The log without breaks, bad packets and reset packets, whose number depends on how
// promptly the background stream was written again, and with each burst's copies as
// one packet: on a busy machine a late refill costs a copy (its meaning, "first
// copy" or "repeat", shifts with it), never the burst.
std::vector<Shape> ShapeOf(const std::vector<TrackLogEntry>& log) {
  std::vector<Shape> shape;
  for (const TrackLogEntry& e : log) {
    if (e.kind == TrackLogEntry::kBreak || e.kind == TrackLogEntry::kBadPacket) continue;
    if (e.kind == TrackLogEntry::kPacket && e.bytes == std::vector<std::uint8_t>{0, 0, 0}) continue;
    const bool packet = e.kind == TrackLogEntry::kPacket;
    if (packet && !shape.empty() && shape.back().kind == TrackLogEntry::kPacket && shape.back().bytes == e.bytes) {
      continue;
    }
    shape.push_back({e.kind, e.bytes, packet ? "" : e.text});
  }
  return shape;
}

TEST(SimulatedTrackTest, ReadsCv29ThroughThePortOnVirtualTime) {
  VirtualClock clock;
  Bench bench(clock);
  EXPECT_EQ(ReadCv29ByBits(bench), bench.track.Decoder().Cv(29));
  EXPECT_GT(bench.tx_empty, 10);  // the background stream kept going
  const auto log = bench.track.Log();
  int acks = 0;
  for (const TrackLogEntry& e : log) {
    acks += e.kind == TrackLogEntry::kAcknowledge;
    // The only break is the power-off at the end: the background stream left no gap.
    if (e.kind == TrackLogEntry::kBreak) {
      EXPECT_EQ(e.text, "track power off (packet lost)");
    }
  }
  EXPECT_EQ(acks, __builtin_popcount(bench.track.Decoder().Cv(29)));
  // Deterministic: a second run gives the same log, times included.
  VirtualClock clock2;
  Bench again(clock2);
  ReadCv29ByBits(again);
  const auto log2 = again.track.Log();
  ASSERT_EQ(log.size(), log2.size());
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(FormatLogEntry(log[i]), FormatLogEntry(log2[i]));
  }
}

// Each trait as the port sees it: how many acknowledges a burst of five copies gets
// (rings on RI), how long after the burst the first comes, and what the log says.
TEST(SimulatedTrackTest, DecoderTraitsShowOnTheRingInput) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  const std::string verify = encoding::EncodeServicePacket({0x74, 0x1C, 0x06});  // CV 29 = 6
  const std::string write = encoding::EncodeServicePacket({0x7C, 0x01, 0x09});   // CV 2 := 9
  const std::string other = encoding::EncodeServicePacket({0x74, 0x1C, 0x07});   // CV 29 = 7?
  std::string short_verify = encoding::EncodeOperationsPacket({0x74, 0x1C, 0x06});
  short_verify.insert(short_verify.begin(), 'U');  // a 15-bit preamble
  struct Case {
    std::vector<const char*> traits;
    std::string packet;
    int rings;
    SimTime first_after_burst_start;  // at least
    const char* logged;
  };
  const Case cases[] = {
      {{}, verify, 1, 0ms, "6 ms pulse on RI"},
      {{"ack-every-packet"}, verify, 4, 0ms, "6 ms pulse on RI"},
      {{}, other, 0, 0ms, "(no match)"},
      {{"ack-anything"}, other, 1, 0ms, "(no match, acknowledged all the same)"},
      {{"ack-pulse=5"}, verify, 1, 0ms, "5 ms pulse on RI"},
      {{"write-delay=60"}, write, 1, 60ms, "(busy writing)"},
      {{}, short_verify, 1, 0ms, "(match)"},
      {{"strict-preamble"}, short_verify, 0, 0ms, "a strict decoder wants 20"},
      {{"strict-preamble"}, verify, 1, 0ms, "(match)"},
  };
  for (const Case& c : cases) {
    SimulatedTrack::Options options;
    for (const char* trait : c.traits) ASSERT_EQ(ApplyDecoderTrait(trait, options.decoder), "");
    SCOPED_TRACE(DescribeTraits(options.decoder) + ": " + c.logged);
    VirtualClock clock;
    Bench bench(clock, options);
    bench.background = fixed.LongResetStream;
    bench.port.SetDTR(true);
    bench.port.WriteText(fixed.LongResetStream);
    bench.Pass(20ms);
    const SimTime start = clock.Now();
    std::string burst;
    for (int i = 0; i < 5; ++i) burst += c.packet;
    bench.port.WriteText(burst);
    SimTime first{-1};
    while (clock.Now() - start < 300ms) {
      bench.Pass(1ms);
      if (bench.rings > 0 && first < SimTime{0}) first = clock.Now() - start;
    }
    EXPECT_EQ(bench.rings, c.rings);
    if (c.rings > 0) {
      EXPECT_GE(first, c.first_after_burst_start);
    }
    bool logged = false;
    for (const TrackLogEntry& e : bench.track.Log()) logged = logged || e.text.find(c.logged) != std::string::npos;
    EXPECT_TRUE(logged);
  }
}

// A burst written ahead of the background goes on the line within the FIFO's time;
// written behind it, it waits for what the port holds (the refill depth).
TEST(SimulatedTrackTest, ABurstAheadOfTheBackgroundDoesNotWaitForIt) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  const std::vector<std::uint8_t> verify = {0x74, 0x1C, 0x06, 0x6E};
  for (const bool ahead : {true, false}) {
    SCOPED_TRACE(ahead ? "ahead" : "behind");
    VirtualClock clock;
    Bench bench(clock);
    bench.background = fixed.LongResetStream;
    bench.port.SetDTR(true);
    bench.port.WriteText(fixed.LongResetStream);
    bench.Pass(100ms);  // the background queued kTransmitRefillAhead deep
    const SimTime start = clock.Now();
    const std::string burst = encoding::EncodeServicePacket({0x74, 0x1C, 0x06});
    ahead ? bench.port.WriteTextAhead(burst) : bench.port.WriteText(burst);
    bench.Pass(150ms);
    SimTime end{-1};
    for (const TrackLogEntry& e : bench.track.Log()) {
      if (e.kind == TrackLogEntry::kPacket && e.bytes == verify && end < SimTime{0}) end = e.time - start;
    }
    // The FIFO's 16 characters (8.3 ms), then the packet itself (about 10 ms).
    if (ahead) {
      EXPECT_GT(end, 0ms);
      EXPECT_LT(end, 25ms);
    } else {
      EXPECT_GT(end, serial::kTransmitRefillAhead);
    }
  }
}

TEST(SimulatedTrackTest, TheRealClockGivesTheSameLog) {
  VirtualClock virtual_clock;
  Bench on_virtual(virtual_clock);
  const int expected = ReadCv29ByBits(on_virtual);

  RealClock real_clock;
  Bench on_real(real_clock);
  // What holds on a loaded machine too (timing belongs in the benchmarks): the same
  // value, and the same bursts, acknowledges and power changes in the same order.
  EXPECT_EQ(ReadCv29ByBits(on_real), expected);
  EXPECT_EQ(ShapeOf(on_virtual.track.Log()), ShapeOf(on_real.track.Log()));
}

TEST(SimulatedTrackTest, TheLogStaysBoundedAndKeepsTheNewest) {
  // A program left running for days: every power change is a line of the log.
  VirtualClock clock;
  Bench bench(clock);
  const std::size_t changes = SimulatedTrack::kMaxLogEntries + SimulatedTrack::kMaxLogEntries / 2;
  for (std::size_t i = 0; i < changes; ++i) {
    bench.port.SetDTR(i % 2 == 0);
    clock.AdvanceBy(std::chrono::microseconds(1));
  }
  const std::vector<TrackLogEntry> log = bench.track.Log();
  EXPECT_LE(log.size(), SimulatedTrack::kMaxLogEntries);
  EXPECT_GE(log.size(), SimulatedTrack::kMaxLogEntries / 2);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().time, clock.Now() - std::chrono::microseconds(1));  // the last change is there
  EXPECT_TRUE(std::is_sorted(log.begin(), log.end(),
                             [](const TrackLogEntry& a, const TrackLogEntry& b) { return a.time < b.time; }));
}

TEST(SimulatedTrackTest, AWriteCompletesWhenItsLastCharacterEntersTheFifo) {
  VirtualClock clock;
  Bench bench(clock);
  const SimTime char_time = SimTime(1'000'000'000) * 10 / 19200;
  const SimTime t0 = clock.Now();
  bench.port.WriteText(std::string(16, 'U'));  // fits the FIFO: complete at once
  EXPECT_EQ(clock.Now(), t0);
  bench.port.WriteText(std::string(20, 'U'));  // 16 + 1 on the line ahead of it
  EXPECT_GE(clock.Now() - t0, 19 * char_time);
  EXPECT_LE(clock.Now() - t0, 21 * char_time);
}

}  // namespace
}  // namespace qarn2::sim

namespace qarn2::sim {
namespace {

TEST(SimulatedTrackTest, AnswersAsTheLgbInterfaceAt9600) {
  VirtualClock clock;
  Bench bench(clock);
  std::string received;
  bench.port.OnRxChar = [&](serial::TCustomComPort& sender, int count) {
    std::string text;
    sender.ReadText(text, count);
    received += text;
  };
  bench.port.SetBaudRate(serial::br9600);
  bench.port.WriteText("\x10\x86");  // the greeting
  bench.Pass(100ms);
  EXPECT_EQ(received, "\x11\xEB\xFA");
  // Write CV 3 := 7 through the interface; the decoder behind it takes the value.
  received.clear();
  const std::string write = {'\x88', '\x03', '\x07', static_cast<char>(0x88 ^ 0x03 ^ 0x07)};
  bench.port.WriteText(write);
  bench.Pass(200ms);
  ASSERT_GE(received.size(), 3u);
  EXPECT_EQ(received.substr(0, 3), std::string("\x98\x03\x01", 3));
  EXPECT_EQ(bench.track.Decoder().Cv(3), 7);
  // Nothing of it reached the track.
  for (const TrackLogEntry& e : bench.track.Log()) EXPECT_NE(e.kind, TrackLogEntry::kPacket);
}

}  // namespace
}  // namespace qarn2::sim
