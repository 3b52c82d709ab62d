#pragma once

// The engine on the simulated programming track, on virtual time, with the names the
// tests of the libraries below it use: the same composition as the window's and the
// tool's, with the port open at 19200 bit/s and nothing written yet.

#include <cstdint>
#include <functional>
#include <memory>

#include "encoding/fixed_streams.h"
#include "engine/engine.h"
#include "engine/virtual_time_base.h"
#include "link/track_link.h"
#include "sim/simulated_ports.h"
#include "sim/simulated_track.h"

namespace qarn2::engine::testing {

// Every port on the simulated track, on virtual time; a test may lead a port
// elsewhere.
inline EngineOptions VirtualTrack(std::function<serial::DeviceFactory(serial::DeviceFactory)> wrap = {}) {
  EngineOptions options;
  sim::MapEveryPortToTheTrack(options.ports);
  options.virtual_time = true;
  options.wrap_devices = std::move(wrap);
  return options;
}

class TrackBench {
 public:
  // `wrap` may put something between the port and the track's devices.
  explicit TrackBench(const std::function<serial::DeviceFactory(serial::DeviceFactory)>& wrap = {})
      : engine_(std::make_unique<Engine>(VirtualTrack(wrap))),
        fixed_(engine_->Streams()),
        clock_(static_cast<sim::VirtualClock&>(engine_->Clock())),
        track_(engine_->Track()),
        port_(&engine_->Port()),
        time_(*engine_->VirtualTime()),
        link_(&engine_->Link()) {}

  void SetCv(int cv, int value) {
    auto lock = track_.Lock();
    track_.Decoder().SetCv(cv, static_cast<std::uint8_t>(value));
  }
  int Cv(int cv) {
    auto lock = track_.Lock();
    return track_.Decoder().Cv(cv);
  }
  // Entries of `kind` in the track's log.
  int Count(sim::TrackLogEntry::Kind kind) const {
    int n = 0;
    for (const sim::TrackLogEntry& e : track_.Log()) n += e.kind == kind;
    return n;
  }

  std::unique_ptr<Engine> engine_;
  const encoding::FixedStreams& fixed_;
  sim::VirtualClock& clock_;
  sim::SimulatedTrack& track_;
  serial::TComPort* port_;
  VirtualTimeBase& time_;
  link::TrackLink* link_;
};

}  // namespace qarn2::engine::testing
