#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/hand_off.h"

class QObject;

namespace qarn2::qtadapter {

// Hands the serial port's notifications to the thread that runs the Qt event loop
// (the user-interface thread) and runs them there.
//
// A delivery is put into this object's own queue, and a queued call is posted to a
// QObject living on the user-interface thread; the event loop serves the queue when
// it runs that call. The delivering thread waits on a condition variable until its
// notification has run. ServePending serves the same queue directly, without the
// event loop, which is what lets the port's Close wait for its event thread on the
// user-interface thread without a deadlock (a Qt::BlockingQueuedConnection would
// deadlock there). A queued call that finds the queue already served does nothing.
//
// Notifications run one after the other in the order they arrived. A notification
// that handles pending events itself may have further deliveries of other threads
// run inside it, as any other event would.
//
// Construct on the user-interface thread; destroy there after every port that uses
// it has been closed.
class QtHandOff : public serial::HandOff {
 public:
  using ErrorReporter = std::function<void(std::exception_ptr)>;

  QtHandOff();
  ~QtHandOff() override;
  QtHandOff(const QtHandOff&) = delete;
  QtHandOff& operator=(const QtHandOff&) = delete;

  // Any thread. On the user-interface thread `notify` runs at once.
  void Deliver(const std::function<void()>& notify) override;
  // User-interface thread only.
  void ServePending(std::chrono::milliseconds max_wait) override;

  // An exception thrown by a notification is caught on the user-interface thread,
  // the delivering thread is released, and then the exception goes to `reporter`
  // (called on the user-interface thread). Without a reporter its message is
  // printed to stderr; it never escapes into the Qt event loop.
  void SetErrorReporter(ErrorReporter reporter);

 private:
  struct Delivery {
    const std::function<void()>* notify;
    bool done = false;
  };

  void ServeQueue();
  // Runs `notify`; returns what it threw, or null.
  static std::exception_ptr RunCaught(const std::function<void()>& notify);
  void Report(std::exception_ptr error);

  const std::thread::id ui_thread_;
  ErrorReporter reporter_;

  std::mutex mutex_;
  std::condition_variable arrived_;   // the queue got a delivery
  std::condition_variable finished_;  // a delivery was marked done
  std::deque<Delivery*> queue_;       // each lives on its delivering thread's stack

  // Destroyed first, which drops the queued calls still posted to it.
  std::unique_ptr<QObject> receiver_;
};

}  // namespace qarn2::qtadapter
