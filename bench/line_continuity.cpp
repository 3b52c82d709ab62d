// How continuous the track signal stays while the machine is busy: the simulated track
// on the wall clock, the board's background resets repeating and CV 29 read over and
// over (bit by bit, as "dir" does), with BUSY processes spinning on the same core.
//
//   line_continuity [--seconds S] [--busy N] [--refill-ahead MS] [--log] [--help]
//
// Every idle stretch of the transmit line between two characters is a gap the decoder
// sees (it costs the bit before it, or the preamble after it). Prints the gaps per
// minute, the longest, the reads done and how many of them failed. --refill-ahead
// sets how early the simulated port asks for the next characters (0: only once all it
// holds is in the UART's FIFO). --log polls the live log every 100 ms on the
// user-interface thread, as the window's "Protokoll" does, taking the new entries and
// formatting them, and prints what the polls took.

#include <QCoreApplication>
#include <QTimer>

#include <sched.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <limits>
#include <string>
#include <string_view>
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
      "usage: %s [--seconds S] [--busy N] [--refill-ahead MS] [--log]\n"
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

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  int busy_count = 0;
  int refill_ahead_ms = -1;
  bool with_log = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--log") {
      with_log = true;
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
  options.simulate = true;
  if (refill_ahead_ms >= 0) options.track.refill_ahead = std::chrono::milliseconds(refill_ahead_ms);
  qarn2::engine::Engine engine(options);
  qarn2::link::TrackLink& link = engine.Link();
  engine.SetUpHardware(qarn2::link::kBoard);
  link.RestartBackground();
  link.WaitTicks(10);
  engine.Cv().OpenCvBox(false);
  engine.Track().ClearLog();
  std::unique_ptr<LogPoller> poller = with_log ? std::make_unique<LogPoller>(engine.Log()) : nullptr;

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
