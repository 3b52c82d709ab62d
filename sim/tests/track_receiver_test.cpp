#include "sim/track_receiver.h"

#include <gtest/gtest.h>

#include "encoding/fixed_streams.h"
#include "encoding/serial_encoder.h"

namespace qarn2::sim {
namespace {

using namespace std::chrono_literals;
using encoding::Packet;

constexpr SimTime kBit = SimTime(1'000'000'000) / 19200;
constexpr SimTime kChar = 10 * kBit;

// Puts `stream` on the line from `start`, characters back to back; returns the end.
SimTime Send(TrackReceiver& track, const std::string& stream, SimTime start, bool dcc = true) {
  for (unsigned char c : stream) {
    track.Character(start, c, kBit, dcc);
    start += kChar;
  }
  return start;
}

std::vector<std::vector<std::uint8_t>> Packets(const std::vector<TrackEvent>& events) {
  std::vector<std::vector<std::uint8_t>> packets;
  for (const TrackEvent& e : events) {
    if (e.kind == TrackEvent::kPacket) packets.push_back(e.bytes);
  }
  return packets;
}

std::vector<std::uint8_t> WithCheck(Packet p) {
  std::uint8_t check = 0;
  for (std::uint8_t b : p) check ^= b;
  p.push_back(check);
  return p;
}

TEST(TrackReceiverTest, BackToBackStreamsGiveExactlyTheirPackets) {
  TrackReceiver track;
  const std::vector<Packet> packets = {{0x74, 0x1C, 0x06}, {0x78, 0x1C, 0xE8}, {0x7D, 0x01},
                                       {0x03, 0x3F}, {0x7F, 0x08}, {0xFF, 0x00}};
  std::string stream;
  for (const Packet& p : packets) stream += encoding::EncodeServicePacket(p) + encoding::EncodeServicePacket(p);
  Send(track, stream + "U", 0ns);  // one more character ends the last bit
  const auto events = track.Take();
  std::vector<std::vector<std::uint8_t>> expected;
  for (const Packet& p : packets) {
    expected.push_back(WithCheck(p));
    expected.push_back(WithCheck(p));
  }
  EXPECT_EQ(Packets(events), expected);
  for (const TrackEvent& e : events) EXPECT_GE(e.preamble, 20u);
}

TEST(TrackReceiverTest, APauseLosesTheBitBeforeItAndTheNextPacketNeedsALongerPreamble) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  const std::vector<std::uint8_t> reset = {0x00, 0x00, 0x00};
  struct Case {
    const char* what;
    SimTime pause;
    std::string second;
    std::vector<std::vector<std::uint8_t>> packets;
    int breaks;
  };
  // The first reset (15-bit preamble, taken after the idle start) ends on its end bit:
  // a gap after it loses it. After a gap 11 bits are needed, on a busy line 10.
  const Case cases[] = {
      {"back to back", 0us, fixed.ResetStream, {reset, reset}, 0},
      {"a pause of 20 us is taken in the stride", 20us, fixed.ResetStream, {reset, reset}, 0},
      {"a pause of 25 us is a gap", 25us, fixed.LongResetStream, {reset}, 1},
      {"after a gap 10 bits start no packet", 200us, fixed.ResetStream, {}, 1},
      {"after a gap 15 bits do", 200us, fixed.LongResetStream, {reset}, 1},
  };
  for (const Case& c : cases) {
    TrackReceiver track;
    const SimTime end = Send(track, fixed.LongResetStream, 0ns);
    Send(track, c.second + "U", end + c.pause);
    const auto events = track.Take();
    EXPECT_EQ(Packets(events), c.packets) << c.what;
    int breaks = 0;
    for (const TrackEvent& e : events) breaks += e.kind == TrackEvent::kBreak;
    EXPECT_EQ(breaks, c.breaks) << c.what;
  }
  // From the idle start a 10-bit preamble is too short as well.
  TrackReceiver fresh;
  Send(fresh, fixed.ResetStream + "U", 0ns);
  EXPECT_TRUE(Packets(fresh.Take()).empty());
}

TEST(TrackReceiverTest, FaultsOnTheLineMakeNoPacket) {
  std::string good = encoding::EncodeOperationsPacket({0x03, 0x3F});
  good.insert(good.begin(), 'U');  // a 15-bit preamble
  struct Case {
    const char* what;
    std::string stream;
    bool dcc;
  };
  std::string corrupt = good;
  corrupt[6] = 0x57;  // unequal halves
  std::string wrong_check = good;
  wrong_check[5] = static_cast<char>(0x56);  // 0111 for 011: bits change, timing fine
  const Case cases[] = {
      {"wrong rate or format", good, false},
      {"corrupted character", corrupt, true},
      {"bad check byte or garbled bits", wrong_check, true},
      {"short preamble after an idle line", good.substr(1), true},
  };
  for (const Case& c : cases) {
    TrackReceiver track;
    Send(track, c.stream + "UU", 0ns, c.dcc);
    EXPECT_TRUE(Packets(track.Take()).empty()) << c.what;
  }
  TrackReceiver track;
  Send(track, good + "UU", 0ns);
  EXPECT_EQ(Packets(track.Take()).size(), 1u);  // the same stream, untouched
}

TEST(TrackReceiverTest, ThePreambleADecoderNeedsIsASetting) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  // On a busy line, behind a reset: the packet's own 10-bit preamble.
  const std::string ops = fixed.LongResetStream + encoding::EncodeOperationsPacket({0x03, 0x3F});
  TrackReceiver strict(12);
  Send(strict, ops + "U", 0ns);
  EXPECT_EQ(Packets(strict.Take()).size(), 1u);  // the reset only
  TrackReceiver lenient(10);
  Send(lenient, ops + "U", 0ns);
  EXPECT_EQ(Packets(lenient.Take()).size(), 2u);
}

TEST(TrackReceiverTest, PowerOffLosesThePacketInProgress) {
  const std::string stream = encoding::EncodeServicePacket({0x74, 0x1C, 0x06});
  TrackReceiver track;
  const SimTime half = Send(track, stream.substr(0, stream.size() / 2), 0ns);
  track.PowerOff(half);
  Send(track, stream.substr(stream.size() / 2) + "U", half);
  EXPECT_TRUE(Packets(track.Take()).empty());
}

}  // namespace
}  // namespace qarn2::sim
