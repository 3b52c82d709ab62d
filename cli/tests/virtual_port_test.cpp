// The tool on a virtual port (a pseudo-terminal, as a bridge to a remote port makes
// one): the far side gets the signal at the line's pace, and a far side that has
// stopped reading fails the command as a port that takes nothing any more.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/decoder_commands.h"
#include "cli/tests/run_cli.h"

namespace qarn2::cli {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using ::testing::HasSubstr;
using testing::Result;
using testing::RunCli;

// 19,200 baud, one start and one stop bit: characters a second on the line.
constexpr double kCharactersPerSecond = 1920.0;

class VirtualPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    port_ = std::string("COM1=") + name;
    termios raw = {};
    tcgetattr(master_, &raw);
    cfmakeraw(&raw);
    tcsetattr(master_, TCSANOW, &raw);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK);
  }
  void TearDown() override {
    StopReading();
    ::close(master_);
    ::close(slave_);
  }

  // The far side reads whatever comes, as soon as it comes, and notes when.
  void StartReading() {
    reading_ = true;
    reader_ = std::thread([this] {
      char buffer[4096];
      while (reading_) {
        pollfd watched = {master_, POLLIN, 0};
        if (poll(&watched, 1, 20) <= 0) continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) arrivals_.push_back({Clock::now(), static_cast<std::size_t>(n)});
      }
    });
  }
  void StopReading() {
    reading_ = false;
    if (reader_.joinable()) reader_.join();
  }

  struct Arrival {
    Clock::time_point when;
    std::size_t count;
  };
  int master_ = -1;
  int slave_ = -1;  // the test's own hold on the line
  std::string port_;
  std::atomic<bool> reading_{false};
  std::thread reader_;
  std::vector<Arrival> arrivals_;
};

TEST_F(VirtualPortTest, AReaderGetsTheLinesPaceAndOneThatStoppedFailsThePort) {
  // A reader at the line's pace: a read of CV 29 (nothing on the far side answers)
  // goes out as a UART would send it, neither faster nor with pauses.
  StartReading();
  const Result read = RunCli({"read", "--port", port_, "29"});
  StopReading();
  EXPECT_EQ(read.status, kExitNotConfirmed) << read.err;
  ASSERT_GE(arrivals_.size(), 2u);
  const Clock::time_point first = arrivals_.front().when;
  std::size_t total = 0;
  for (const Arrival& a : arrivals_) {
    total += a.count;
    const double line = std::chrono::duration<double>(a.when - first).count() * kCharactersPerSecond;
    // Ahead by no more than the pace's lead (50 ms, 96 characters) and the first
    // arrival, behind by no more than a scheduling delay.
    EXPECT_LE(static_cast<double>(total), line + 96 + static_cast<double>(arrivals_.front().count) + 20);
    EXPECT_GE(static_cast<double>(total), line - 40) << "a pause on the line";
  }
  EXPECT_GT(std::chrono::duration<double>(arrivals_.back().when - first).count(), 1.0);

  // A reader that stops: what it has not read stays in the pseudo-terminal until that
  // refuses more. Here it reads a last 2 KB (a second of line) of a full queue and
  // stops. A read of the whole sheet (15 s of line) then fails as a stalled port once
  // a write finds no room for its time limit (1 s and 100 ms a character): the program
  // does not make room by emptying the far side's unread queue, as a flush would.
  const std::string fill(256, 'x');
  for (bool took = true; took;) {  // the kernel moves what is queued on in steps
    took = false;
    while (::write(slave_, fill.data(), fill.size()) > 0) took = true;
    ASSERT_EQ(errno, EAGAIN);
    std::this_thread::sleep_for(50ms);
  }
  char last[2048];
  ASSERT_EQ(::read(master_, last, sizeof last), static_cast<ssize_t>(sizeof last));
  const std::string sheet = ::testing::TempDir() + "qarn2_virtual_port.DEC";
  std::ofstream(sheet, std::ios::binary) << "*dir\r\n1 3\r\n2 0\r\n3 1\r\n4 1\r\n5 0\r\n6 0\r\n8 0\r\n17 0\r\n18 0\r\n29 6\r\n";
  const auto began = Clock::now();
  const Result read_all = RunCli({"read-all", "--port", port_, sheet});
  std::filesystem::remove(sheet);
  EXPECT_EQ(read_all.status, kExitPortError);
  EXPECT_EQ(read_all.out, "");
  EXPECT_THAT(read_all.err, HasSubstr(std::strerror(ETIMEDOUT)));
  EXPECT_LT(Clock::now() - began, 14s);
}

}  // namespace
}  // namespace qarn2::cli
