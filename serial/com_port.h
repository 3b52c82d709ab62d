#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/com_error.h"
#include "serial/com_types.h"
#include "serial/hand_off.h"
#include "serial/port_map.h"
#include "serial/serial_device.h"

namespace qarn2::serial {

class TCustomComPort;

// One asynchronous transfer; the caller owns it (CreateRequest / FreeRequest).
class TComRequest {
 public:
  enum Kind { kWrite, kRead };

 private:
  friend class TCustomComPort;
  Kind kind_ = kWrite;
  std::shared_ptr<WriteJob> job_;  // the write in flight or done; none for a read
  int read_count_ = 0;             // characters a read transferred
};

void CreateRequest(TComRequest*& request);
void FreeRequest(TComRequest*& request);

// A settings object of the port: changing a field stores it and, while the port is
// open, applies the port's settings at once.
class TComParity {
 public:
  explicit TComParity(TCustomComPort& port) : port_(port) {}
  const ParityValues& Values() const { return values_; }
  TParityBits Bits() const { return values_.Bits; }
  void SetBits(TParityBits bits);
  void SetCheck(bool check);
  void SetReplace(bool replace);
  void SetReplaceChar(char c);

 private:
  void Change(const ParityValues& values);
  TCustomComPort& port_;
  ParityValues values_;
};

class TComFlowControl {
 public:
  explicit TComFlowControl(TCustomComPort& port) : port_(port) {}
  const FlowControlValues& Values() const { return values_; }
  TDTRFlowControl ControlDTR() const { return values_.ControlDTR; }
  TRTSFlowControl ControlRTS() const { return values_.ControlRTS; }
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  // Every other field at once.
  void SetValues(const FlowControlValues& values);

 private:
  TCustomComPort& port_;
  FlowControlValues values_;
};

class TComTimeouts {
 public:
  explicit TComTimeouts(TCustomComPort& port) : port_(port) {}
  const TimeoutValues& Values() const { return values_; }
  void SetValues(const TimeoutValues& values);

 private:
  TCustomComPort& port_;
  TimeoutValues values_;
};

class TComBuffer {
 public:
  explicit TComBuffer(TCustomComPort& port) : port_(port) {}
  int InputSize() const { return input_; }
  int OutputSize() const { return output_; }
  // Odd sizes are lowered by one.
  void SetInputSize(int size);
  void SetOutputSize(int size);

 private:
  TCustomComPort& port_;
  int input_ = 1024;
  int output_ = 1024;
};

// Makes the device object for a device path.
using DeviceFactory = std::function<std::unique_ptr<SerialDevice>(const std::string& path)>;

// The serial port: line settings as properties, blocking and background transfers,
// DTR and RTS, and an event thread that hands received characters, transmit-empty and
// ring over to the user-interface thread. Every operation runs on the user-interface
// thread; failures raise EComPort.
class TCustomComPort {
 public:
  TCustomComPort(HandOff& hand_off, DeviceFactory make_device, PortMap ports = {});
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // Notifications, run on the user-interface thread. `Count` >= 1.
  std::function<void(TCustomComPort& sender, int Count)> OnRxChar;
  std::function<void(TCustomComPort& sender)> OnTxEmpty;
  std::function<void(TCustomComPort& sender)> OnRing;

  void Open();
  void Close();
  bool Connected() const { return device_ != nullptr; }
  // true opens, false closes.
  void SetConnected(bool connected);

  const std::string& Port() const { return port_; }
  void SetPort(const std::string& name);
  // Which device stands behind each COMn from the next Open on (an open port stays
  // where it is until it is closed).
  void SetPorts(PortMap ports) { ports_ = std::move(ports); }
  TBaudRate BaudRate() const { return baud_rate_; }
  void SetBaudRate(TBaudRate rate);
  int CustomBaudRate() const { return custom_baud_rate_; }
  void SetCustomBaudRate(int rate);
  TDataBits DataBits() const { return data_bits_; }
  void SetDataBits(TDataBits bits);
  TStopBits StopBits() const { return stop_bits_; }
  void SetStopBits(TStopBits bits);
  TComParity& Parity() { return parity_; }
  TComFlowControl& FlowControl() { return flow_control_; }
  TComTimeouts& Timeouts() { return timeouts_; }
  TComBuffer& Buffer() { return buffer_; }
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents events);  // takes effect at the next Open
  // The events the port watches since it was last opened.
  TComEvents OpenEvents() const { return open_events_; }
  TSyncMethod SyncMethod() const { return sync_method_; }
  void SetSyncMethod(TSyncMethod method);  // code 14 while open

  // While the window is being loaded, setters only store; SetConnected(true) records
  // the wish and EndLoading opens the port.
  void BeginLoading();
  void EndLoading();

  int WriteText(const std::string& text);
  // As WriteText, but ahead of what earlier asynchronous writes (the background) still
  // hold in the port beyond the UART's FIFO: that is dropped, so the text is on the
  // line within a FIFO's time.
  int WriteTextAhead(const std::string& text);
  int WriteTextAsync(const std::string& text, TComRequest* request, bool ahead = false);
  int ReadText(std::string& text, int Count);
  int WaitForRequest(TComRequest* request);
  int RxQueueCount();
  void SetDTR(bool on);
  void SetRTS(bool on);

  // The settings as they go to the device.
  LineSettings CurrentLineSettings() const;

 private:
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComTimeouts;
  friend class TComBuffer;

  int WriteWhole(const std::string& text, bool ahead);
  void ApplyLineSettings();  // at once if open (code 7)
  void ApplyTimeouts();      // code 8
  void ApplyBuffer();        // code 9
  bool Applies() const { return Connected() && !loading_; }
  // The event thread of one opening, and whether it has ended.
  struct EventThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  // An event thread (with its device) that a notification closed: collected later.
  struct Retired {
    EventThread events;
    std::unique_ptr<SerialDevice> device;
  };
  void RunEventThread(SerialDevice* device, std::shared_ptr<std::atomic<bool>> done);
  void WaitForEventThread(EventThread& events);
  void ReapRetired();
  void Dispatch(TComEvent event);
  std::chrono::milliseconds WriteTimeout(std::size_t characters) const;

  HandOff& hand_off_;
  DeviceFactory make_device_;
  PortMap ports_;
  std::unique_ptr<SerialDevice> device_;  // set while open
  EventThread event_thread_;  // while open with events watched
  std::vector<Retired> retired_;
  int dispatching_ = 0;  // notifications running (nested ones count too)
  bool closing_ = false;  // a Close waits for the event thread
  // The event thread is handing over transmit-empty: a blocking write serves it while
  // it waits, so that the next characters follow its own without a pause.
  std::atomic<bool> tx_empty_on_its_way_{false};

  std::string port_ = "COM1";
  TBaudRate baud_rate_ = br9600;
  int custom_baud_rate_ = 9600;
  TDataBits data_bits_ = dbEight;
  TStopBits stop_bits_ = sbOneStopBit;
  TComParity parity_{*this};
  TComFlowControl flow_control_{*this};
  TComTimeouts timeouts_{*this};
  TComBuffer buffer_{*this};
  TComEvents events_ = TComEvents::All();
  TComEvents open_events_;
  TSyncMethod sync_method_ = smThreadSync;
  bool loading_ = false;
  bool open_when_loaded_ = false;
};

// The component as the window holds it.
class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};

}  // namespace qarn2::serial
