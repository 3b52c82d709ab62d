#pragma once

namespace qarn2::link {

// The one way a running command gives way: every wait of the program counts timer
// ticks (10 ms) and handles the pending events while it does. The program's time base
// is Qt's event loop with a 10 ms timer; tests and the command-line tool on virtual
// time jump from one event to the next.
class TimeBase {
 public:
  virtual ~TimeBase() = default;
  // Handles the pending events (port notifications, timer ticks, user actions); when
  // none is pending, waits for the next one. Handles at least one event.
  virtual void HandlePendingEvents() = 0;
};

}  // namespace qarn2::link
