#pragma once

// The serial devices a machine has, as `qarn2-cli ports` and the window's port dialog
// list them: the ttys that have a device behind them, without the 8250 driver's
// placeholders for UARTs that are not there, with the stable name under
// /dev/serial/by-id, the real driver, a USB adapter's vendor, product and
// description, whether the device is a system console, its device file and whether
// the user may open it. They come from a SerialPortSource: udev's view of sysfs on a
// real machine, a list of the test's own in the tests.

#include <memory>
#include <string>
#include <vector>

#include "engine/port_advice.h"
#include "serial/port_map.h"

namespace qarn2::engine {

// One device as its source sees it.
struct FoundPort {
  std::string path;         // the device file, /dev/ttyUSB0
  std::string by_id;        // /dev/serial/by-id/usb-..., or empty
  std::string driver;       // ftdi_sio, cdc_acm, serial8250, ...; empty when unknown
  std::string usb_vendor;   // "0403", or empty when the device is no USB adapter
  std::string usb_product;  // "6001"
  std::string usb_words;    // "FTDI FT232R USB UART": the adapter's own words, or empty
};

// Where the devices come from, and how their coming and going is noticed: the owner
// watches WatchDescriptor() for reading (the window with a QSocketNotifier) and calls
// TakeChanges() whenever it is readable.
class SerialPortSource {
 public:
  virtual ~SerialPortSource() = default;
  // The devices there are now, in no particular order.
  virtual std::vector<FoundPort> List() = 0;
  // Readable when a device came or went; -1 when the source cannot tell. Ask before
  // the first List(), so that nothing that comes in between is missed.
  virtual int WatchDescriptor() = 0;
  // Reads what made the descriptor readable; true when a serial device came or went.
  // Never blocks.
  virtual bool TakeChanges() = 0;
};

// The devices as udev sees them (libudev reads sysfs itself, so this works where no
// udev daemon runs, as in a container; its hot-plug events then simply never come).
std::unique_ptr<SerialPortSource> MakeUdevPortSource();

struct SerialPortInfo {
  std::string path;         // /dev/ttyUSB0
  std::string by_id;        // /dev/serial/by-id/usb-..., or empty
  std::string driver;       // ftdi_sio, cdc_acm, serial8250, ...
  std::string usb;          // "0403:6001 FTDI FT232R USB UART", or empty
  std::string usb_vendor;   // "0403", or empty
  std::string usb_product;  // "6001", or empty
  bool console = false;     // an active system console
  DeviceNode node;          // the device file; exists is false where udev made none
  bool may_open = false;    // readable and writable for this user
  std::string mapped;       // "COM1" when the options lead a port there, else empty
};

// The devices of `source` with what is true of them for this user: `consoles` are the
// active consoles' names, `ports` the port map of the run. Sorted by path.
std::vector<SerialPortInfo> ListSerialPorts(SerialPortSource& source, const std::string& consoles,
                                            const serial::PortMap& ports);

struct UsbIds {
  std::string vendor;   // "0403", or empty when the device is no USB adapter
  std::string product;  // "6001"
};

// The USB ids of the adapter behind `device` (/dev/ttyUSB0, links followed).
UsbIds UsbIdsOf(const std::string& device);

// One line per device, for the terminal.
std::string FormatSerialPort(const SerialPortInfo& port);

}  // namespace qarn2::engine
