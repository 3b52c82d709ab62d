// How continuous the track signal stays while the machine is busy: the simulated track
// on the wall clock, the board's background resets repeating and CV 29 read over and
// over (bit by bit, as "dir" does), with BUSY processes spinning on the same core.
//
//   line_continuity [--seconds S] [--busy N] [--refill-ahead MS] [--log] [--pty] [--help]
//
// Every idle stretch of the transmit line between two characters is a gap the decoder
// sees (it costs the bit before it, or the preamble after it). Prints the gaps per
// minute, the longest, the reads done and how many of them failed. --refill-ahead
// sets how early the simulated port asks for the next characters (0: only once all it
// holds is in the UART's FIFO). --log polls the live log every 100 ms on the
// user-interface thread, as the window's "Protokoll" does, taking the new entries and
// formatting them, and prints what the polls took. --pty runs the program on a
// pseudo-terminal instead (a virtual port) and plays its far side, reading at once
// what comes: prints the rate the far side got against the line's, how far it ever ran
// behind the line's schedule (what the program lost of the line: its gaps) and the
// program's CPU time.

#include <QCoreApplication>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/resource.h>
#include <termios.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_arguments.h"
#include "engine/engine.h"
#include "engine/track_log.h"
#include "link/hardware_kind.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kProgram[] = "line_continuity";

void PrintHelp() {
  // What the simulated port does when --refill-ahead is not given.
  const long long refill_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  qarn2::engine::EngineOptions().track.refill_ahead)
                                  .count();
  std::printf(
      "usage: %s [--seconds S] [--busy N] [--refill-ahead MS] [--log] [--pty]\n"
      "\n"
      "Measures how continuous the track signal stays while the machine is busy: runs the\n"
      "simulated track on the wall clock with the board's background resets and reads CV 29\n"
      "bit by bit over and over, all on CPU 0, then prints the gaps in the transmit line\n"
      "(idle stretches between two characters) per minute, the longest gap, the reads done\n"
      "and how many of them failed.\n"
      "\n"
      "  --seconds S        run for S seconds (at least 1; default 60)\n"
      "  --busy N           keep N spinning processes on the same core meanwhile (default 0)\n"
      "  --refill-ahead MS  the simulated port asks for more to send once what is not yet in\n"
      "                     the UART's FIFO lasts MS milliseconds or less; 0: only once all\n"
      "                     is in it (default %lld)\n"
      "  --log              also poll the live log every 100 ms as the window's log does,\n"
      "                     and print what the polls took (default: no polling)\n"
      "  --pty              run on a pseudo-terminal (a virtual port) instead, read its far\n"
      "                     side at once and print the rate it got, how far it ran behind\n"
      "                     the line's schedule, and the CPU time the program used\n"
      "  -h, --help         print this help and exit\n",
      kProgram, refill_ms);
}

int NumberAfter(int argc, char** argv, int& i, int low, int high = std::numeric_limits<int>::max()) {
  return qarn2::bench::NumberAfter(kProgram, argc, argv, i, low, high);
}

// Everything on CPU 0: the program's threads and the busy processes compete there.
void OnCpuZero() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  CPU_SET(0, &cpus);
  sched_setaffinity(0, sizeof cpus, &cpus);
}

std::vector<pid_t> StartBusy(int count) {
  std::vector<pid_t> busy;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      // An ordinary process: not the real-time priority the program may have taken.
      sched_param normal{};
      sched_setscheduler(0, SCHED_OTHER, &normal);
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the benchmark
      OnCpuZero();
      for (;;) asm volatile("" ::: "memory");  // spins, and is not optimised away
    }
    if (pid > 0) busy.push_back(pid);
  }
  return busy;
}

// "... (1.234 ms idle)" of a gap entry.
double IdleMs(const std::string& text) {
  const std::size_t idle = text.find(" ms idle)");
  if (idle == std::string::npos) return 0.0;
  const std::size_t at = text.rfind('(', idle);
  return at == std::string::npos ? 0.0 : std::atof(text.c_str() + at + 1);
}

// What the window's log does every 100 ms: takes the new entries and makes their lines.
class LogPoller {
 public:
  explicit LogPoller(qarn2::engine::LiveTrackLog& log) : log_(log) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(100);
  }

  void Poll() {
    const Clock::time_point start = Clock::now();
    std::uint64_t lost = 0;
    for (const qarn2::sim::TrackLogEntry& entry : log_.Since(next_, &lost)) {
      characters_ += qarn2::sim::FormatLogEntry(entry).size();
      ++entries_;
    }
    lost_ += lost;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    ++polls_;
    total_ms_ += ms;
    longest_ms_ = std::max(longest_ms_, ms);
  }

  void Print() const {
    std::printf("log: %d polls, %llu entries (%llu characters), %llu lost; a poll %.3f ms on average, "
                "%.3f ms at most\n",
                polls_, static_cast<unsigned long long>(entries_), static_cast<unsigned long long>(characters_),
                static_cast<unsigned long long>(lost_), polls_ ? total_ms_ / polls_ : 0.0, longest_ms_);
  }

 private:
  qarn2::engine::LiveTrackLog& log_;
  QTimer timer_;
  std::uint64_t next_ = 0;
  std::uint64_t entries_ = 0;
  std::uint64_t characters_ = 0;
  std::uint64_t lost_ = 0;
  int polls_ = 0;
  double total_ms_ = 0;
  double longest_ms_ = 0;
};

// The far side of a pseudo-terminal: reads what comes at once, on a core of its own
// where there is one (another program on the machine), and notes when.
class FarSide {
 public:
  bool Open() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return false;
    path_ = name;
    termios raw{};
    tcgetattr(master_, &raw);
    cfmakeraw(&raw);
    tcsetattr(master_, TCSANOW, &raw);
    reader_ = std::thread([this] { Read(); });
    return true;
  }
  ~FarSide() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  const std::string& Path() const { return path_; }

  // The rate the far side got from its first second on, the longest it waited for
  // characters, and how far it ever fell behind its own best lead on the line's
  // schedule: more than the program's lead (50 ms) means the line ran dry.
  void Print(double characters_per_second) {
    stop_ = true;
    reader_.join();
    const Clock::time_point first = arrivals_.empty() ? Clock::now() : arrivals_.front().first;
    long long total = 0;
    long long from = -1;  // characters before the first second's end
    Clock::time_point from_time = first;
    double best_lead = -1e9, slip_ms = 0, wait_ms = 0;
    Clock::time_point last = first;
    for (const auto& [when, count] : arrivals_) {
      total += count;
      const double lead = (static_cast<double>(total) -
                           std::chrono::duration<double>(when - first).count() * characters_per_second) *
                          1000.0 / characters_per_second;
      best_lead = std::max(best_lead, lead);
      slip_ms = std::max(slip_ms, best_lead - lead);
      wait_ms = std::max(wait_ms, std::chrono::duration<double, std::milli>(when - last).count());
      last = when;
      if (from < 0 && when - first >= std::chrono::seconds(1)) {
        from = total;
        from_time = when;
      }
    }
    const double seconds = std::chrono::duration<double>(last - from_time).count();
    if (from < 0 || seconds <= 0) {
      std::printf("pty: too little arrived (%lld characters)\n", total);
      return;
    }
    const double rate = static_cast<double>(total - from) / seconds;
    std::printf("pty: %lld characters; from the first second on %.3f s at %.1f a second (%+.2f %% of the "
                "line's %.0f); longest wait %.1f ms; fell behind its best lead by at most %.1f ms\n",
                total, seconds, rate, (rate / characters_per_second - 1) * 100, characters_per_second, wait_ms,
                slip_ms);
  }

 private:
  void Read() {
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores > 1) {
      cpu_set_t others;
      CPU_ZERO(&others);
      for (unsigned c = 1; c < cores; ++c) CPU_SET(c, &others);
      sched_setaffinity(0, sizeof others, &others);
    }
    char buffer[4096];
    while (!stop_) {
      pollfd watched = {master_, POLLIN, 0};
      if (poll(&watched, 1, 50) <= 0) continue;
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n > 0) arrivals_.emplace_back(Clock::now(), n);
    }
  }

  int master_ = -1;
  int slave_ = -1;  // keeps the pseudo-terminal there between runs of the program
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread reader_;
  std::vector<std::pair<Clock::time_point, long long>> arrivals_;
};

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  int busy_count = 0;
  int refill_ahead_ms = -1;
  bool with_log = false;
  bool on_pty = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--log") {
      with_log = true;
    } else if (arg == "--pty") {
      on_pty = true;
    } else if (arg == "--seconds") {
      seconds = NumberAfter(argc, argv, i, 1);
    } else if (arg == "--busy") {
      busy_count = NumberAfter(argc, argv, i, 0);
    } else if (arg == "--refill-ahead") {
      refill_ahead_ms = NumberAfter(argc, argv, i, 0);
    } else {
      qarn2::bench::RefuseUnknown(kProgram, arg);
    }
  }
  OnCpuZero();  // before any thread is made: they all inherit it
  QCoreApplication application(argc, argv);
  qarn2::engine::EngineOptions options;
  FarSide far_side;
  if (on_pty) {
    if (!far_side.Open()) {
      std::fprintf(stderr, "%s: no pseudo-terminal\n", kProgram);
      return 1;
    }
    options.ports.Set("COM1", far_side.Path());
  } else {
    options.simulate = true;
  }
  if (refill_ahead_ms >= 0) options.track.refill_ahead = std::chrono::milliseconds(refill_ahead_ms);
  qarn2::engine::Engine engine(options);
  qarn2::link::TrackLink& link = engine.Link();
  engine.SetUpHardware(qarn2::link::kBoard);
  link.RestartBackground();
  link.WaitTicks(10);
  engine.Cv().OpenCvBox(false);
  engine.Track().ClearLog();
  std::unique_ptr<LogPoller> poller = with_log ? std::make_unique<LogPoller>(engine.Log()) : nullptr;

  const double cpu_before = CpuSeconds();
  const std::vector<pid_t> busy = StartBusy(busy_count);
  const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
  int reads = 0;
  int failed = 0;
  while (Clock::now() < end) {
    engine.Cv().EnterInCvBox("29");
    ++reads;
    failed += !link.AckResult;
  }
  for (pid_t pid : busy) kill(pid, SIGKILL);
  for (pid_t pid : busy) waitpid(pid, nullptr, 0);
  if (poller) poller->Poll();  // what came since the last poll
  if (on_pty) {
    const double cpu = CpuSeconds() - cpu_before;
    std::printf("%d s, %d busy on the same core: %d reads (a pseudo-terminal answers none); CPU %.2f s, "
                "%.1f %% of a core\n",
                seconds, busy_count, reads, cpu, cpu * 100.0 / seconds);
    far_side.Print(19200 / 10.0);
    if (poller) poller->Print();
    return 0;
  }

  int gaps = 0;
  double longest = 0;
  for (const qarn2::sim::TrackLogEntry& e : engine.Track().Log()) {
    if (e.kind != qarn2::sim::TrackLogEntry::kBreak || e.text.find("gap") == std::string::npos) continue;
    ++gaps;
    longest = std::max(longest, IdleMs(e.text));
  }
  std::printf("refill %lld us ahead, ", static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(options.track.refill_ahead).count()));
  std::printf("%d s, %d busy on the same core: %d gaps (%.2f a minute), longest %.3f ms; %d reads, %d failed\n",
              seconds, busy_count, gaps, gaps * 60.0 / seconds, longest, reads, failed);
  if (poller) poller->Print();
  return 0;
}
