#include "ui/program_engine.h"

#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "qtadapter/qt_hand_off.h"
#include "qtadapter/qt_time_base.h"
#include "sim/decoder_file.h"
#include "sim/simulated_ports.h"

namespace qarn2::ui {

ProgramEngine::ProgramEngine(const ProgramOptions& options)
    : options_(options),
      hand_off_(std::make_unique<qtadapter::QtHandOff>()),
      port_(std::make_unique<serial::TComPort>(*hand_off_, sim::DevicesWithSimulatedTrack(track_),
                                               PortsFor(options))) {
  time_ = std::make_unique<qtadapter::QtTimeBase>([this] { link_->Timer1Timer(); });
  link_ = std::make_unique<link::TrackLink>(*port_, *time_);
  if (!options_.sim_decoder.empty() && std::filesystem::exists(options_.sim_decoder)) {
    try {
      loaded_decoder_text_ = sim::LoadDecoderFile(options_.sim_decoder, track_.Decoder());
    } catch (const std::exception& e) {
      throw std::runtime_error(std::string("--sim-decoder: ") + e.what());
    }
  }
}

ProgramEngine::~ProgramEngine() {
  try {
    port_->Close();
  } catch (const std::exception&) {
    // Closed all the same.
  }
  link_.reset();
  time_.reset();
  port_.reset();
  if (options_.sim_decoder.empty()) return;
  try {
    auto lock = track_.Lock();
    sim::SaveDecoderFile(options_.sim_decoder, loaded_decoder_text_, track_.Decoder());
  } catch (const std::exception& e) {
    std::cerr << "qarn2: --sim-decoder: " << e.what() << '\n';
  }
}

}  // namespace qarn2::ui
