// The live log as the window's "Protokoll" polls it, on the engine as the window builds
// it: on the simulated track (what the decoder made of each packet) and on a real port
// (a pseudo-terminal stands in for the tty: each packet decoded with its meaning).

#include "engine/track_log.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/testing/track_bench.h"
#include "link/hardware_kind.h"
#include "serial/tty_device.h"
#include "testsupport/test_files.h"

namespace qarn2::engine {
namespace {

using sim::TrackLogEntry;

struct ResultLine : programming::CvCommandsView {
  void SetCvResult(const std::string& text) override { result = text; }
  std::string result;
};

// Polls the live log every 100 ms (ten ticks) while a command runs, as the window does.
class Poller {
 public:
  explicit Poller(Engine& engine) : engine_(engine) {
    engine_.SetTickHook([this] {
      if (++ticks_ % 10 == 0) during_ += Poll() > 0;
    });
  }
  ~Poller() { engine_.SetTickHook({}); }

  // Takes what is new; returns how many came.
  std::size_t Poll() {
    std::uint64_t lost = 0;
    const std::vector<TrackLogEntry> part = engine_.Log().Since(next_, &lost);
    EXPECT_EQ(lost, 0u);
    seen_.insert(seen_.end(), part.begin(), part.end());
    return part.size();
  }
  void PollToTheEnd() {
    while (Poll() == LiveTrackLog::kMaxPerPoll) {
    }
  }

  const std::vector<TrackLogEntry>& Seen() const { return seen_; }
  int PollsWithNews() const { return during_; }

 private:
  Engine& engine_;
  std::uint64_t next_ = 0;
  int ticks_ = 0;
  int during_ = 0;
  std::vector<TrackLogEntry> seen_;
};

std::vector<std::string> Lines(const std::vector<TrackLogEntry>& entries) {
  std::vector<std::string> lines;
  for (const TrackLogEntry& e : entries) lines.push_back(FormatLogEntry(e));
  return lines;
}

void SetUpBoard(Engine& engine) {
  engine.Link().HardwareKind = link::kBoard;
  engine.SetUpHardware(link::kBoard);
  engine.Link().RestartBackground();
  engine.Link().WaitTicks(10);
}

// A CV read bit by bit ("dir"): each bit's verify burst, with the decoder's
// acknowledge after it where the bit is 1, then the value's own verify, acknowledged;
// seen while the read runs, in the order it happened, and the same as the track's log.
TEST(LiveTrackLogTest, ACvReadShowsItsBurstsAndAcknowledgesInOrderWhileItRuns) {
  testing::TrackBench bench;
  Engine& engine = *bench.engine_;
  ResultLine view;
  engine.SetViews(&view, nullptr);
  bench.SetCv(29, 0x26);  // bits 1, 2 and 5
  SetUpBoard(engine);
  engine.Log().Clear();  // what came before the read is not counted as lost either

  Poller poller(engine);
  engine.State().ProgrammingMode = "dir";
  engine.Cv().OpenCvBox(false);
  engine.Cv().EnterInCvBox("29");
  EXPECT_EQ(view.result, "CV Nr 29 = 38");
  engine.Link().WaitTicks(5);
  engine.SetViews(nullptr, nullptr);
  const int polls_during_the_read = poller.PollsWithNews();
  poller.PollToTheEnd();
  EXPECT_GE(polls_during_the_read, 3);  // it came while the read ran

  struct Burst {
    std::string what;
    int copies = 0;
    int acknowledges = 0;
  };
  std::vector<Burst> bursts;
  for (const TrackLogEntry& e : poller.Seen()) {
    if (e.kind == TrackLogEntry::kAcknowledge) {
      ASSERT_FALSE(bursts.empty()) << "an acknowledge before any burst";
      ++bursts.back().acknowledges;
    }
    if (e.kind != TrackLogEntry::kPacket || e.text.rfind("service: ", 0) != 0) continue;
    const std::string what = e.text.substr(9, e.text.find(" (") - 9);
    if (bursts.empty() || bursts.back().what != what) bursts.push_back({what});
    ++bursts.back().copies;
  }
  std::vector<std::string> story;
  for (const Burst& b : bursts) {
    EXPECT_GE(b.copies, 2) << b.what;  // a decoder acts on the second copy
    story.push_back(b.what + (b.acknowledges > 0 ? " acknowledged" : ""));
  }
  EXPECT_EQ(story, (std::vector<std::string>{
                       "verify CV 29 bit 0 = 1",
                       "verify CV 29 bit 1 = 1 acknowledged",
                       "verify CV 29 bit 2 = 1 acknowledged",
                       "verify CV 29 bit 3 = 1",
                       "verify CV 29 bit 4 = 1",
                       "verify CV 29 bit 5 = 1 acknowledged",
                       "verify CV 29 bit 6 = 1",
                       "verify CV 29 bit 7 = 1",
                       "verify CV 29 = 38 acknowledged",
                   }));
  // The polls missed nothing and repeated nothing.
  EXPECT_EQ(Lines(poller.Seen()), Lines(engine.Track().Log()));
}

// More entries than the log keeps: the oldest drop out, a reader that fell behind is
// told how many it missed, and the log stays within its bound.
TEST(LiveTrackLogTest, PastTheBoundTheOldestDropOutAndTheReaderIsToldHowMany) {
  testing::TrackBench bench;
  Engine& engine = *bench.engine_;
  engine.SetUpHardware(link::kBoard);  // track power on
  engine.Link().BackgroundStream.clear();  // only what the test writes goes out
  LiveTrackLog& log = engine.Log();
  std::uint64_t next = 0;
  std::uint64_t lost = 0;
  EXPECT_FALSE(log.Since(next, &lost).empty());  // "track power on"
  const std::uint64_t taken_early = next;

  std::string idles;
  for (int i = 0; i < 5000; ++i) idles += engine.Streams().IdleStream;
  for (int i = 0; i < 25; ++i) engine.Port().WriteText(idles);  // 125,000 idle packets
  engine.Link().WaitTicks(5);

  std::vector<TrackLogEntry> part = log.Since(next, &lost);
  const std::uint64_t dropped = lost;
  EXPECT_GT(dropped, 25000u);
  EXPECT_EQ(part.size(), LiveTrackLog::kMaxPerPoll);
  EXPECT_EQ(next, taken_early + dropped + part.size());
  std::size_t kept = 0;
  std::size_t idle = 0;
  while (!part.empty()) {
    kept += part.size();
    for (const TrackLogEntry& e : part) idle += e.text == "idle";
    part = log.Since(next, &lost);
    EXPECT_EQ(lost, 0u);
  }
  EXPECT_EQ(idle, kept);
  EXPECT_LE(kept, LiveTrackLog::kMaxEntries);
  EXPECT_GE(kept, LiveTrackLog::kMaxEntries * 4 / 5);
  // Every entry logged is either taken or counted as lost: the numbers run without a gap.
  EXPECT_EQ(next, taken_early + dropped + kept);
  // The first idle packet stands behind only 10 preamble bits after the idle line: no
  // packet to a decoder.
  EXPECT_EQ(next, taken_early + 124999);
  EXPECT_EQ(log.Entries().size(), kept);
}

// The far end of a pseudo-terminal, taking characters at 19200 bit/s 8N1 as a UART
// puts them on the line; what it has not taken yet is what the port's driver holds
// (a pseudo-terminal would take everything at once, far faster than any line).
class PacedPty {
 public:
  PacedPty() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("no pseudo-terminal");
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = name;
    line_ = std::thread([this] { RunLine(); });
  }
  ~PacedPty() {
    stop_ = true;
    line_.join();
    close(master_);
    close(slave_);
  }

  const std::string& Path() const { return path_; }

  // The port's devices: the tty back-end, told by the line how much it still holds:
  // what the master side has not taken (a flush for a burst ahead drops it there too).
  serial::DeviceFactory Devices() {
    return [this](const std::string&) -> std::unique_ptr<serial::SerialDevice> {
      return serial::MakeTtyDevice([this](int, int& held) {
        return ioctl(master_, FIONREAD, &held) < 0 ? errno : 0;
      });
    };
  }

 private:
  void RunLine() {
    constexpr double kCharactersPerSecond = 1920.0;
    double credit = 0;  // characters the line could have sent by now
    auto last = std::chrono::steady_clock::now();
    char buffer[256];
    while (!stop_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const auto now = std::chrono::steady_clock::now();
      credit += std::chrono::duration<double>(now - last).count() * kCharactersPerSecond;
      last = now;
      const auto want = static_cast<std::size_t>(std::min<double>(credit, sizeof buffer));
      const ssize_t got = want > 0 ? read(master_, buffer, want) : 0;
      const std::size_t taken = got > 0 ? static_cast<std::size_t>(got) : 0;
      credit -= static_cast<double>(taken);
      if (taken < want) credit = std::min(credit, 1.0);  // an idle line saves up nothing
    }
  }

  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread line_;
};

// On a real port: the packets with their meanings, track power and RTS as the commands
// switch them, in time order; and saved as lines of text.
class PtyLogTest : public ::testing::Test {
 protected:
  PtyLogTest() {
    options_.ports.Set("COM1", pty_.Path());
    options_.active_consoles = "";
    options_.live_log = true;
    options_.wrap_devices = [this](serial::DeviceFactory) { return pty_.Devices(); };
  }

  PacedPty pty_;
  EngineOptions options_;
};

TEST_F(PtyLogTest, PacketsWithTheirMeaningsAndTheLineChangesInTimeOrder) {
  Engine engine(options_);
  ASSERT_FALSE(engine.Simulated());
  SetUpBoard(engine);
  Poller poller(engine);
  tryout::TryOutCommands& tryout = engine.TryOut();
  tryout.OpenLocomotiveTryOut();
  tryout.ChooseSpeedSteps(28);
  tryout.RegulatorChanged(5);
  tryout.ChooseTurnout(true);  // turnout 3: decoder 1, the second output of pair 2
  engine.Link().WaitTicks(5);
  tryout.End();
  engine.State().ProgrammingMode = "dir";
  engine.Cv().OpenCvBox(true);
  engine.Cv().EnterInCvBox("29");
  engine.Cv().EnterInCvBox("6");  // nobody acknowledges on a pseudo-terminal
  engine.Link().WaitTicks(10);
  poller.PollToTheEnd();
  const std::vector<TrackLogEntry>& seen = poller.Seen();
  EXPECT_GT(poller.PollsWithNews(), 3);

  const auto first = [&](const std::string& text, std::size_t from = 0) {
    for (std::size_t i = from; i < seen.size(); ++i) {
      if (seen[i].text == text) return i;
    }
    ADD_FAILURE() << "no \"" << text << "\" after entry " << from;
    return seen.size();
  };
  const std::size_t power_on = first("DTR on: track power on");
  const std::size_t speed =
      first("ops: loco 3 speed 5 forward (28 steps) or speed 3 forward FL off (14 steps)", power_on);
  const std::size_t turnout = first("accessory: decoder 1 output 5 on", speed);
  const std::size_t power_off = first("DTR off: track power off", turnout);
  const std::size_t rts_on = first("RTS on", power_off);
  const std::size_t write = first("service: write CV 29 = 6", rts_on);
  std::size_t last_write = write;
  for (std::size_t i = write; i < seen.size(); ++i) {
    if (seen[i].text == "service: write CV 29 = 6") last_write = i;
  }
  first("RTS off", last_write);
  EXPECT_GE(std::count_if(seen.begin(), seen.end(), [](const TrackLogEntry& e) { return e.text == "reset"; }), 8);

  for (std::size_t i = 0; i < seen.size(); ++i) {
    const TrackLogEntry& e = seen[i];
    EXPECT_NE(e.kind, TrackLogEntry::kBadPacket) << FormatLogEntry(e);
    if (e.kind == TrackLogEntry::kPacket) {
      EXPECT_FALSE(e.text.empty() || e.text.find("check byte") != std::string::npos) << FormatLogEntry(e);
    }
    if (i > 0) {
      EXPECT_LE(seen[i - 1].time, e.time) << i;
    }
  }

  // Saved: every entry still in the log, one line each.
  testsupport::TempFolder folder("qarn2_log");
  const std::string path = folder.File("Protokoll.txt");
  ASSERT_EQ(engine.Log().Save(path).get(), "");
  const std::vector<std::string> expected = Lines(engine.Log().Entries());
  const std::string saved = testsupport::Get(path);
  EXPECT_TRUE(std::all_of(saved.begin(), saved.end(), [](char c) { return (c >= ' ' && c <= '~') || c == '\n'; }))
      << "ASCII, and so UTF-8 as it stands";
  std::vector<std::string> lines;
  std::istringstream file(saved);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  // The port went on meanwhile: the file holds the log up to its saving.
  ASSERT_GE(expected.size(), lines.size());
  ASSERT_GE(lines.size(), seen.size());
  EXPECT_TRUE(std::equal(lines.begin(), lines.end(), expected.begin()));
  EXPECT_EQ(lines[turnout], FormatLogEntry(seen[turnout]));
  EXPECT_NE(lines[turnout].find("packet  81 FD 7C  accessory: decoder 1 output 5 on"), std::string::npos)
      << lines[turnout];

  // Where it cannot be written, the problem is said and nothing is left behind.
  EXPECT_NE(engine.Log().Save(folder.File("no/such/folder.txt")).get(), "");
  EXPECT_FALSE(std::filesystem::exists(folder.File("no")));
}

}  // namespace
}  // namespace qarn2::engine
