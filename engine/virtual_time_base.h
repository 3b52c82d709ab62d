#pragma once

#include <functional>

#include "link/time_base.h"
#include "serial/hand_off.h"
#include "sim/sim_clock.h"
#include "sim/simulated_track.h"

namespace qarn2::engine {

// The time base on virtual time, for tests and the command-line tool: the timer ticks
// every 10 ms of the virtual clock, and time jumps from one event to the next (a
// notification of the port, a tick), so a wait of seconds takes no time and every run
// goes the same way.
class VirtualTimeBase : public link::TimeBase {
 public:
  // `on_tick` is the timer's handler; `hand_off` carries the port's notifications.
  VirtualTimeBase(sim::VirtualClock& clock, sim::SimulatedTrack& track, serial::HandOff& hand_off,
                  std::function<void()> on_tick);

  void HandlePendingEvents() override;
  // Lets the next batch of events through to the port's event thread and runs its
  // notifications, until the thread waits again.
  void DeliverRaisedEvents();
  // Handles events until `duration` of virtual time has passed.
  void Pass(sim::SimTime duration);

 private:
  static constexpr sim::SimTime kTick = std::chrono::milliseconds(10);
  sim::VirtualClock& clock_;
  sim::SimulatedTrack& track_;
  serial::HandOff& hand_off_;
  std::function<void()> on_tick_;
  sim::SimTime next_tick_;
};

}  // namespace qarn2::engine
