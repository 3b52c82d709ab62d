#include "sim/sim_clock.h"

#include "serial/thread_priority.h"

#include <algorithm>

namespace qarn2::sim {

void SimClock::Attach(TimedSource* source) {
  {
    std::lock_guard<std::recursive_mutex> lock(sources_mutex_);
    sources_.push_back(source);
  }
  Reschedule();
}

void SimClock::Detach(TimedSource* source) {
  std::lock_guard<std::recursive_mutex> lock(sources_mutex_);
  sources_.erase(std::remove(sources_.begin(), sources_.end(), source), sources_.end());
}

SimTime SimClock::EarliestDue() {
  std::lock_guard<std::recursive_mutex> lock(sources_mutex_);
  SimTime earliest = TimedSource::kNever;
  for (TimedSource* source : sources_) earliest = std::min(earliest, source->NextDue());
  return earliest;
}

void SimClock::RunAll(SimTime now) {
  std::lock_guard<std::recursive_mutex> lock(sources_mutex_);
  for (TimedSource* source : sources_) {
    if (source->NextDue() <= now) source->RunDue(now);
  }
}

// --- VirtualClock -------------------------------------------------------------------

void VirtualClock::AdvanceTo(SimTime until, const std::function<bool()>& stop) {
  for (SimTime due = EarliestDue(); due <= until; due = EarliestDue()) {
    if (due > Now()) now_ = due.count();
    RunAll(Now());
    if (stop && stop()) return;
  }
  if (until > Now()) now_ = until.count();
}

bool VirtualClock::Drive(const std::function<bool()>& done) {
  while (!done()) {
    const SimTime due = EarliestDue();
    if (due == TimedSource::kNever) return false;
    if (due > Now()) now_ = due.count();
    RunAll(Now());
  }
  return true;
}

// --- RealClock ----------------------------------------------------------------------

RealClock::RealClock() : start_(std::chrono::steady_clock::now()), thread_([this] { Run(); }) {}

RealClock::~RealClock() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

SimTime RealClock::Now() const {
  return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - start_);
}

void RealClock::Reschedule() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rescheduled_ = true;
  }
  wake_.notify_all();
}

void RealClock::Run() {
  // The simulated UART and decoder stand for hardware, which is never late.
  serial::RaiseThreadPriority(serial::Urgency::kLine);
  for (;;) {
    const SimTime due = EarliestDue();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const auto wake_up = [this] { return stop_ || rescheduled_; };
      if (due == TimedSource::kNever) {
        wake_.wait(lock, wake_up);
      } else {
        wake_.wait_until(lock, start_ + due, wake_up);
      }
      if (stop_) return;
      rescheduled_ = false;
    }
    RunAll(Now());
  }
}

}  // namespace qarn2::sim
