// The serial devices as the tool lists them, from a sysfs and /dev tree of the test's
// own: USB adapters with their by-id names, on-board UARTs on the serial-base bus and
// without it, the 8250 driver's placeholders, a virtual terminal (no device behind
// it) and an adapter whose device file udev has not made.

#include "engine/serial_port_list.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

namespace qarn2::engine {
namespace {

namespace fs = std::filesystem;

void Put(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << '\n';
}

// A driver `name` of `bus` bound to `device`.
void Bind(const fs::path& sys, const fs::path& device, const std::string& bus, const std::string& name) {
  const fs::path driver = sys / "bus" / bus / "drivers" / name;
  fs::create_directories(driver);
  fs::create_directories(device);
  fs::create_directory_symlink(driver, device / "driver");
}

// The tty `name` below `device`, in /sys/class/tty; its "type" file when `type` is
// given, as the 8250 driver's ports have.
void Tty(const fs::path& sys, const fs::path& device, const std::string& name, std::optional<int> type) {
  const fs::path tty = device / "tty" / name;
  fs::create_directories(tty);
  fs::create_directory_symlink(device, tty / "device");
  if (type) Put(tty / "type", std::to_string(*type));
  fs::create_directories(sys / "class" / "tty");
  fs::create_directory_symlink(tty, sys / "class" / "tty" / name);
}

// A UART as newer kernels show it: port and controller on the serial-base bus below
// the device that the real driver has.
void SerialBaseUart(const fs::path& sys, const fs::path& device, const std::string& bus, const std::string& driver,
                    const std::string& name, int type) {
  Bind(sys, device, bus, driver);
  const fs::path ctrl = device / (device.filename().string() + ":0");
  Bind(sys, ctrl, "serial-base", "ctrl");
  const fs::path port = ctrl / (ctrl.filename().string() + ".0");
  Bind(sys, port, "serial-base", "port");
  Tty(sys, port, name, type);
}

TEST(SerialPortListTest, DevicesWithTheirRealDriversNamesAndFiles) {
  const fs::path root = fs::temp_directory_path() / ("qarn2_ports_" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path sys = root / "sys";
  const fs::path dev = root / "dev";
  const fs::path devices = sys / "devices";

  // An FTDI adapter: its tty below the usb-serial device of the interface.
  const fs::path ftdi = devices / "usb1" / "1-1";
  Put(ftdi / "idVendor", "0403");
  Put(ftdi / "idProduct", "6001");
  Put(ftdi / "manufacturer", "FTDI");
  Put(ftdi / "product", "FT232R USB UART");
  Bind(sys, ftdi / "1-1:1.0", "usb", "ftdi_sio");
  Bind(sys, ftdi / "1-1:1.0" / "ttyUSB0", "usb-serial", "ftdi_sio");
  Tty(sys, ftdi / "1-1:1.0" / "ttyUSB0", "ttyUSB0", std::nullopt);
  // A CDC ACM adapter, its tty right below the interface; udev made no device file.
  const fs::path acm = devices / "usb1" / "1-2";
  Put(acm / "idVendor", "2341");
  Put(acm / "idProduct", "0043");
  Bind(sys, acm / "1-2:1.0", "usb", "cdc_acm");
  Tty(sys, acm / "1-2:1.0", "ttyACM0", std::nullopt);
  // On-board UARTs on the serial-base bus: one the PnP driver found, one of the
  // 8250 platform device, and a placeholder of the platform device.
  SerialBaseUart(sys, devices / "pnp0" / "00:00", "pnp", "serial", "ttyS0", 4);
  SerialBaseUart(sys, devices / "platform" / "serial8250", "platform", "serial8250", "ttyS1", 4);
  const fs::path platform = devices / "platform" / "serial8250";
  Bind(sys, platform / "serial8250:0" / "serial8250:0.1", "serial-base", "port");
  Tty(sys, platform / "serial8250:0" / "serial8250:0.1", "ttyS2", 0);
  // A UART as older kernels show it: the tty right below the platform device.
  Bind(sys, devices / "platform" / "uart4", "platform", "serial8250");
  Tty(sys, devices / "platform" / "uart4", "ttyS4", 4);
  // A virtual terminal.
  fs::create_directories(devices / "virtual" / "tty" / "tty1");
  fs::create_directory_symlink(devices / "virtual" / "tty" / "tty1", sys / "class" / "tty" / "tty1");
  for (const char* name : {"ttyUSB0", "ttyS0", "ttyS1", "ttyS2", "ttyS4", "tty1"}) Put(dev / name, "");
  fs::create_directories(dev / "serial" / "by-id");
  const fs::path by_id = dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  fs::create_symlink(dev / "ttyUSB0", by_id);

  serial::PortMap ports;
  ports.Set("COM2", by_id.string());
  const std::vector<SerialPortInfo> found = ListSerialPorts(sys.string(), dev.string(), "tty0 ttyS0", ports);

  struct Expected {
    std::string name;
    std::string driver;
    std::string usb;
    bool console;
    bool file;
  };
  const std::vector<Expected> expected{
      {"ttyACM0", "cdc_acm", "2341:0043", false, false},
      {"ttyS0", "serial", "", true, true},
      {"ttyS1", "serial8250", "", false, true},
      {"ttyS4", "serial8250", "", false, true},
      {"ttyUSB0", "ftdi_sio", "0403:6001 FTDI FT232R USB UART", false, true},
  };
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(found[i].path, (dev / expected[i].name).string());
    EXPECT_EQ(found[i].driver, expected[i].driver);
    EXPECT_EQ(found[i].usb, expected[i].usb);
    EXPECT_EQ(found[i].console, expected[i].console);
    EXPECT_EQ(found[i].node.exists, expected[i].file);
    EXPECT_EQ(found[i].may_open, expected[i].file);
  }
  const SerialPortInfo& adapter = found.back();
  EXPECT_EQ(adapter.usb_vendor, "0403");
  EXPECT_EQ(adapter.usb_product, "6001");
  EXPECT_EQ(adapter.by_id, by_id.string());
  EXPECT_EQ(adapter.mapped, "COM2");  // by its by-id name
  const UsbIds ids = UsbIdsOf(sys.string(), by_id.string());
  EXPECT_EQ(ids.vendor, "0403");
  EXPECT_EQ(ids.product, "6001");
  EXPECT_EQ(UsbIdsOf(sys.string(), (dev / "ttyS1").string()).vendor, "");
  fs::remove_all(root);
}

TEST(SerialPortListTest, EachLineSaysWhatIsTrueOfTheDeviceFile) {
  struct Row {
    bool exists;
    bool may_open;
    std::string ending;
  };
  const std::vector<Row> rows{
      {true, true, "  may be opened"},
      {true, false, "  no access (root:root 0600)"},
      {false, false, "  no device file"},
  };
  for (const Row& row : rows) {
    SerialPortInfo port;
    port.path = "/dev/ttyUSB0";
    port.driver = "ftdi_sio";
    port.node = {row.exists, row.exists ? "root" : "", row.exists ? "root" : "", row.exists ? 0600U : 0U};
    port.may_open = row.may_open;
    EXPECT_EQ(FormatSerialPort(port), "/dev/ttyUSB0  driver ftdi_sio" + row.ending);
  }
}

}  // namespace
}  // namespace qarn2::engine
