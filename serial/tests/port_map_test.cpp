#include "serial/port_map.h"

#include <gtest/gtest.h>

#include "serial/com_error.h"

namespace qarn2::serial {
namespace {

TEST(NormalizePortNameTest, ComAndANumberFrom1To16ElseCom1) {
  const struct {
    const char* name;
    const char* normalized;
  } cases[] = {
      {"COM1", "COM1"}, {"com2", "COM2"}, {"Com16", "COM16"}, {"COM17", "COM1"},
      {"COM0", "COM1"}, {"7", "COM7"},    {"LPT1", "COM1"},   {"ABC", "COM1"},
      {"", "COM1"},     {"COM", "COM1"},  {"COM3x", "COM1"},  {"COM99999999999999999999", "COM1"},
      {"COM-2", "COM1"}, {"COM 2", "COM1"}, {"COM02", "COM2"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizePortName(c.name), c.normalized) << c.name;
}

TEST(PortMapTest, TtySByDefaultAndCommandLineChoices) {
  PortMap ports;
  EXPECT_EQ(ports.PathOf("COM1"), "/dev/ttyS0");
  EXPECT_EQ(ports.PathOf("COM16"), "/dev/ttyS15");
  EXPECT_TRUE(ports.AddOption("COM2=/dev/ttyUSB0"));
  EXPECT_TRUE(ports.AddOption("COM1=sim"));
  EXPECT_EQ(ports.PathOf("COM2"), "/dev/ttyUSB0");
  EXPECT_EQ(ports.PathOf("COM1"), "sim");
  EXPECT_TRUE(ports.AddOption("com3=/dev/ttyACM0"));
  EXPECT_EQ(ports.PathOf("COM3"), "/dev/ttyACM0");
  for (const char* bad : {"COM2", "COM2=", "COM17=/dev/x", "COM02=/dev/x", "=x", "LPT1=/dev/x"}) {
    EXPECT_FALSE(ports.AddOption(bad)) << bad;
  }
  EXPECT_EQ(ports.PathOf("COM4"), "/dev/ttyS3");
}

TEST(EComPortTest, MessagesCarryTheErrorNumberExceptCodes4And14) {
  EXPECT_STREQ(EComPort(1, 2).what(), "Unable to open com port (win error code: 2)");
  EXPECT_STREQ(EComPort(2, 5).what(), "WriteFile function failed (win error code: 5)");
  EXPECT_STREQ(EComPort(12, 25).what(), "EscapeCommFunction function failed (win error code: 25)");
  try {
    RaiseComError(4, 9);
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "Invalid Async parameter");
    EXPECT_EQ(e.ErrorCode, 4);
    EXPECT_EQ(e.SystemErrorCode, -1);
  }
  const char* texts[] = {"", "Unable to open com port", "WriteFile function failed", "ReadFile function failed",
                         "Invalid Async parameter", "PurgeComm function failed", "Unable to get async status",
                         "SetCommState function failed", "SetCommTimeouts failed", "SetupComm function failed",
                         "ClearCommError function failed", "GetCommModemStatus function failed",
                         "EscapeCommFunction function failed", "TransmitCommChar function failed",
                         "Cannot set SyncMethod while connected"};
  for (int code = 1; code <= 14; ++code) EXPECT_STREQ(ComErrorText(code), texts[code]) << code;
}

}  // namespace
}  // namespace qarn2::serial
