// The trace of a real port (every write decoded into packets, line changes, rings) and
// the conversion of the engine's texts for the terminal.

#include "engine/port_recorder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "encoding/bit_string.h"
#include "encoding/fixed_streams.h"
#include "encoding/serial_encoder.h"
#include "serial/tests/fake_device.h"

namespace qarn2::engine {
namespace {

using namespace std::chrono_literals;
using serial::testing::FakeDevice;
using serial::testing::FakeLine;
using sim::TrackLogEntry;

// One character at 19200 bit/s 8N1, in nanoseconds (10 bits of 52.083 us).
constexpr double kCharacterNs = 1e10 / 19200.0;

class PortRecorderTest : public ::testing::Test {
 protected:
  PortRecorderTest()
      : recorder_([this] { return now_; }),
        make_device_(recorder_.Wrap([line = line_](const std::string&) {
          return std::make_unique<FakeDevice>(line);
        })) {}

  std::unique_ptr<serial::SerialDevice> Open() {
    auto device = make_device_("/dev/ttyS0");
    EXPECT_EQ(device->Open("/dev/ttyS0"), 0);
    return device;
  }
  static int Write(serial::SerialDevice& device, const std::string& data) {
    return device.StartWrite(std::make_shared<serial::WriteJob>(data, 0ms));
  }
  std::vector<TrackLogEntry> Packets() const {
    std::vector<TrackLogEntry> packets;
    for (const TrackLogEntry& entry : recorder_.Entries()) {
      if (entry.kind == TrackLogEntry::kPacket) packets.push_back(entry);
    }
    return packets;
  }

  sim::SimTime now_{0};
  std::shared_ptr<FakeLine> line_ = std::make_shared<FakeLine>();
  PortRecorder recorder_;
  serial::DeviceFactory make_device_;
};

TEST_F(PortRecorderTest, EveryPacketOfAWriteIsTimedByItsPlaceInTheWrite) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  const std::string verify = encoding::EncodeServicePacket({0x78, 0x1C, 0xEA});
  auto device = Open();
  now_ = 5ms;
  ASSERT_EQ(Write(*device, fixed.LongResetStream + verify + verify), 0);
  // The characters still reach the line unchanged.
  EXPECT_EQ(line_->Written(), fixed.LongResetStream + verify + verify);

  const std::vector<TrackLogEntry> packets = Packets();
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].bytes, (std::vector<std::uint8_t>{0x00, 0x00, 0x00}));
  EXPECT_EQ(packets[1].bytes, (std::vector<std::uint8_t>{0x78, 0x1C, 0xEA, 0x78 ^ 0x1C ^ 0xEA}));
  EXPECT_EQ(packets[2].bytes, packets[1].bytes);
  for (const TrackLogEntry& packet : packets) EXPECT_EQ(packet.text, "");
  // The first packet starts within the reset stream, the second within the first
  // verify; copies lie exactly one stream apart.
  EXPECT_GE(packets[0].time, 5ms);
  const double reset_end_ns = 5e6 + fixed.LongResetStream.size() * kCharacterNs;
  EXPECT_LT(packets[0].time.count(), reset_end_ns);
  EXPECT_GE(packets[1].time.count(), reset_end_ns);
  EXPECT_LT(packets[1].time.count(), reset_end_ns + verify.size() * kCharacterNs);
  EXPECT_NEAR(static_cast<double>((packets[2].time - packets[1].time).count()),
              verify.size() * kCharacterNs, 1.0);
}

TEST_F(PortRecorderTest, FaultyCharactersAndWrongCheckBytesAreShown) {
  auto device = Open();
  // A wrong check byte: the last data bit of the check byte turned over.
  encoding::BitString bits = encoding::BuildBitString({0x03, 0x3F});
  char& last_check_bit = bits[bits.size() - 2];
  last_check_bit = last_check_bit == '1' ? '0' : '1';
  ASSERT_EQ(Write(*device, encoding::EncodeBitString(bits)), 0);
  // A character outside the encoder's alphabet after a sound packet.
  now_ = 100ms;
  ASSERT_EQ(Write(*device, encoding::EncodeOperationsPacket({0x03, 0x3F}) + std::string(1, '\0')), 0);

  const std::vector<TrackLogEntry> entries = recorder_.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].kind, TrackLogEntry::kPacket);
  EXPECT_EQ(entries[0].text, "check byte wrong");
  EXPECT_EQ(entries[1].kind, TrackLogEntry::kPacket);
  EXPECT_EQ(entries[1].text, "");
  EXPECT_EQ(entries[2].kind, TrackLogEntry::kBadPacket);
  EXPECT_NE(entries[2].text, "");
  EXPECT_GT(entries[2].time, entries[1].time);
}

TEST_F(PortRecorderTest, LineChangesAndRingsFallBetweenThePacketsInTimeOrder) {
  const std::string reset = encoding::MakeFixedStreams().LongResetStream;
  auto device = Open();
  ASSERT_EQ(device->SetDTR(true), 0);
  ASSERT_EQ(Write(*device, reset + reset), 0);  // a background write goes on ...
  now_ = std::chrono::nanoseconds(static_cast<long>(reset.size() * kCharacterNs));
  ASSERT_EQ(device->SetRTS(true), 0);  // ... while RTS rises between its two packets
  ASSERT_EQ(device->SetEventMask({serial::evRing}), 0);
  now_ += 20ms;
  line_->Ring();
  ASSERT_EQ(device->WaitEvents().outcome, serial::EventWait::kEvents);
  // What the device refuses did not happen on the line.
  line_->FailWith(FakeLine::Op::kWrite, EIO);
  line_->FailWith(FakeLine::Op::kDtr, EIO);
  EXPECT_EQ(Write(*device, reset), EIO);
  EXPECT_EQ(device->SetDTR(false), EIO);
  device.reset();  // the record outlives the device

  std::vector<std::string> seen;
  for (const TrackLogEntry& entry : recorder_.Entries()) {
    seen.push_back(entry.kind == TrackLogEntry::kPacket ? "packet" : entry.text);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"DTR on: track power on", "packet", "RTS on", "packet",
                                            "ring on RI"}));
}

TEST_F(PortRecorderTest, BelowTheTrackRateMessagesAreShownAsTheyAre) {
  auto device = Open();
  serial::LineSettings lgb;
  lgb.baud_rate = 9600;
  ASSERT_EQ(device->SetLineSettings(lgb), 0);
  now_ = 5ms;
  ASSERT_EQ(Write(*device, std::string("\x8C\x1D\x00\x91", 4)), 0);
  line_->Receive(std::string("\x9C\x1D\x06\x87", 4));
  now_ = 60ms;
  char buffer[8];
  int got = 0;
  ASSERT_EQ(device->Read(buffer, sizeof buffer, got), 0);
  ASSERT_EQ(got, 4);
  const std::vector<TrackLogEntry> entries = recorder_.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].kind, TrackLogEntry::kLgb);
  EXPECT_EQ(entries[0].text, "to the interface: 8C 1D 00 91");
  EXPECT_EQ(entries[0].time, 5ms);
  EXPECT_EQ(entries[1].text, "from the interface: 9C 1D 06 87");
  EXPECT_EQ(entries[1].time, 60ms);
  EXPECT_TRUE(Packets().empty());
}

}  // namespace
}  // namespace qarn2::engine
