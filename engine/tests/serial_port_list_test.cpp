// The serial devices as the tool and the window list them: udev's view of this
// machine's own /sys, and what the list makes of a source's devices for this user
// (device files of the test's own, consoles, the port map).

#include "engine/serial_port_list.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace qarn2::engine {
namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

TEST(SerialPortListTest, UdevListsTheRealTtysOfThisMachineWithoutPlaceholders) {
  // What sysfs itself says: a tty with a device behind it that is no 8250 placeholder.
  std::set<std::string> expected;
  std::error_code error;
  for (const fs::directory_entry& tty : fs::directory_iterator("/sys/class/tty", error)) {
    if (fs::exists(tty.path() / "device") && FirstLine(tty.path() / "type") != "0") {
      expected.insert("/dev/" + tty.path().filename().string());
    }
  }
  const std::unique_ptr<SerialPortSource> source = MakeUdevPortSource();
  std::set<std::string> listed;
  for (const FoundPort& port : source->List()) {
    SCOPED_TRACE(port.path);
    listed.insert(port.path);
    // The real driver, not the serial-base bus's "port" or "ctrl" in between.
    EXPECT_NE(port.driver, "");
    EXPECT_NE(port.driver, "port");
    EXPECT_NE(port.driver, "ctrl");
    EXPECT_EQ(port.usb_vendor.empty(), port.usb_product.empty());
  }
  EXPECT_EQ(listed, expected);
  // Without a udev daemon nothing comes; asking must not wait for it.
  source->WatchDescriptor();
  EXPECT_FALSE(source->TakeChanges());
}

// The devices a test names.
class ListedPorts : public SerialPortSource {
 public:
  explicit ListedPorts(std::vector<FoundPort> ports) : ports_(std::move(ports)) {}
  std::vector<FoundPort> List() override { return ports_; }
  int WatchDescriptor() override { return -1; }
  bool TakeChanges() override { return false; }

 private:
  std::vector<FoundPort> ports_;
};

TEST(SerialPortListTest, EachDeviceWithWhatIsTrueOfItForThisUser) {
  const fs::path dev = fs::temp_directory_path() / ("qarn2_ports_" + std::to_string(::getpid()));
  fs::remove_all(dev);
  fs::create_directories(dev / "by-id");
  for (const char* name : {"ttyUSB0", "ttyS0"}) std::ofstream(dev / name) << '\n';
  const std::string by_id = (dev / "by-id" / "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string();
  const std::string path = (dev / "ttyUSB0").string();
  ListedPorts source({
      {path, by_id, "ftdi_sio", "0403", "6001", "FTDI FT232R USB UART"},
      {(dev / "ttyS0").string(), "", "serial", "", "", ""},
      {(dev / "ttyACM0").string(), "", "cdc_acm", "2341", "0043", ""},  // udev made no device file
  });
  serial::PortMap ports;
  ports.Set("COM2", by_id);
  ports.Set("COM1", (dev / "ttyS0").string());
  const std::vector<SerialPortInfo> found = ListSerialPorts(source, "tty0 ttyS0", ports);

  struct Expected {
    std::string name;
    std::string usb;
    bool console;
    bool file;
    std::string mapped;
  };
  const std::vector<Expected> expected{
      {"ttyACM0", "2341:0043", false, false, ""},
      {"ttyS0", "", true, true, "COM1"},
      {"ttyUSB0", "0403:6001 FTDI FT232R USB UART", false, true, "COM2"},  // by its by-id name
  };
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(found[i].path, (dev / expected[i].name).string());
    EXPECT_EQ(found[i].usb, expected[i].usb);
    EXPECT_EQ(found[i].console, expected[i].console);
    EXPECT_EQ(found[i].node.exists, expected[i].file);
    EXPECT_EQ(found[i].may_open, expected[i].file);
    EXPECT_EQ(found[i].mapped, expected[i].mapped);
  }
  fs::remove_all(dev);
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
