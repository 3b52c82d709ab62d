// How continuous the track signal stays while the machine is busy: the simulated track
// on the wall clock, the board's background resets repeating and CV 29 read over and
// over (bit by bit, as "dir" does), with BUSY processes spinning on the same core.
//
//   line_continuity [--seconds S] [--busy N] [--refill-ahead MS]
//
// Every idle stretch of the transmit line between two characters is a gap the decoder
// sees (it costs the bit before it, or the preamble after it). Prints the gaps per
// minute, the longest, the reads done and how many of them failed. --refill-ahead
// sets how early the simulated port asks for the next characters (0: only once all it
// holds is in the UART's FIFO).

#include <QCoreApplication>

#include <sched.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "link/hardware_kind.h"

namespace {

using Clock = std::chrono::steady_clock;

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

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  int busy_count = 0;
  int refill_ahead_ms = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--busy") == 0) busy_count = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--refill-ahead") == 0) refill_ahead_ms = std::atoi(argv[i + 1]);
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
  return 0;
}
