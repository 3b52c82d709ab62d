#include "sim/track_receiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "encoding/stream_decoder.h"

namespace qarn2::sim {
namespace {

// The longest DCC packet: address, up to four instruction bytes, check byte.
constexpr std::size_t kMaxPacketBytes = 6;

double Microseconds(SimTime t) { return std::chrono::duration<double, std::micro>(t).count(); }

}  // namespace

void TrackReceiver::Character(SimTime start, std::uint8_t c, SimTime bit_time, bool dcc_format) {
  if (!dcc_format) {
    Break(start, "line not at 19200 bit/s 8N1");
    line_mark_ = true;
    have_run_ = false;
    line_free_ = start + 10 * bit_time;
    return;
  }
  // A short pause after the stop bit only lengthens the mark run a little: taken out
  // of its half again when it is judged.
  if (have_run_ && line_mark_ && start > line_free_ && start - line_free_ <= kToleratedPause) {
    paused_ += start - line_free_;
  }
  // Start bit, 8 data bits least significant first, stop bit.
  Level(false, start);
  for (int bit = 0; bit < 8; ++bit) Level((c >> bit) & 1, start + (bit + 1) * bit_time);
  Level(true, start + 9 * bit_time);
  line_free_ = start + 10 * bit_time;
}

void TrackReceiver::PowerOff(SimTime when) {
  Break(when, "track power off");
  line_mark_ = true;
  have_run_ = false;
}

std::vector<TrackEvent> TrackReceiver::Take() {
  std::vector<TrackEvent> taken;
  taken.swap(events_);
  return taken;
}

void TrackReceiver::Level(bool mark, SimTime from) {
  if (mark == line_mark_) return;
  if (have_run_) HalfBitEnded(line_mark_, from - run_start_ - (line_mark_ ? paused_ : SimTime{0}), from);
  paused_ = SimTime{0};
  line_mark_ = mark;
  run_start_ = from;
  have_run_ = true;
}

void TrackReceiver::HalfBitEnded(bool mark, SimTime duration, SimTime end) {
  if (!mark) {
    space_ = duration;
    return;
  }
  if (space_ < SimTime{0}) return;  // a mark run without a space before it: idle line
  char value = '1';
  const double space_us = Microseconds(space_);
  const double mark_us = Microseconds(duration);
  space_ = SimTime{-1};
  if (auto fault = encoding::JudgeHalves(space_us, mark_us, value)) {
    const bool gap = mark_us > space_us;
    if (gap) {
      // How long the line stood idle beyond the half-bit it ended.
      char idle[64];
      std::snprintf(idle, sizeof idle, " (%.3f ms idle)", (mark_us - space_us) / 1000.0);
      Break(end - duration, std::string("gap on the line: the bit before it is lost") + idle);
    } else {
      Break(end - duration, "half-bit out of the DCC windows");
    }
    return;
  }
  Bit(value, end);
}

void TrackReceiver::Bit(char value, SimTime end) {
  switch (state_) {
    case State::kPreamble:
      if (value == '1') {
        ++ones_;
      } else if (ones_ >= MinPreamble()) {
        preamble_ = ones_;
        state_ = State::kByte;
        bit_count_ = 0;
        byte_ = 0;
        bytes_.clear();
      } else {
        ones_ = 0;  // too short a preamble: not a packet start
      }
      break;
    case State::kByte:
      byte_ = static_cast<std::uint8_t>(byte_ << 1 | (value == '1'));
      if (++bit_count_ == 8) {
        bytes_.push_back(byte_);
        state_ = State::kAfterByte;
      }
      break;
    case State::kAfterByte:
      if (value == '0') {
        if (bytes_.size() == kMaxPacketBytes) {
          Break(end, "packet longer than " + std::to_string(kMaxPacketBytes) + " bytes");
          return;
        }
        state_ = State::kByte;
        bit_count_ = 0;
        byte_ = 0;
        break;
      }
      {  // the end bit
        TrackEvent event;
        event.time = end;
        event.bytes = bytes_;
        event.preamble = preamble_;
        event.after_idle = after_idle_;
        after_idle_ = false;
        std::uint8_t check = 0;
        for (std::uint8_t b : bytes_) check ^= b;
        if (bytes_.size() < 2) {
          event.kind = TrackEvent::kBadPacket;
          event.problem = "packet of fewer than 2 bytes";
        } else if (check != 0) {
          event.kind = TrackEvent::kBadPacket;
          event.problem = "bad check byte";
        }
        events_.push_back(std::move(event));
      }
      state_ = State::kPreamble;
      ones_ = 0;  // the end bit does not count towards the next preamble
      break;
  }
}

void TrackReceiver::Break(SimTime when, std::string problem) {
  const bool in_packet = state_ != State::kPreamble;
  if (in_packet || ones_ > 0 || have_run_) {
    TrackEvent event;
    event.kind = TrackEvent::kBreak;
    event.time = when;
    event.bytes = bytes_;
    event.problem = std::move(problem) + (in_packet ? " (packet lost)" : "");
    events_.push_back(std::move(event));
  }
  state_ = State::kPreamble;
  ones_ = 0;
  bytes_.clear();
  space_ = SimTime{-1};
  after_idle_ = true;
}

std::size_t TrackReceiver::MinPreamble() const {
  if (!after_idle_) return min_preamble_;
  return std::max(min_preamble_, kPreambleAfterIdle);
}

}  // namespace qarn2::sim
