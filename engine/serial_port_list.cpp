#include "engine/serial_port_list.h"

#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>

#include "engine/port_advice.h"

namespace qarn2::engine {
namespace {

namespace fs = std::filesystem;

std::string Text(const char* text) { return text ? text : ""; }

// libudev's objects, released when they go out of scope.
struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

// The driver of the tty `tty`. A UART's port sits on the kernel's serial-base bus
// below its controller, whose drivers ("port", "ctrl") are the same for every UART;
// the real driver is that of the first device above them, the 8250 platform or PnP
// driver, say. A USB adapter's tty hangs below a device of its own driver (ftdi_sio,
// cp210x, cdc_acm, ...). Parents belong to `tty` and are not released here.
std::string DriverOf(udev_device* tty) {
  for (udev_device* at = udev_device_get_parent(tty); at; at = udev_device_get_parent(at)) {
    const char* driver = udev_device_get_driver(at);
    if (!driver) return "";  // unbound: what is above it drives something else
    if (Text(udev_device_get_subsystem(at)) == "serial-base") continue;
    return driver;
  }
  return "";
}

// The USB adapter above `tty`: its ids from the device's own attributes, its words
// from them too, else from udev's database (which names vendors that leave their
// strings out, where udevd runs).
void DescribeUsb(udev_device* tty, FoundPort& port) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  if (!usb) return;
  port.usb_vendor = Text(udev_device_get_sysattr_value(usb, "idVendor"));
  port.usb_product = Text(udev_device_get_sysattr_value(usb, "idProduct"));
  const std::pair<const char*, const char*> words[] = {{"manufacturer", "ID_VENDOR_FROM_DATABASE"},
                                                       {"product", "ID_MODEL_FROM_DATABASE"}};
  for (const auto& [attribute, property] : words) {
    std::string word = Text(udev_device_get_sysattr_value(usb, attribute));
    if (word.empty()) word = Text(udev_device_get_property_value(tty, property));
    if (word.empty()) continue;
    if (!port.usb_words.empty()) port.usb_words += ' ';
    port.usb_words += word;
  }
}

// The /dev/serial/by-id link of `path`: udev's own list of links where its database
// is there, else the link in the directory that leads to the device file.
std::string ByIdOf(udev_device* tty, const std::string& path) {
  const std::string prefix = "/dev/serial/by-id/";
  for (udev_list_entry* link = udev_device_get_devlinks_list_entry(tty); link;
       link = udev_list_entry_get_next(link)) {
    const std::string name = Text(udev_list_entry_get_name(link));
    if (name.starts_with(prefix)) return name;
  }
  std::error_code no_ids;
  for (const fs::directory_entry& id : fs::directory_iterator(prefix, no_ids)) {
    std::error_code unresolved;
    if (fs::canonical(id.path(), unresolved) == fs::path(path)) return id.path().string();
  }
  return "";
}

// Whether `tty` is one of the ports the 8250 driver makes for UARTs it did not find:
// their type is 0, "unknown", and opening them fails.
bool IsPlaceholder(udev_device* tty) { return Text(udev_device_get_sysattr_value(tty, "type")) == "0"; }

// The tty `tty` as a serial device; nothing when it is none: a tty without a device
// behind it is a virtual terminal or a pseudo-terminal.
std::optional<FoundPort> Describe(udev_device* tty) {
  if (!tty || !udev_device_get_parent(tty) || IsPlaceholder(tty)) return std::nullopt;
  FoundPort port;
  port.path = Text(udev_device_get_devnode(tty));
  if (port.path.empty()) port.path = "/dev/" + Text(udev_device_get_sysname(tty));
  port.driver = DriverOf(tty);
  DescribeUsb(tty, port);
  port.by_id = ByIdOf(tty, port.path);
  return port;
}

class UdevPortSource : public SerialPortSource {
 public:
  UdevPortSource() : udev_(udev_new()) {}

  std::vector<FoundPort> List() override {
    std::vector<FoundPort> found;
    if (!udev_) return found;
    UdevPtr<udev_enumerate> ttys(udev_enumerate_new(udev_.get()));
    if (!ttys || udev_enumerate_add_match_subsystem(ttys.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(ttys.get()) < 0) {
      return found;
    }
    for (udev_list_entry* entry = udev_enumerate_get_list_entry(ttys.get()); entry;
         entry = udev_list_entry_get_next(entry)) {
      UdevPtr<udev_device> tty(udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry)));
      if (std::optional<FoundPort> port = Describe(tty.get())) found.push_back(std::move(*port));
    }
    return found;
  }

  // The monitor listens to udevd's events, those it sends once its rules have made
  // the device's links and set its group.
  int WatchDescriptor() override {
    if (!monitor_ && udev_ && !monitor_tried_) {
      monitor_tried_ = true;
      monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
      if (monitor_ && (udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "tty", nullptr) < 0 ||
                       udev_monitor_enable_receiving(monitor_.get()) < 0)) {
        monitor_.reset();
      }
    }
    return monitor_ ? udev_monitor_get_fd(monitor_.get()) : -1;
  }

  bool TakeChanges() override {
    bool changed = false;
    if (!monitor_) return changed;
    // The monitor's socket does not block: this ends when nothing more is waiting.
    while (UdevPtr<udev_device> device{udev_monitor_receive_device(monitor_.get())}) {
      const std::string action = Text(udev_device_get_action(device.get()));
      if (action == "add" || action == "remove") changed = true;
    }
    return changed;
  }

 private:
  UdevPtr<udev> udev_;
  UdevPtr<udev_monitor> monitor_;
  bool monitor_tried_ = false;
};

}  // namespace

std::unique_ptr<SerialPortSource> MakeUdevPortSource() { return std::make_unique<UdevPortSource>(); }

std::vector<SerialPortInfo> ListSerialPorts(SerialPortSource& source, const std::string& consoles,
                                            const serial::PortMap& ports) {
  std::vector<SerialPortInfo> found;
  for (FoundPort& device : source.List()) {
    SerialPortInfo port;
    port.path = std::move(device.path);
    port.by_id = std::move(device.by_id);
    port.driver = std::move(device.driver);
    port.usb_vendor = std::move(device.usb_vendor);
    port.usb_product = std::move(device.usb_product);
    if (!port.usb_vendor.empty()) {
      port.usb = port.usb_vendor + ":" + port.usb_product;
      if (!device.usb_words.empty()) port.usb += " " + device.usb_words;
    }
    port.console = IsActiveConsole(port.path, consoles);
    port.node = NodeOf(port.path);
    port.may_open = port.node.exists && access(port.path.c_str(), R_OK | W_OK) == 0;
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

UsbIds UsbIdsOf(const std::string& device) {
  std::error_code error;
  const std::string name = fs::canonical(device, error).filename().string();
  if (error) return {};
  UdevPtr<udev> context(udev_new());
  if (!context) return {};
  UdevPtr<udev_device> tty(udev_device_new_from_subsystem_sysname(context.get(), "tty", name.c_str()));
  const std::optional<FoundPort> port = Describe(tty.get());
  if (!port) return {};
  return {port->usb_vendor, port->usb_product};
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
