#include "engine/engine.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "engine/port_advice.h"
#include "engine/port_recorder.h"
#include "engine/track_log.h"
#include "engine/track_log_lines.h"
#include "engine/virtual_time_base.h"
#include "link/hardware_setup.h"
#include "qtadapter/qt_hand_off.h"
#include "qtadapter/qt_time_base.h"
#include "serial/thread_priority.h"
#include "sim/decoder_file.h"
#include "sim/simulated_ports.h"

namespace qarn2::engine {
namespace {

// What a view does when none is set: nothing.
programming::CvCommandsView kNoCvView;
tryout::TryOutView kNoTryOutView;

std::unique_ptr<sim::SimClock> MakeClock(bool virtual_time) {
  if (virtual_time) return std::make_unique<sim::VirtualClock>();
  return std::make_unique<sim::RealClock>();
}

// A device that is not opened: the system console, which a port only takes when the
// user names it.
class ConsoleRefused : public serial::ForwardingDevice {
 public:
  using ForwardingDevice::ForwardingDevice;
  int Open(const std::string&) override { return EBUSY; }
  void Close() override {}
};

// The devices, but an active console that neither a --port nor the saved choice
// names explicitly (COM1 is /dev/ttyS0 by default, which many machines use as their
// console) is refused; its path goes to `refused`. `options` are the engine's own,
// which outlive the port.
serial::DeviceFactory RefusingConsoles(serial::DeviceFactory devices, const EngineOptions& options,
                                       std::shared_ptr<std::string> refused) {
  const std::string consoles = options.active_consoles ? *options.active_consoles : ActiveConsoles();
  return [devices = std::move(devices), consoles, &options, refused](const std::string& path)
             -> std::unique_ptr<serial::SerialDevice> {
    std::unique_ptr<serial::SerialDevice> device = devices(path);
    bool named_explicitly = false;
    for (const auto& [port, named] : options.ports.Named()) named_explicitly |= named == path;
    for (const auto& [port, saved] : options.saved_ports) named_explicitly |= saved == path;
    if (path != sim::kSimulatedPath && !named_explicitly && IsActiveConsole(path, consoles)) {
      *refused = path;
      return std::make_unique<ConsoleRefused>(std::move(device));
    }
    return device;
  };
}

// The option by which the run asks for the simulated track, as the user gave it;
// empty when none does.
std::string TrackOption(const EngineOptions& options) {
  if (options.simulate) return "--simulate";
  if (options.virtual_time) return "--virtual-time";
  if (!options.sim_decoder.empty()) return "--sim-decoder";
  return options.sim_option;
}

}  // namespace

bool AnyPortOnTheTrack(const serial::PortMap& ports) {
  for (int n = 1; n <= 16; ++n) {
    if (ports.PathOf("COM" + std::to_string(n)) == sim::kSimulatedPath) return true;
  }
  return false;
}

std::string ConflictingOptions(const EngineOptions& options) {
  const std::string option = TrackOption(options);
  // Without --simulate, a --port that names the track is where the others go.
  if (option.empty() || (!options.simulate && AnyPortOnTheTrack(options.ports))) return "";
  for (const auto& [port, path] : options.ports.Named()) {
    if (path == sim::kSimulatedPath) continue;
    return option + " puts every port on the simulated track, but --port names " + port + "=" + path +
           "; give --port COMn=sim for the track instead";
  }
  return "";
}

serial::PortMap PortsFor(const EngineOptions& options) {
  serial::PortMap ports = options.ports;
  if (options.simulate || (!TrackOption(options).empty() && !AnyPortOnTheTrack(ports))) {
    sim::MapEveryPortToTheTrack(ports);
  }
  for (const auto& [port, path] : options.saved_ports) {
    if (!ports.Named().contains(port) && !path.empty()) ports.Set(port, path);
  }
  return ports;
}

Engine::Engine(EngineOptions options)
    : options_(std::move(options)),
      simulated_(AnyPortOnTheTrack(PortsFor(options_))),
      clock_(MakeClock(options_.virtual_time && simulated_)),
      track_(std::make_unique<sim::SimulatedTrack>(*clock_, options_.track)),
      recorder_((options_.trace || options_.live_log) && !simulated_ ? std::make_unique<PortRecorder>() : nullptr),
      log_(recorder_ ? std::make_unique<LiveTrackLog>(*recorder_) : std::make_unique<LiveTrackLog>(*track_)),
      hand_off_(std::make_unique<qtadapter::QtHandOff>()),
      streams_(encoding::MakeFixedStreams()) {
  track_->Lgb().SetSettings(options_.lgb);
  track_->Station().SetSettings(options_.station);
  serial::DeviceFactory devices = RefusingConsoles(sim::DevicesWithSimulatedTrack(*track_), options_,
                                                  console_refused_);
  if (options_.wrap_devices) devices = options_.wrap_devices(std::move(devices));
  if (recorder_) devices = recorder_->Wrap(std::move(devices));
  port_ = std::make_unique<serial::TComPort>(*hand_off_, std::move(devices), PortsFor(options_));

  const auto tick = [this] {
    link_->Timer1Timer();
    if (tick_hook_) tick_hook_();
  };
  if (clock_->IsVirtual()) {
    auto time = std::make_unique<VirtualTimeBase>(static_cast<sim::VirtualClock&>(*clock_), *track_,
                                                  *hand_off_, tick);
    virtual_time_ = time.get();
    time_ = std::move(time);
  } else {
    time_ = std::make_unique<qtadapter::QtTimeBase>(tick);
    // On the wall clock this thread refills the background stream: it runs before
    // whatever else the machine is busy with, as far as the process may. (On virtual
    // time it only drives the clock, as fast as it can: no higher priority there.)
    priority_before_ = serial::CurrentThreadPriority();
    priority_ = serial::RaiseThreadPriority(serial::Urgency::kInterface);
    // Nothing is locked in RAM: what the line's threads touch stays resident on its
    // own unless the machine swaps, and locking the whole process (Qt's libraries
    // and fonts) made the idle window 118 MB instead of 35.
  }
  link_ = std::make_unique<link::TrackLink>(*port_, *time_);

  // The values every start begins with.
  state_.ProgrammingMode = "dir";
  state_.LocoAddress = 3;
  state_.SpeedSteps = 14;
  cv_commands_ = std::make_unique<programming::CvCommands>(*link_, streams_, state_, kNoCvView);
  tryout_ = std::make_unique<tryout::TryOutCommands>(*link_, streams_, state_, kNoTryOutView);

  if (!options_.sim_decoder.empty() && std::filesystem::exists(options_.sim_decoder)) {
    try {
      loaded_decoder_text_ = sim::LoadDecoderFile(options_.sim_decoder, track_->Decoder());
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string("--sim-decoder: ") + e.what());
    }
  }
  cvs_at_start_ = DecoderCvs();
}

std::vector<int> Engine::DecoderCvs() {
  auto lock = track_->Lock();
  std::vector<int> cvs;
  for (int cv = 1; cv <= sim::DecoderModel::kCvCount; ++cv) cvs.push_back(track_->Decoder().Cv(cv));
  return cvs;
}

Engine::~Engine() {
  try {
    port_->Close();
  } catch (const std::exception&) {
    // Closed all the same.
  }
  tryout_.reset();
  cv_commands_.reset();
  link_.reset();
  time_.reset();
  port_.reset();
  try {
    SaveDecoder();
  } catch (const std::exception& e) {
    std::cerr << "--sim-decoder: " << e.what() << '\n';
  }
  if (!priority_.empty()) serial::RestoreThreadPriority(priority_before_);
}

void Engine::SetViews(programming::CvCommandsView* cv_view, tryout::TryOutView* tryout_view) {
  cv_commands_->SetView(cv_view ? *cv_view : kNoCvView);
  tryout_->SetView(tryout_view ? *tryout_view : kNoTryOutView);
}

bool Engine::SetUpHardware(int kind, const std::function<void(const std::string&)>& progress) {
  switch (link::ChoiceOf(kind).set_up) {
    case link::HardwareChoice::SetUp::kBoard:
      link::SetUpBoardPort(*link_, streams_);
      return true;
    case link::HardwareChoice::SetUp::kLgb:
      return link::SetUpLgbPort(*link_);
    case link::HardwareChoice::SetUp::kDccEx:
      return link::SetUpDccExPort(*link_, progress);
    case link::HardwareChoice::SetUp::kNone:
      break;
  }
  return true;
}

bool Engine::CommandLineDecides(const std::string& port) const {
  EngineOptions without_saved = options_;
  without_saved.saved_ports.clear();
  return PortsFor(without_saved).Named().contains(port);
}

bool Engine::SetSavedPort(const std::string& port, const std::string& path) {
  if (path.empty()) {
    options_.saved_ports.erase(port);
  } else {
    options_.saved_ports[port] = path;
  }
  port_->SetPorts(PortsFor(options_));
  return !CommandLineDecides(port);
}

std::string Engine::Advice(const serial::EComPort& error) const {
  if (error.SystemErrorCode <= 0) return "";
  const std::string path = PortsFor(options_).PathOf(port_->Port());
  return PortAdvice(error.SystemErrorCode, path, *console_refused_ == path && error.SystemErrorCode == EBUSY);
}

std::vector<sim::TrackLogEntry> Engine::TraceEntries() const {
  return recorder_ ? recorder_->Entries() : track_->Log();
}

void Engine::PrintTrace(std::ostream& out) const {
  if (options_.trace_all) {
    for (const sim::TrackLogEntry& entry : TraceEntries()) out << sim::FormatLogEntry(entry) << '\n';
    return;
  }
  for (const TrackLogLine& line : CollapseLog(TraceEntries())) out << FormatLogLine(line) << '\n';
}

void Engine::SaveDecoder() {
  if (options_.sim_decoder.empty() || decoder_saved_) return;
  decoder_saved_ = true;
  // A file is written only for a decoder that changed: nothing else in it is ours.
  if (DecoderCvs() == cvs_at_start_) return;
  auto lock = track_->Lock();
  sim::SaveDecoderFile(options_.sim_decoder, loaded_decoder_text_, track_->Decoder());
}

}  // namespace qarn2::engine
