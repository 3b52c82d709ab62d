// What the user is told about a port that cannot be used, and the system console that
// is never taken unless named.

#include "engine/port_advice.h"

#include <pty.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "link/hardware_kind.h"
#include "serial/com_error.h"

namespace qarn2::engine {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(PortAdviceTest, TheSystemsWordsAndWhatToDo) {
  EXPECT_TRUE(IsActiveConsole("/dev/ttyS0", "tty0 ttyS0\n"));
  EXPECT_FALSE(IsActiveConsole("/dev/ttyS1", "tty0 ttyS0\n"));
  EXPECT_FALSE(IsActiveConsole("/dev/ttyUSB0", ""));

  const std::string missing = PortAdvice(ENOENT, "/dev/ttyUSB7", false);
  EXPECT_THAT(missing, HasSubstr(std::string("/dev/ttyUSB7: ") + std::strerror(ENOENT)));
  EXPECT_THAT(missing, HasSubstr("eingesteckt"));
  EXPECT_THAT(PortAdvice(EACCES, "/dev/ttyUSB7", false), HasSubstr("usermod -aG dialout $USER"));
  EXPECT_THAT(PortAdvice(EBUSY, "/dev/ttyUSB7", false), HasSubstr("anderes Programm"));
  EXPECT_THAT(PortAdvice(ETIMEDOUT, "/dev/pts/3", false), HasSubstr("nimmt keine Zeichen mehr an"));
  EXPECT_THAT(PortAdvice(EBUSY, "/dev/ttyS0", true), HasSubstr("--port COM1=/dev/ttyS0"));
}

TEST(PortAdviceTest, AccessIsGrantedByTheDevicesGroupOrAUdevRuleNeverByRoot) {
  struct Row {
    const char* what;
    DeviceNode node;
    std::string vendor;
    std::string product;
    std::vector<std::string> said;
    std::vector<std::string> never;
  };
  const std::string udev = "sudo udevadm control --reload && sudo udevadm trigger";
  const std::string rules = "/etc/udev/rules.d/";
  const std::vector<Row> rows{
      {"dialout, read and write", {true, "root", "dialout", 0660}, "0403", "6001",
       {"sudo usermod -aG dialout $USER"}, {"udev"}},
      {"uucp elsewhere", {true, "root", "uucp", 0660}, "", "", {"sudo usermod -aG uucp $USER"}, {"udev"}},
      {"root only", {true, "root", "root", 0600}, "0403", "6001",
       {"root:root (0600)",
        R"('SUBSYSTEM=="tty", ATTRS{idVendor}=="0403", ATTRS{idProduct}=="6001", GROUP="dialout", MODE="0660"')", rules,
        udev, "sudo usermod -aG dialout $USER"},
       {"-aG root"}},
      {"wheel gives more", {true, "root", "wheel", 0660}, "10c4", "ea60",
       {R"(ATTRS{idVendor}=="10c4", ATTRS{idProduct}=="ea60")", udev}, {"-aG wheel"}},
      {"dialout may not read", {true, "root", "dialout", 0600}, "", "",
       {R"(KERNEL=="ttyS7", GROUP="dialout", MODE="0660")", udev}, {"idVendor"}},
      {"no device file", {false, "", "", 0}, "", "", {"sudo usermod -aG dialout $USER"}, {"udev", "-aG root"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string advice = AccessAdvice("/dev/ttyS7", row.node, row.vendor, row.product);
    for (const std::string& words : row.said) EXPECT_THAT(advice, HasSubstr(words));
    for (const std::string& words : row.never) EXPECT_THAT(advice, Not(HasSubstr(words)));
  }
  for (const char* group : {"dialout", "uucp"}) EXPECT_TRUE(IsDeviceGroup(group)) << group;
  for (const char* group : {"root", "wheel", "sudo", "adm", "disk", "tty", ""}) EXPECT_FALSE(IsDeviceGroup(group)) << group;
}

TEST(PortAdviceTest, TheConsoleIsTakenOnlyWhenNamed) {
  // COM1 is /dev/ttyS0 unless a --port says otherwise; as the console it is not opened.
  EngineOptions by_default;
  by_default.active_consoles = "tty0 ttyS0";
  Engine engine(by_default);
  try {
    engine.SetUpHardware(link::kBoard);
    FAIL() << "the console was opened";
  } catch (const serial::EComPort& e) {
    EXPECT_EQ(e.ErrorCode, 1);
    EXPECT_EQ(e.SystemErrorCode, EBUSY);
    EXPECT_THAT(engine.Advice(e), HasSubstr("Konsole"));
  }

  // Named explicitly, it is taken (a pty stands in for the console here).
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const std::string path = ttyname(slave);
  EngineOptions named;
  named.ports.Set("COM1", path);
  named.active_consoles = path.substr(path.find_last_of('/') + 1);
  {
    Engine taken(named);
    EXPECT_NO_THROW(taken.SetUpHardware(link::kBoard));
    EXPECT_TRUE(taken.Port().Connected());
  }
  close(master);
  close(slave);
}

}  // namespace
}  // namespace qarn2::engine
