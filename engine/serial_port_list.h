#pragma once

// The serial devices a machine has, as `qarn2-cli ports` lists them: from sysfs (the
// ttys that have a device behind them, without the 8250 driver's placeholders for
// UARTs that are not there), with the stable name under /dev/serial/by-id, the
// driver, a USB adapter's vendor, product and description, whether the device is a
// system console, its device file and whether the user may open it.

#include <string>
#include <vector>

#include "engine/port_advice.h"
#include "serial/port_map.h"

namespace qarn2::engine {

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

// `sys` and `dev` are where sysfs and the device files are (tests give a tree of
// their own); `consoles` the active consoles' names; `ports` the port map of the
// options. Sorted by path.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sys, const std::string& dev,
                                            const std::string& consoles, const serial::PortMap& ports);

struct UsbIds {
  std::string vendor;   // "0403", or empty when the device is no USB adapter
  std::string product;  // "6001"
};

// The USB ids of the adapter behind `device` (/dev/ttyUSB0, links followed), found
// under `sys`.
UsbIds UsbIdsOf(const std::string& sys, const std::string& device);

// One line per device, for the terminal.
std::string FormatSerialPort(const SerialPortInfo& port);

}  // namespace qarn2::engine
