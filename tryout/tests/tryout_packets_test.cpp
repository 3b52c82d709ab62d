// The try-out packets against worked examples and the 28-step table of the DCC
// baseline packet.

#include "tryout/tryout_packets.h"

#include <gtest/gtest.h>

#include "encoding/fixed_streams.h"
#include "encoding/stream_decoder.h"

namespace qarn2::tryout {
namespace {

using encoding::Packet;

DriveState Drive(int steps, int step, bool forward, bool light = false) {
  DriveState d;
  d.speed_steps = steps;
  d.speed_step = step;
  d.forward = forward;
  d.light = light;
  return d;
}

TEST(TryOutPacketsTest, SpeedAndDirection) {
  const struct {
    DriveState drive;
    int byte;
  } cases[] = {
      {Drive(14, 5, true, true), 0x76},  {Drive(14, 0, true), 0x60},   {Drive(14, 0, false), 0x40},
      {Drive(14, 14, true), 0x6F},       {Drive(14, 1, false, true), 0x52},
      {Drive(14, 0, false, true), 0x50}, {Drive(28, 1, true), 0x62},   {Drive(28, 2, true), 0x72},
      {Drive(28, 27, true), 0x6F},       {Drive(28, 28, true), 0x7F},  {Drive(28, 28, false), 0x5F},
      {Drive(28, 0, true, true), 0x60},  // the light is not in the 28-step byte
      // Beyond 14 in 14-step mode: step 14, light and direction untouched.
      {Drive(14, 20, true, false), 0x6F}, {Drive(14, 28, false, true), 0x5F},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.drive.speed_steps << " steps, step " << c.drive.speed_step);
    EXPECT_EQ(SpeedDirectionPacket(3, c.drive), (Packet{0x03, static_cast<std::uint8_t>(c.byte)}));
  }
}

TEST(TryOutPacketsTest, TwentyEightStepsFollowTheBaselineTable) {
  // Step s is sent as the 5-bit value s + 3 with its lowest bit in bit 4:
  // 1 = 0 0010, 2 = 1 0010, 3 = 0 0011, ..., 28 = 1 1111.
  for (int step = 1; step <= 28; ++step) {
    const int instruction = SpeedDirectionPacket(1, Drive(28, step, true))[1];
    const int code = ((instruction & 0x0F) << 1) | ((instruction >> 4) & 1);
    EXPECT_EQ(code - 3, step) << step;
    EXPECT_GE(instruction & 0x0F, 2) << step;  // never stop or emergency stop
  }
}

TEST(TryOutPacketsTest, FunctionGroups) {
  DriveState d = Drive(28, 0, true, true);
  d.functions[1] = d.functions[3] = true;
  EXPECT_EQ(FunctionGroupOne(3, d), (Packet{0x03, 0x95}));
  d.speed_steps = 14;
  EXPECT_EQ(FunctionGroupOne(3, d), (Packet{0x03, 0x85}));
  d.functions[5] = d.functions[8] = d.functions[10] = d.functions[12] = true;
  EXPECT_EQ(FunctionGroupF5F8(3, d), (Packet{0x03, 0xB9}));
  EXPECT_EQ(FunctionGroupF9F12(3, d), (Packet{0x03, 0xAA}));
  EXPECT_EQ(FunctionGroupF5F8(127, DriveState{}), (Packet{0x7F, 0xB0}));
}

TEST(TryOutPacketsTest, TurnoutPackets) {
  const struct {
    int turnout;
    bool links;
    Packet bytes;
  } cases[] = {
      {1, true, {0x81, 0xF9}}, {1, false, {0x81, 0xF8}}, {4, true, {0x81, 0xFF}},
      {5, false, {0x82, 0xF8}}, {6, true, {0x82, 0xFB}}, {6, false, {0x82, 0xFA}},
      {127, true, {0xA0, 0xFD}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TurnoutPacket(c.turnout, c.links), c.bytes) << c.turnout;
  }
  for (int outside : {0, -1, 128}) {
    EXPECT_EQ(TurnoutPacket(outside, true), std::nullopt) << outside;
  }
}

TEST(TryOutPacketsTest, StreamHoldsTheFourPacketsWithIdlesTwice) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  DriveState d = Drive(14, 3, true, true);
  d.functions[2] = d.functions[6] = d.functions[11] = true;
  const encoding::StreamDecode decoded = encoding::DecodeSerialStream(TryOutStream(5, d, fixed.IdleStream), false);
  ASSERT_FALSE(decoded.error) << decoded.error->message;
  const std::vector<std::uint8_t> idle{0xFF, 0x00, 0xFF};
  const std::vector<std::vector<std::uint8_t>> round = {
      {0x05, 0x74, 0x71}, idle, idle, {0x05, 0x82, 0x87}, idle, idle,
      {0x05, 0xB2, 0xB7}, idle, idle, {0x05, 0xA4, 0xA1}, idle, idle};
  ASSERT_EQ(decoded.packets.size(), 24u);
  for (std::size_t i = 0; i < 24; ++i) {
    EXPECT_EQ(decoded.packets[i].bytes, round[i % 12]) << i;
  }
}

}  // namespace
}  // namespace qarn2::tryout
