// The serial devices as the tool lists them, from a sysfs and /dev tree of the test's
// own: a USB adapter with its by-id name, an on-board UART that is the console, and a
// virtual terminal (no device behind it), which is no serial port.

#include "engine/serial_port_list.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace qarn2::engine {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << '\n';
}

TEST(SerialPortListTest, DevicesWithTheirNamesDriversAndConsoles) {
  const fs::path root = fs::temp_directory_path() / ("qarn2_ports_" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path sys = root / "sys";
  const fs::path dev = root / "dev";
  // The USB adapter: interface below the device that carries the ids.
  const fs::path usb = sys / "devices" / "usb1" / "1-1";
  Put(usb / "idVendor", "0403");
  Put(usb / "idProduct", "6001");
  Put(usb / "manufacturer", "FTDI");
  Put(usb / "product", "FT232R USB UART");
  const fs::path interface = usb / "1-1:1.0";
  fs::create_directories(interface / "ttyUSB0");
  fs::create_directories(sys / "bus" / "usb-serial" / "drivers" / "ftdi_sio");
  fs::create_directory_symlink(sys / "bus" / "usb-serial" / "drivers" / "ftdi_sio", interface / "driver");
  fs::create_directories(sys / "class" / "tty");
  fs::create_directory_symlink(interface / "ttyUSB0", sys / "class" / "tty" / "ttyUSB0");
  fs::create_directory_symlink(interface, interface / "ttyUSB0" / "device");
  // The on-board UART, the console.
  const fs::path uart = sys / "devices" / "platform" / "serial8250";
  fs::create_directories(uart / "tty" / "ttyS0");
  fs::create_directories(sys / "bus" / "platform" / "drivers" / "serial8250");
  fs::create_directory_symlink(sys / "bus" / "platform" / "drivers" / "serial8250", uart / "driver");
  fs::create_directory_symlink(uart / "tty" / "ttyS0", sys / "class" / "tty" / "ttyS0");
  fs::create_directory_symlink(uart, uart / "tty" / "ttyS0" / "device");
  // A virtual terminal.
  fs::create_directories(sys / "devices" / "virtual" / "tty" / "tty1");
  fs::create_directory_symlink(sys / "devices" / "virtual" / "tty" / "tty1", sys / "class" / "tty" / "tty1");
  Put(dev / "ttyUSB0", "");
  Put(dev / "ttyS0", "");
  fs::create_directories(dev / "serial" / "by-id");
  fs::create_symlink(dev / "ttyUSB0", dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");

  serial::PortMap ports;
  ports.Set("COM2", (dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string());
  const std::vector<SerialPortInfo> found = ListSerialPorts(sys.string(), dev.string(), "tty0 ttyS0", ports);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].path, (dev / "ttyS0").string());
  EXPECT_EQ(found[0].driver, "serial8250");
  EXPECT_TRUE(found[0].console);
  EXPECT_EQ(found[0].usb, "");
  EXPECT_EQ(found[1].path, (dev / "ttyUSB0").string());
  EXPECT_EQ(found[1].driver, "ftdi_sio");
  EXPECT_EQ(found[1].usb, "0403:6001 FTDI FT232R USB UART");
  EXPECT_FALSE(found[1].console);
  EXPECT_EQ(found[1].by_id, (dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string());
  EXPECT_EQ(found[1].mapped, "COM2");  // by its by-id name
  EXPECT_TRUE(found[1].may_open);
  EXPECT_EQ(FormatSerialPort(found[1]),
            found[1].path + "  = COM2  driver ftdi_sio  USB 0403:6001 FTDI FT232R USB UART  may be opened\n    " +
                found[1].by_id);
  fs::remove_all(root);
}

}  // namespace
}  // namespace qarn2::engine
