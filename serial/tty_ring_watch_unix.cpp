#include "serial/tty_ring_watch.h"

#include "serial/thread_priority.h"

#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace qarn2::serial {
namespace {

constexpr std::chrono::microseconds kLevelSampleInterval{1500};
constexpr std::chrono::milliseconds kInterruptRepeat{2};
// While the thread waits for a modem change, the ring counter is looked at again this
// often: a ring counted between the last look and entering the wait changes nothing
// the wait would see.
constexpr long kCounterRecheckNs = 5'000'000;

// The driver does not offer the request at all (as opposed to failing it).
bool Refused(int error) {
  return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// The signal that breaks the watch thread out of a blocked ioctl. Installed once per
// process, without SA_RESTART so that the interrupted call returns EINTR.
int InterruptSignal() {
  static const int number = [] {
    const int signal_number = SIGRTMIN + 6;
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(signal_number, &action, nullptr);
    return signal_number;
  }();
  return number;
}

// Waits up to `duration` for `wake` to be raised (or a signal); clears it.
void Pause(const WakeLine& wake, std::chrono::nanoseconds duration) {
  pollfd watched = {wake.fd(), POLLIN, 0};
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
  const timespec limit = {static_cast<time_t>(seconds.count()),
                          static_cast<long>((duration - seconds).count())};
  if (ppoll(&watched, 1, &limit, nullptr) > 0) wake.Clear();
}

// Interrupts the calling thread's blocked ioctl every kCounterRecheckNs while it
// lives, so that the counters are read again.
class RecheckTimer {
 public:
  RecheckTimer() {
    sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = InterruptSignal();
    event._sigev_un._tid = gettid();  // sigev_notify_thread_id, which this C library lacks
    if (timer_create(CLOCK_MONOTONIC, &event, &id_) != 0) return;
    const itimerspec every = {{0, kCounterRecheckNs}, {0, kCounterRecheckNs}};
    armed_ = timer_settime(id_, 0, &every, nullptr) == 0;
    if (!armed_) timer_delete(id_);
  }
  ~RecheckTimer() {
    if (armed_) timer_delete(id_);
  }
  RecheckTimer(const RecheckTimer&) = delete;
  RecheckTimer& operator=(const RecheckTimer&) = delete;

 private:
  timer_t id_{};
  bool armed_ = false;
};

}  // namespace

bool RingPulseFilter::Change(Clock::time_point when) {
  if (pulse_began_ && when - *pulse_began_ < merge_) return false;
  pulse_began_ = when;
  return true;
}

int RingWatch::Start(int fd, RingHandler on_ring, FailureHandler on_failure) {
  Stop();
  InterruptSignal();
  if (int error = wake_.Open()) return error;
  fd_ = fd;
  on_ring_ = std::move(on_ring);
  on_failure_ = std::move(on_failure);
  filter_ = RingPulseFilter();
  {
    std::lock_guard lock(mutex_);
    running_ = true;
    stop_ = false;
    restarts_asked_ = restarts_done_ = 0;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& failure) {
    std::lock_guard lock(mutex_);
    running_ = false;
    wake_.Close();
    return failure.code().value();
  }
  return 0;
}

void RingWatch::Restart() {
  std::unique_lock lock(mutex_);
  if (!running_) return;
  const std::uint64_t asked = ++restarts_asked_;
  Interrupt(lock, [&] { return !running_ || restarts_done_ >= asked; });
}

void RingWatch::Stop() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    stop_ = true;
    Interrupt(lock, [&] { return !running_; });
  }
  thread_.join();
  wake_.Close();
}

bool RingWatch::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

// The signal may arrive just before the thread enters its wait and be lost there, so
// it is repeated until the thread answers.
void RingWatch::Interrupt(std::unique_lock<std::mutex>& lock,
                          const std::function<bool()>& done) {
  while (!done()) {
    pthread_kill(thread_.native_handle(), InterruptSignal());
    wake_.Raise();
    answered_.wait_for(lock, kInterruptRepeat, done);
  }
}

bool RingWatch::AcknowledgeRequests() {
  std::lock_guard lock(mutex_);
  if (restarts_done_ != restarts_asked_) {
    restarts_done_ = restarts_asked_;
    answered_.notify_all();
  }
  return stop_;
}

void RingWatch::Run() {
  RaiseThreadPriority(Urgency::kLine);  // an acknowledge is only 6 ms long
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, InterruptSignal());
  pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);

  if (!WatchCounter()) WatchLevel();

  std::lock_guard lock(mutex_);
  running_ = false;
  answered_.notify_all();
}

// Returns true when the watch is over (stopped or failed).
bool RingWatch::WatchCounter() {
  serial_icounter_struct counts = {};
  if (ioctl(fd_, TIOCGICOUNT, &counts) < 0) {
    if (Refused(errno)) return false;
    on_failure_(errno);
    return true;
  }
  int seen = counts.rng;
  const RecheckTimer recheck;
  for (;;) {
    if (AcknowledgeRequests()) return true;
    // Entering the wait also switches the UART's modem-status interrupt on again.
    if (ioctl(fd_, TIOCMIWAIT, TIOCM_RNG) < 0 && errno != EINTR) {
      if (Refused(errno)) return false;
      on_failure_(errno);
      return true;
    }
    if (ioctl(fd_, TIOCGICOUNT, &counts) < 0) {
      on_failure_(errno);
      return true;
    }
    if (counts.rng != seen) {
      seen = counts.rng;
      if (filter_.Change(RingPulseFilter::Clock::now())) on_ring_();
    }
  }
}

// Samples the ring input; a ring is the line becoming active.
void RingWatch::WatchLevel() {
  bool first = true;
  bool was_active = false;
  for (;;) {
    if (AcknowledgeRequests()) return;
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) < 0) {
      if (errno == EINTR) continue;
      if (!Refused(errno)) on_failure_(errno);
      return;
    }
    const bool active = (lines & TIOCM_RNG) != 0;
    if (active && !was_active && !first &&
        filter_.Change(RingPulseFilter::Clock::now())) {
      on_ring_();
    }
    was_active = active;
    first = false;
    Pause(wake_, kLevelSampleInterval);
  }
}

}  // namespace qarn2::serial
