#pragma once

// The parts of the Linux tty device, shared by the files that make it up: opening,
// line settings, modem lines, reads and events with hang-ups (tty_device_unix.cpp),
// the paced writer (tty_writer_unix.cpp), and the settings a port is given and left
// with (tty_port_settings_unix.cpp). Nothing outside serial/ includes it.

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "serial/tty_device.h"
#include "serial/tty_ring_watch.h"
#include "serial/tty_wake_line.h"

namespace qarn2::serial::tty {

using Clock = std::chrono::steady_clock;
using std::chrono::nanoseconds;

// errno values of a call the device does not know (a pty has no modem lines).
inline bool Refused(int error) {
  return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// poll's answer for a device that is gone: hung up, broken or closed.
inline bool HungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

// One character in the format of `settings`.
nanoseconds CharacterTime(const LineSettings& settings);

// Waits for `events` on `fd` (none: only for `wake`) up to `limit` (none: no limit);
// clears `wake` when it was raised. Returns the device's poll result bits.
short WaitOn(int fd, short events, const WakeLine& wake, std::optional<nanoseconds> limit);

// Ports left as they were found, also when a signal ends the program
// (tty_port_settings_unix.cpp): every open tty is noted with the settings it had.
// DTR and RTS dropped and `original` put back (async-signal-safe).
void ReleaseLines(int fd, const termios& original);
// Notes `fd` as open with `original` settings; false when no slot is free (the port
// still works, it is only not cleaned up by a signal).
bool NoteOpenPort(int fd, const termios& original);
void ForgetOpenPort(int fd);

// A line whose device cannot tell what it still holds to send (a pseudo-terminal
// takes everything at once and reports nothing held): the writer plays the UART by the
// clock. Characters are handed over no more than kAhead before the line would send
// them, and count as held until then. They are handed over in pieces: once what is held
// lasts no more than half of kAhead, up to kAhead again, so that the writer wakes a few
// dozen times a second instead of once a character.
class ClockPacedLine {
 public:
  static constexpr nanoseconds kAhead = std::chrono::milliseconds(50);
  // How many characters may be handed over at `now`.
  long long Room(Clock::time_point now, nanoseconds character) const;
  void Handed(Clock::time_point now, nanoseconds character, long long count);
  // Characters handed over that the line has not sent by `now`.
  int Held(Clock::time_point now, nanoseconds character) const;
  // How long from `now` until there is room again.
  nanoseconds UntilRoom(Clock::time_point now) const;
  // How long from `now` until all but the last `behind` characters handed over are sent.
  nanoseconds UntilSent(Clock::time_point now, nanoseconds character, long long behind) const;

 private:
  Clock::time_point free_at_{};  // when the line has sent all it was handed
};

// The device behind MakeTtyDevice (see tty_device.h). With `pace_pseudo_terminals`, a
// pseudo-terminal (whose queue reads as empty) is paced by the clock.
class TtyDevice final : public SerialDevice {
 public:
  TtyDevice(TransmitQueueProbe probe, bool pace_pseudo_terminals)
      : probe_(std::move(probe)), pace_pseudo_terminals_(pace_pseudo_terminals) {}
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
  // At most `allowed` characters.
  bool WriteSome(Sending& job, long long& written_total, long long allowed, int& error);
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
  const bool pace_pseudo_terminals_;
  std::atomic<bool> paced_{false};  // the open device is paced by the clock
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

}  // namespace qarn2::serial::tty
