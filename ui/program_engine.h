#pragma once

#include <memory>
#include <string>

#include "link/time_base.h"
#include "link/track_link.h"
#include "serial/com_port.h"
#include "sim/sim_clock.h"
#include "sim/simulated_track.h"
#include "ui/program_options.h"

namespace qarn2::qtadapter {
class QtHandOff;
}

namespace qarn2::ui {

// The engine behind the program's window on real time: the serial port (a device or
// the simulated track on the wall clock), its hand-off onto the user-interface
// thread, the 10 ms time base on Qt's event loop, and the track link. Build it on the
// user-interface thread after the application object.
class ProgramEngine {
 public:
  // Loads the simulated decoder's file if one is named and exists; throws
  // std::runtime_error with a one-line message if it cannot be read.
  explicit ProgramEngine(const ProgramOptions& options);
  // Closes the port and writes the simulated decoder's file back.
  ~ProgramEngine();
  ProgramEngine(const ProgramEngine&) = delete;
  ProgramEngine& operator=(const ProgramEngine&) = delete;

  serial::TComPort& Port() { return *port_; }
  link::TrackLink& Link() { return *link_; }
  qtadapter::QtHandOff& HandOff() { return *hand_off_; }

 private:
  ProgramOptions options_;
  sim::RealClock clock_;
  sim::SimulatedTrack track_{clock_};
  std::unique_ptr<qtadapter::QtHandOff> hand_off_;
  std::unique_ptr<serial::TComPort> port_;
  std::unique_ptr<link::TimeBase> time_;
  std::unique_ptr<link::TrackLink> link_;
  std::string loaded_decoder_text_;
};

}  // namespace qarn2::ui
