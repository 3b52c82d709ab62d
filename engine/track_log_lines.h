#pragma once

// The track log as people read it, in the window's "Protokoll" and the tool's --trace:
// a run of identical background packets, one right after the other, stands as one
// line with its count, and each line knows whether it is background, so that a reader
// may leave the background out and see only the commands.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulated_track.h"

namespace qarn2::engine {

// One line: an entry of the log, or a run of `count` identical background packets
// standing as the first of them (its time is the run's start).
struct TrackLogLine {
  // Shared, never changed: a copy of many lines (to save them on a thread of their
  // own) costs no copy of the entries.
  std::shared_ptr<const sim::TrackLogEntry> entry;
  std::uint64_t count = 1;
  bool background = false;
};

// The entry's line as sim::FormatLogEntry gives it, with a run's count behind it:
// "  1234.567 ms  packet  FF 00 FF  idle ×120" (UTF-8; a single packet has no count).
std::string FormatLogLine(const TrackLogLine& line);

// Makes the lines from the entries, in the order they were logged.
//
// Background is what the program repeats on its own, which tells a decoder nothing
// new; "nur Befehle" leaves it out:
// - idle packets and reset packets as the decoder took them: the meaning "idle" or
//   "reset" and nothing more (a reset noted as coming after service mode had ended, or
//   one a strict decoder refused, tells something and is not background);
// - a locomotive's speed or function-group packet in operations mode, with no note
//   behind its meaning, that is byte for byte the packet of its kind last sent to the
//   same address: the try-out repeats its packets over and over while the user
//   changes nothing, and only a changed one is the user's command. Track power going
//   on or off and a reset packet make the decoders start afresh, so the first such
//   packet after them counts as a command again.
// Never background: service-mode packets (every copy of a burst stands, and where an
// acknowledge falls among them), accessory packets (sent only when the user switches
// a turnout), every other instruction, a packet with a wrong check byte or one a
// decoder ignored, bad packets, gaps on the line, acknowledges, track power, RTS and
// the LGB interface's messages.
//
// Only background collapses: a packet continues the last line's run when both are
// background with the same bytes and the same meaning and nothing came between.
class TrackLogCollapser {
 public:
  // Adds `entry` to `lines`: to the run of the last line when it continues it (its
  // count goes up), else as a line of its own at the end. `lines` is the collapser's
  // alone, but may lose lines at the front.
  void Add(sim::TrackLogEntry entry, std::deque<TrackLogLine>& lines);
  // What comes next does not continue the last line's run: entries were missed, or the
  // lines were emptied. What was last sent to each locomotive stays known.
  void Break() { run_open_ = false; }

 private:
  bool IsBackground(const sim::TrackLogEntry& entry);

  // For each locomotive address with the kind of packet (speed, a function group):
  // the bytes last sent.
  std::map<std::uint32_t, std::vector<std::uint8_t>> last_sent_;
  bool run_open_ = false;  // the last line may take more of its run
};

// All of `entries` as lines.
std::deque<TrackLogLine> CollapseLog(std::vector<sim::TrackLogEntry> entries);

}  // namespace qarn2::engine
