#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "serial/tty_wake_line.h"

namespace qarn2::serial {

// Turns changes of the ring input into rings: every change within `merge` of the
// change that began a pulse belongs to that pulse, so a pulse whose two edges are both
// counted (as USB adapters do) still gives one ring.
class RingPulseFilter {
 public:
  using Clock = std::chrono::steady_clock;
  explicit RingPulseFilter(Clock::duration merge = std::chrono::milliseconds(20))
      : merge_(merge) {}

  // A change seen at `when`; true when it begins a new ring.
  bool Change(Clock::time_point when);

 private:
  Clock::duration merge_;
  std::optional<Clock::time_point> pulse_began_;
};

// Watches the ring input of an open tty on a thread of its own. It waits in the
// kernel's modem-status wait and compares the ring counter; where the driver has
// neither, it samples the line levels every 1.5 ms; where the driver cannot even read
// the levels (a pseudo-terminal), the thread ends without a word.
//
// A blocked modem-status wait cannot be woken through the file, so Restart and Stop
// interrupt the thread with a real-time signal whose handler does nothing.
class RingWatch {
 public:
  using RingHandler = std::function<void()>;
  using FailureHandler = std::function<void(int error)>;

  RingWatch() = default;
  RingWatch(const RingWatch&) = delete;
  RingWatch& operator=(const RingWatch&) = delete;
  ~RingWatch() { Stop(); }

  // Starts watching `fd` (which stays open until Stop has returned). `on_ring` runs on
  // the watch thread for each ring, `on_failure` once when the device fails (errno).
  // 0 or errno.
  int Start(int fd, RingHandler on_ring, FailureHandler on_failure);
  // Leaves the kernel wait and enters it again. Needed after every change of the
  // terminal settings: some UART drivers stop counting modem changes then.
  void Restart();
  // Ends the thread and waits for it.
  void Stop();
  // False once the thread has ended (also when the device has no ring input).
  bool Running() const;

 private:
  void Run();
  bool WatchCounter();  // false: the driver has no counter or no wait
  void WatchLevel();
  bool AcknowledgeRequests();  // true: stop
  void Interrupt(std::unique_lock<std::mutex>& lock, const std::function<bool()>& done);

  int fd_ = -1;
  RingHandler on_ring_;
  FailureHandler on_failure_;
  RingPulseFilter filter_;
  WakeLine wake_;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable answered_;
  bool running_ = false;
  bool stop_ = false;
  std::uint64_t restarts_asked_ = 0;
  std::uint64_t restarts_done_ = 0;
};

}  // namespace qarn2::serial
