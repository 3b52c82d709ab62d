#pragma once

// What a real port's trace and live log show. The simulated track keeps its own log
// of what it received; a real board tells nothing back but the acknowledge, so the
// port's devices are wrapped and every write, line change and ring is noted on its way
// through. The port's threads only note, under a short lock; the writes are decoded
// into DCC packets, with their meanings, on the thread that reads the record, and only
// what is new.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "sim/sim_time.h"
#include "sim/simulated_track.h"

namespace qarn2::engine {

class PortRecorder {
 public:
  // The time since the recording began.
  using Clock = std::function<sim::SimTime()>;

  // Times taken from the steady clock, counted from now.
  PortRecorder();
  explicit PortRecorder(Clock now);

  // The devices `make_device` makes, with everything they are told noted here. The
  // record lives on when the devices are gone.
  serial::DeviceFactory Wrap(serial::DeviceFactory make_device);

  // The most entries kept; beyond it the oldest drop out. Notes not yet decoded are
  // bounded alike (a write dropped undecoded counts as one entry lost).
  static constexpr std::size_t kMaxEntries = 100000;

  // The record in the simulated track's log format, in time order:
  // - each packet written (bytes with the check byte) with its meaning, at the time its
  //   first character left: the write's start (when it was made, or when the line had
  //   sent the writes before it) plus the characters before it at 19200 bit/s 8N1;
  //   "check byte wrong" when it is;
  // - a write whose characters do not decode cleanly: a "bad packet" line saying why;
  // - DTR (track power) and RTS changes, and every ring (the decoder's acknowledge);
  // - below 19200 bit/s (the LGB interface) every write and every read as hex bytes.
  // Everything kept, the packets of writes still going out included.
  std::vector<sim::TrackLogEntry> Entries() const;

  // The record taken a part at a time, as the simulated track's LogSince: entries
  // numbered from 0, those from `next` on, at most `max` (and at most `max` notes
  // decoded for them), `next` moved on, `lost` counting those dropped meanwhile.
  // Entries are given out only once nothing noted later can come before them in time:
  // a write's later packets wait until the line has passed them.
  std::vector<sim::TrackLogEntry> Since(std::uint64_t& next, std::size_t max, std::uint64_t& lost);

  // Forgets everything recorded so far; numbering goes on.
  void Clear();

 private:
  struct Record;
  class RecordingDevice;
  struct Numbered {
    std::uint64_t number;
    sim::TrackLogEntry entry;
  };

  // Decodes up to `max_notes` of the notes waiting; false when none are left.
  bool Decode(std::size_t max_notes) const;

  std::shared_ptr<Record> record_;  // shared with the devices
  // The decoded side, never touched by the port's threads.
  mutable std::mutex decoded_mutex_;
  mutable std::deque<Numbered> kept_;  // in time order, numbers rising
  mutable std::vector<sim::TrackLogEntry> held_;  // decoded, still to be passed in time
  mutable std::uint64_t next_number_ = 0;
  mutable sim::SimTime line_free_{};  // when the line has sent every write decoded
  std::uint64_t cleared_through_ = 0;  // the numbers below this were cleared
};

}  // namespace qarn2::engine
