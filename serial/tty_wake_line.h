#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace qarn2::serial {

// A wake-up line between threads that poll can watch beside the device: an eventfd
// that one thread raises and the waiting thread clears.
class WakeLine {
 public:
  WakeLine() = default;
  WakeLine(const WakeLine&) = delete;
  WakeLine& operator=(const WakeLine&) = delete;
  ~WakeLine() { Close(); }

  // 0 or errno.
  int Open() {
    Close();
    fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd_ < 0 ? errno : 0;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }

  void Raise() const {
    const std::uint64_t one = 1;
    while (fd_ >= 0 && ::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void Clear() const {
    std::uint64_t count;
    while (fd_ >= 0 && ::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

 private:
  int fd_ = -1;
};

}  // namespace qarn2::serial
