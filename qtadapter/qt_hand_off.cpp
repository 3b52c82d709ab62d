#include "qtadapter/qt_hand_off.h"

#include <QMetaObject>
#include <QObject>

#include <cstdio>
#include <exception>
#include <utility>

namespace qarn2::qtadapter {

QtHandOff::QtHandOff()
    : ui_thread_(std::this_thread::get_id()), receiver_(std::make_unique<QObject>()) {}

QtHandOff::~QtHandOff() = default;

void QtHandOff::SetErrorReporter(ErrorReporter reporter) { reporter_ = std::move(reporter); }

void QtHandOff::Deliver(const std::function<void()>& notify) {
  if (std::this_thread::get_id() == ui_thread_) {
    if (std::exception_ptr error = RunCaught(notify)) Report(error);
    return;
  }
  Delivery delivery{&notify};
  std::unique_lock lock(mutex_);
  queue_.push_back(&delivery);
  arrived_.notify_one();
  lock.unlock();
  // Posting only wakes the event loop; whichever of it and ServePending comes first
  // runs the delivery.
  QMetaObject::invokeMethod(receiver_.get(), [this] { ServeQueue(); }, Qt::QueuedConnection);
  lock.lock();
  finished_.wait(lock, [&delivery] { return delivery.done; });
}

void QtHandOff::ServePending(std::chrono::milliseconds max_wait) {
  {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, max_wait, [this] { return !queue_.empty(); });
  }
  ServeQueue();
}

void QtHandOff::ServeQueue() {
  std::unique_lock lock(mutex_);
  while (!queue_.empty()) {
    Delivery* delivery = queue_.front();
    queue_.pop_front();
    lock.unlock();
    std::exception_ptr error = RunCaught(*delivery->notify);
    lock.lock();
    // The delivering thread may return and drop `delivery` as soon as the lock is
    // released: it is not touched after this.
    delivery->done = true;
    finished_.notify_all();
    if (error) {
      lock.unlock();
      Report(error);
      lock.lock();
    }
  }
}

std::exception_ptr QtHandOff::RunCaught(const std::function<void()>& notify) {
  try {
    notify();
  } catch (...) {
    return std::current_exception();
  }
  return nullptr;
}

void QtHandOff::Report(std::exception_ptr error) {
  if (reporter_) {
    try {
      reporter_(error);
      return;
    } catch (...) {
      // A reporter that fails itself: fall back to stderr below for the original.
    }
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qarn2: error in a serial port notification: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "qarn2: unknown error in a serial port notification\n");
  }
}

}  // namespace qarn2::qtadapter
