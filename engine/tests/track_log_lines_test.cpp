// Which entries of the track log are background, and which runs of them become one
// line.

#include "engine/track_log_lines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qarn2::engine {
namespace {

using sim::TrackLogEntry;

TrackLogEntry Packet(std::vector<std::uint8_t> bytes, const std::string& text) {
  std::uint8_t check = 0;
  for (std::uint8_t b : bytes) check ^= b;
  bytes.push_back(check);
  return {{}, TrackLogEntry::kPacket, bytes, text};
}

TEST(TrackLogLinesTest, OnlyIdenticalBackgroundInARowCollapses) {
  const TrackLogEntry idle = Packet({0xFF, 0x00}, "idle");
  const TrackLogEntry reset = Packet({0x00, 0x00}, "reset");
  const TrackLogEntry late_reset = Packet({0x00, 0x00}, "reset [service mode had ended: 20 ms without reset]");
  const TrackLogEntry refused = Packet({0xFF, 0x00}, "ignored: 10-bit preamble after an idle line");
  const TrackLogEntry wrong_check{{}, TrackLogEntry::kPacket, {0xFF, 0x00, 0x00}, "idle"};
  const TrackLogEntry power{{}, TrackLogEntry::kPower, {}, "track power on"};
  const TrackLogEntry verify = Packet({0x74, 0x1C, 0x06}, "service: verify CV 29 = 6 (repeat)");
  const TrackLogEntry speed = Packet({0x03, 0x68}, "ops: loco 3 speed a");
  const TrackLogEntry faster = Packet({0x03, 0x69}, "ops: loco 3 speed b");
  const TrackLogEntry light = Packet({0x03, 0x90}, "ops: loco 3 functions");
  const TrackLogEntry other_loco = Packet({0x04, 0x68}, "ops: loco 4 speed a");
  const TrackLogEntry long_speed = Packet({0xC4, 0xD2, 0x3F, 0x85}, "ops: loco 1234 (long) speed");
  const TrackLogEntry after_service = Packet({0x03, 0x68}, "ops: loco 3 speed a [leaves service mode]");
  const TrackLogEntry turnout = Packet({0x81, 0xFD}, "accessory: decoder 1 output 5 on");
  // Each line as its count and b (background) or c (shown with the commands).
  const struct {
    const char* what;
    std::vector<TrackLogEntry> entries;
    std::string lines;
  } cases[] = {
      {"idle packets in a row", {idle, idle, idle}, "3b"},
      {"a refused idle and a reset with a note", {idle, refused, reset, late_reset, reset}, "1b 1c 1b 1c 1b"},
      {"a wrong check byte", {wrong_check, wrong_check}, "1c 1c"},
      {"a burst's copies", {verify, verify, verify}, "1c 1c 1c"},
      {"the try-out's rounds", {speed, light, speed, light, speed}, "1c 1c 1b 1b 1b"},
      {"unchanged in a row", {speed, speed, speed}, "1c 2b"},
      {"a change and back", {speed, faster, speed, speed}, "1c 1c 1c 1b"},
      {"another locomotive", {speed, other_loco, speed, other_loco}, "1c 1c 1b 1b"},
      {"a long address", {long_speed, long_speed}, "1c 1b"},
      {"after power or a reset", {speed, power, speed, reset, speed}, "1c 1c 1c 1b 1c"},
      {"a note", {speed, after_service}, "1c 1c"},
      {"a turnout's copies", {turnout, turnout}, "1c 1c"},
  };
  for (const auto& c : cases) {
    std::vector<TrackLogEntry> entries = c.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i].time = std::chrono::milliseconds(i);
    const std::deque<TrackLogLine> lines = CollapseLog(entries);
    std::string got;
    std::size_t first = 0;
    for (const TrackLogLine& line : lines) {
      if (!got.empty()) got += ' ';
      got += std::to_string(line.count);
      got += line.background ? 'b' : 'c';
      EXPECT_EQ(line.entry->time, entries[first].time) << c.what << ": a run has its first packet's time";
      first += line.count;
    }
    EXPECT_EQ(got, c.lines) << c.what;
  }
}

}  // namespace
}  // namespace qarn2::engine
