#pragma once

// What the window and the tool add behind a serial port's error message: the
// system's own words for the error number and, for the common causes, what to do.
// The component's message itself stays as it is ("Unable to open com port (win error
// code: 13)").

#include <string>
#include <string_view>

namespace qarn2::engine {

// Whether `device` (a path such as /dev/ttyS0, links followed) is one of the active
// system consoles listed in `active_consoles` (the contents of
// /sys/class/tty/console/active, e.g. "tty0 ttyS0").
bool IsActiveConsole(const std::string& device, std::string_view active_consoles);

// The system's list of active consoles; empty where it cannot be read.
std::string ActiveConsoles();

// What the device file says about who may open it.
struct DeviceNode {
  bool exists = false;
  std::string owner;  // user name, or the number when it has none
  std::string group;  // group name, or the number when it has none
  unsigned mode = 0;  // permission bits, 0660
};

// The device file `device` as it is now (links followed).
DeviceNode NodeOf(const std::string& device);

// Whether joining `group` gives a user no more than serial devices and terminals;
// "root", "wheel", "sudo", "adm" and the like give far more and are never suggested.
bool IsDeviceGroup(const std::string& group);

// How a user gets access to `device` (file `node`): join the node's group when it is
// a device group that may read and write it; otherwise a udev rule that gives the
// adapter to dialout, by its USB ids `usb_vendor`:`usb_product` ("0403", "6001")
// where known, else by the kernel's name for it. German.
std::string AccessAdvice(const std::string& device, const DeviceNode& node, const std::string& usb_vendor,
                         const std::string& usb_product);

// The words for error `system_error` (errno) on `device`; `console` when the device
// was refused because it is the system console. German, as the window is.
std::string PortAdvice(int system_error, const std::string& device, bool console);

}  // namespace qarn2::engine
