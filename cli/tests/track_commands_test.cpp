#include "cli/track_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/command_line.h"
#include "cli/decoder_commands.h"
#include "cli/tests/run_cli.h"
#include "encoding/stream_decoder.h"

namespace qarn2::cli {
namespace {

using ::testing::HasSubstr;

using testing::Result;

Result Send(std::vector<std::string> args) {
  args.insert(args.begin(), "send");
  return testing::RunCli(args);
}

// CV 29 of the simulated decoder is 6 (bits 1 and 2 set).
TEST(SendCommandTest, TheSimulatedDecoderAcknowledgesAMatchingVerifyOnly) {
  const Result match = Send({"--virtual-time", "--service", "78", "1C", "EA"});
  EXPECT_EQ(match.status, kExitOk) << match.err;
  EXPECT_EQ(match.out, "acknowledged\n");
  const Result miss = Send({"--virtual-time", "--service", "78", "1C", "EB"});
  EXPECT_EQ(miss.status, kExitDataError);
  EXPECT_EQ(miss.out, "no acknowledge\n");
  // One copy is not acted on: a decoder wants the packet twice in a row.
  const Result once = Send({"--virtual-time", "--service", "--copies", "1", "78", "1C", "EA"});
  EXPECT_EQ(once.out, "no acknowledge\n");
}

// A virtual port (a pty, as socat makes them) has no modem lines: the packet goes out
// all the same, and what reaches the other end decodes to it.
TEST(SendCommandTest, AVirtualPortWithoutModemLinesCarriesThePacket) {
  int master = -1;
  int slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const std::string path = ttyname(slave);
  std::atomic<bool> done{false};
  std::string received;
  // The other end reads all the while: a pty takes only a few kilobytes.
  std::thread reader([&] {
    char buffer[4096];
    while (!done) {
      pollfd watched{master, POLLIN, 0};
      if (poll(&watched, 1, 10) <= 0) continue;
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    }
  });
  const Result r = Send({"--port", "COM1=" + path, "--service", "74", "1C", "06"});
  done = true;
  reader.join();
  close(master);
  close(slave);
  EXPECT_EQ(r.status, kExitDataError) << r.err;  // nobody to acknowledge
  EXPECT_EQ(r.out, "no acknowledge\n");
  EXPECT_EQ(r.err, "");
  const encoding::StreamDecode decoded = encoding::DecodeSerialStream(received, false);
  int copies = 0;
  for (const encoding::DecodedPacket& packet : decoded.packets) {
    copies += packet.bytes == std::vector<std::uint8_t>{0x74, 0x1C, 0x06, 0x6E} && packet.check_right;
  }
  EXPECT_EQ(copies, 5) << received.size() << " characters";
}

TEST(SendCommandTest, OnTheRealClockThroughQtsEventLoop) {
  const Result match = Send({"--simulate", "--service", "78", "1C", "EA"});
  EXPECT_EQ(match.status, kExitOk) << match.err;
  EXPECT_EQ(match.out, "acknowledged\n");
  EXPECT_EQ(Send({"--simulate", "--service", "78", "1C", "EB"}).out, "no acknowledge\n");
}

TEST(SendCommandTest, TraceShowsWhatTheTrackSawTheSameEveryRun) {
  const Result first = Send({"--simulate", "--virtual-time", "--trace", "--service", "74", "1C", "06"});
  ASSERT_EQ(first.status, kExitOk) << first.err;
  EXPECT_THAT(first.out, HasSubstr("power  track power on"));
  EXPECT_THAT(first.out, HasSubstr("packet  74 1C 06 6E  service: verify CV 29 = 6"));
  EXPECT_THAT(first.out, HasSubstr("acknowledge  6 ms pulse on RI"));
  EXPECT_EQ(Send({"--simulate", "--virtual-time", "--trace", "--service", "74", "1C", "06"}).out, first.out);
}

// Each trace line without its time, a run counted out into its packets.
std::vector<std::string> CountedOut(const std::string& trace) {
  std::vector<std::string> packets;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" ms  ") == std::string::npos) continue;
    line.erase(0, line.find(" ms  ") + 5);
    const std::size_t times = line.rfind(" \u00D7");
    const unsigned long count = times == std::string::npos ? 1 : std::stoul(line.substr(times + 3));
    packets.insert(packets.end(), count, line.substr(0, times));
  }
  return packets;
}

TEST(SendCommandTest, TraceAllPrintsEveryPacketThatTheTraceCounts) {
  const Result counted = Send({"--virtual-time", "--trace", "--service", "74", "1C", "06"});
  const Result every = Send({"--virtual-time", "--trace-all", "--service", "74", "1C", "06"});
  ASSERT_EQ(every.status, kExitOk) << every.err;
  EXPECT_EQ(every.out.find("\u00D7"), std::string::npos);
  EXPECT_THAT(counted.out, HasSubstr("  reset \u00D7"));
  EXPECT_LT(counted.out.size(), every.out.size());
  EXPECT_EQ(CountedOut(counted.out), CountedOut(every.out));
}

TEST(SendCommandTest, TheDecoderFileKeepsWhatWasWritten) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "qarn2_send_test.DEC";
  {
    std::ofstream out(file, std::ios::binary);
    out << "Testlok\r\n1   3   Adresse\r\n";
  }
  // Write CV 1 := 5 in direct mode, then verify it from the file in a second run.
  EXPECT_EQ(Send({"--sim-decoder", file.string(), "--virtual-time", "--service", "7C", "00", "05"}).status,
            kExitOk);
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "Testlok\r\n1   5   Adresse\r\n");
  EXPECT_EQ(Send({"--sim-decoder", file.string(), "--virtual-time", "--service", "74", "00", "05"}).status,
            kExitOk);
  std::filesystem::remove(file);
}

// An option that shapes the simulated track means the simulated track: alone it runs
// there (on the wall clock), beside a real port it is refused before anything is sent.
TEST(SendCommandTest, EverySimOptionMeansTheSimulatedTrack) {
  const std::vector<std::vector<std::string>> options = {
      {"--sim-ack-loss", "0"}, {"--sim-seed", "5"}, {"--sim-trait", "ack-pulse=6"}, {"--sim-lgb-reply", "slow"}};
  for (const std::vector<std::string>& option : options) {
    SCOPED_TRACE(option[0]);
    std::vector<std::string> args = option;
    args.insert(args.end(), {"--service", "78", "1C", "EA"});
    const Result alone = Send(args);
    EXPECT_EQ(alone.status, kExitOk) << alone.err;
    EXPECT_EQ(alone.out, "acknowledged\n");
    args.insert(args.begin(), {"--port", "COM1=/dev/ttyS7"});
    const Result beside = Send(args);
    EXPECT_EQ(beside.status, kExitUsage);
    EXPECT_EQ(beside.out, "");
    EXPECT_THAT(beside.err, HasSubstr(option[0] + " puts every port on the simulated track, but --port names "
                                                  "COM1=/dev/ttyS7"));
  }
}

TEST(SendCommandTest, BadArgumentsAndMissingDevices) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"--virtual-time", "03", "3F"}, kExitDataError, ""},  // a speed packet: no answer
      {{"--virtual-time", "12"}, kExitUsage, "1 bytes given"},
      {{"--virtual-time", "zz", "00"}, kExitUsage, "'zz' is not a hex byte"},
      {{"--port", "COM17=/dev/x", "03", "3F"}, kExitUsage, "--port takes COMn=PATH"},
      {{"--copies", "0", "03", "3F"}, kExitUsage, "--copies takes a number"},
      {{"--bogus", "03", "3F"}, kExitUsage, "unknown option '--bogus'"},
      {{"--virtual-time", "EF", "EF", "F7"}, kExitDataError, "no grouping"},
      {{"--port", "COM1=/dev/qarn2-no-such-tty", "03", "3F"}, kExitPortError,
       "Unable to open com port (win error code: 2)"},
      {{"--port", "COM1=/", "--service", "78", "1C", "EA"}, kExitPortError, "Unable to open com port"},
  };
  for (const auto& c : cases) {
    const Result r = Send(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << " " << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.args[0];
  }
}

}  // namespace
}  // namespace qarn2::cli
