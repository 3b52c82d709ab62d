#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "serial/com_types.h"

namespace qarn2::serial {

// One write handed to a device. The device completes its jobs in the order they were
// started, each when the device holds none of its characters any more (at most a
// hardware FIFO is still to send them), or when `timeout` has passed since the job
// began to go out: then with fewer characters written and no error.
class WriteJob {
 public:
  WriteJob(std::string data, std::chrono::milliseconds timeout)
      : data_(std::move(data)), timeout_(timeout) {}

  const std::string& data() const { return data_; }
  // Zero or less: no time limit.
  std::chrono::milliseconds timeout() const { return timeout_; }
  // The job goes ahead of the jobs started before it: what the device still holds of
  // them beyond its hardware FIFO is dropped (they complete with ECANCELED), so the
  // job follows the FIFO's last characters on the line at once. Those may end in the
  // middle of a packet of theirs.
  bool ahead() const { return ahead_; }
  void SetAhead() { ahead_ = true; }

  // Called once by the device. `error` is 0 or an errno value (ECANCELED when a purge
  // dropped the job).
  void Complete(int written, int error);

  bool done() const;
  // Blocks until Complete has been called; returns the characters written and sets
  // `error`. Where a device runs on simulated time, `driver` (set by the device before
  // the job starts) moves that time on until the job is done instead of waiting.
  int Wait(int& error) const;
  // Waits up to `limit` for Complete; true when it has been called. Not for a job
  // with a wait driver.
  bool WaitFor(std::chrono::microseconds limit) const;
  bool HasWaitDriver() const { return static_cast<bool>(driver_); }
  void SetWaitDriver(std::function<void()> driver) { driver_ = std::move(driver); }

 private:
  const std::string data_;
  const std::chrono::milliseconds timeout_;
  bool ahead_ = false;
  std::function<void()> driver_;
  mutable std::mutex mutex_;
  mutable std::condition_variable completed_;
  bool done_ = false;
  int written_ = 0;
  int error_ = 0;
};

// A device reports transmit-empty once what it still holds to send (beyond a UART's
// own FIFO) lasts less than this: the next characters are then queued while the line
// is still busy, and the program has this long to answer before the line runs idle.
// Commands do not wait behind it (they are written ahead of the background), so it is
// as deep as a plain user's program may be held off by a busy machine.
constexpr std::chrono::milliseconds kTransmitRefillAhead{100};

// What a device reports from WaitEvents.
struct EventWait {
  enum Outcome {
    kEvents,     // `events` holds at least one event
    kCancelled,  // CancelWaitEvents was called
    kFailed,     // the device failed (`error` holds errno), e.g. it went away
  };
  Outcome outcome = kEvents;
  TComEvents events;
  // How many rings `events` stands for: rings that come while the event thread is
  // busy are counted, never merged, since each is one acknowledge of a decoder. 0 is
  // taken as 1 when evRing is among the events.
  int rings = 0;
  int error = 0;
};

// A serial device of the system or a stand-in for one. Every function returns 0 or an
// errno value; the port turns these into its EComPort codes. Open must come first and
// Close last; between them the port calls from its user-interface thread, except
// WaitEvents and CancelWaitEvents (the port's event thread) and the job completions
// (any thread of the device's).
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens `path` exclusively for reading and writing.
  virtual int Open(const std::string& path) = 0;
  // Drops every pending job (completed with ECANCELED), wakes WaitEvents, closes.
  virtual void Close() = 0;

  virtual int SetQueueSizes(int input, int output) = 0;
  virtual int SetLineSettings(const LineSettings& settings) = 0;
  virtual int SetTimeouts(const TimeoutValues& timeouts) = 0;

  // Queues `job` behind the jobs started before it; returns at once. An error here
  // means the job was not started (and will not be completed).
  virtual int StartWrite(std::shared_ptr<WriteJob> job) = 0;
  // Moves up to `max` received characters into `buffer` without waiting.
  virtual int Read(char* buffer, int max, int& got) = 0;
  // Characters waiting in the receive queue.
  virtual int RxQueueCount(int& count) = 0;
  // Aborts pending jobs (ECANCELED) and clears both queues.
  virtual int Purge() = 0;

  virtual int SetDTR(bool on) = 0;
  virtual int SetRTS(bool on) = 0;
  virtual int ReadModemLines(ModemLines& lines) = 0;

  // The events WaitEvents reports from now on; others are not watched.
  virtual int SetEventMask(TComEvents events) = 0;
  // Blocks until at least one watched event has occurred since the last call and
  // returns all that have (each kind once, rings with their number), or until
  // cancelled or failed. Events that
  // occur while nobody waits are kept for the next call.
  virtual EventWait WaitEvents() = 0;
  // Makes the current and every later WaitEvents return kCancelled at once, until the
  // next SetEventMask.
  virtual void CancelWaitEvents() = 0;
};

// Hands every call on to the device it wraps; a device that only watches or changes
// a few calls on their way derives from it and overrides those.
class ForwardingDevice : public SerialDevice {
 public:
  explicit ForwardingDevice(std::unique_ptr<SerialDevice> inner) : inner_(std::move(inner)) {}

  int Open(const std::string& path) override { return inner_->Open(path); }
  void Close() override { inner_->Close(); }
  int SetQueueSizes(int input, int output) override { return inner_->SetQueueSizes(input, output); }
  int SetLineSettings(const LineSettings& settings) override { return inner_->SetLineSettings(settings); }
  int SetTimeouts(const TimeoutValues& timeouts) override { return inner_->SetTimeouts(timeouts); }
  int StartWrite(std::shared_ptr<WriteJob> job) override { return inner_->StartWrite(std::move(job)); }
  int Read(char* buffer, int max, int& got) override { return inner_->Read(buffer, max, got); }
  int RxQueueCount(int& count) override { return inner_->RxQueueCount(count); }
  int Purge() override { return inner_->Purge(); }
  int SetDTR(bool on) override { return inner_->SetDTR(on); }
  int SetRTS(bool on) override { return inner_->SetRTS(on); }
  int ReadModemLines(ModemLines& lines) override { return inner_->ReadModemLines(lines); }
  int SetEventMask(TComEvents events) override { return inner_->SetEventMask(events); }
  EventWait WaitEvents() override { return inner_->WaitEvents(); }
  void CancelWaitEvents() override { inner_->CancelWaitEvents(); }

 private:
  std::unique_ptr<SerialDevice> inner_;
};

}  // namespace qarn2::serial
