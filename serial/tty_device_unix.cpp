#include "serial/tty_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <utility>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "serial/thread_priority.h"
#include "signals/terminating_signals.h"
#include "serial/tty_ring_watch.h"
#include "serial/tty_wake_line.h"

namespace qarn2::serial {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

// While received characters have been reported but not read, the receive queue is
// looked at this often for new arrivals (the line stays readable, so poll cannot tell).
constexpr int kRxRecheckMs = 10;
// Pause between two looks at the driver's transmit queue: about a character time,
// within these bounds, whatever the driver reports (cdc-acm reports a whole URB for
// any write in flight, so a pause by queue length would hold every write 0.67 s).
constexpr nanoseconds kMinDrainPause = std::chrono::microseconds(200);
constexpr nanoseconds kMaxDrainPause = std::chrono::milliseconds(2);

bool Refused(int error) {
  return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

bool HungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

// The termios speed constant for `rate` bit/s; nothing for rates Linux has no constant
// for (14400, 56000, 128000, 256000, ...).
std::optional<speed_t> SpeedConstant(int rate) {
  static constexpr struct {
    int rate;
    speed_t speed;
  } kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& entry : kSpeeds) {
    if (entry.rate == rate) return entry.speed;
  }
  return std::nullopt;
}

}  // namespace

int MakeRawTermios(const LineSettings& settings, termios& t) {
  const std::optional<speed_t> speed = SpeedConstant(settings.baud_rate);
  if (!speed) return EINVAL;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (settings.data_bits < 5 || settings.data_bits > 8) return EINVAL;

  cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
  if (settings.parity != prNone && settings.parity_options.Check) t.c_iflag |= INPCK;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  // HUPCL: when the program dies, the kernel drops DTR and RTS at the last close, so
  // a booster's relay never stays on over an idle transmit line (DC on the track).
  t.c_cflag |= CLOCAL | CREAD | HUPCL | kSizes[settings.data_bits - 5];
  switch (settings.parity) {
    case prNone: break;
    case prOdd: t.c_cflag |= PARENB | PARODD; break;
    case prEven: t.c_cflag |= PARENB; break;
    case prMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: return EINVAL;
  }
  // Linux has no 1.5 stop bits; two is the closer of the two it has for the receiver.
  if (settings.stop_bits != sbOneStopBit) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, *speed);
  cfsetospeed(&t, *speed);
  return 0;
}

namespace {

// --- Ports left as they were found, also when a signal ends the program ------------
//
// Every open tty is noted with the settings it had; Close puts them back after
// dropping DTR and RTS. The terminating signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT) do
// the same for every port still open (async-signal-safe: ioctl and tcsetattr only)
// before the signal goes on to whatever handled it before, by default ending the
// program.

constexpr int kMaxOpenPorts = 16;
struct OpenPort {
  std::atomic<int> fd{-1};
  termios original{};
};
OpenPort open_ports[kMaxOpenPorts];

void ReleaseLines(int fd, const termios& original) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
  tcsetattr(fd, TCSANOW, &original);
}

void ReleaseAllPorts() {
  for (OpenPort& port : open_ports) {
    const int fd = port.fd.load();
    if (fd >= 0) ReleaseLines(fd, port.original);
  }
}

// Notes `fd` as open with `original` settings; false when no slot is free (the port
// still works, it is only not cleaned up by a signal).
bool NoteOpenPort(int fd, const termios& original) {
  signals::RunOnTerminatingSignal(ReleaseAllPorts);
  for (OpenPort& port : open_ports) {
    if (port.fd.load() >= 0) continue;
    port.original = original;
    int free_slot = -1;
    if (port.fd.compare_exchange_strong(free_slot, fd)) return true;
  }
  return false;
}

void ForgetOpenPort(int fd) {
  for (OpenPort& port : open_ports) {
    int noted = fd;
    if (port.fd.compare_exchange_strong(noted, -1)) return;
  }
}

nanoseconds CharacterTime(const LineSettings& settings) {
  const int bits = 1 + settings.data_bits + (settings.parity == prNone ? 0 : 1) +
                   (settings.stop_bits == sbOneStopBit ? 1 : 2);
  return nanoseconds(bits * 1'000'000'000LL / std::max(settings.baud_rate, 1));
}

// USB adapters otherwise hold received characters back for several milliseconds.
void AskLowLatency(int fd) {
  serial_struct info = {};
  if (ioctl(fd, TIOCGSERIAL, &info) < 0 || (info.flags & ASYNC_LOW_LATENCY)) return;
  info.flags |= ASYNC_LOW_LATENCY;
  ioctl(fd, TIOCSSERIAL, &info);
}

// Waits for `events` on `fd` (none: only for `wake`) up to `limit` (none: no limit);
// clears `wake` when it was raised. Returns the device's poll result bits.
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

class TtyDevice final : public SerialDevice {
 public:
  explicit TtyDevice(TransmitQueueProbe probe) : probe_(std::move(probe)) {}
  ~TtyDevice() override { Close(); }

  int Open(const std::string& path) override;
  void Close() override;
  int SetQueueSizes(int input, int output) override;
  int SetLineSettings(const LineSettings& settings) override;
  int SetTimeouts(const TimeoutValues& timeouts) override;
  int StartWrite(std::shared_ptr<WriteJob> job) override;
  int Read(char* buffer, int max, int& got) override;
  int RxQueueCount(int& count) override;
  int Purge() override;
  int SetDTR(bool on) override { return SetLine(TIOCM_DTR, on); }
  int SetRTS(bool on) override { return SetLine(TIOCM_RTS, on); }
  int ReadModemLines(ModemLines& lines) override;
  int SetEventMask(TComEvents events) override;
  EventWait WaitEvents() override;
  void CancelWaitEvents() override;

 private:
  // 0 when the device can be used, else why not.
  int Unusable() const;
  int SetLine(int line, bool on);
  // The device has gone away or broken down: every later call reports `error`, and
  // the tty itself is let go.
  void Fail(int error);
  void FailLocked(int error);  // under mutex_
  int Failure() const;
  // Under `mutex_`.
  void Raise(TComEvent event);

  // A job handed to the driver, or being handed: its characters are the positions
  // [start, end) of everything written since the writer last dropped the driver's queue.
  struct Sending {
    std::shared_ptr<WriteJob> job;
    long long start = 0;
    long long end = 0;
    std::optional<Clock::time_point> deadline;  // none: no time limit
  };

  void RunWriter();
  // Hands what it can of `job` to the driver; false when the driver's queue is full.
  // Sets `error` when the write failed.
  bool WriteSome(Sending& job, long long& written_total, int& error);
  // Completes the jobs whose last character has left the driver (`sent` characters of
  // all written have).
  static void CompleteSent(std::deque<Sending>& sent, long long sent_total);
  // Ends every job in `jobs`, each with the characters of it that left the driver.
  // Returns how many characters of them had left.
  static long long EndAll(std::deque<Sending>& jobs, long long sent_total, int error);
  // Characters of the driver's transmit queue below which the next characters are
  // asked for (transmit-empty), so that they are queued before the line runs dry.
  int LowWater() const;

  const TransmitQueueProbe probe_;
  std::atomic<int> fd_{-1};
  termios original_{};  // the settings the port had when it was opened
  bool has_original_ = false;
  WakeLine event_wake_;
  WakeLine writer_wake_;
  RingWatch ring_;
  std::thread writer_;
  std::atomic<nanoseconds::rep> character_ns_{CharacterTime(LineSettings{}).count()};

  mutable std::mutex mutex_;
  std::condition_variable settled_;  // a job left the writer, a waiter left WaitEvents
  // Everything below is guarded by mutex_.
  std::deque<std::shared_ptr<WriteJob>> jobs_;
  std::uint64_t generation_ = 0;  // counts purges; a job of an older one is dropped
  std::uint64_t writer_generation_ = 0;  // the purges the writer has carried out
  bool writer_running_ = false;
  bool stop_writer_ = false;
  long untold_characters_ = 0;  // handed to the driver since the last transmit-empty report
  TComEvents mask_;
  TComEvents pending_;
  int pending_rings_ = 0;  // rings among pending_
  int rx_reported_ = 0;  // queue length at the last receive report; 0: none unread
  bool cancelled_ = false;
  bool closing_ = false;
  int waiters_ = 0;
  int failure_ = 0;
  int input_size_ = 1024;
  int output_size_ = 1024;
  TimeoutValues timeouts_;
};

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

int TtyDevice::StartWrite(std::shared_ptr<WriteJob> job) {
  if (!job) return EINVAL;
  if (fd_ < 0) return EBADF;
  std::deque<std::shared_ptr<WriteJob>> dropped;
  {
    std::lock_guard lock(mutex_);
    if (closing_) return EBADF;
    if (failure_) return failure_;
    if (job->ahead()) dropped.swap(jobs_);  // the writer drops what the driver holds
    jobs_.push_back(std::move(job));
    writer_wake_.Raise();
  }
  for (const auto& earlier : dropped) earlier->Complete(0, ECANCELED);
  return 0;
}

int TtyDevice::Purge() {
  if (fd_ < 0) return EBADF;
  std::deque<std::shared_ptr<WriteJob>> dropped;
  {
    std::unique_lock lock(mutex_);
    dropped.swap(jobs_);
    ++generation_;
    untold_characters_ = 0;
    rx_reported_ = 0;
    writer_wake_.Raise();
    // The writer drops what it is writing and what the driver holds of it; a job
    // started after this purge (from another thread) is not waited for.
    const std::uint64_t purge = generation_;
    settled_.wait(lock, [this, purge] { return !writer_running_ || writer_generation_ >= purge; });
  }
  const int gone = Failure();
  for (const auto& job : dropped) job->Complete(0, gone ? gone : ECANCELED);
  const int result = tcflush(fd_, TCIFLUSH) < 0 ? errno : 0;
  std::lock_guard lock(mutex_);
  return failure_ ? failure_ : result;
}

// The writer hands each job's characters to the driver as soon as the driver takes
// them, so that one job follows the other without a pause on the line, and completes
// each job when its last character has left the driver (or when its time is up).
// Transmit-empty is reported when nothing waits to be written and what the driver
// still holds is short: the next characters come while the line is still busy.
void TtyDevice::RunWriter() {
  RaiseThreadPriority(Urgency::kLine);  // it feeds the driver
  std::deque<Sending> sent;  // handed to the driver, not all gone out
  std::optional<Sending> current;  // being handed over
  long long written_total = 0;
  std::uint64_t generation = 0;
  int outq = 0;  // what the driver held at the last look
  const int fd = fd_;

  const auto sent_total = [&] { return written_total - outq; };
  // Returns how many characters of those jobs the driver had taken and sent.
  const auto end_everything = [&](int error) {
    if (current) sent.push_back(*std::exchange(current, std::nullopt));
    return EndAll(sent, sent_total(), error);
  };

  std::unique_lock lock(mutex_);
  for (;;) {
    if (stop_writer_) break;
    if (generation != generation_) {
      // Purged: what was being written goes, and what the driver holds of it.
      generation = generation_;
      lock.unlock();
      outq = 0;
      written_total = 0;
      end_everything(ECANCELED);
      tcflush(fd, TCOFLUSH);
      lock.lock();
      writer_generation_ = generation;
      settled_.notify_all();
      continue;
    }
    if (failure_) {
      // Gone away: what was not written is the device's failure, not a cancellation.
      const int failure = failure_;
      std::deque<std::shared_ptr<WriteJob>> queued;
      queued.swap(jobs_);
      lock.unlock();
      end_everything(failure);
      for (const auto& job : queued) job->Complete(0, failure);
      WaitOn(-1, 0, writer_wake_, std::nullopt);
      lock.lock();
      continue;
    }
    if (!jobs_.empty() && jobs_.front()->ahead() && (current || !sent.empty())) {
      // A job ahead of the background: what the driver still holds of that goes
      // (only the UART's FIFO still sends), and the job follows at once.
      lock.unlock();
      tcflush(fd, TCOFLUSH);
      end_everything(ECANCELED);
      written_total = outq = 0;
      lock.lock();
      untold_characters_ = 0;
    }
    if (!current && !jobs_.empty()) {
      Sending next{std::move(jobs_.front()), written_total, written_total, std::nullopt};
      jobs_.pop_front();
      const WriteJob& job = *next.job;
      if (job.timeout().count() > 0) {
        // Its time starts when its turn comes: what the driver still holds goes first.
        next.deadline = Clock::now() + job.timeout() + nanoseconds(character_ns_.load()) * outq;
      }
      current = std::move(next);
    }
    lock.unlock();

    // Hand over what the driver takes.
    bool queue_full = false;
    if (current) {
      int error = 0;
      queue_full = !WriteSome(*current, written_total, error);
      if (error) {
        if (error == EIO) Fail(error);
        // What the driver took of it, and of the jobs before it, still goes out.
        const Sending failed = *std::exchange(current, std::nullopt);
        failed.job->Complete(static_cast<int>(failed.end - failed.start), error);
      } else if (!queue_full && current->end - current->start == static_cast<long long>(current->job->data().size())) {
        std::lock_guard untold(mutex_);
        untold_characters_ += static_cast<long>(current->job->data().size());
        sent.push_back(*std::exchange(current, std::nullopt));
      }
    }

    // See what has left the driver.
    int held = 0;
    if (!sent.empty() || current) {
      if (const int error = probe_(fd, held)) {
        // A driver that cannot tell has sent the characters once it has taken them.
        held = 0;
        if (!Refused(error)) {
          if (error == EIO) Fail(error);
          end_everything(error);
          written_total = outq = 0;
          lock.lock();
          continue;
        }
      }
    }
    outq = static_cast<int>(std::min<long long>(held, written_total));
    CompleteSent(sent, sent_total());

    // The oldest job whose time is up: the port takes nothing any more. What the
    // driver holds is dropped, so that only what the jobs report has gone out.
    const Clock::time_point now = Clock::now();
    const auto overdue = [now](const Sending& s) { return s.deadline && *s.deadline <= now; };
    if (std::any_of(sent.begin(), sent.end(), overdue) || (current && overdue(*current))) {
      tcflush(fd, TCOFLUSH);
      const long long gone = end_everything(0);
      written_total = 0;
      outq = 0;
      std::lock_guard untold(mutex_);
      if (gone > 0) untold_characters_ += static_cast<long>(gone);
    }

    lock.lock();
    if (stop_writer_ || generation != generation_ || failure_) continue;
    if (!current && jobs_.empty() && untold_characters_ > 0 && outq <= LowWater()) {
      untold_characters_ = 0;
      Raise(evTxEmpty);
    }
    if (current && !queue_full) continue;  // the next piece at once
    if (!current && !jobs_.empty()) continue;

    // Wait: for room in the driver's queue, for characters to leave it, or for news.
    std::optional<nanoseconds> limit;
    if (!sent.empty() || current) {
      limit = std::clamp(nanoseconds(character_ns_.load()), kMinDrainPause, kMaxDrainPause);
      for (const Sending* s : {current ? &*current : nullptr, sent.empty() ? nullptr : &sent.front()}) {
        if (s && s->deadline) limit = std::min(*limit, std::chrono::duration_cast<nanoseconds>(*s->deadline - now));
      }
    }
    lock.unlock();
    WaitOn(current ? fd : -1, current ? POLLOUT : 0, writer_wake_, limit);
    lock.lock();
  }
  // Closing: the port has purged; anything left is dropped.
  lock.unlock();
  end_everything(ECANCELED);
  lock.lock();
  writer_running_ = false;
  settled_.notify_all();
}

bool TtyDevice::WriteSome(Sending& sending, long long& written_total, int& error) {
  const std::string& data = sending.job->data();
  for (;;) {
    const long long done = sending.end - sending.start;
    if (done >= static_cast<long long>(data.size())) return true;
    const ssize_t n = ::write(fd_, data.data() + done, data.size() - static_cast<std::size_t>(done));
    if (n > 0) {
      sending.end += n;
      written_total += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      error = errno;
      return true;
    }
    return false;
  }
}

void TtyDevice::CompleteSent(std::deque<Sending>& sent, long long sent_total) {
  while (!sent.empty() && sent.front().end <= sent_total) {
    sent.front().job->Complete(static_cast<int>(sent.front().job->data().size()), 0);
    sent.pop_front();
  }
}

long long TtyDevice::EndAll(std::deque<Sending>& jobs, long long sent_total, int error) {
  long long all = 0;
  for (const Sending& s : jobs) {
    const long long gone = std::clamp(sent_total - s.start, 0LL, s.end - s.start);
    s.job->Complete(static_cast<int>(gone), error);
    all += gone;
  }
  jobs.clear();
  return all;
}

int TtyDevice::LowWater() const {
  return static_cast<int>(std::max<long long>(1, nanoseconds(kTransmitRefillAhead).count() / std::max<long long>(1, character_ns_.load())));
}

}  // namespace

std::unique_ptr<SerialDevice> MakeTtyDevice() {
  return MakeTtyDevice([](int fd, int& held) { return ioctl(fd, TIOCOUTQ, &held) < 0 ? errno : 0; });
}

std::unique_ptr<SerialDevice> MakeTtyDevice(TransmitQueueProbe probe) {
  return std::make_unique<TtyDevice>(std::move(probe));
}

}  // namespace qarn2::serial
