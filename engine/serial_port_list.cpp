#include "engine/serial_port_list.h"

#include <unistd.h>

#include <algorithm>
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

// Vendor:product and description of the USB device above `device`, if there is one.
std::string UsbOf(const fs::path& device) {
  std::error_code error;
  for (fs::path at = fs::canonical(device, error); !error && at.has_relative_path(); at = at.parent_path()) {
    if (!fs::exists(at / "idVendor")) continue;
    std::string text = FirstLine(at / "idVendor") + ":" + FirstLine(at / "idProduct");
    for (const char* name : {"manufacturer", "product"}) {
      const std::string words = FirstLine(at / name);
      if (!words.empty()) text += " " + words;
    }
    return text;
  }
  return "";
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sys, const std::string& dev,
                                            const std::string& consoles, const serial::PortMap& ports) {
  std::vector<SerialPortInfo> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(sys) / "class" / "tty", error)) {
    const fs::path device = entry.path() / "device";
    if (!fs::exists(device)) continue;  // a virtual terminal, a pty: no device behind it
    SerialPortInfo port;
    const std::string name = entry.path().filename().string();
    port.path = (fs::path(dev) / name).string();
    std::error_code no_driver;
    const fs::path driver = fs::read_symlink(device / "driver", no_driver);
    if (!no_driver) port.driver = driver.filename().string();
    port.usb = UsbOf(device);
    port.console = IsActiveConsole(port.path, consoles);
    port.may_open = access(port.path.c_str(), R_OK | W_OK) == 0;
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

std::string FormatSerialPort(const SerialPortInfo& port) {
  std::ostringstream line;
  line << port.path;
  if (!port.mapped.empty()) line << "  = " << port.mapped;
  line << "  driver " << (port.driver.empty() ? "?" : port.driver);
  if (!port.usb.empty()) line << "  USB " << port.usb;
  if (port.console) line << "  system console (taken only when --port names it)";
  line << (port.may_open ? "  may be opened" : "  no access (group dialout?)");
  if (!port.by_id.empty()) line << "\n    " << port.by_id;
  return line.str();
}

}  // namespace qarn2::engine
