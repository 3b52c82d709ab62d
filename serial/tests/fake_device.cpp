#include "serial/tests/fake_device.h"

#include <algorithm>
#include <cerrno>

namespace qarn2::serial::testing {

using Lock = std::unique_lock<std::mutex>;

// --- FakeLine -----------------------------------------------------------------------

void FakeLine::FailWith(Op op, int error) {
  Lock lock(mutex_);
  errors_[op] = error;
}

void FakeLine::HoldWrites(bool hold) {
  Lock lock(mutex_);
  hold_writes_ = hold;
}

void FakeLine::FinishLocked(std::shared_ptr<WriteJob> job, int written, int error) {
  written_ += job->data().substr(0, written);
  job->Complete(written, error);
  if (held_.empty() && written > 0) RaiseLocked(TComEvents{evTxEmpty});
}

void FakeLine::CompleteOldestWrite(int written, int error) {
  Lock lock(mutex_);
  if (held_.empty()) return;
  std::shared_ptr<WriteJob> job = held_.front();
  held_.pop_front();
  const int size = static_cast<int>(job->data().size());
  FinishLocked(job, written < 0 ? size : std::min(written, size), error);
}

void FakeLine::Receive(const std::string& data, TComEvents also) {
  Lock lock(mutex_);
  received_ += data;
  RaiseLocked(TComEvents{evRxChar} | also);
}

void FakeLine::Ring() {
  Lock lock(mutex_);
  ++pending_rings_;
  RaiseLocked(TComEvents{evRing});
}

void FakeLine::Raise(TComEvents events) {
  Lock lock(mutex_);
  RaiseLocked(events);
}

void FakeLine::RaiseLocked(TComEvents events) {
  pending_ = pending_ | events;
  changed_.notify_all();
}

void FakeLine::BreakDown(int error) {
  Lock lock(mutex_);
  broken_ = error;
  changed_.notify_all();
}

std::vector<std::string> FakeLine::Log() const {
  Lock lock(mutex_);
  return log_;
}

std::string FakeLine::Written() const {
  Lock lock(mutex_);
  return written_;
}

std::vector<LineSettings> FakeLine::LineSettingsApplied() const {
  Lock lock(mutex_);
  return settings_;
}

TComEvents FakeLine::Mask() const {
  Lock lock(mutex_);
  return mask_;
}

bool FakeLine::Dtr() const {
  Lock lock(mutex_);
  return dtr_;
}

bool FakeLine::Rts() const {
  Lock lock(mutex_);
  return rts_;
}

int FakeLine::HeldWrites() const {
  Lock lock(mutex_);
  return static_cast<int>(held_.size());
}

int FakeLine::WaitCalls() const {
  Lock lock(mutex_);
  return wait_calls_;
}

bool FakeLine::AwaitWaiter(std::chrono::milliseconds timeout) const {
  Lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return waiting_; });
}

bool FakeLine::IsOpen() const {
  Lock lock(mutex_);
  return open_;
}

void FakeLine::Note(const std::string& entry) { log_.push_back(entry); }

int FakeLine::Error(Op op) const {
  if (broken_ != 0) return broken_;
  auto it = errors_.find(op);
  return it == errors_.end() ? 0 : it->second;
}

// --- FakeDevice ---------------------------------------------------------------------

FakeDevice::~FakeDevice() {
  if (line_->IsOpen()) Close();
}

int FakeDevice::Open(const std::string& path) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kOpen)) return error;
  line_->Note("open " + path);
  line_->open_ = true;
  line_->cancelled_ = false;
  return 0;
}

void FakeDevice::Close() {
  Lock lock(line_->mutex_);
  if (closed_) return;  // closed once already; the line may be open anew by now
  for (auto& job : line_->held_) job->Complete(0, ECANCELED);
  line_->held_.clear();
  line_->cancelled_ = true;
  line_->open_ = false;
  closed_ = true;  // this opening's waits end for good, whatever the next opening does
  line_->Note("close");
  line_->changed_.notify_all();
}

int FakeDevice::SetQueueSizes(int input, int output) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kQueueSizes)) return error;
  line_->Note("queues " + std::to_string(input) + " " + std::to_string(output));
  return 0;
}

int FakeDevice::SetLineSettings(const LineSettings& settings) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kLineSettings)) return error;
  line_->Note("line " + std::to_string(settings.baud_rate));
  line_->settings_.push_back(settings);
  return 0;
}

int FakeDevice::SetTimeouts(const TimeoutValues& timeouts) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kTimeouts)) return error;
  line_->Note("timeouts " + std::to_string(timeouts.WriteTotalConstant));
  return 0;
}

int FakeDevice::StartWrite(std::shared_ptr<WriteJob> job) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kWrite)) return error;
  line_->held_.push_back(job);
  if (!line_->hold_writes_) {
    line_->held_.pop_back();
    line_->FinishLocked(job, static_cast<int>(job->data().size()), 0);
  }
  return 0;
}

int FakeDevice::Read(char* buffer, int max, int& got) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kRead)) return error;
  got = std::min<int>(max, static_cast<int>(line_->received_.size()));
  std::copy_n(line_->received_.begin(), got, buffer);
  line_->received_.erase(0, got);
  return 0;
}

int FakeDevice::RxQueueCount(int& count) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kRxCount)) return error;
  count = static_cast<int>(line_->received_.size());
  return 0;
}

int FakeDevice::Purge() {
  Lock lock(line_->mutex_);
  if (closed_) return EBADF;  // a closed opening no longer touches the line
  if (int error = line_->Error(FakeLine::Op::kPurge)) return error;
  for (auto& job : line_->held_) job->Complete(0, ECANCELED);
  line_->held_.clear();
  line_->received_.clear();
  line_->Note("purge");
  return 0;
}

int FakeDevice::SetDTR(bool on) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kDtr)) return error;
  line_->dtr_ = on;
  line_->Note(on ? "dtr 1" : "dtr 0");
  return 0;
}

int FakeDevice::SetRTS(bool on) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kRts)) return error;
  line_->rts_ = on;
  line_->Note(on ? "rts 1" : "rts 0");
  return 0;
}

int FakeDevice::ReadModemLines(ModemLines& lines) {
  Lock lock(line_->mutex_);
  if (int error = line_->Error(FakeLine::Op::kModem)) return error;
  lines = {};
  return 0;
}

int FakeDevice::SetEventMask(TComEvents events) {
  Lock lock(line_->mutex_);
  if (closed_) return EBADF;  // nor would it undo the next opening's cancellation
  if (int error = line_->Error(FakeLine::Op::kEventMask)) return error;
  line_->mask_ = events;
  line_->cancelled_ = false;
  return 0;
}

EventWait FakeDevice::WaitEvents() {
  Lock lock(line_->mutex_);
  ++line_->wait_calls_;
  line_->waiting_ = true;
  line_->changed_.notify_all();
  line_->changed_.wait(lock, [this] {
    return closed_ || line_->cancelled_ || line_->broken_ != 0 || !(line_->pending_ & line_->mask_).Empty();
  });
  line_->waiting_ = false;
  EventWait result;
  if (closed_ || line_->cancelled_) {
    result.outcome = EventWait::kCancelled;
  } else if (line_->broken_ != 0) {
    result.outcome = EventWait::kFailed;
    result.error = line_->broken_;
  } else {
    result.events = line_->pending_ & line_->mask_;
    line_->pending_ = TComEvents::FromBits(line_->pending_.Bits() & ~result.events.Bits());
    if (result.events.Has(evRing)) {
      result.rings = line_->pending_rings_;
      line_->pending_rings_ = 0;
    }
  }
  return result;
}

void FakeDevice::CancelWaitEvents() {
  Lock lock(line_->mutex_);
  if (closed_) return;
  line_->cancelled_ = true;
  line_->changed_.notify_all();
}

// --- TestHandOff --------------------------------------------------------------------

void TestHandOff::Deliver(const std::function<void()>& notify) {
  Item item{&notify};
  Lock lock(mutex_);
  queue_.push_back(&item);
  changed_.notify_all();
  changed_.wait(lock, [&item] { return item.done; });
}

void TestHandOff::ServePending(std::chrono::milliseconds max_wait) {
  Lock lock(mutex_);
  if (queue_.empty()) changed_.wait_for(lock, max_wait, [this] { return !queue_.empty(); });
  while (!queue_.empty()) {
    Item* item = queue_.front();
    queue_.pop_front();
    served_on_ = std::this_thread::get_id();
    lock.unlock();
    try {
      (*item->notify)();
    } catch (const std::exception& e) {
      lock.lock();
      errors_.push_back(e.what());
      lock.unlock();
    }
    lock.lock();
    item->done = true;
    changed_.notify_all();
  }
}

bool TestHandOff::ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ServePending(std::chrono::milliseconds(1));
  }
  return true;
}

std::vector<std::string> TestHandOff::Errors() const {
  Lock lock(mutex_);
  return errors_;
}

int TestHandOff::Waiting() const {
  Lock lock(mutex_);
  return static_cast<int>(queue_.size());
}

bool TestHandOff::AwaitDelivery(std::chrono::milliseconds timeout) const {
  Lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
}

}  // namespace qarn2::serial::testing
