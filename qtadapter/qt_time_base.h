#pragma once

#include <functional>
#include <memory>

#include "link/time_base.h"

class QTimer;

namespace qarn2::qtadapter {

// The program's time base: Qt's event loop with a 10 ms timer. Construct on the
// user-interface thread with a Qt application object in place.
class QtTimeBase : public link::TimeBase {
 public:
  // `on_tick` runs at every tick of the timer (the link's Timer1Timer).
  explicit QtTimeBase(std::function<void()> on_tick);
  ~QtTimeBase() override;

  // Handles what is pending in Qt's event loop, waiting for at least one event (a
  // tick comes every 10 ms).
  void HandlePendingEvents() override;

 private:
  std::unique_ptr<QTimer> timer_;
};

}  // namespace qarn2::qtadapter
