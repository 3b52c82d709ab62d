#pragma once

// The track link on the simulated programming track, on virtual time: what the
// engine's tests build their fixtures on.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "encoding/fixed_streams.h"
#include "link/track_link.h"
#include "link/virtual_time_base.h"
#include "serial/tests/fake_device.h"
#include "sim/simulated_ports.h"
#include "sim/simulated_track.h"

namespace qarn2::link::testing {

class TrackBench {
 public:
  // `wrap` may put something between the port and the track's devices.
  explicit TrackBench(const std::function<serial::DeviceFactory(serial::DeviceFactory)>& wrap = {}) {
    sim::MapEveryPortToTheTrack(ports_);
    serial::DeviceFactory devices = sim::DevicesWithSimulatedTrack(track_);
    if (wrap) devices = wrap(devices);
    port_ = std::make_unique<serial::TComPort>(hand_off_, devices, ports_);
    link_ = std::make_unique<TrackLink>(*port_, time_);
  }

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

  const encoding::FixedStreams fixed_ = encoding::MakeFixedStreams();
  sim::VirtualClock clock_;
  sim::SimulatedTrack track_{clock_};
  serial::testing::TestHandOff hand_off_;
  serial::PortMap ports_;
  std::unique_ptr<serial::TComPort> port_;
  VirtualTimeBase time_{clock_, track_, hand_off_, [this] { link_->Timer1Timer(); }};
  std::unique_ptr<TrackLink> link_;
};

}  // namespace qarn2::link::testing
