// The tty back-end against a pseudo-terminal pair: the device opens the slave side,
// the test plays the far end of the cable on the master side.

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <filesystem>
#include <signal.h>
#include <sys/wait.h>

#include "serial/tty_device.h"
#include "serial/tty_ring_watch.h"

namespace qarn2::serial {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: only reached when something that must happen does not.
constexpr auto kPatience = 10s;

template <typename Condition>
bool Eventually(Condition condition) {
  const auto give_up = Clock::now() + kPatience;
  while (!condition()) {
    if (Clock::now() > give_up) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Characters written and error of a job; fails the test (instead of hanging it) if the
// job never completes.
using Outcome = std::pair<int, int>;
Outcome Finish(const std::shared_ptr<WriteJob>& job) {
  if (!Eventually([&] { return job->done(); })) {
    ADD_FAILURE() << "job never completed";
    return {-1, -1};
  }
  int error = 0;
  const int written = job->Wait(error);
  return {written, error};
}

std::string AllByteValues(int rounds) {
  std::string text;
  for (int round = 0; round < rounds; ++round) {
    for (int value = 0; value < 256; ++value) text += static_cast<char>(value);
  }
  return text;
}

class TtyDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
      fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    device_ = MakeTtyDevice();
  }
  void TearDown() override {
    device_.reset();
    CloseMaster();
    if (slave_ >= 0) ::close(slave_);
  }

  // A pseudo-terminal is paced by the clock at the line's rate: the fixture's tests run
  // it fast unless they are about the pace.
  void OpenDevice(TComEvents events = {}, int rate = 4000000) {
    ASSERT_EQ(device_->Open(path_), 0);
    LineSettings settings;
    settings.baud_rate = rate;
    ASSERT_EQ(device_->SetLineSettings(settings), 0);
    ASSERT_EQ(device_->SetEventMask(events), 0);
  }
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void MasterWrite(const std::string& text) {
    ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // Reads from the master side until `size` characters came or none come for a while.
  std::string MasterRead(std::size_t size, std::chrono::milliseconds quiet = 200ms) {
    std::string text;
    char buffer[4096];
    while (text.size() < size) {
      pollfd watched = {master_, POLLIN, 0};
      if (poll(&watched, 1, static_cast<int>(quiet.count())) <= 0) break;
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
  int MasterQueue() const {
    int count = 0;
    ioctl(master_, FIONREAD, &count);
    return count;
  }
  int RxCount() {
    int count = -1;
    EXPECT_EQ(device_->RxQueueCount(count), 0);
    return count;
  }
  std::future<EventWait> WaitInBackground() {
    return std::async(std::launch::async, [this] { return device_->WaitEvents(); });
  }
  // Fails the test instead of hanging it when the wait does not end.
  EventWait Collect(std::future<EventWait>& waiting) {
    if (waiting.wait_for(kPatience) != std::future_status::ready) {
      ADD_FAILURE() << "WaitEvents never returned";
      device_->CancelWaitEvents();
    }
    return waiting.get();
  }
  EventWait Wait() {
    auto waiting = WaitInBackground();
    return Collect(waiting);
  }
  std::shared_ptr<WriteJob> Write(std::string text, std::chrono::milliseconds timeout = 0ms) {
    auto job = std::make_shared<WriteJob>(std::move(text), timeout);
    EXPECT_EQ(device_->StartWrite(job), 0);
    return job;
  }

  int master_ = -1;
  int slave_ = -1;  // the test's own view of the line settings
  std::string path_;
  std::unique_ptr<SerialDevice> device_;
};

// ---- opening -------------------------------------------------------------------

// Opens `path` on a thread without CAP_SYS_ADMIN, which would let it past TIOCEXCL.
int OpenAsOtherProgram(const std::string& path) {
  int result = 0;
  std::thread([&] {
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    if (syscall(SYS_capget, &header, caps) == 0) {
      caps[CAP_SYS_ADMIN / 32].effective &= ~(1u << (CAP_SYS_ADMIN % 32));
      syscall(SYS_capset, &header, caps);  // capabilities are per thread
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    result = fd < 0 ? errno : 0;
    if (fd >= 0) ::close(fd);
  }).join();
  return result;
}

TEST_F(TtyDeviceTest, OpensExclusivelyAndReportsWhyNot) {
  ASSERT_EQ(device_->Open(path_), 0);
  auto second = MakeTtyDevice();
  EXPECT_EQ(second->Open(path_), EBUSY);
  EXPECT_EQ(OpenAsOtherProgram(path_), EBUSY);
  device_->Close();
  EXPECT_EQ(OpenAsOtherProgram(path_), 0);
  EXPECT_EQ(second->Open(path_), 0);

  auto other = MakeTtyDevice();
  EXPECT_EQ(other->Open("/dev/no-such-serial-device"), ENOENT);
  EXPECT_EQ(other->Open("/dev/null"), ENOTTY);
  int count = 0;
  EXPECT_EQ(other->RxQueueCount(count), EBADF) << "closed";
}

// ---- line settings -------------------------------------------------------------

termios CookedTermios() {
  termios t = {};
  t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  t.c_iflag = ICRNL | IXON | IXOFF | ISTRIP;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = HUPCL | CRTSCTS | CS7 | PARENB;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 5;
  return t;
}

void ExpectRaw(const termios& t) {
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  // HUPCL stays: the kernel drops DTR and RTS when the program dies.
  EXPECT_EQ(t.c_cflag & (HUPCL | CRTSCTS), tcflag_t{HUPCL});
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(MakeRawTermiosTest, GivesRawLineInTheAskedFormatOrRefuses) {
  struct Case {
    int rate, data_bits;
    TParityBits parity;
    TStopBits stop_bits;
    int error;
    speed_t speed = 0;
    tcflag_t size = 0, parity_flags = 0;
    bool two_stop_bits = false;
  };
  const Case cases[] = {
      {19200, 8, prNone, sbOneStopBit, 0, B19200, CS8, 0, false},
      {9600, 7, prEven, sbTwoStopBits, 0, B9600, CS7, PARENB, true},
      {300, 5, prOdd, sbOne5StopBits, 0, B300, CS5, PARENB | PARODD, true},
      {115200, 6, prMark, sbOneStopBit, 0, B115200, CS6, PARENB | CMSPAR | PARODD, false},
      {230400, 8, prSpace, sbOneStopBit, 0, B230400, CS8, PARENB | CMSPAR, false},
      {110, 8, prNone, sbOneStopBit, 0, B110, CS8, 0, false},
      {57600, 8, prNone, sbOneStopBit, 0, B57600, CS8, 0, false},
      {14400, 8, prNone, sbOneStopBit, EINVAL},
      {56000, 8, prNone, sbOneStopBit, EINVAL},
      {128000, 8, prNone, sbOneStopBit, EINVAL},
      {256000, 8, prNone, sbOneStopBit, EINVAL},
      {12345, 8, prNone, sbOneStopBit, EINVAL},
      {0, 8, prNone, sbOneStopBit, EINVAL},
      {9600, 4, prNone, sbOneStopBit, EINVAL},
      {9600, 9, prNone, sbOneStopBit, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " " << c.data_bits);
    LineSettings settings;
    settings.baud_rate = c.rate;
    settings.data_bits = c.data_bits;
    settings.parity = c.parity;
    settings.stop_bits = c.stop_bits;
    termios t = CookedTermios();
    ASSERT_EQ(MakeRawTermios(settings, t), c.error);
    if (c.error) continue;
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, c.size);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity_flags);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.two_stop_bits);
    ExpectRaw(t);
  }
}

// A pty keeps only 8 data bits without parity; the rest reaches it.
TEST_F(TtyDeviceTest, LineSettingsReachTheDevice) {
  ASSERT_EQ(device_->Open(path_), 0);
  termios cooked = CookedTermios();
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &cooked), 0);
  LineSettings settings;
  settings.baud_rate = 115200;
  settings.stop_bits = sbTwoStopBits;
  ASSERT_EQ(device_->SetLineSettings(settings), 0);
  settings.baud_rate = 14400;
  EXPECT_EQ(device_->SetLineSettings(settings), EINVAL);

  termios t = {};
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), speed_t{B115200}) << "the refused rate changed nothing";
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  ExpectRaw(t);
}

TEST_F(TtyDeviceTest, ThePortIsLeftAsItWasFound) {
  // Closing, and a SIGTERM that ends the program with the port open, give the port
  // its settings back (and drop DTR and RTS where it has them).
  termios cooked = CookedTermios();
  cfsetospeed(&cooked, B2400);
  cfsetispeed(&cooked, B2400);
  const auto same_as_found = [&] {
    termios now = {};
    tcgetattr(slave_, &now);
    return cfgetospeed(&now) == B2400 && (now.c_lflag & ICANON) && (now.c_iflag & IXON);
  };
  ASSERT_EQ(tcsetattr(slave_, TCSANOW, &cooked), 0);
  ASSERT_EQ(device_->Open(path_), 0);
  LineSettings settings;
  settings.baud_rate = 19200;
  ASSERT_EQ(device_->SetLineSettings(settings), 0);
  EXPECT_FALSE(same_as_found());
  device_->Close();
  EXPECT_TRUE(same_as_found());

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::unique_ptr<SerialDevice> device = MakeTtyDevice();
    if (device->Open(path_) != 0 || device->SetLineSettings(settings) != 0) _exit(1);
    raise(SIGTERM);
    _exit(2);  // not reached: the signal ends the process
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_TRUE(same_as_found());
}

TEST_F(TtyDeviceTest, APortAnotherProgramHoldsExclusivelyStaysItsOwn) {
  // Root gets past TIOCEXCL; the device must refuse all the same, and leave the mark.
  const int other = open(path_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(ioctl(other, TIOCEXCL), 0);
  EXPECT_EQ(device_->Open(path_), EBUSY);
  int held = 0;
  ASSERT_EQ(ioctl(other, TIOCGEXCL, &held), 0);
  EXPECT_EQ(held, 1);
  ASSERT_EQ(ioctl(other, TIOCNXCL), 0);
  close(other);
  // Free again, it opens, is held while open, and is free after Close.
  ASSERT_EQ(device_->Open(path_), 0);
  ASSERT_EQ(ioctl(slave_, TIOCGEXCL, &held), 0);
  EXPECT_EQ(held, 1);
  device_->Close();
  ASSERT_EQ(ioctl(slave_, TIOCGEXCL, &held), 0);
  EXPECT_EQ(held, 0);
}

// ---- transfers -----------------------------------------------------------------

TEST_F(TtyDeviceTest, TransfersEveryByteValueBothWays) {
  OpenDevice({evRxChar});
  const std::string sent = AllByteValues(4);
  EXPECT_EQ(Finish(Write(sent)), Outcome(sent.size(), 0));
  EXPECT_EQ(MasterRead(sent.size()), sent);

  MasterWrite(sent);
  std::string received;
  while (received.size() < sent.size()) {
    const EventWait wait = Wait();
    ASSERT_EQ(wait.outcome, EventWait::kEvents);
    char buffer[300];
    int got = 0;
    ASSERT_EQ(device_->Read(buffer, sizeof buffer, got), 0);
    received.append(buffer, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(received, sent);
}

TEST_F(TtyDeviceTest, ReadsTakeWhatHasArrivedWithoutWaiting) {
  OpenDevice();
  char buffer[200];
  int got = -1;
  const auto before = Clock::now();
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, got), 0);
  EXPECT_EQ(got, 0);
  EXPECT_LT(Clock::now() - before, 100ms);
  EXPECT_EQ(RxCount(), 0);

  MasterWrite(std::string(100, 'r'));
  ASSERT_TRUE(Eventually([&] { return RxCount() == 100; }));
  EXPECT_EQ(device_->Read(buffer, 30, got), 0);
  EXPECT_EQ(got, 30);
  EXPECT_EQ(RxCount(), 70);
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, got), 0);
  EXPECT_EQ(got, 70);
  EXPECT_EQ(RxCount(), 0);
}

TEST_F(TtyDeviceTest, JobsGoOutWholeAndInOrder) {
  OpenDevice();
  const std::string first = AllByteValues(256);  // far more than the pty holds
  auto a = Write(first);
  auto b = Write("second");
  auto c = Write("");
  ASSERT_TRUE(Eventually([&] { return MasterQueue() > 0; }));
  EXPECT_FALSE(a->done());
  EXPECT_FALSE(b->done()) << "the second job waits for the first";
  EXPECT_FALSE(c->done());

  EXPECT_EQ(MasterRead(first.size() + 6), first + "second");
  EXPECT_EQ(Finish(a), Outcome(first.size(), 0));
  EXPECT_EQ(Finish(b), Outcome(6, 0));
  EXPECT_EQ(Finish(c), Outcome(0, 0));
}

TEST_F(TtyDeviceTest, StalledJobEndsShortAtItsTimeLimitWithoutError) {
  OpenDevice({evTxEmpty});
  const std::string text = AllByteValues(256);
  const auto began = Clock::now();
  const auto [written, error] = Finish(Write(text, 200ms));
  EXPECT_GE(Clock::now() - began, 200ms);
  EXPECT_EQ(error, 0);
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int>(text.size()));
  // The master gets at most what the job reports, from its beginning.
  const std::string arrived = MasterRead(text.size());
  EXPECT_LE(arrived.size(), static_cast<std::size_t>(written));
  EXPECT_EQ(arrived, text.substr(0, arrived.size()));

  EXPECT_EQ(Wait().events, TComEvents{evTxEmpty});
  EXPECT_EQ(Finish(Write("next")), Outcome(4, 0));
  EXPECT_EQ(MasterRead(4), "next");
}

TEST_F(TtyDeviceTest, PurgeCancelsRunningAndQueuedJobs) {
  OpenDevice({evTxEmpty, evRxChar});
  auto running = Write(AllByteValues(256));
  auto queued = Write("queued");
  ASSERT_TRUE(Eventually([&] { return MasterQueue() > 0; }));
  EXPECT_EQ(device_->Purge(), 0);
  EXPECT_TRUE(running->done() && queued->done()) << "all completed when Purge returns";
  EXPECT_EQ(Finish(running).second, ECANCELED);
  EXPECT_EQ(Finish(queued), Outcome(0, ECANCELED));

  MasterRead(1 << 20, 50ms);
  EXPECT_EQ(Finish(Write("after")), Outcome(5, 0));
  EXPECT_EQ(MasterRead(5), "after");
}

// ---- events --------------------------------------------------------------------

TEST_F(TtyDeviceTest, ReportsArrivalsOnceUntilNewOnesComeOrTheQueueIsRead) {
  OpenDevice({evRxChar, evTxEmpty});
  MasterWrite("abc");
  ASSERT_TRUE(Eventually([&] { return RxCount() == 3; }));
  EXPECT_EQ(Wait().events, TComEvents{evRxChar});

  // Unread characters are not reported again: the next wait sees only the write.
  auto waiting = WaitInBackground();
  Write("x");
  EXPECT_EQ(Collect(waiting).events, TComEvents{evTxEmpty});

  MasterWrite("de");
  ASSERT_TRUE(Eventually([&] { return RxCount() == 5; }));
  EXPECT_EQ(Wait().events, TComEvents{evRxChar});
  char buffer[8];
  int got = 0;
  ASSERT_EQ(device_->Read(buffer, sizeof buffer, got), 0);
  EXPECT_EQ(std::string(buffer, got), "abcde");
  MasterWrite("f");
  EXPECT_EQ(Wait().events, TComEvents{evRxChar});
}

TEST_F(TtyDeviceTest, UnreadCharactersDoNotKeepTheWaiterBusy) {
  OpenDevice({evRxChar});
  MasterWrite("unread");
  ASSERT_EQ(Wait().events, TComEvents{evRxChar});
  auto cpu = std::async(std::launch::async, [this] {
    timespec start = {}, end = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    const EventWait wait = device_->WaitEvents();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    EXPECT_EQ(wait.outcome, EventWait::kCancelled);
    return (end.tv_sec - start.tv_sec) * 1000.0 + (end.tv_nsec - start.tv_nsec) / 1e6;
  });
  // Long enough that a spinning waiter burns most of it.
  std::this_thread::sleep_for(300ms);
  device_->CancelWaitEvents();
  EXPECT_LT(cpu.get(), 60.0) << "milliseconds of CPU while waiting 300 ms";
}

TEST_F(TtyDeviceTest, TransmitEmptyFollowsSentCharactersOnly) {
  OpenDevice({evRxChar, evTxEmpty});
  EXPECT_EQ(Finish(Write("")), Outcome(0, 0));
  MasterWrite("!");
  ASSERT_TRUE(Eventually([&] { return RxCount() == 1; }));
  EXPECT_EQ(Wait().events, TComEvents{evRxChar}) << "no transmit-empty";

  Write("one");
  Finish(Write("two"));
  EXPECT_EQ(Wait().events, TComEvents{evTxEmpty});

  // Kept while nobody waits, reported once, and only while watched.
  Finish(Write("three"));
  EXPECT_EQ(Wait().events, TComEvents{evTxEmpty});
  ASSERT_EQ(device_->SetEventMask({evRxChar}), 0);
  Finish(Write("four"));
  auto waiting = WaitInBackground();
  MasterWrite("?");
  EXPECT_EQ(Collect(waiting).events, TComEvents{evRxChar});
}

// ---- a line that keeps running ---------------------------------------------------
//
// The test plays a UART on the master side: it takes one character every character
// time (19200 bit/s), and what it has not taken yet is what the driver holds.

class PacedLineTest : public TtyDeviceTest {
 protected:
  // A pseudo-terminal hands written characters to the master side a little later, so
  // what the line still has to take is counted here: written by the test's jobs,
  // minus taken.
  void SetUp() override {
    TtyDeviceTest::SetUp();
    device_ = MakeTtyDevice([this](int, int& held) {
      held = static_cast<int>(started_.load() - taken_.load());
      return 0;
    });
  }

  std::shared_ptr<WriteJob> Start(const std::string& text) {
    started_ += text.size();
    return Write(text);
  }

  // Takes `total` characters at the line's pace; counts the times the line ran dry
  // before all came (each a gap a decoder would see). `watch` runs after every
  // character with the number taken so far.
  int RunLine(std::size_t total, const std::function<void(std::size_t taken)>& watch = {}) {
    constexpr auto kCharacter = std::chrono::nanoseconds(10 * 1'000'000'000LL / 19200);
    int gaps = 0;
    bool dry = false;
    auto slot = Clock::now();
    const auto give_up = slot + kPatience;
    while (taken_ < total && Clock::now() < give_up) {
      std::this_thread::sleep_until(slot += kCharacter);
      char c;
      if (::read(master_, &c, 1) == 1) {
        ++taken_;
        dry = false;
        if (watch) watch(taken_);
      } else if (taken_ > 0 && !dry) {
        dry = true;
        ++gaps;
      }
    }
    EXPECT_EQ(taken_, total) << "the line got less than was written";
    return gaps;
  }

  std::atomic<std::size_t> started_{0};
  std::atomic<std::size_t> taken_{0};
};

TEST_F(PacedLineTest, TheNextCharactersAreAskedForWhileTheLineIsStillBusy) {
  // As the link keeps the background going: a copy (17 characters, 8.9 ms) written at
  // every transmit-empty, and now and then 8 ms late, as on a loaded machine. Asked
  // for only once the driver is empty, such a copy would follow a pause.
  OpenDevice({evTxEmpty}, 19200);
  const std::string copy(17, 'r');
  constexpr int kCopies = 40;
  std::thread program([&] {
    Start(copy);
    for (int i = 1; i < kCopies; ++i) {
      if (!Wait().events.Has(evTxEmpty)) return;
      if (i % 4 == 0) std::this_thread::sleep_for(8ms);
      Start(copy);
    }
  });
  EXPECT_EQ(RunLine(copy.size() * kCopies), 0);
  program.join();
}

TEST_F(PacedLineTest, AJobCompletesWhenItsLastCharacterHasLeftNotBefore) {
  // Two jobs back to back: the first completes once the line has taken its 100
  // characters (within a look at the queue, a few characters), though the second is
  // already in the driver behind it.
  OpenDevice({}, 19200);
  const auto first = Start(std::string(100, 'a'));
  const auto second = Start(std::string(40, 'b'));
  std::size_t taken_when_done = 0;
  RunLine(140, [&](std::size_t taken) {
    if (!taken_when_done && first->done()) taken_when_done = taken;
  });
  EXPECT_GE(taken_when_done, 100u);
  EXPECT_LE(taken_when_done, 106u);
  EXPECT_EQ(Finish(first), Outcome(100, 0));
  EXPECT_EQ(Finish(second), Outcome(40, 0));
}

// A pseudo-terminal reports nothing held, so the device plays the UART by the clock:
// the far side, reading as fast as it can, gets the characters at the line's pace (a
// little ahead, never faster on the whole), and the writer spends little time on it.
TEST_F(TtyDeviceTest, APseudoTerminalIsPacedAtTheLinesRate) {
  OpenDevice({evTxEmpty}, 19200);
  constexpr auto kCharacter = std::chrono::nanoseconds(10 * 1'000'000'000LL / 19200);
  constexpr std::size_t kTotal = 1920;  // one second of line
  timespec cpu_start = {}, cpu_end = {};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu_start);
  const auto start = Clock::now();
  std::vector<std::shared_ptr<WriteJob>> jobs;
  for (int i = 0; i < 8; ++i) jobs.push_back(Write(std::string(kTotal / 8, static_cast<char>('a' + i))));
  std::string line;
  std::vector<Clock::duration> arrived;  // when each character came, from the start
  while (line.size() < kTotal && Clock::now() - start < kPatience) {
    pollfd watched = {master_, POLLIN, 0};
    if (poll(&watched, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    for (ssize_t i = 0; i < n; ++i) arrived.push_back(Clock::now() - start);
    if (n > 0) line.append(buffer, static_cast<std::size_t>(n));
  }
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu_end);
  ASSERT_EQ(line.size(), kTotal);
  for (std::size_t k = 0; k < kTotal; k += 64) {
    // Never more than the pace's lead ahead of the line, and not lagging behind it.
    EXPECT_GE(arrived[k], kCharacter * static_cast<long long>(k) - 60ms) << k;
    EXPECT_LE(arrived[k], kCharacter * static_cast<long long>(k) + 100ms) << k;
  }
  // A job is done when the line has sent its last character.
  EXPECT_GE(Finish(jobs.back()).first, static_cast<int>(kTotal / 8));
  EXPECT_GE(Clock::now() - start, kCharacter * static_cast<long long>(kTotal) - 5ms);
  const double cpu_ms = (cpu_end.tv_sec - cpu_start.tv_sec) * 1e3 + (cpu_end.tv_nsec - cpu_start.tv_nsec) / 1e6;
  EXPECT_LT(cpu_ms, 250.0) << "milliseconds of CPU for one second of line";
}

// A job ahead of the background does not wait for it: what is not yet handed over of
// the background is dropped, and the job follows what the line still holds (the pace's
// lead, which a pseudo-terminal's far side has and gets).
TEST_F(TtyDeviceTest, AJobAheadFollowsWhatTheLineHoldsNotTheBackground) {
  OpenDevice({}, 19200);
  const auto background = Write(std::string(1920, 'b'));  // a second of line
  std::this_thread::sleep_for(200ms);
  auto ahead = std::make_shared<WriteJob>("ahead", 0ms);
  ahead->SetAhead();
  const auto started = Clock::now();
  ASSERT_EQ(device_->StartWrite(ahead), 0);
  EXPECT_EQ(Finish(ahead), Outcome(5, 0));
  EXPECT_LT(Clock::now() - started, 150ms);
  const auto [written, error] = Finish(background);
  EXPECT_EQ(error, ECANCELED);
  const std::string line = MasterRead(2000);
  ASSERT_GE(line.size(), 5u);
  EXPECT_EQ(line.substr(line.size() - 5), "ahead");
  EXPECT_EQ(line.find_first_not_of('b'), line.size() - 5);
  EXPECT_LT(line.size(), 1000u) << "the background's rest went out";
}

TEST_F(TtyDeviceTest, AWriteCutByAHangUpIsNeverComplete) {
  // On a paced pseudo-terminal the far end goes while a job is still being handed
  // over (a second of line), or once all of it is written but not yet sent (50 ms).
  for (const auto& [size, after] : {std::pair{1920, 200ms}, std::pair{90, 10ms}}) {
    SCOPED_TRACE(size);
    TearDown();
    SetUp();
    OpenDevice({}, 19200);
    const auto job = Write(std::string(static_cast<std::size_t>(size), 'h'));
    std::this_thread::sleep_for(after);
    CloseMaster();
    const auto [written, error] = Finish(job);
    EXPECT_EQ(error, EIO);
    EXPECT_LT(written, size);
  }
}

TEST_F(TtyDeviceTest, CancelEndsTheCurrentAndLaterWaitsUntilTheMaskIsSetAgain) {
  OpenDevice({evRxChar});
  auto waiting = WaitInBackground();
  device_->CancelWaitEvents();
  EXPECT_EQ(Collect(waiting).outcome, EventWait::kCancelled);
  EXPECT_EQ(Wait().outcome, EventWait::kCancelled);

  ASSERT_EQ(device_->SetEventMask({evRxChar}), 0);
  MasterWrite("z");
  EXPECT_EQ(Wait().events, TComEvents{evRxChar});
}

TEST_F(TtyDeviceTest, CloseReleasesWaiterAndStalledJob) {
  OpenDevice({evRxChar});
  auto stalled = Write(AllByteValues(256));
  auto waiting = WaitInBackground();
  ASSERT_TRUE(Eventually([&] { return MasterQueue() > 0; }));
  device_->Close();
  EXPECT_EQ(Collect(waiting).outcome, EventWait::kCancelled);
  EXPECT_EQ(Finish(stalled).second, ECANCELED);
  EXPECT_EQ(device_->StartWrite(std::make_shared<WriteJob>("x", 0ms)), EBADF);
}

// Descriptors of this process on the same file as `fd` (by device and inode: a pty
// whose master is gone has lost its name).
int DescriptorsOn(int fd) {
  struct stat of {};
  fstat(fd, &of);
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    struct stat st {};
    n += stat(entry.path().c_str(), &st) == 0 && st.st_dev == of.st_dev && st.st_ino == of.st_ino;
  }
  return n;
}

TEST_F(TtyDeviceTest, HangUpFailsWaitsJobsAndLaterCalls) {
  const auto DescriptorsOnTheTty = [this] { return DescriptorsOn(slave_); };
  OpenDevice({evRxChar, evTxEmpty});
  const int on_the_tty_before = DescriptorsOnTheTty();
  ASSERT_GE(on_the_tty_before, 1);
  auto stalled = Write(AllByteValues(256));
  auto waiting = WaitInBackground();
  ASSERT_TRUE(Eventually([&] { return MasterQueue() > 0; }));
  CloseMaster();

  const EventWait wait = Collect(waiting);
  EXPECT_EQ(wait.outcome, EventWait::kFailed);
  EXPECT_EQ(wait.error, EIO);
  EXPECT_EQ(Finish(stalled).second, EIO);

  char buffer[4];
  int got = 0;
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, got), EIO);
  EXPECT_EQ(device_->StartWrite(std::make_shared<WriteJob>("x", 0ms)), EIO);
  EXPECT_EQ(Wait().outcome, EventWait::kFailed);
  // The tty is let go at once, before Close (an adapter plugged in again gets its old
  // name back): the device holds no descriptor on it any more.
  EXPECT_EQ(DescriptorsOnTheTty(), on_the_tty_before - 1);
  device_->Close();
}

TEST_F(TtyDeviceTest, HangUpEndsAWaitThatWatchesNoInputAndNoWrite) {
  OpenDevice({evRing, evTxEmpty});
  auto waiting = WaitInBackground();
  CloseMaster();
  const EventWait wait = Collect(waiting);
  EXPECT_EQ(wait.outcome, EventWait::kFailed);
  EXPECT_EQ(wait.error, EIO);
}

TEST_F(TtyDeviceTest, HangUpIsNoticedByAReadAlone) {
  OpenDevice();
  CloseMaster();
  char buffer[4];
  int got = 0;
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, got), EIO);
  int count = 0;
  EXPECT_EQ(device_->RxQueueCount(count), EIO);
}

// ---- modem lines ---------------------------------------------------------------

TEST_F(TtyDeviceTest, ADeviceWithoutModemLinesIsNoError) {
  // A pty (or socat's virtual port) has no modem lines: nothing to switch, nothing
  // ringing, and no command need fail for it.
  OpenDevice();
  for (bool on : {true, false}) {
    EXPECT_EQ(device_->SetDTR(on), 0);
    EXPECT_EQ(device_->SetRTS(on), 0);
  }
  ModemLines lines;
  lines.ring = lines.cts = true;
  EXPECT_EQ(device_->ReadModemLines(lines), 0);
  EXPECT_FALSE(lines.ring);
  EXPECT_FALSE(lines.cts);
}

TEST_F(TtyDeviceTest, RingWatchEndsQuietlyWithoutModemLines) {
  int rings = 0;
  int failures = 0;
  RingWatch watch;
  ASSERT_EQ(watch.Start(slave_, [&] { ++rings; }, [&](int) { ++failures; }), 0);
  ASSERT_TRUE(Eventually([&] { return !watch.Running(); }));
  watch.Restart();
  watch.Stop();
  EXPECT_EQ(rings, 0);
  EXPECT_EQ(failures, 0);
}

TEST(RingPulseFilterTest, BothEdgesOfOnePulseAreOneRing) {
  struct Case {
    const char* what;
    std::vector<int> changes_ms;
    int rings;
  };
  const Case cases[] = {
      {"one edge", {0}, 1},
      {"both edges of a 6 ms pulse", {0, 6}, 1},
      {"bouncing", {0, 1, 2, 3, 5, 8, 13}, 1},
      {"two pulses", {0, 6, 40, 46}, 2},
      {"just inside", {0, 19}, 1},
      {"just outside", {0, 20}, 2},
      {"a train of pulses", {0, 6, 25, 31, 50, 56, 75}, 4},
  };
  for (const Case& c : cases) {
    RingPulseFilter filter(20ms);
    const auto origin = RingPulseFilter::Clock::now();
    int rings = 0;
    for (int ms : c.changes_ms) rings += filter.Change(origin + std::chrono::milliseconds(ms));
    EXPECT_EQ(rings, c.rings) << c.what;
  }
}

}  // namespace
}  // namespace qarn2::serial
