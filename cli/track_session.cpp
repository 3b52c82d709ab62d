#include "cli/track_session.h"

#include <QCoreApplication>

#include <filesystem>
#include <ostream>
#include <stdexcept>

#include "encoding/fixed_streams.h"
#include "qtadapter/qt_hand_off.h"
#include "sim/decoder_file.h"
#include "sim/simulated_ports.h"

namespace qarn2::cli {
namespace {

using namespace std::chrono_literals;

// The hand-off needs a Qt application object on this thread; the command-line tool
// makes one the first time a command talks to a track.
void EnsureQtApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "qarn2-cli";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
}

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

}  // namespace

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

TrackSession::TrackSession(const TrackOptions& options)
    : options_(options),
      simulated_(AnyPortOnTheTrack(PortsFor(options))),
      clock_(options.virtual_time ? std::unique_ptr<sim::SimClock>(new sim::VirtualClock)
                                  : std::unique_ptr<sim::SimClock>(new sim::RealClock)),
      track_(std::make_unique<sim::SimulatedTrack>(*clock_)),
      hand_off_(MakeHandOff()),
      port_(*hand_off_, sim::DevicesWithSimulatedTrack(*track_), PortsFor(options)) {
  if (!options_.sim_decoder.empty() && std::filesystem::exists(options_.sim_decoder)) {
    try {
      loaded_decoder_text_ = sim::LoadDecoderFile(options_.sim_decoder, track_->Decoder());
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string("--sim-decoder: ") + e.what());
    }
  }
  serial::CreateRequest(background_request_);
  port_.OnRing = [this](serial::TCustomComPort&) { ++rings_; };
  port_.OnTxEmpty = [this](serial::TCustomComPort& sender) {
    if (!background_.empty()) sender.WriteTextAsync(background_, background_request_);
  };
  port_.OnRxChar = [](serial::TCustomComPort& sender, int count) {
    std::string ignored;
    sender.ReadText(ignored, count);
  };
}

TrackSession::~TrackSession() {
  try {
    port_.Close();
  } catch (const std::exception&) {
    // Closed all the same.
  }
  serial::FreeRequest(background_request_);
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
  const encoding::FixedStreams fixed = encoding::MakeFixedStreams();
  port_.SetBaudRate(serial::br19200);
  port_.SetDataBits(serial::dbEight);
  port_.SetStopBits(serial::sbOneStopBit);
  port_.Parity().SetBits(serial::prNone);
  port_.SetEvents({serial::evRxChar, serial::evTxEmpty, serial::evRing});
  port_.Open();
  port_.SetDTR(true);
  background_ = fixed.LongResetStream;
  port_.WriteText(background_);
  port_.SetRTS(false);
  rings_ = 0;
}

void TrackSession::Settle() {
  if (!options_.virtual_time) {
    QCoreApplication::processEvents();
    hand_off_->ServePending(1ms);
    return;
  }
  do {
    track_->ReleaseEvents();
    hand_off_->ServePending(0ms);
  } while (!track_->EventsSettled());
}

void TrackSession::Pass(sim::SimTime duration) {
  const sim::SimTime until = clock_->Now() + duration;
  auto* virtual_clock = dynamic_cast<sim::VirtualClock*>(clock_.get());
  while (clock_->Now() < until) {
    if (virtual_clock) virtual_clock->AdvanceTo(until, [this] { return track_->EventsRaised(); });
    Settle();
  }
}

void TrackSession::PrintTrace(std::ostream& out) const {
  for (const sim::TrackLogEntry& entry : track_->Log()) out << sim::FormatLogEntry(entry) << '\n';
}

}  // namespace qarn2::cli
