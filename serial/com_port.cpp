#include "serial/com_port.h"

#include "serial/thread_priority.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <utility>
#include <vector>

namespace qarn2::serial {

void CreateRequest(TComRequest*& request) { request = new TComRequest(); }

void FreeRequest(TComRequest*& request) {
  delete request;
  request = nullptr;
}

// --- Settings objects ---------------------------------------------------------------

void TComParity::Change(const ParityValues& values) {
  if (values == values_) return;
  values_ = values;
  port_.ApplyLineSettings();
}

void TComParity::SetBits(TParityBits bits) {
  ParityValues v = values_;
  v.Bits = bits;
  Change(v);
}

void TComParity::SetCheck(bool check) {
  ParityValues v = values_;
  v.Check = check;
  Change(v);
}

void TComParity::SetReplace(bool replace) {
  ParityValues v = values_;
  v.Replace = replace;
  Change(v);
}

void TComParity::SetReplaceChar(char c) {
  ParityValues v = values_;
  v.ReplaceChar = c;
  Change(v);
}

void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  FlowControlValues v = values_;
  v.ControlDTR = value;
  SetValues(v);
}

void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  FlowControlValues v = values_;
  v.ControlRTS = value;
  SetValues(v);
}

void TComFlowControl::SetValues(const FlowControlValues& values) {
  if (values == values_) return;
  values_ = values;
  port_.ApplyLineSettings();
}

void TComTimeouts::SetValues(const TimeoutValues& values) {
  values_ = values;
  port_.ApplyTimeouts();
}

void TComBuffer::SetInputSize(int size) {
  input_ = size - size % 2;
  port_.ApplyBuffer();
}

void TComBuffer::SetOutputSize(int size) {
  output_ = size - size % 2;
  port_.ApplyBuffer();
}

// --- Port ---------------------------------------------------------------------------

TCustomComPort::TCustomComPort(HandOff& hand_off, DeviceFactory make_device, PortMap ports)
    : hand_off_(hand_off), make_device_(std::move(make_device)), ports_(std::move(ports)) {}

TCustomComPort::~TCustomComPort() {
  try {
    Close();
  } catch (const EComPort&) {
    // The port is closed all the same; there is nobody left to tell.
  }
  ReapRetired();
}

LineSettings TCustomComPort::CurrentLineSettings() const {
  LineSettings s;
  s.baud_rate = BaudRateValue(baud_rate_, custom_baud_rate_);
  s.data_bits = 5 + static_cast<int>(data_bits_);
  s.parity = parity_.Bits();
  s.stop_bits = stop_bits_;
  s.parity_options = parity_.Values();
  s.flow = flow_control_.Values();
  s.discard_null = false;
  s.xon_limit = buffer_.InputSize() / 4;
  s.xoff_limit = buffer_.InputSize() / 4;
  s.event_char = 0;
  return s;
}

std::chrono::milliseconds TCustomComPort::WriteTimeout(std::size_t characters) const {
  const TimeoutValues& t = timeouts_.Values();
  return std::chrono::milliseconds(static_cast<long long>(t.WriteTotalConstant) +
                                   static_cast<long long>(t.WriteTotalMultiplier) *
                                       static_cast<long long>(characters));
}

void TCustomComPort::Open() {
  if (Connected()) return;
  ReapRetired();
  const std::string path = ports_.PathOf(port_);
  std::unique_ptr<SerialDevice> device = make_device_(path);
  if (int error = device->Open(path); error != 0) RaiseComError(kComOpen, error);
  device_ = std::move(device);
  try {
    ApplyBuffer();
    ApplyLineSettings();
    ApplyTimeouts();
  } catch (const EComPort&) {
    device_->Close();
    device_.reset();
    throw;
  }
  // The events watched are those named now; the mask is set before the thread runs,
  // so that a Close right away finds it waiting or about to wait.
  open_events_ = events_;
  if (!events_.Empty() && device_->SetEventMask(events_) == 0) {
    event_thread_.done = std::make_shared<std::atomic<bool>>(false);
    event_thread_.thread =
        std::thread(&TCustomComPort::RunEventThread, this, device_.get(), event_thread_.done);
  }
  ModemLines lines;
  if (int error = device_->ReadModemLines(lines); error != 0) RaiseComError(kComModemStatus, error);
}

void TCustomComPort::Close() {
  // A Close from a notification served while another Close waits for the event
  // thread: that one is closing the port already.
  if (!Connected() || closing_) return;
  struct Closing {
    bool& flag;
    explicit Closing(bool& f) : flag(f) { flag = true; }
    ~Closing() { flag = false; }
  } closing(closing_);
  // Pending transfers are aborted first; the port closes even where the device
  // refuses (it may have gone away), and the failure is reported afterwards.
  const int purge_error = device_->Purge();
  if (event_thread_.thread.joinable()) {
    device_->CancelWaitEvents();
    if (dispatching_ > 0) {
      // Called from a notification: the event thread waits for it to return, so it
      // cannot be waited for here. The device closes now all the same (the port can
      // be opened again at once, even from this notification); the thread only finds
      // it cancelled and is collected by the next Open or Close.
      device_->Close();
      retired_.push_back({std::exchange(event_thread_, {}), std::move(device_)});
      if (purge_error != 0) RaiseComError(kComPurge, purge_error);
      return;
    }
    std::this_thread::yield();
    EventThread events = std::exchange(event_thread_, {});
    WaitForEventThread(events);
  }
  device_->Close();
  device_.reset();
  if (purge_error != 0) RaiseComError(kComPurge, purge_error);
}

// A notification already on its way is still delivered while waiting.
void TCustomComPort::WaitForEventThread(EventThread& events) {
  while (!*events.done) hand_off_.ServePending(std::chrono::milliseconds(1));
  events.thread.join();
  events = {};
}

void TCustomComPort::ReapRetired() {
  if (dispatching_ > 0) return;
  for (Retired& retired : retired_) {
    WaitForEventThread(retired.events);
    retired.device->Close();
  }
  retired_.clear();
}

void TCustomComPort::RunEventThread(SerialDevice* device, std::shared_ptr<std::atomic<bool>> done) {
  // Members with a notification first, in this order; the others have no visible
  // effect.
  static constexpr TComEvent kOrder[] = {evRxChar, evTxEmpty, evRing, evRxFlag, evBreak,
                                         evCTS,    evDSR,     evError, evRLSD, evRx80Full};
  // Transmit-empty keeps the line busy: handed over late, it leaves the line idle.
  RaiseThreadPriority(Urgency::kLine);
  for (;;) {
    const EventWait wait = device->WaitEvents();
    if (wait.outcome != EventWait::kEvents) break;
    for (TComEvent event : kOrder) {
      if (!wait.events.Has(event)) continue;
      // Each ring its own notification.
      const int times = event == evRing ? std::max(1, wait.rings) : 1;
      if (event == evTxEmpty) tx_empty_on_its_way_ = true;
      for (int i = 0; i < times; ++i) hand_off_.Deliver([this, event] { Dispatch(event); });
      tx_empty_on_its_way_ = false;
    }
  }
  // Stop watching; whatever is still queued either way is dropped.
  device->SetEventMask({});
  device->Purge();
  *done = true;
}

void TCustomComPort::Dispatch(TComEvent event) {
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  } depth(dispatching_);
  switch (event) {
    case evRxChar:
      if (!Connected()) return;
      if (const int count = RxQueueCount(); count > 0 && OnRxChar) OnRxChar(*this, count);
      break;
    case evTxEmpty:
      tx_empty_on_its_way_ = false;
      if (OnTxEmpty) OnTxEmpty(*this);
      break;
    case evRing:
      if (OnRing) OnRing(*this);
      break;
    default:
      break;
  }
}

void TCustomComPort::SetConnected(bool connected) {
  if (loading_) {
    open_when_loaded_ = connected;
    return;
  }
  if (connected) {
    Open();
  } else {
    Close();
  }
}

void TCustomComPort::BeginLoading() { loading_ = true; }

void TCustomComPort::EndLoading() {
  loading_ = false;
  if (open_when_loaded_) {
    open_when_loaded_ = false;
    Open();
  }
}

void TCustomComPort::SetPort(const std::string& name) {
  const std::string normalized = NormalizePortName(name);
  if (normalized == port_) return;
  port_ = normalized;
  if (Applies()) {
    Close();
    Open();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate rate) {
  if (rate == baud_rate_) return;
  baud_rate_ = rate;
  ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(int rate) {
  if (rate == custom_baud_rate_) return;
  custom_baud_rate_ = rate;
  if (baud_rate_ == brCustom) ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits bits) {
  if (bits == data_bits_) return;
  data_bits_ = bits;
  ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits bits) {
  if (bits == stop_bits_) return;
  stop_bits_ = bits;
  ApplyLineSettings();
}

void TCustomComPort::SetEvents(TComEvents events) { events_ = events; }

void TCustomComPort::SetSyncMethod(TSyncMethod method) {
  if (Connected() && !loading_) RaiseComError(kComSyncMethod, -1);
  sync_method_ = method;
}

void TCustomComPort::ApplyLineSettings() {
  if (!Applies()) return;
  if (int error = device_->SetLineSettings(CurrentLineSettings()); error != 0) {
    RaiseComError(kComSetState, error);
  }
  // The line control goes with the settings: with dtrDisable / rtsDisable the lines
  // are off afterwards, and callers raise them again. A device without modem lines
  // has nothing to set; that is no failure of the settings.
  const FlowControlValues& flow = flow_control_.Values();
  if (flow.ControlDTR != dtrHandshake) device_->SetDTR(flow.ControlDTR == dtrEnable);
  if (flow.ControlRTS == rtsDisable || flow.ControlRTS == rtsEnable) {
    device_->SetRTS(flow.ControlRTS == rtsEnable);
  }
}

void TCustomComPort::ApplyTimeouts() {
  if (!Applies()) return;
  if (int error = device_->SetTimeouts(timeouts_.Values()); error != 0) {
    RaiseComError(kComTimeouts, error);
  }
}

void TCustomComPort::ApplyBuffer() {
  if (!Applies()) return;
  if (int error = device_->SetQueueSizes(buffer_.InputSize(), buffer_.OutputSize()); error != 0) {
    RaiseComError(kComSetupComm, error);
  }
}

// --- Transfers ----------------------------------------------------------------------

int TCustomComPort::WriteText(const std::string& text) { return WriteWhole(text, false); }

int TCustomComPort::WriteTextAhead(const std::string& text) { return WriteWhole(text, true); }

int TCustomComPort::WriteWhole(const std::string& text, bool ahead) {
  TComRequest* request = nullptr;
  CreateRequest(request);
  try {
    WriteTextAsync(text, request, ahead);
    const int written = WaitForRequest(request);
    FreeRequest(request);
    return written;
  } catch (...) {
    FreeRequest(request);
    throw;
  }
}

int TCustomComPort::WriteTextAsync(const std::string& text, TComRequest* request, bool ahead) {
  if (request == nullptr) RaiseComError(kComAsyncParam, -1);
  if (!Connected()) RaiseComError(kComWrite, EBADF);
  request->kind_ = TComRequest::kWrite;
  request->job_ = std::make_shared<WriteJob>(text, WriteTimeout(text.size()));
  if (ahead) request->job_->SetAhead();
  if (text.empty()) {
    request->job_->Complete(0, 0);  // nothing goes out, no transmit-empty follows
    return 0;
  }
  if (int error = device_->StartWrite(request->job_); error != 0) {
    request->job_->Complete(0, error);
    RaiseComError(kComWrite, error);
  }
  return 0;
}

int TCustomComPort::WaitForRequest(TComRequest* request) {
  if (request == nullptr) RaiseComError(kComAsyncParam, -1);
  if (request->kind_ == TComRequest::kRead) return request->read_count_;
  if (!request->job_) return 0;
  const WriteJob& job = *request->job_;
  if (!job.HasWaitDriver() && dispatching_ == 0) {
    // Transmit-empty comes while the job's last characters still go out; served only
    // after the wait, the next ones would find the line idle.
    while (!job.WaitFor(std::chrono::microseconds(500))) {
      if (tx_empty_on_its_way_.load()) hand_off_.ServePending(std::chrono::milliseconds(0));
    }
  }
  int error = 0;
  const int written = job.Wait(error);
  if (error != 0) RaiseComError(kComWrite, error);
  // Characters left when the time was up: the port takes nothing any more (nobody
  // drains it). Going on would report reads and writes that never reached the track.
  if (written < static_cast<int>(request->job_->data().size())) RaiseComError(kComWrite, ETIMEDOUT);
  return written;
}

int TCustomComPort::ReadText(std::string& text, int Count) {
  TComRequest* request = nullptr;
  CreateRequest(request);
  request->kind_ = TComRequest::kRead;
  try {
    if (!Connected()) RaiseComError(kComRead, EBADF);
    text.resize(Count > 0 ? Count : 0);
    int got = 0;
    if (Count > 0) {
      if (int error = device_->Read(text.data(), Count, got); error != 0) RaiseComError(kComRead, error);
    }
    request->read_count_ = got;
    text.resize(WaitForRequest(request));
    FreeRequest(request);
    return static_cast<int>(text.size());
  } catch (...) {
    text.clear();
    FreeRequest(request);
    throw;
  }
}

int TCustomComPort::RxQueueCount() {
  if (!Connected()) RaiseComError(kComClearComm, EBADF);
  int count = 0;
  if (int error = device_->RxQueueCount(count); error != 0) RaiseComError(kComClearComm, error);
  return count;
}

void TCustomComPort::SetDTR(bool on) {
  if (!Connected()) RaiseComError(kComEscapeComm, EBADF);
  if (int error = device_->SetDTR(on); error != 0) RaiseComError(kComEscapeComm, error);
}

void TCustomComPort::SetRTS(bool on) {
  if (!Connected()) RaiseComError(kComEscapeComm, EBADF);
  if (int error = device_->SetRTS(on); error != 0) RaiseComError(kComEscapeComm, error);
}

}  // namespace qarn2::serial
