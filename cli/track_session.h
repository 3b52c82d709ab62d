#pragma once

// What the commands that talk to a programming track share: the options that say
// which device stands behind the port and how time runs, the port itself, and the
// step that lets time pass while the port's notifications are handled.

#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "cli/port_recorder.h"
#include "link/time_base.h"
#include "link/track_link.h"
#include "serial/com_port.h"
#include "serial/port_map.h"
#include "sim/sim_clock.h"
#include "sim/simulated_track.h"

namespace qarn2::qtadapter {
class QtHandOff;
}

namespace qarn2::cli {

struct TrackOptions {
  serial::PortMap ports;      // --port COMn=PATH (PATH "sim": the simulated track)
  bool simulate = false;      // --simulate: every port is the simulated track
  bool virtual_time = false;  // --virtual-time: the simulated track on virtual time
  bool trace = false;         // --trace: print every packet written (and, on the
                              // simulated track, what the decoder made of it)
  std::string sim_decoder;    // --sim-decoder FILE: the simulated decoder's memory
};

// The track options as the help text explains them.
std::string TrackOptionsHelp();

// Takes the option at `args[i]` if it is one of the above (advancing `i` past its
// value). Returns false for other arguments; sets `error` for a bad value.
bool TakeTrackOption(std::span<const std::string> args, std::size_t& i, TrackOptions& options,
                     std::string& error);

class TrackSession {
 public:
  // Builds the port on COM1 with its track link and time base; loads the decoder file
  // if one is named. Throws std::runtime_error with a one-line message for an
  // unreadable decoder file.
  explicit TrackSession(const TrackOptions& options);
  // Closes the port and writes the decoder file back.
  ~TrackSession();

  serial::TComPort& Port() { return port_; }
  link::TrackLink& Link() { return *link_; }
  bool Simulated() const { return simulated_; }

  // The board's port set-up, then the background stream set going.
  void SetUpBoard();
  // With --trace: the simulated track's log, or for a real port what was written to it
  // (decoded), its line changes and rings. Nothing without --trace.
  void PrintTrace(std::ostream& out) const;
  // Writes the decoder file back now (also done at the end).
  void SaveDecoder();

 private:
  TrackOptions options_;
  bool simulated_ = false;
  std::unique_ptr<sim::VirtualClock> virtual_clock_;  // one of the two
  std::unique_ptr<sim::RealClock> real_clock_;
  std::unique_ptr<sim::SimulatedTrack> track_;
  std::unique_ptr<PortRecorder> recorder_;  // --trace on a real port
  std::unique_ptr<qtadapter::QtHandOff> hand_off_;
  serial::TComPort port_;
  std::unique_ptr<link::TimeBase> time_;
  std::unique_ptr<link::TrackLink> link_;
  std::string loaded_decoder_text_;
  bool decoder_saved_ = false;
};

}  // namespace qarn2::cli
