#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/sim_time.h"

namespace qarn2::sim {

// Something on the simulated track with work due at given times.
class TimedSource {
 public:
  static constexpr SimTime kNever = SimTime::max();
  virtual ~TimedSource() = default;
  // When the next piece of work is due (kNever for none).
  virtual SimTime NextDue() = 0;
  // Does all work due up to `now`.
  virtual void RunDue(SimTime now) = 0;
};

// The simulation's time: virtual in tests, the wall clock in the program.
class SimClock {
 public:
  virtual ~SimClock() = default;
  virtual SimTime Now() const = 0;
  void Attach(TimedSource* source);
  void Detach(TimedSource* source);
  // A source's work moved earlier (new work arrived).
  virtual void Reschedule() = 0;
  // On virtual time: moves time on, doing all work on the way, until `done` holds
  // (false when nothing is left to do first). The wall clock cannot be hurried: false.
  virtual bool Drive(const std::function<bool()>& done) = 0;
  virtual bool IsVirtual() const = 0;

 protected:
  // The earliest due time over all sources.
  SimTime EarliestDue();
  // Runs every source's due work up to `now`.
  void RunAll(SimTime now);

  std::recursive_mutex sources_mutex_;
  std::vector<TimedSource*> sources_;
};

// Time that stands still until the user-interface thread moves it, jumping from one
// piece of due work to the next: the same result every time, at any speed.
class VirtualClock : public SimClock {
 public:
  SimTime Now() const override { return SimTime(now_.load()); }
  void Reschedule() override {}
  bool Drive(const std::function<bool()>& done) override;
  bool IsVirtual() const override { return true; }
  // Moves time on to `until`, doing the work due on the way; stops early, at the time
  // of the work just done, once `stop` holds (the user-interface thread then handles
  // what that work raised, and goes on).
  void AdvanceTo(SimTime until, const std::function<bool()>& stop = nullptr);
  void AdvanceBy(SimTime step) { AdvanceTo(Now() + step); }

 private:
  std::atomic<SimTime::rep> now_{0};
};

// The wall clock: a thread does each source's work when it is due.
class RealClock : public SimClock {
 public:
  RealClock();
  ~RealClock() override;
  SimTime Now() const override;
  void Reschedule() override;
  bool Drive(const std::function<bool()>&) override { return false; }
  bool IsVirtual() const override { return false; }

 private:
  void Run();
  const std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool rescheduled_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace qarn2::sim
