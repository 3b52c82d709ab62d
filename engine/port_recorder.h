#pragma once

// What --trace shows for a real port. The simulated track keeps its own log of what it
// received; a real board tells nothing back but the acknowledge, so the port's devices
// are wrapped and every write, line change and ring is noted on its way through. The
// writes are decoded into DCC packets only when the record is read.

#include <functional>
#include <memory>
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

  // The record in the simulated track's log format, in time order:
  // - each packet written (bytes with the check byte), at the time its first character
  //   left: the write's start plus the characters before it at 19200 bit/s 8N1;
  //   "check byte wrong" when it is;
  // - a write whose characters do not decode cleanly: a "bad packet" line saying why;
  // - DTR (track power) and RTS changes, and every ring (the decoder's acknowledge);
  // - below 19200 bit/s (the LGB interface) every write and every read as hex bytes.
  std::vector<sim::TrackLogEntry> Entries() const;

 private:
  struct Record;
  class RecordingDevice;
  std::shared_ptr<Record> record_;
};

}  // namespace qarn2::engine
