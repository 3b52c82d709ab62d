// The live log as the window's "Protokoll" polls it and the lines it shows, on the
// engine as the window builds it: on the simulated track (what the decoder made of each
// packet) and on a real port (a pseudo-terminal stands in for the tty: each packet
// decoded with its meaning).

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
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/shown_track_log.h"
#include "engine/testing/track_bench.h"
#include "encoding/serial_encoder.h"
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

// What the window's list holds: the lines ShownTrackLog gave, its updates applied.
struct Listed {
  void Apply(const ShownTrackLog::Update& update) {
    if (update.last) lines.back() = *update.last;
    lines.insert(lines.end(), update.added.begin(), update.added.end());
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(update.dropped));
  }
  std::vector<std::string> lines;
};

// A line without its time, and its run's count: {"packet  00 00 00  reset", 15}.
std::pair<std::string, unsigned long> TextAndCount(const std::string& line) {
  std::string text = line.substr(line.find(" ms  ") + 5);
  const std::size_t times = text.rfind(" \u00D7");
  if (times == std::string::npos) return {text, 1};
  return {text.substr(0, times), std::strtoul(text.c_str() + times + 3, nullptr, 10)};
}

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& text) {
  return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
}

// The board's resets, a locomotive try-out left alone and then driven, a turnout
// switched, a CV read: the list polled as the window does. The runs, counted out, give
// back the track's log packet for packet; "nur Befehle" leaves the idle and reset
// packets and the try-out's unchanged repeats out, never a service packet, an
// acknowledge or a power change.
TEST(ShownTrackLogTest, BackgroundCollapsesIntoCountsAndOnlyTheCommandsCanBeShown) {
  testing::TrackBench bench;
  Engine& engine = *bench.engine_;
  SetUpBoard(engine);
  ShownTrackLog shown(engine.Log());
  Listed listed;
  int ticks = 0;
  engine.SetTickHook([&] {
    if (++ticks % 10 == 0) listed.Apply(shown.Poll());
  });
  tryout::TryOutCommands& tryout = engine.TryOut();
  tryout.OpenLocomotiveTryOut();
  engine.Link().WaitTicks(200);
  tryout.RegulatorChanged(5);
  engine.Link().WaitTicks(200);
  tryout.ChooseTurnout(true);
  engine.Link().WaitTicks(50);
  tryout.End();
  engine.Cv().OpenCvBox(false);
  engine.Cv().EnterInCvBox("29");
  engine.Link().WaitTicks(100);
  engine.SetTickHook({});
  listed.Apply(shown.Poll());

  EXPECT_EQ(listed.lines, shown.ShowCommandsOnly(false));
  std::vector<std::string> counted_out;
  for (const std::string& line : listed.lines) {
    const auto [text, count] = TextAndCount(line);
    counted_out.insert(counted_out.end(), count, text);
  }
  std::vector<std::string> logged;
  for (const TrackLogEntry& e : engine.Track().Log()) logged.push_back(TextAndCount(FormatLogEntry(e)).first);
  EXPECT_EQ(counted_out, logged);
  EXPECT_LT(listed.lines.size(), logged.size() * 3 / 4);

  const std::vector<std::string> commands = shown.ShowCommandsOnly(true);
  for (const char* kept : {"service: ", "acknowledge", "power", "accessory "}) {
    EXPECT_EQ(CountContaining(commands, kept), CountContaining(logged, kept)) << kept;
  }
  for (const char* background : {"  idle", "  reset"}) EXPECT_EQ(CountContaining(commands, background), 0u);
  // The try-out's packets as it opened and as they changed, not their repeats.
  EXPECT_GE(CountContaining(commands, "ops: loco 3 speed "), 1u);
  EXPECT_LT(CountContaining(commands, "ops: loco 3 ") * 10, CountContaining(logged, "ops: loco 3 "));
}

// More lines than are kept: the oldest go, from the list as from the lines, with and
// without "nur Befehle" (a turnout's packet between the idle and the reset packets
// keeps every packet a line of its own).
TEST(ShownTrackLogTest, PastTheBoundTheListLosesItsOldestLinesAsTheLinesDo) {
  testing::TrackBench bench;
  Engine& engine = *bench.engine_;
  engine.SetUpHardware(link::kBoard);
  engine.Link().BackgroundStream.clear();
  ShownTrackLog all(engine.Log());
  ShownTrackLog commands(engine.Log());
  commands.ShowCommandsOnly(true);
  Listed all_listed, commands_listed;
  const std::string round = encoding::EncodeOperationsPacket({0x81, 0xFD}) + engine.Streams().IdleStream +
                            engine.Streams().ResetStream;
  std::string rounds;
  for (int i = 0; i < 2000; ++i) rounds += round;
  for (int i = 0; i < 20; ++i) {  // 120,000 packets
    engine.Port().WriteText(rounds);
    engine.Link().WaitTicks(5);
    all_listed.Apply(all.Poll());
    commands_listed.Apply(commands.Poll());
  }
  EXPECT_EQ(all_listed.lines.size(), ShownTrackLog::kMaxLines);
  EXPECT_EQ(all_listed.lines, all.ShowCommandsOnly(false));
  EXPECT_LT(commands_listed.lines.size(), 40000u);
  EXPECT_EQ(commands_listed.lines, commands.ShowCommandsOnly(true));
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

  // Saved: the lines as shown.
  ShownTrackLog shown(engine.Log());
  shown.Poll();
  const std::vector<std::string> listed = shown.ShowCommandsOnly(false);
  testsupport::TempFolder folder("qarn2_log");
  const std::string path = folder.File("Protokoll.txt");
  ASSERT_EQ(shown.Save(path).get(), "");
  std::vector<std::string> lines;
  std::istringstream file(testsupport::Get(path));
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  EXPECT_EQ(lines, listed);

  // Where it cannot be written, the problem is said and nothing is left behind.
  EXPECT_NE(shown.Save(folder.File("no/such/folder.txt")).get(), "");
  EXPECT_FALSE(std::filesystem::exists(folder.File("no")));
}

}  // namespace
}  // namespace qarn2::engine
