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

TEST(TrackReceiverTest, AGapLosesTheBitBeforeItAndNeedsAWholePreambleAfter) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  TrackReceiver track;
  // The reset stream ends on its end bit: a gap after it loses the packet.
  SimTime end = Send(track, fixed.ResetStream, 0ns);
  end = Send(track, fixed.ResetStream, end + 200us);
  // Idle ends on a filler '1': only that filler is lost.
  end = Send(track, fixed.IdleStream, end + 200us);
  Send(track, fixed.IdleStream, end + 1ms);
  const auto events = track.Take();
  // Both resets lost (each ends on its end bit before a gap), both idles whole; every
  // gap shows.
  EXPECT_EQ(Packets(events), (std::vector<std::vector<std::uint8_t>>{{0xFF, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}}));
  int breaks = 0, lost = 0;
  for (const TrackEvent& e : events) {
    breaks += e.kind == TrackEvent::kBreak;
    lost += e.problem.find("packet lost") != std::string::npos;
  }
  EXPECT_EQ(breaks, 3);
  EXPECT_EQ(lost, 2);
}

TEST(TrackReceiverTest, FaultsOnTheLineMakeNoPacket) {
  const std::string good = encoding::EncodeOperationsPacket({0x03, 0x3F});
  struct Case {
    const char* what;
    std::string stream;
    bool dcc;
  };
  std::string corrupt = good;
  corrupt[5] = 0x57;  // unequal halves
  std::string wrong_check = good;
  wrong_check[4] = static_cast<char>(0x56);  // 0111 for 011: bits change, timing fine
  const Case cases[] = {
      {"wrong rate or format", good, false},
      {"corrupted character", corrupt, true},
      {"bad check byte or garbled bits", wrong_check, true},
      {"short preamble", good.substr(1), true},
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
  const std::string ops = encoding::EncodeOperationsPacket({0x03, 0x3F});  // 10-bit preamble
  TrackReceiver strict(12);
  Send(strict, ops + "U", 0ns);
  EXPECT_TRUE(Packets(strict.Take()).empty());
  TrackReceiver lenient(10);
  Send(lenient, ops + "U", 0ns);
  EXPECT_EQ(Packets(lenient.Take()).size(), 1u);
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
