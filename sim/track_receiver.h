#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_time.h"

namespace qarn2::sim {

// What the track made of the line: a packet (valid or not) or a break in the bit
// stream.
struct TrackEvent {
  enum Kind { kPacket, kBadPacket, kBreak };
  Kind kind = kPacket;
  SimTime time{};                    // when it was complete on the line
  std::vector<std::uint8_t> bytes;   // the packet's bytes, check byte last
  std::size_t preamble = 0;          // '1' bits before the packet
  bool after_idle = false;           // its preamble began after an idle or broken line
  std::string problem;               // for kBadPacket and kBreak
};

// The decoder's view of the line: serial characters, each at its time on the line,
// become line levels, half-bits with their durations, DCC bits and packets, judged as
// a decoder does. An idle stretch between two characters lengthens the last mark half,
// so the bit before a gap is lost, unless it lasts no more than kToleratedPause (a
// decoder's timing takes that much). After an idle line or any fault the next packet
// needs a longer preamble, 11 bits: the decoder first finds the halves' order again.
class TrackReceiver {
 public:
  static constexpr SimTime kToleratedPause = std::chrono::microseconds(20);
  static constexpr std::size_t kPreambleAfterIdle = 11;

  // '1' bits a packet needs before its start bit (10..12) on a busy line.
  explicit TrackReceiver(std::size_t min_preamble = 10) : min_preamble_(min_preamble) {}
  void SetMinPreamble(std::size_t bits) { min_preamble_ = bits; }

  // One character whose start bit begins at `start`; `bit_time` is one serial bit.
  // `dcc_format` is false unless the line runs 19200 bit/s 8N1: then nothing the
  // character makes is a DCC signal, and the bit stream breaks.
  void Character(SimTime start, std::uint8_t c, SimTime bit_time, bool dcc_format);
  // The track went without power: everything in progress is lost.
  void PowerOff(SimTime when);

  // Events since the last call.
  std::vector<TrackEvent> Take();

 private:
  void Level(bool mark, SimTime from);  // the line changes to `mark` at `from`
  void HalfBitEnded(bool mark, SimTime duration, SimTime end);
  void Bit(char value, SimTime end);
  void Break(SimTime when, std::string problem);

  std::size_t MinPreamble() const;

  std::size_t min_preamble_;
  bool after_idle_ = true;     // nothing whole since the line was idle or broke
  SimTime paused_{0};          // short pauses inside the current mark run
  bool line_mark_ = true;      // idle line is mark
  SimTime run_start_{};        // start of the current run of `line_mark_`
  bool have_run_ = false;      // a run has started since the last break
  SimTime space_{-1};          // the space half waiting for its mark half
  SimTime line_free_{};        // end of the last character's stop bit

  // Packet assembly.
  enum class State { kPreamble, kByte, kAfterByte };
  State state_ = State::kPreamble;
  std::size_t ones_ = 0;
  std::size_t preamble_ = 0;
  int bit_count_ = 0;
  std::uint8_t byte_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::vector<TrackEvent> events_;
};

}  // namespace qarn2::sim
