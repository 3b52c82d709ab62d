#include "serial/serial_device.h"

namespace qarn2::serial {

void WriteJob::Complete(int written, int error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_) return;
    done_ = true;
    written_ = written;
    error_ = error;
  }
  completed_.notify_all();
}

bool WriteJob::done() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

int WriteJob::Wait(int& error) const {
  if (driver_ && !done()) driver_();
  std::unique_lock<std::mutex> lock(mutex_);
  completed_.wait(lock, [this] { return done_; });
  error = error_;
  return written_;
}

bool WriteJob::WaitFor(std::chrono::microseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return completed_.wait_for(lock, limit, [this] { return done_; });
}

}  // namespace qarn2::serial
