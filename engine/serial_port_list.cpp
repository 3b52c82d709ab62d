#include "engine/serial_port_list.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/port_advice.h"

namespace qarn2::engine {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The USB device above `device`, if there is one.
fs::path UsbDeviceOf(const fs::path& device) {
  std::error_code error;
  for (fs::path at = fs::canonical(device, error); !error && at.has_relative_path(); at = at.parent_path()) {
    if (fs::exists(at / "idVendor")) return at;
  }
  return {};
}

// The driver of `device`. A UART's port sits on the kernel's serial-base bus below
// its controller, whose drivers ("port", "ctrl") are the same for every UART; the
// real driver is that of the first device above them, the 8250 platform or PnP
// driver, say. A USB adapter's tty hangs below a device of its own driver
// (ftdi_sio, cp210x, cdc_acm, ...).
std::string DriverOf(const fs::path& device) {
  std::error_code error;
  for (fs::path at = fs::canonical(device, error); !error && at.has_relative_path(); at = at.parent_path()) {
    std::error_code no_driver;
    const fs::path driver = fs::read_symlink(at / "driver", no_driver);
    if (no_driver) return "";  // unbound: what is above it drives something else
    const std::string bus = driver.parent_path().parent_path().filename().string();
    if (bus == "serial-base") continue;
    return driver.filename().string();
  }
  return "";
}

// Whether `tty` is one of the ports the 8250 driver makes for UARTs it did not find:
// their type is 0, "unknown", and opening them fails.
bool IsPlaceholder(const fs::path& tty) {
  return fs::exists(tty / "type") && FirstLine(tty / "type") == "0";
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sys, const std::string& dev,
                                            const std::string& consoles, const serial::PortMap& ports) {
  std::vector<SerialPortInfo> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(sys) / "class" / "tty", error)) {
    const fs::path device = entry.path() / "device";
    if (!fs::exists(device)) continue;  // a virtual terminal, a pty: no device behind it
    if (IsPlaceholder(entry.path())) continue;
    SerialPortInfo port;
    const std::string name = entry.path().filename().string();
    port.path = (fs::path(dev) / name).string();
    port.driver = DriverOf(device);
    if (const fs::path usb = UsbDeviceOf(device); !usb.empty()) {
      port.usb_vendor = FirstLine(usb / "idVendor");
      port.usb_product = FirstLine(usb / "idProduct");
      port.usb = port.usb_vendor + ":" + port.usb_product;
      for (const char* words_file : {"manufacturer", "product"}) {
        const std::string words = FirstLine(usb / words_file);
        if (!words.empty()) port.usb += " " + words;
      }
    }
    port.console = IsActiveConsole(port.path, consoles);
    port.node = NodeOf(port.path);
    port.may_open = port.node.exists && access(port.path.c_str(), R_OK | W_OK) == 0;
    std::error_code no_ids;
    for (const fs::directory_entry& id : fs::directory_iterator(fs::path(dev) / "serial" / "by-id", no_ids)) {
      std::error_code unresolved;
      if (fs::canonical(id.path(), unresolved) == fs::path(port.path)) port.by_id = id.path().string();
    }
    for (int n = 1; n <= 16 && port.mapped.empty(); ++n) {
      const std::string com = "COM" + std::to_string(n);
      const std::string to = ports.PathOf(com);
      if (to == port.path || (!port.by_id.empty() && to == port.by_id)) port.mapped = com;
    }
    found.push_back(std::move(port));
  }
  std::sort(found.begin(), found.end(),
            [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
  return found;
}

UsbIds UsbIdsOf(const std::string& sys, const std::string& device) {
  std::error_code error;
  const fs::path name = fs::canonical(device, error).filename();
  if (error) return {};
  const fs::path usb = UsbDeviceOf(fs::path(sys) / "class" / "tty" / name / "device");
  if (usb.empty()) return {};
  return {FirstLine(usb / "idVendor"), FirstLine(usb / "idProduct")};
}

std::string FormatSerialPort(const SerialPortInfo& port) {
  std::ostringstream line;
  line << port.path;
  if (!port.mapped.empty()) line << "  = " << port.mapped;
  line << "  driver " << (port.driver.empty() ? "?" : port.driver);
  if (!port.usb.empty()) line << "  USB " << port.usb;
  if (port.console) line << "  system console (taken only when --port names it)";
  if (!port.node.exists) {
    line << "  no device file";
  } else if (port.may_open) {
    line << "  may be opened";
  } else {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", port.node.mode & 07777U);
    line << "  no access (" << port.node.owner << ':' << port.node.group << ' ' << mode << ')';
  }
  if (!port.by_id.empty()) line << "\n    " << port.by_id;
  return line.str();
}

}  // namespace qarn2::engine
