// The port on the Linux tty back-end, end to end: a pseudo-terminal stands in for the
// serial device, the test's thread for the user-interface thread.

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "serial/com_port.h"
#include "serial/tests/fake_device.h"
#include "serial/tty_device.h"

namespace qarn2::serial {
namespace {

using testing::TestHandOff;

DeviceFactory TtyFactory() {
  return [](const std::string&) { return MakeTtyDevice(); };
}

TEST(ComPortTtyTest, AMissingDeviceLeavesThePortClosed) {
  TestHandOff hand_off;
  PortMap ports;
  ports.Set("COM1", "/dev/qarn2-no-such-tty");
  TComPort port(hand_off, TtyFactory(), ports);
  try {
    port.Open();
    FAIL() << "opened a missing device";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode, 1);
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_THROW(port.WriteText("x"), EComPort);
}

class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    ports_.Set("COM1", ttyname(slave_));
    fcntl(master_, F_SETFL, O_NONBLOCK);
  }
  void TearDown() override {
    port_.reset();
    close(master_);
    close(slave_);
  }

  // Opens 19200 8N1 with the three events. A pseudo-terminal has no modem lines,
  // which is no error.
  void OpenPort() {
    port_ = std::make_unique<TComPort>(hand_off_, TtyFactory(), ports_);
    port_->SetBaudRate(br19200);
    port_->SetEvents({evRxChar, evTxEmpty, evRing});
    port_->Open();
    ASSERT_TRUE(port_->Connected());
  }

  std::string ReadMaster(std::size_t want) {
    std::string got;
    hand_off_.ServeUntil([&] {
      char buffer[512];
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, n);
      return got.size() >= want;
    });
    return got;
  }

  int master_ = -1;
  int slave_ = -1;
  PortMap ports_;
  TestHandOff hand_off_;
  std::unique_ptr<TComPort> port_;
};

TEST_F(PtyPortTest, EveryCharacterBothWaysWithNotifications) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  std::string received;
  int tx_empty = 0;
  OpenPort();
  port_->OnRxChar = [&](TCustomComPort& sender, int count) {
    EXPECT_GE(count, 1);
    std::string text;
    sender.ReadText(text, count);
    received += text;
  };
  port_->OnTxEmpty = [&](TCustomComPort&) { ++tx_empty; };

  EXPECT_EQ(port_->WriteText(all), 256);
  EXPECT_EQ(ReadMaster(256), all);
  EXPECT_TRUE(hand_off_.ServeUntil([&] { return tx_empty >= 1; }));

  ASSERT_EQ(write(master_, all.data(), all.size()), 256);
  EXPECT_TRUE(hand_off_.ServeUntil([&] { return received.size() >= 256; }));
  EXPECT_EQ(received, all);

  // Nothing more has arrived: a read returns at once with nothing.
  std::string text = "old";
  EXPECT_EQ(port_->ReadText(text, 10), 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(port_->RxQueueCount(), 0);
  port_->Close();
  EXPECT_FALSE(port_->Connected());
}

TEST_F(PtyPortTest, NoModemLinesAndTheRateChangesWhileOpen) {
  OpenPort();
  port_->SetDTR(true);  // nothing to switch, no error
  port_->SetRTS(false);
  port_->SetBaudRate(br9600);
  termios t{};
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_THROW(port_->SetBaudRate(br14400), EComPort);  // no such rate on Linux
  EXPECT_TRUE(port_->Connected());
}

TEST_F(PtyPortTest, TheOtherEndHangingUpStopsNothingForever) {
  OpenPort();
  close(master_);
  master_ = -1;
  // Whatever the device reports now, the port still closes.
  try {
    port_->WriteText("x");
  } catch (const EComPort&) {
  }
  try {
    port_->Close();
  } catch (const EComPort&) {
  }
  EXPECT_FALSE(port_->Connected());
}

}  // namespace
}  // namespace qarn2::serial
