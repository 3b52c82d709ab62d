// The Linux tty device: opening and closing, line settings, modem lines, reads, and
// the events with hang-ups. Its writer is in tty_writer_unix.cpp, the settings a port
// is given and left with in tty_port_settings_unix.cpp.

#include "serial/tty_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "serial/tty_device_internal.h"

namespace qarn2::serial {
namespace tty {
namespace {

// While received characters have been reported but not read, the receive queue is
// looked at this often for new arrivals (the line stays readable, so poll cannot tell).
constexpr int kRxRecheckMs = 10;

// The slave side of a Unix 98 pseudo-terminal (/dev/pts/N: majors 136..143), as a
// virtual port or a bridge to a remote one gives it.
bool IsPseudoTerminal(int fd) {
  struct stat st = {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned int kind = major(st.st_rdev);
  return kind >= 136 && kind <= 143;
}

// USB adapters otherwise hold received characters back for several milliseconds.
void AskLowLatency(int fd) {
  serial_struct info = {};
  if (ioctl(fd, TIOCGSERIAL, &info) < 0 || (info.flags & ASYNC_LOW_LATENCY)) return;
  info.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &info);
}

}  // namespace

nanoseconds CharacterTime(const LineSettings& settings) {
  const int bits = 1 + settings.data_bits + (settings.parity == prNone ? 0 : 1) +
                   (settings.stop_bits == sbOneStopBit ? 1 : 2);
  return nanoseconds(bits * 1'000'000'000LL / std::max(settings.baud_rate, 1));
}

short WaitOn(int fd, short events, const WakeLine& wake, std::optional<nanoseconds> limit) {
  pollfd watched[2] = {{fd, events, 0}, {wake.fd(), POLLIN, 0}};
  timespec time_limit = {};
  if (limit) {
    const nanoseconds left = std::max(*limit, nanoseconds(0));
    time_limit.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
    time_limit.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
  }
  if (ppoll(watched, 2, limit ? &time_limit : nullptr, nullptr) <= 0) return 0;
  if (watched[1].revents) wake.Clear();
  return watched[0].revents;
}

int TtyDevice::Open(const std::string& path) {
  if (fd_ >= 0) return EBUSY;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  const auto give_up = [fd](int error) {
    ::close(fd);
    return error;
  };
  // TIOCEXCL keeps other programs out, but not a privileged one; the lock also keeps
  // out every other device object, whoever runs it.
  if (flock(fd, LOCK_EX | LOCK_NB) < 0) return give_up(errno == EWOULDBLOCK ? EBUSY : errno);
  // Another program that holds the port exclusively keeps it, whoever runs this one
  // (root would get past TIOCEXCL, and must not take the port, nor clear its mark).
  int held = 0;
  if (ioctl(fd, TIOCGEXCL, &held) == 0 && held) return give_up(EBUSY);
  if (ioctl(fd, TIOCEXCL) < 0) return give_up(errno);
  if (tcgetattr(fd, &original_) == 0) {
    has_original_ = true;
    NoteOpenPort(fd, original_);
  }
  AskLowLatency(fd);
  paced_ = pace_pseudo_terminals_ && IsPseudoTerminal(fd);
  if (int error = event_wake_.Open()) return give_up(error);
  if (int error = writer_wake_.Open()) {
    event_wake_.Close();
    return give_up(error);
  }
  {
    std::lock_guard lock(mutex_);
    jobs_.clear();
    generation_ = writer_generation_ = 0;
    stop_writer_ = false;
    untold_characters_ = 0;
    mask_ = pending_ = TComEvents();
    pending_rings_ = 0;
    rx_reported_ = 0;
    cancelled_ = closing_ = false;
    failure_ = 0;
  }
  fd_ = fd;
  int error = 0;
  try {
    {
      std::lock_guard lock(mutex_);
      writer_running_ = true;
    }
    writer_ = std::thread([this] { RunWriter(); });
  } catch (const std::system_error& failure) {
    std::lock_guard lock(mutex_);
    writer_running_ = false;
    error = failure.code().value();
  }
  if (!error) {
    error = ring_.Start(
        fd,
        [this] {
          std::lock_guard lock(mutex_);
          Raise(evRing);
        },
        [this](int failure) { Fail(failure); });
  }
  if (error) {
    Close();
    return error;
  }
  return 0;
}

void TtyDevice::Close() {
  const int fd = fd_;
  if (fd < 0) return;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = closing_ = true;
    event_wake_.Raise();
  }
  Purge();
  if (writer_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stop_writer_ = true;
      writer_wake_.Raise();
    }
    writer_.join();
  }
  ring_.Stop();
  {
    std::unique_lock lock(mutex_);
    settled_.wait(lock, [this] { return waiters_ == 0; });
  }
  // DTR and RTS down (the track without power), the settings as they were found,
  // the port no longer exclusive (the mark is this program's own).
  if (has_original_) {
    ReleaseLines(fd, original_);
    ForgetOpenPort(fd);
    has_original_ = false;
  } else {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
  }
  ioctl(fd, TIOCNXCL);
  ::close(fd);
  std::lock_guard lock(mutex_);
  fd_ = -1;
  event_wake_.Close();
  writer_wake_.Close();
}

int TtyDevice::Unusable() const {
  if (fd_ < 0) return EBADF;
  std::lock_guard lock(mutex_);
  return failure_;
}

void TtyDevice::Fail(int error) {
  std::lock_guard lock(mutex_);
  FailLocked(error);
}

void TtyDevice::FailLocked(int error) {
  if (failure_) return;
  failure_ = error;
  event_wake_.Raise();
  writer_wake_.Raise();
  // An unplugged adapter: the tty is let go at once (its descriptor now names
  // /dev/null, so that no other thread's call lands on a file opened meanwhile), and
  // the adapter, plugged in again, comes back under its old name.
  const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd >= 0) {
    dup3(null_fd, fd_, O_CLOEXEC);
    ::close(null_fd);
  }
}

int TtyDevice::Failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

void TtyDevice::Raise(TComEvent event) {
  if (!mask_.Has(event)) return;
  if (event == evRing) ++pending_rings_;
  pending_ = pending_ | TComEvents{event};
  event_wake_.Raise();
}

int TtyDevice::SetQueueSizes(int input, int output) {
  if (int error = Unusable()) return error;
  if (input <= 0 || output <= 0) return EINVAL;
  std::lock_guard lock(mutex_);
  input_size_ = input;
  output_size_ = output;
  return 0;
}

int TtyDevice::SetTimeouts(const TimeoutValues& timeouts) {
  if (int error = Unusable()) return error;
  // Reads never wait here; the write limit comes with each job.
  std::lock_guard lock(mutex_);
  timeouts_ = timeouts;
  return 0;
}

int TtyDevice::SetLineSettings(const LineSettings& settings) {
  if (int error = Unusable()) return error;
  termios t = {};
  if (tcgetattr(fd_, &t) < 0) return errno;
  if (int error = MakeRawTermios(settings, t)) return error;
  const int result = tcsetattr(fd_, TCSANOW, &t) < 0 ? errno : 0;
  ring_.Restart();
  if (result) return result;
  character_ns_ = CharacterTime(settings).count();
  return 0;
}

int TtyDevice::SetLine(int line, bool on) {
  if (int error = Unusable()) return error;
  if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return 0;
  // A device without modem lines (a pty, a virtual port): nothing to switch.
  return Refused(errno) ? 0 : errno;
}

int TtyDevice::ReadModemLines(ModemLines& lines) {
  if (int error = Unusable()) return error;
  int bits = 0;
  lines = {};
  if (ioctl(fd_, TIOCMGET, &bits) < 0) return Refused(errno) ? 0 : errno;  // no modem lines
  lines.cts = bits & TIOCM_CTS;
  lines.dsr = bits & TIOCM_DSR;
  lines.ring = bits & TIOCM_RNG;
  lines.rlsd = bits & TIOCM_CAR;
  return 0;
}

int TtyDevice::Read(char* buffer, int max, int& got) {
  got = 0;
  if (int error = Unusable()) return error;
  if (max <= 0) return 0;
  const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(max));
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) return 0;
    const int error = errno;
    if (error == EIO) Fail(error);
    return error;
  }
  if (n == 0) {
    // A raw tty without data answers EAGAIN; end of file means it was hung up.
    pollfd watched = {fd_, 0, 0};
    if (poll(&watched, 1, 0) > 0 && HungUp(watched.revents)) {
      Fail(EIO);
      return EIO;
    }
    return 0;
  }
  got = static_cast<int>(n);
  std::lock_guard lock(mutex_);
  rx_reported_ = 0;  // what is left (or comes next) is reported again
  event_wake_.Raise();
  return 0;
}

int TtyDevice::RxQueueCount(int& count) {
  count = 0;
  if (int error = Unusable()) return error;
  return ioctl(fd_, FIONREAD, &count) < 0 ? errno : 0;
}

int TtyDevice::SetEventMask(TComEvents events) {
  if (fd_ < 0) return EBADF;
  std::lock_guard lock(mutex_);
  mask_ = events;
  pending_ = pending_ & events;
  cancelled_ = false;
  event_wake_.Raise();
  return 0;
}

void TtyDevice::CancelWaitEvents() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  event_wake_.Raise();
}

EventWait TtyDevice::WaitEvents() {
  std::unique_lock lock(mutex_);
  EventWait result;
  if (fd_ < 0) {
    result.outcome = cancelled_ ? EventWait::kCancelled : EventWait::kFailed;
    result.error = cancelled_ ? 0 : EBADF;
    return result;
  }
  ++waiters_;
  const int fd = fd_;
  bool readable_without_data = false;
  for (;;) {
    if (cancelled_ || closing_) {
      result.outcome = EventWait::kCancelled;
      break;
    }
    if (failure_) {
      result.outcome = EventWait::kFailed;
      result.error = failure_;
      break;
    }
    const TComEvents ready = pending_ & mask_;
    if (!ready.Empty()) {
      pending_ = TComEvents::FromBits(pending_.Bits() & ~ready.Bits());
      result.events = ready;
      if (ready.Has(evRing)) {
        result.rings = pending_rings_;
        pending_rings_ = 0;
      }
      break;
    }
    // Hang-ups are reported whatever is asked for. The line stays readable while
    // reported characters wait to be read, so then the queue is only looked at now and
    // then for new ones.
    const bool watch_rx = mask_.Has(evRxChar);
    const bool wait_readable = watch_rx && rx_reported_ == 0 && !readable_without_data;
    std::optional<nanoseconds> limit;
    if (watch_rx && !wait_readable) limit = std::chrono::milliseconds(kRxRecheckMs);
    lock.unlock();
    const short revents = WaitOn(fd, wait_readable ? POLLIN : 0, event_wake_, limit);
    lock.lock();
    readable_without_data = false;
    if (HungUp(revents)) {
      FailLocked(EIO);
      continue;
    }
    if (!mask_.Has(evRxChar) || (wait_readable && !(revents & POLLIN))) continue;
    int count = 0;
    if (ioctl(fd, FIONREAD, &count) < 0) {
      if (!failure_) failure_ = errno;
      continue;
    }
    if (count > rx_reported_) {
      pending_ = pending_ | TComEvents{evRxChar};
      rx_reported_ = count;
    } else {
      rx_reported_ = std::min(rx_reported_, count);
      readable_without_data = wait_readable;
    }
  }
  --waiters_;
  settled_.notify_all();
  return result;
}

}  // namespace tty

std::unique_ptr<SerialDevice> MakeTtyDevice() {
  return std::make_unique<tty::TtyDevice>(
      [](int fd, int& held) { return ioctl(fd, TIOCOUTQ, &held) < 0 ? errno : 0; }, true);
}

std::unique_ptr<SerialDevice> MakeTtyDevice(TransmitQueueProbe probe) {
  return std::make_unique<tty::TtyDevice>(std::move(probe), false);
}

}  // namespace qarn2::serial
