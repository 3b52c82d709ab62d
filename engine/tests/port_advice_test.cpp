// What the user is told about a port that cannot be used, and the system console that
// is never taken unless named.

#include "engine/port_advice.h"

#include <pty.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "engine/engine.h"
#include "link/hardware_kind.h"
#include "serial/com_error.h"

namespace qarn2::engine {
namespace {

using ::testing::HasSubstr;

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
