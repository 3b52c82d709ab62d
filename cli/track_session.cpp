#include "cli/track_session.h"

#include <filesystem>
#include <ostream>
#include <stdexcept>

#include "cli/qt_application.h"
#include "encoding/fixed_streams.h"
#include "link/hardware_setup.h"
#include "link/virtual_time_base.h"
#include "qtadapter/qt_hand_off.h"
#include "qtadapter/qt_time_base.h"
#include "sim/decoder_file.h"
#include "sim/simulated_ports.h"

namespace qarn2::cli {
namespace {

// The hand-off needs a Qt application object on this thread (printing may have made
// it already).
std::unique_ptr<qtadapter::QtHandOff> MakeHandOff() {
  EnsureQtApplication();
  return std::make_unique<qtadapter::QtHandOff>();
}

bool AnyPortOnTheTrack(const serial::PortMap& ports) {
  for (int n = 1; n <= 16; ++n) {
    if (ports.PathOf("COM" + std::to_string(n)) == sim::kSimulatedPath) return true;
  }
  return false;
}

// --simulate puts every port on the track; so do --virtual-time and --sim-decoder,
// which only mean something there, unless a --port already names the track.
serial::PortMap PortsFor(const TrackOptions& options) {
  serial::PortMap ports = options.ports;
  const bool wants_track = options.virtual_time || !options.sim_decoder.empty();
  if (options.simulate || (wants_track && !AnyPortOnTheTrack(ports))) sim::MapEveryPortToTheTrack(ports);
  return ports;
}

// The devices behind the ports, each noted by `recorder` if there is one.
serial::DeviceFactory DevicesFor(sim::SimulatedTrack& track, PortRecorder* recorder) {
  serial::DeviceFactory devices = sim::DevicesWithSimulatedTrack(track);
  return recorder ? recorder->Wrap(std::move(devices)) : devices;
}

}  // namespace

std::string TrackOptionsHelp() {
  return R"(Track options (send, read, write, read-all, write-all, reset):
  --port COMn=PATH     the device behind COMn for this run, e.g. COM1=/dev/ttyUSB0;
                       PATH "sim" is the simulated programming track. Without it
                       COMn is /dev/ttyS<n-1>; the tool uses COM1.
  --simulate           every port is the simulated programming track.
  --virtual-time       run the simulated track on virtual time (instant, and the
                       same result every time).
  --trace              print every packet written, with its time: on the
                       simulated track what the decoder made of each packet, its
                       acknowledges, track power and gaps; on a real port the
                       packets decoded from the characters written, DTR and RTS,
                       and the rings on RI. send prints it on standard output,
                       the other commands on standard error.
  --sim-decoder FILE   the simulated decoder's CVs come from the decoder file FILE
                       (missing: defaults) and go back into it at the end.
  --virtual-time and --sim-decoder imply --simulate unless a --port names "sim".
)";
}

bool TakeTrackOption(std::span<const std::string> args, std::size_t& i, TrackOptions& options,
                     std::string& error) {
  const std::string& arg = args[i];
  const auto value = [&]() -> const std::string* {
    if (i + 1 == args.size()) {
      error = arg + " needs a value";
      return nullptr;
    }
    return &args[++i];
  };
  if (arg == "--simulate") {
    options.simulate = true;
  } else if (arg == "--virtual-time") {
    options.virtual_time = true;
  } else if (arg == "--trace") {
    options.trace = true;
  } else if (arg == "--port") {
    if (const std::string* v = value(); v && !options.ports.AddOption(*v)) {
      error = "--port takes COMn=PATH with n from 1 to 16, not '" + *v + "'";
    }
  } else if (arg == "--sim-decoder") {
    if (const std::string* v = value()) options.sim_decoder = *v;
  } else {
    return false;
  }
  return true;
}

namespace {

sim::SimClock& ClockOf(const std::unique_ptr<sim::VirtualClock>& v, const std::unique_ptr<sim::RealClock>& r) {
  if (v) return *v;
  return *r;
}

}  // namespace

TrackSession::TrackSession(const TrackOptions& options)
    : options_(options),
      simulated_(AnyPortOnTheTrack(PortsFor(options))),
      virtual_clock_(options.virtual_time ? std::make_unique<sim::VirtualClock>() : nullptr),
      real_clock_(options.virtual_time ? nullptr : std::make_unique<sim::RealClock>()),
      track_(std::make_unique<sim::SimulatedTrack>(ClockOf(virtual_clock_, real_clock_))),
      recorder_(options.trace && !simulated_ ? std::make_unique<PortRecorder>() : nullptr),
      hand_off_(MakeHandOff()),
      port_(*hand_off_, DevicesFor(*track_, recorder_.get()), PortsFor(options)) {
  const auto tick = [this] { link_->Timer1Timer(); };
  if (virtual_clock_) {
    time_ = std::make_unique<link::VirtualTimeBase>(*virtual_clock_, *track_, *hand_off_, tick);
  } else {
    time_ = std::make_unique<qtadapter::QtTimeBase>(tick);
  }
  link_ = std::make_unique<link::TrackLink>(port_, *time_);
  if (!options_.sim_decoder.empty() && std::filesystem::exists(options_.sim_decoder)) {
    try {
      loaded_decoder_text_ = sim::LoadDecoderFile(options_.sim_decoder, track_->Decoder());
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string("--sim-decoder: ") + e.what());
    }
  }
}

TrackSession::~TrackSession() {
  try {
    port_.Close();
  } catch (const std::exception&) {
    // Closed all the same.
  }
  try {
    SaveDecoder();
  } catch (const std::exception&) {
    // Reported by an explicit SaveDecoder where it matters.
  }
}

void TrackSession::SaveDecoder() {
  if (options_.sim_decoder.empty() || decoder_saved_) return;
  decoder_saved_ = true;
  auto lock = track_->Lock();
  sim::SaveDecoderFile(options_.sim_decoder, loaded_decoder_text_, track_->Decoder());
}

void TrackSession::SetUpBoard() {
  link::SetUpBoardPort(*link_, encoding::MakeFixedStreams());
  port_.WriteText(link_->BackgroundStream);  // the repetition starts with a write
}

void TrackSession::PrintTrace(std::ostream& out) const {
  if (!options_.trace) return;
  const std::vector<sim::TrackLogEntry> entries = recorder_ ? recorder_->Entries() : track_->Log();
  for (const sim::TrackLogEntry& entry : entries) out << sim::FormatLogEntry(entry) << '\n';
}

}  // namespace qarn2::cli
