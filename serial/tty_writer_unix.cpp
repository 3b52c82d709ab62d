// The tty device's writer: hands the jobs to the driver back to back, completes each
// when its last character has left the driver, drops the background for a job ahead of
// it, and asks for the next characters while the line is still busy.

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "serial/thread_priority.h"
#include "serial/tty_device_internal.h"

namespace qarn2::serial::tty {
namespace {

// Pause between two looks at the driver's transmit queue: about a character time,
// within these bounds, whatever the driver reports (cdc-acm reports a whole URB for
// any write in flight, so a pause by queue length would hold every write 0.67 s).
constexpr nanoseconds kMinDrainPause = std::chrono::microseconds(200);
constexpr nanoseconds kMaxDrainPause = std::chrono::milliseconds(2);

bool HungUpNow(int fd) {
  pollfd watched = {fd, 0, 0};
  return poll(&watched, 1, 0) > 0 && HungUp(watched.revents);
}

}  // namespace

long long ClockPacedLine::Room(Clock::time_point now, nanoseconds character) const {
  const nanoseconds queued = std::max(nanoseconds(0), free_at_ - now);
  if (queued > kAhead / 2) return 0;
  return std::max<long long>(1, (kAhead - queued) / character);
}

void ClockPacedLine::Handed(Clock::time_point now, nanoseconds character, long long count) {
  free_at_ = std::max(free_at_, now) + character * count;
}

int ClockPacedLine::Held(Clock::time_point now, nanoseconds character) const {
  const nanoseconds queued = free_at_ - now;
  if (queued <= nanoseconds(0)) return 0;
  return static_cast<int>((queued + character - nanoseconds(1)) / character);
}

nanoseconds ClockPacedLine::UntilRoom(Clock::time_point now) const {
  return std::max(nanoseconds(0), free_at_ - kAhead / 2 - now);
}

nanoseconds ClockPacedLine::UntilSent(Clock::time_point now, nanoseconds character, long long behind) const {
  return std::max(nanoseconds(0), std::chrono::duration_cast<nanoseconds>(free_at_ - character * behind - now));
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
// Transmit-empty is reported when what waits to be written and what the driver still
// holds is short: the next characters come while the line is still busy. A paced
// line (a pseudo-terminal) takes them only as fast as a UART would send them.
void TtyDevice::RunWriter() {
  RaiseThreadPriority(Urgency::kLine);  // it feeds the driver
  std::deque<Sending> sent;  // handed to the driver, not all gone out
  std::optional<Sending> current;  // being handed over
  long long written_total = 0;
  std::uint64_t generation = 0;
  int outq = 0;  // what the driver held at the last look
  const int fd = fd_;
  const bool paced = paced_;
  ClockPacedLine line;

  // Drops what the driver holds and has not sent. Not on a paced line: a
  // pseudo-terminal's flush throws away what its far side has not read yet, which would
  // hide a reader that stopped (it would never refuse more); what the clock counts as
  // held there is at most the pace's lead, and the far side gets it as a UART's FIFO
  // would send it.
  const auto drop_driver_queue = [&] {
    if (!paced) tcflush(fd, TCOFLUSH);
  };
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
      drop_driver_queue();
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
      // (only the UART's FIFO still sends; on a paced line, the pace's lead), and the
      // job follows at once.
      lock.unlock();
      drop_driver_queue();
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
      untold_characters_ += static_cast<long>(job.data().size());
      current = std::move(next);
    }
    lock.unlock();

    if (paced && (current || !sent.empty()) && HungUpNow(fd)) {
      // The clock says what has left, but the far end may be gone (a bridge closed):
      // only what had left at the last look before counts as sent, the rest is lost.
      // (A hung-up tty's driver answers the queue probe with EIO instead.)
      Fail(EIO);
      lock.lock();
      continue;
    }

    // Hand over what the driver takes (a paced line: what is due).
    const nanoseconds character(character_ns_.load());
    bool queue_full = false;
    bool held_back = false;  // by the pace, not by the driver
    if (current) {
      int error = 0;
      const Clock::time_point before = Clock::now();
      const long long allowed = paced ? line.Room(before, character) : std::numeric_limits<long long>::max();
      const long long had = written_total;
      queue_full = !WriteSome(*current, written_total, allowed, error);
      if (paced) line.Handed(before, character, written_total - had);
      held_back = queue_full && paced && written_total - had == allowed;
      if (error) {
        if (error == EIO) Fail(error);
        // What the driver took of it, and of the jobs before it, still goes out.
        const Sending failed = *std::exchange(current, std::nullopt);
        failed.job->Complete(static_cast<int>(failed.end - failed.start), error);
      } else if (!queue_full && current->end - current->start == static_cast<long long>(current->job->data().size())) {
        sent.push_back(*std::exchange(current, std::nullopt));
      }
    }

    // See what has left the driver.
    int held = 0;
    if (paced) {
      held = line.Held(Clock::now(), character);
    } else if (!sent.empty() || current) {
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
      drop_driver_queue();
      const long long gone = end_everything(0);
      written_total = 0;
      outq = 0;
      std::lock_guard untold(mutex_);
      if (gone > 0) untold_characters_ += static_cast<long>(gone);
    }

    lock.lock();
    if (stop_writer_ || generation != generation_ || failure_) continue;
    if (untold_characters_ > 0) {
      long long queued = outq;
      if (current) queued += static_cast<long long>(current->job->data().size()) - (current->end - current->start);
      for (const auto& job : jobs_) queued += static_cast<long long>(job->data().size());
      if (queued <= LowWater()) {
        untold_characters_ = 0;
        Raise(evTxEmpty);
      }
    }
    if (current && !queue_full) continue;  // the next piece at once
    if (!current && !jobs_.empty()) continue;

    // Wait: for room in the driver's queue, for characters to leave it, or for news.
    std::optional<nanoseconds> limit;
    if (!sent.empty() || current) {
      if (paced) {
        // The clock tells when the line has room again and when the next job is done.
        nanoseconds next = !current ? nanoseconds::max() : held_back ? line.UntilRoom(now) : kMaxDrainPause;
        if (!sent.empty()) next = std::min(next, line.UntilSent(now, character, written_total - sent.front().end));
        limit = std::max(kMinDrainPause, next);
      } else {
        limit = std::clamp(character, kMinDrainPause, kMaxDrainPause);
      }
      for (const Sending* s : {current ? &*current : nullptr, sent.empty() ? nullptr : &sent.front()}) {
        if (s && s->deadline) limit = std::min(*limit, std::chrono::duration_cast<nanoseconds>(*s->deadline - now));
      }
    }
    const bool want_room = current && !held_back;
    lock.unlock();
    WaitOn(want_room ? fd : -1, want_room ? POLLOUT : 0, writer_wake_, limit);
    lock.lock();
  }
  // Closing: the port has purged; anything left is dropped.
  lock.unlock();
  end_everything(ECANCELED);
  lock.lock();
  writer_running_ = false;
  settled_.notify_all();
}

bool TtyDevice::WriteSome(Sending& sending, long long& written_total, long long allowed, int& error) {
  const std::string& data = sending.job->data();
  for (;;) {
    const long long done = sending.end - sending.start;
    if (done >= static_cast<long long>(data.size())) return true;
    if (allowed <= 0) return false;
    const std::size_t size = static_cast<std::size_t>(std::min<long long>(allowed, static_cast<long long>(data.size()) - done));
    const ssize_t n = ::write(fd_, data.data() + done, size);
    if (n > 0) {
      sending.end += n;
      written_total += n;
      allowed -= n;
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

}  // namespace qarn2::serial::tty
