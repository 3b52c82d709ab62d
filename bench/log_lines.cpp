// How many lines of the window's "Protokoll" the background alone takes: the
// simulated track on virtual time, the board's resets repeating (with --tryout a
// locomotive try-out open and left alone instead), the log polled every 100 ms as the
// window does, with and without "nur Befehle".
//
//   log_lines [--minutes M] [--tryout] [--help]
//
// Prints the packets the track got, the lines listed either way, and how long the run
// took on the wall clock.

#include <QCoreApplication>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_arguments.h"
#include "engine/engine.h"
#include "engine/shown_track_log.h"
#include "engine/track_log.h"
#include "link/hardware_kind.h"

namespace {

constexpr char kProgram[] = "log_lines";

void PrintHelp() {
  std::printf(
      "usage: %s [--minutes M] [--tryout]\n"
      "\n"
      "Runs the simulated track on virtual time with nothing but the background for M\n"
      "minutes, polls the track log every 100 ms as the window's \"Protokoll\" does, and\n"
      "prints the packets logged and the lines the list holds, with all lines and with\n"
      "\"nur Befehle\".\n"
      "\n"
      "  --minutes M  virtual minutes to run, at least 1 (default 10)\n"
      "  --tryout     a locomotive try-out open and left alone (default: the board's\n"
      "               resets)\n"
      "  -h, --help   print this help and exit\n",
      kProgram);
}

// How many lines a list holds that follows `shown`.
struct ListLength {
  void Poll() {
    const qarn2::engine::ShownTrackLog::Update update = shown.Poll();
    lines = lines + update.added.size() - update.dropped;
  }
  qarn2::engine::ShownTrackLog& shown;
  std::size_t lines = 0;
};

}  // namespace

int main(int argc, char** argv) {
  int minutes = 10;
  bool tryout = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--tryout") {
      tryout = true;
    } else if (arg == "--minutes") {
      minutes = qarn2::bench::NumberAfter(kProgram, argc, argv, i, 1, 24 * 60);
    } else {
      qarn2::bench::RefuseUnknown(kProgram, arg);
    }
  }
  QCoreApplication application(argc, argv);
  qarn2::engine::EngineOptions options;
  options.simulate = true;
  options.virtual_time = true;
  qarn2::engine::Engine engine(options);
  qarn2::engine::ShownTrackLog all(engine.Log());
  qarn2::engine::ShownTrackLog commands(engine.Log());
  commands.ShowCommandsOnly(true);
  ListLength all_lines{all};
  ListLength command_lines{commands};
  std::uint64_t next = 0;
  std::uint64_t packets = 0;
  const auto poll = [&] {
    all_lines.Poll();
    command_lines.Poll();
    for (std::size_t got = qarn2::engine::LiveTrackLog::kMaxPerPoll; got == qarn2::engine::LiveTrackLog::kMaxPerPoll;) {
      const std::vector<qarn2::sim::TrackLogEntry> entries = engine.Log().Since(next);
      got = entries.size();
      for (const qarn2::sim::TrackLogEntry& e : entries) packets += e.kind == qarn2::sim::TrackLogEntry::kPacket;
    }
  };
  int ticks = 0;
  engine.SetTickHook([&] {
    if (++ticks % 10 == 0) poll();
  });

  const auto start = std::chrono::steady_clock::now();
  engine.Link().HardwareKind = qarn2::link::kBoard;
  engine.SetUpHardware(qarn2::link::kBoard);
  engine.Link().RestartBackground();
  if (tryout) engine.TryOut().OpenLocomotiveTryOut();
  engine.Link().WaitTicks(minutes * 60 * 100);
  poll();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d min of %s on virtual time: %llu packets, %zu lines listed, %zu with \"nur Befehle\"; %.2f s\n",
              minutes, tryout ? "a try-out left alone" : "the board's resets",
              static_cast<unsigned long long>(packets), all_lines.lines, command_lines.lines, seconds);
  return 0;
}
