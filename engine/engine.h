#pragma once

// The program's engine in one piece: the serial port with the device behind it (a
// tty, or the simulated programming track on the wall clock or on virtual time), the
// hand-off of its notifications onto the user-interface thread, the 10 ms time base,
// the track link, the shared state, the CV commands with their programming methods,
// and the try-outs. The window, the command-line tool, the benchmarks and the tests
// all build it this way; there is no other.

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "encoding/fixed_streams.h"
#include "link/time_base.h"
#include "link/track_link.h"
#include "programming/cv_commands.h"
#include "programming/program_state.h"
#include "serial/com_error.h"
#include "serial/com_port.h"
#include "serial/port_map.h"
#include "serial/thread_priority.h"
#include "sim/sim_clock.h"
#include "sim/simulated_track.h"
#include "tryout/tryout_commands.h"

namespace qarn2::qtadapter {
class QtHandOff;
}

namespace qarn2::engine {

class LiveTrackLog;
class PortRecorder;
class VirtualTimeBase;

struct EngineOptions {
  serial::PortMap ports;      // --port COMn=PATH (PATH "sim": the simulated track)
  // The window's saved choice of devices ("COM1" -> "/dev/serial/by-id/..."): used for
  // a COMn that no --port names and that no option puts on the simulated track.
  std::map<std::string, std::string> saved_ports;
  bool simulate = false;      // --simulate: every port is the simulated track
  bool virtual_time = false;  // the simulated track on virtual time (implies simulate
                              // unless a --port names "sim")
  bool trace = false;         // keep a record of what went to a real port
  bool trace_all = false;     // the printed trace keeps every packet (else a run of
                              // identical background packets is one line)
  bool live_log = false;      // the same, for the live log (the window's "Protokoll"):
                              // on the simulated track the track keeps its own
  std::string sim_decoder;    // the simulated decoder's CVs from and back to this
                              // decoder file (implies simulate likewise)
  std::string sim_option;     // the first --sim-* option given ("--sim-seed"): it
                              // shapes the simulated track and so implies simulate
  // How the simulated hardware behaves (its LGB interface's replies among it).
  sim::SimulatedTrack::Options track;
  sim::LgbSettings lgb;
  sim::DccExSettings station;  // the simulated DCC-EX station's times
  // Puts something between the port and its devices (a test's watch on the lines, or
  // a device of its own); a real port's record notes what the port tells it.
  std::function<serial::DeviceFactory(serial::DeviceFactory)> wrap_devices;
  // The system's active consoles (as /sys/class/tty/console/active lists them); read
  // from the system when not given. A console is not opened unless a --port names it.
  std::optional<std::string> active_consoles;
};

// The port map for `options`: --simulate, --virtual-time, --sim-decoder and every
// other --sim-* option put every port on the simulated track, unless a --port
// already names it; the saved choice takes the ports that are left.
serial::PortMap PortsFor(const EngineOptions& options);
bool AnyPortOnTheTrack(const serial::PortMap& ports);
// Options that contradict each other: --simulate, --virtual-time or a --sim-* option
// would silently take a real port that a --port names away to the simulated track.
// The problem as one line, empty when there is none.
std::string ConflictingOptions(const EngineOptions& options);

class Engine {
 public:
  // Build on the user-interface thread, with a Qt application object in place. Loads
  // the simulated decoder's file if one is named and exists; throws
  // std::runtime_error with a one-line message when it cannot be read.
  explicit Engine(EngineOptions options);
  // Closes the port and writes the simulated decoder's file back (errors on stderr;
  // call SaveDecoder first to see them).
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  serial::TComPort& Port() { return *port_; }
  link::TrackLink& Link() { return *link_; }
  link::TimeBase& Time() { return *time_; }
  qtadapter::QtHandOff& HandOff() { return *hand_off_; }
  programming::ProgramState& State() { return state_; }
  const encoding::FixedStreams& Streams() const { return streams_; }
  programming::CvCommands& Cv() { return *cv_commands_; }
  programming::ServiceModeProgrammer& Programmer() { return cv_commands_->Programmer(); }
  tryout::TryOutCommands& TryOut() { return *tryout_; }

  // Where the commands show what they do: the window's CV box and try-out panel, the
  // tool's progress lines. Null: nothing is shown. The views must outlive their use.
  void SetViews(programming::CvCommandsView* cv_view, tryout::TryOutView* tryout_view);

  // Runs at every tick of the timer, after the link's own handler: lets a test act in
  // the middle of a running command, as the user would.
  void SetTickHook(std::function<void()> hook) { tick_hook_ = std::move(hook); }

  // The port set-up of the hardware `kind` (a link::HardwareKindValue): the board's
  // for the board and the booster, the LGB interface's with its greeting for the
  // interface, the station's with its banner for a DCC-EX station (`progress` hears
  // what is waited for, Windows-1252), none for the others. Returns false when the
  // interface or the station did not answer. HardwareKind itself is the caller's to set.
  bool SetUpHardware(int kind, const std::function<void(const std::string&)>& progress = {});

  // The simulated track (there even when no port leads to it), its clock, and the
  // virtual time base (null on the wall clock).
  bool Simulated() const { return simulated_; }
  sim::SimulatedTrack& Track() { return *track_; }
  sim::SimClock& Clock() { return *clock_; }
  VirtualTimeBase* VirtualTime() { return virtual_time_; }
  // The priority the user-interface thread got on the wall clock ("SCHED_FIFO 10",
  // "nice -10", "unchanged"; empty on virtual time).
  const std::string& Priority() const { return priority_; }

  // Changes the saved choice for `port` ("COM1") to `path`, or back to the default
  // when `path` is empty, from the port's next Open on. False when the command line
  // decides that port for this run (--port, --simulate), so nothing changes now.
  bool SetSavedPort(const std::string& port, const std::string& path);
  // Whether the command line decides `port` for this run.
  bool CommandLineDecides(const std::string& port) const;

  // What to add behind the port's error message: the system's words for its number
  // and what to do (German).
  std::string Advice(const serial::EComPort& error) const;

  // The record of the run: the simulated track's log, or with `trace` on a real port
  // what went through it (packets decoded, line changes, rings).
  std::vector<sim::TrackLogEntry> TraceEntries() const;
  // The record a line each, as the window's "Protokoll" shows it (see
  // TrackLogCollapser), or with `trace_all` every entry a line.
  void PrintTrace(std::ostream& out) const;

  // The same record, live: polled on the user-interface thread (see LiveTrackLog). On
  // a real port it holds something only with `live_log` or `trace`.
  LiveTrackLog& Log() { return *log_; }

  // Writes the simulated decoder's file back now (once; also done at the end), if a CV
  // changed since it was loaded. Throws std::runtime_error when it cannot.
  void SaveDecoder();

 private:
  EngineOptions options_;
  bool simulated_;
  std::unique_ptr<sim::SimClock> clock_;
  std::unique_ptr<sim::SimulatedTrack> track_;
  std::unique_ptr<PortRecorder> recorder_;
  std::unique_ptr<LiveTrackLog> log_;
  std::unique_ptr<qtadapter::QtHandOff> hand_off_;
  std::unique_ptr<serial::TComPort> port_;
  std::unique_ptr<link::TimeBase> time_;
  VirtualTimeBase* virtual_time_ = nullptr;  // time_, when it runs on virtual time
  std::unique_ptr<link::TrackLink> link_;
  std::function<void()> tick_hook_;
  std::string priority_;
  std::shared_ptr<std::string> console_refused_ = std::make_shared<std::string>();  // its path
  serial::ThreadPriority priority_before_;
  const encoding::FixedStreams streams_;
  programming::ProgramState state_;
  std::unique_ptr<programming::CvCommands> cv_commands_;
  std::unique_ptr<tryout::TryOutCommands> tryout_;
  std::vector<int> DecoderCvs();

  std::string loaded_decoder_text_;
  std::vector<int> cvs_at_start_;  // the simulated decoder's CVs after loading
  bool decoder_saved_ = false;
};

}  // namespace qarn2::engine
