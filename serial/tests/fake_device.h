#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/hand_off.h"
#include "serial/serial_device.h"

namespace qarn2::serial::testing {

// The far side of a scripted device, owned by the test; it outlives the device objects
// that the port makes and drops.
class FakeLine {
 public:
  enum class Op { kOpen, kQueueSizes, kLineSettings, kTimeouts, kWrite, kRead, kRxCount,
                  kPurge, kDtr, kRts, kModem, kEventMask };

  // --- What the test sets up.
  void FailWith(Op op, int error);  // 0 clears
  // Writes complete at once (default) or wait for CompleteWrites.
  void HoldWrites(bool hold);
  // Completes the oldest held write with `written` characters (-1: all).
  void CompleteOldestWrite(int written = -1, int error = 0);
  // Characters arrive: evRxChar, together with `also`.
  void Receive(const std::string& data, TComEvents also = {});
  void Ring();                            // evRing, one more ring
  void Raise(TComEvents events);          // any events
  void BreakDown(int error);              // the device goes away

  // --- What the test reads.
  std::vector<std::string> Log() const;   // "open /dev/ttyS0", "line 19200", "dtr 1", ...
  std::string Written() const;            // every character written, in order
  std::vector<LineSettings> LineSettingsApplied() const;
  TComEvents Mask() const;
  bool Dtr() const;
  bool Rts() const;
  int HeldWrites() const;
  int WaitCalls() const;                  // WaitEvents calls so far
  // Blocks until the event thread sits in WaitEvents (true) or `timeout` passes.
  bool AwaitWaiter(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  bool IsOpen() const;

 private:
  friend class FakeDevice;
  void Note(const std::string& entry);
  int Error(Op op) const;
  void RaiseLocked(TComEvents events);
  void FinishLocked(std::shared_ptr<WriteJob> job, int written, int error);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<Op, int> errors_;
  std::vector<std::string> log_;
  std::string written_;
  std::string received_;
  std::vector<LineSettings> settings_;
  std::deque<std::shared_ptr<WriteJob>> held_;
  bool hold_writes_ = false;
  bool open_ = false;
  bool dtr_ = false;
  bool rts_ = false;
  TComEvents mask_;
  TComEvents pending_;
  int pending_rings_ = 0;  // Ring() calls among pending_
  bool cancelled_ = false;
  int broken_ = 0;
  int wait_calls_ = 0;
  bool waiting_ = false;
};

// The device object the port owns; everything goes to its FakeLine.
class FakeDevice : public SerialDevice {
 public:
  explicit FakeDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
  ~FakeDevice() override;

  int Open(const std::string& path) override;
  void Close() override;
  int SetQueueSizes(int input, int output) override;
  int SetLineSettings(const LineSettings& settings) override;
  int SetTimeouts(const TimeoutValues& timeouts) override;
  int StartWrite(std::shared_ptr<WriteJob> job) override;
  int Read(char* buffer, int max, int& got) override;
  int RxQueueCount(int& count) override;
  int Purge() override;
  int SetDTR(bool on) override;
  int SetRTS(bool on) override;
  int ReadModemLines(ModemLines& lines) override;
  int SetEventMask(TComEvents events) override;
  EventWait WaitEvents() override;
  void CancelWaitEvents() override;

 private:
  std::shared_ptr<FakeLine> line_;
  bool closed_ = false;  // under line_->mutex_
};

// The user-interface side of the hand-off, for a test whose own thread plays the
// user-interface thread: deliveries wait in a queue until the test serves them.
class TestHandOff : public HandOff {
 public:
  void Deliver(const std::function<void()>& notify) override;
  void ServePending(std::chrono::milliseconds max_wait) override;

  // Serves deliveries until `done` holds or `timeout` passes; returns `done()`.
  bool ServeUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Deliveries waiting now.
  int Waiting() const;
  // Blocks (without serving) until a delivery waits, or `timeout` passes.
  bool AwaitDelivery(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  std::thread::id ServedOn() const { return served_on_; }
  // Messages of exceptions that notifications threw.
  std::vector<std::string> Errors() const;

 private:
  struct Item {
    const std::function<void()>* notify;
    bool done = false;
  };
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<Item*> queue_;
  std::thread::id served_on_;
  std::vector<std::string> errors_;
};

}  // namespace qarn2::serial::testing
