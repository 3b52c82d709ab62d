#include "engine/virtual_time_base.h"

namespace qarn2::engine {

VirtualTimeBase::VirtualTimeBase(sim::VirtualClock& clock, sim::SimulatedTrack& track,
                                 serial::HandOff& hand_off, std::function<void()> on_tick)
    : clock_(clock),
      track_(track),
      hand_off_(hand_off),
      on_tick_(std::move(on_tick)),
      next_tick_(clock.Now() + kTick) {}

void VirtualTimeBase::DeliverRaisedEvents() {
  // One batch, as one message: a wait looks at its condition before the next.
  track_.ReleaseEvents();
  do {
    hand_off_.ServePending(std::chrono::milliseconds(0));
  } while (!track_.EventsSettled());
}

void VirtualTimeBase::HandlePendingEvents() {
  if (!track_.EventsRaised()) {
    // Nothing waiting: on to the next tick, or to an event on the way there.
    clock_.AdvanceTo(next_tick_, [this] { return track_.EventsRaised(); });
    if (clock_.Now() >= next_tick_) {
      // Ticks missed while a blocking write held the thread come as one, as a timer's
      // do; the next one keeps to the 10 ms grid.
      while (next_tick_ <= clock_.Now()) next_tick_ += kTick;
      if (on_tick_) on_tick_();
    }
  }
  DeliverRaisedEvents();
}

void VirtualTimeBase::Pass(sim::SimTime duration) {
  const sim::SimTime until = clock_.Now() + duration;
  while (clock_.Now() < until) HandlePendingEvents();
}

}  // namespace qarn2::engine
