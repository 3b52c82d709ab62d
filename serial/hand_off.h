#pragma once

#include <chrono>
#include <functional>

namespace qarn2::serial {

// Carries the port's notifications from its event thread to the user-interface
// thread and runs them there, one at a time, while the event thread waits.
class HandOff {
 public:
  virtual ~HandOff() = default;

  // Event thread: has `notify` run on the user-interface thread and returns after it
  // has returned (or thrown: the exception stays on the user-interface thread's side,
  // where the implementation reports it).
  virtual void Deliver(const std::function<void()>& notify) = 0;

  // User-interface thread: runs the deliveries waiting now, waiting up to `max_wait`
  // for one to arrive if none is. The port's Close calls this in a loop while its
  // event thread ends, so a notification already on its way is still delivered.
  virtual void ServePending(std::chrono::milliseconds max_wait) = 0;
};

}  // namespace qarn2::serial
