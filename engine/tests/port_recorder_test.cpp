// The record of a real port (every write decoded into packets with their meanings, line
// changes, rings), whole and taken a part at a time.

#include "engine/port_recorder.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "encoding/bit_string.h"
#include "encoding/fixed_streams.h"
#include "encoding/serial_encoder.h"
#include "programming/service_packets.h"
#include "serial/tests/fake_device.h"
#include "tryout/tryout_packets.h"

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
  EXPECT_EQ(packets[0].text, "reset");
  EXPECT_EQ(packets[1].text, "service: verify CV 29 bit 2 = 1");
  EXPECT_EQ(packets[2].text, packets[1].text);
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
  EXPECT_EQ(entries[0].text, "check byte wrong (should be 3C)");
  EXPECT_EQ(entries[1].kind, TrackLogEntry::kPacket);
  EXPECT_EQ(entries[1].text, "ops: loco 3 incomplete instruction 3F");
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

// What the program itself sends, made by its own encoders, reads back as it was meant.
TEST_F(PortRecorderTest, ThePacketsOfTheProgramReadAsTheyWereMeant) {
  namespace prog = programming;
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  const auto service = [](const encoding::Packet& p) { return encoding::EncodeServicePacket(p); };
  const auto ops = [](const encoding::Packet& p) { return encoding::EncodeOperationsPacket(p); };
  const auto drive = [](int steps, int step, bool forward, bool light) {
    tryout::DriveState d;
    d.speed_steps = steps;
    d.speed_step = step;
    d.forward = forward;
    d.light = light;
    return d;
  };
  tryout::DriveState functions = drive(28, 0, true, true);
  functions.functions[1] = functions.functions[4] = functions.functions[6] = functions.functions[12] = true;
  struct Case {
    std::string stream;
    const char* meaning;
  };
  const Case cases[] = {
      {fixed.ResetStream, "reset"},
      {fixed.LongResetStream, "reset"},
      {fixed.IdleStream, "idle"},
      {fixed.PagePresetStream, "service: write register 6 (page register) = 1"},
      {service(prog::DirectVerifyByte(29, 6)), "service: verify CV 29 = 6"},
      {service(prog::DirectWriteByte(1024, 255)), "service: write CV 1024 = 255"},
      {service(prog::DirectVerifyBit(29, 7)), "service: verify CV 29 bit 7 = 1"},
      {service(prog::RegisterVerify(1, 3)), "service: verify register 1 = 3"},
      {service(prog::RegisterWrite(8, 8)), "service: write register 8 (CV 8) = 8"},
      {service(prog::RegisterWrite(5, 6)), "service: write register 5 (CV 29) = 6"},
      {service(prog::PageRegisterWrite(256)), "service: write register 6 (page register) = 0"},
      // A service packet behind the short preamble is a locomotive's to a decoder.
      {ops(prog::DirectVerifyByte(29, 6)), "ops: loco 116 decoder control 1C + extra bytes 06"},
      {ops(tryout::SpeedDirectionPacket(3, drive(14, 5, true, true))),
       "ops: loco 3 speed 10 forward (28 steps) or speed 5 forward FL on (14 steps)"},
      {ops(tryout::SpeedDirectionPacket(3, drive(28, 5, true, false))),
       "ops: loco 3 speed 5 forward (28 steps) or speed 3 forward FL off (14 steps)"},
      {ops(tryout::SpeedDirectionPacket(127, drive(28, 28, false, false))),
       "ops: loco 127 speed 28 reverse (28 steps) or speed 14 reverse FL on (14 steps)"},
      {ops(tryout::SpeedDirectionPacket(3, drive(14, 0, false, false))),
       "ops: loco 3 stop reverse (28 steps) or stop reverse FL off (14 steps)"},
      {ops(tryout::SpeedDirectionPacket(0, drive(14, 14, true, false))),
       "ops: all locos speed 27 forward (28 steps) or speed 14 forward FL off (14 steps)"},
      {ops(tryout::FunctionGroupOne(3, functions)), "ops: loco 3 functions F1=1 F2=0 F3=0 F4=1, FL=1 with 28 steps"},
      {ops(tryout::FunctionGroupF5F8(3, functions)), "ops: loco 3 functions F5=0 F6=1 F7=0 F8=0"},
      {ops(tryout::FunctionGroupF9F12(3, functions)), "ops: loco 3 functions F9=0 F10=0 F11=0 F12=1"},
      {ops(*tryout::TurnoutPacket(6, true)), "accessory: decoder 2 output 3 on"},
      {ops(*tryout::TurnoutPacket(1, false)), "accessory: decoder 1 output 0 on"},
      {ops(*tryout::TurnoutPacket(127, false)), "accessory: decoder 32 output 4 on"},
  };
  auto device = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.meaning);
    now_ += 100ms;
    ASSERT_EQ(Write(*device, c.stream), 0);
    const std::vector<TrackLogEntry> packets = Packets();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.back().text, c.meaning);
  }
  EXPECT_EQ(Packets().size(), std::size(cases));

  // The try-out stream: each of its four packets, then two idle packets, twice over.
  recorder_.Clear();
  ASSERT_EQ(Write(*device, tryout::TryOutStream(3, functions, fixed.IdleStream)), 0);
  std::vector<std::string> meanings;
  for (const TrackLogEntry& packet : Packets()) meanings.push_back(packet.text);
  ASSERT_EQ(meanings.size(), 24u);
  EXPECT_EQ(meanings[0], "ops: loco 3 stop forward (28 steps) or stop forward FL off (14 steps)");
  EXPECT_EQ(meanings[3], "ops: loco 3 functions F1=1 F2=0 F3=0 F4=1, FL=1 with 28 steps");
  for (std::size_t i = 0; i < meanings.size(); ++i) {
    if (i % 3 != 0) {
      EXPECT_EQ(meanings[i], "idle") << i;
    }
  }
  EXPECT_TRUE(std::equal(meanings.begin(), meanings.begin() + 12, meanings.begin() + 12));
}

// Taken a part at a time, the record gives each entry once, in time order, and only
// when nothing noted later can come before it: a write's packets still going out wait.
TEST_F(PortRecorderTest, TakenAPartAtATimeEveryEntryComesOnceInTimeOrder) {
  const std::string reset = encoding::MakeFixedStreams().LongResetStream;
  const double reset_ns = reset.size() * kCharacterNs;
  auto device = Open();
  std::uint64_t next = 0;
  std::uint64_t lost = 99;
  std::vector<std::string> seen;
  const auto take = [&](std::size_t max) {
    for (const TrackLogEntry& e : recorder_.Since(next, max, lost)) {
      seen.push_back(e.text);
    }
    EXPECT_EQ(lost, 0u);
  };
  ASSERT_EQ(device->SetDTR(true), 0);
  ASSERT_EQ(Write(*device, reset + reset + reset), 0);
  take(100);
  EXPECT_EQ(seen, std::vector<std::string>{"DTR on: track power on"});  // the packets are yet to go out
  // RTS rises while the second reset goes out: it comes between the second and third.
  now_ = std::chrono::nanoseconds(static_cast<long>(1.5 * reset_ns));
  ASSERT_EQ(device->SetRTS(true), 0);
  take(100);
  EXPECT_EQ(seen, (std::vector<std::string>{"DTR on: track power on", "reset", "reset", "RTS on"}));
  now_ = std::chrono::nanoseconds(static_cast<long>(3 * reset_ns));
  take(1);  // one at a time
  take(1);
  take(1);
  EXPECT_EQ(seen, (std::vector<std::string>{"DTR on: track power on", "reset", "reset", "RTS on", "reset"}));
  EXPECT_EQ(next, 5u);
  EXPECT_EQ(recorder_.Entries().size(), 5u);

  // Cleared entries are gone for every reader, and not counted as lost.
  ASSERT_EQ(device->SetRTS(false), 0);
  std::uint64_t behind = 2;
  recorder_.Clear();
  now_ += 1ms;
  ASSERT_EQ(device->SetDTR(false), 0);
  const std::vector<TrackLogEntry> after = recorder_.Since(behind, 100, lost);
  EXPECT_EQ(lost, 0u);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].text, "DTR off: track power off");
  EXPECT_EQ(behind, 6u);  // RTS off was cleared before it got a number
}

// The line sends one write after the other: a write made while the one before still
// goes out (the port asks for more 40 ms ahead) starts where that one ends, and a ring
// in the middle of a burst falls between its copies. A device that takes characters
// faster than any line does not run the times off; a write ahead of the background
// drops what had not begun.
TEST_F(PortRecorderTest, AWriteMadeWhileTheLineIsBusyGoesOutAfterTheOneBefore) {
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  const std::string verify = encoding::EncodeServicePacket({0x74, 0x1C, 0x06});
  const double verify_ns = verify.size() * kCharacterNs;
  auto device = Open();
  ASSERT_EQ(device->SetEventMask({serial::evRing}), 0);
  ASSERT_EQ(Write(*device, verify + verify + verify + verify + verify), 0);
  now_ = std::chrono::nanoseconds(static_cast<long>(2.1 * verify_ns));  // before the third's start bit
  line_->Ring();
  ASSERT_EQ(device->WaitEvents().outcome, serial::EventWait::kEvents);
  now_ = std::chrono::nanoseconds(static_cast<long>(3.5 * verify_ns));  // a copy and a half to go
  ASSERT_EQ(Write(*device, fixed.LongResetStream), 0);
  std::vector<std::string> seen;
  for (const TrackLogEntry& e : recorder_.Entries()) seen.push_back(e.text);
  const std::string v = "service: verify CV 29 = 6";
  EXPECT_EQ(seen, (std::vector<std::string>{v, v, "ring on RI", v, v, v, "reset"}));

  // Written far faster than the line takes it: each write starts at most 200 ms after
  // it was made.
  recorder_.Clear();
  now_ = 1s;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(Write(*device, fixed.LongResetStream), 0);
  const std::vector<TrackLogEntry> packets = Packets();
  ASSERT_EQ(packets.size(), 1000u);
  EXPECT_LT(packets.back().time, 1s + 200ms + std::chrono::nanoseconds(static_cast<long>(
                                                     fixed.LongResetStream.size() * kCharacterNs)));
  EXPECT_GT(packets[1].time, packets[0].time);  // until then one after the other

  // A write ahead of the queued background: of that, only what the UART's FIFO still
  // held goes out, and the write follows at once.
  recorder_.Clear();
  now_ = 10s;
  ASSERT_EQ(Write(*device, verify + verify + verify + verify + verify), 0);
  now_ += std::chrono::nanoseconds(static_cast<long>(1.2 * verify_ns));
  auto ahead = std::make_shared<serial::WriteJob>(fixed.LongResetStream, 0ms);
  ahead->SetAhead();
  ASSERT_EQ(device->StartWrite(ahead), 0);
  seen.clear();
  for (const TrackLogEntry& e : Packets()) seen.push_back(e.text);
  EXPECT_EQ(seen, (std::vector<std::string>{v, v, "reset"}));
  EXPECT_LT(Packets().back().time, now_ + std::chrono::nanoseconds(static_cast<long>(
                                              (16 + fixed.LongResetStream.size()) * kCharacterNs)));
}

// A port nobody reads the record of, for days: the notes waiting to be decoded stay
// bounded, and the reader is told how many were lost.
TEST(PortRecorderBoundTest, NotesNobodyReadsStayBoundedAndTheLossIsCounted) {
  // A device that takes every write at once and keeps nothing of it.
  class Discarding : public serial::ForwardingDevice {
   public:
    using ForwardingDevice::ForwardingDevice;
    int StartWrite(std::shared_ptr<serial::WriteJob> job) override {
      job->Complete(static_cast<int>(job->data().size()), 0);
      return 0;
    }
  };
  sim::SimTime now{0};
  PortRecorder recorder([&now] { return now; });
  auto line = std::make_shared<FakeLine>();
  auto device = recorder.Wrap([line](const std::string&) {
    return std::make_unique<Discarding>(std::make_unique<FakeDevice>(line));
  })("/dev/ttyS0");
  ASSERT_EQ(device->Open("/dev/ttyS0"), 0);
  const std::string idle = encoding::MakeFixedStreams().IdleStream;  // one packet each
  const auto write = [&](int count) {
    for (int i = 0; i < count; ++i) {
      now += 10ms;
      device->StartWrite(std::make_shared<serial::WriteJob>(idle, 0ms));
    }
  };
  constexpr int kBound = static_cast<int>(PortRecorder::kMaxEntries);
  write(kBound);
  const std::size_t at_bound = mallinfo2().uordblks;
  write(kBound + kBound / 2);
  const std::size_t later = mallinfo2().uordblks;
#if !defined(__SANITIZE_ADDRESS__)  // its allocator keeps no such count
  // 150,000 more notes kept would take well over 10 MB.
  EXPECT_LT(later, at_bound + 2 * 1024 * 1024);
#else
  (void)at_bound;
  (void)later;
#endif

  now += 10ms;  // the last packet has gone out
  std::uint64_t next = 0;
  std::uint64_t lost = 0;
  std::vector<TrackLogEntry> part = recorder.Since(next, 2000, lost);
  EXPECT_EQ(lost, static_cast<std::uint64_t>(kBound + kBound / 2));
  std::size_t taken = part.size();
  while (!part.empty()) {
    EXPECT_EQ(part.front().text, "idle");
    part = recorder.Since(next, 2000, lost);
    EXPECT_EQ(lost, 0u);
    taken += part.size();
  }
  EXPECT_EQ(taken, PortRecorder::kMaxEntries);
  EXPECT_EQ(next, static_cast<std::uint64_t>(kBound * 5 / 2));
}

}  // namespace
}  // namespace qarn2::engine
