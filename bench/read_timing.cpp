// How long a read of one CV takes on the simulated track on the real clock, against
// what the method's waits and line times add up to.
//
//   read_timing [--cv N] [--repeats R] [--help]
//
// For "dir" (bit by bit) and "dio" (by candidate values) it reads CV N (default 29,
// the decoder's default value 6) R times (default 5) through the CV command, as the
// window does, and prints the shortest, mean and longest time next to the ideal: the
// line time of every burst (10 bit times of 1/19200 s per character) plus every wait
// at its nominal length (ticks of 10 ms; an acknowledged wait ends at once).

#include <QCoreApplication>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_arguments.h"
#include "encoding/fixed_streams.h"
#include "encoding/serial_encoder.h"
#include "engine/engine.h"
#include "link/hardware_kind.h"
#include "link/track_link.h"
#include "programming/cv_commands.h"
#include "programming/service_packets.h"
#include "sim/simulated_track.h"

namespace {

namespace enc = qarn2::encoding;
namespace prog = qarn2::programming;
using Clock = std::chrono::steady_clock;

constexpr double kCharMs = 10.0 * 1000.0 / 19200.0;
constexpr double kTickMs = 10.0;
constexpr int kCopies = 5;

constexpr char kProgram[] = "read_timing";

void PrintHelp() {
  std::printf(
      "usage: %s [--cv N] [--repeats R]\n"
      "\n"
      "Measures how long reading one CV takes on the simulated track on the real clock,\n"
      "bit by bit (\"dir\") and by candidate values (\"dio\"), and prints the shortest,\n"
      "mean and longest read of each next to the ideal: the line time of every burst plus\n"
      "every wait at its nominal length.\n"
      "\n"
      "  --cv N       the CV to read, 1 to 1024 (default 29)\n"
      "  --repeats R  reads with each method, at least 1 (default 5)\n"
      "  -h, --help   print this help and exit\n",
      kProgram);
}

int NumberAfter(int argc, char** argv, int& i, int low, int high = std::numeric_limits<int>::max()) {
  return qarn2::bench::NumberAfter(kProgram, argc, argv, i, low, high);
}

double BurstMs(const enc::Packet& packet) {
  return kCopies * static_cast<double>(enc::EncodeServicePacket(packet).size()) * kCharMs;
}

// What the bitwise read of `value` should take: 8 bit verifies and a byte verify,
// 4 ticks for each bit not acknowledged, 2 ticks after each bit, 11 at the end.
double IdealDirMs(int cv, int value) {
  double ms = 0;
  for (int bit = 0; bit < 8; ++bit) {
    ms += BurstMs(prog::DirectVerifyBit(cv, bit));
    if (((value >> bit) & 1) == 0) ms += 4 * kTickMs;
    ms += 2 * kTickMs;
  }
  ms += BurstMs(prog::DirectVerifyByte(cv, value));
  return ms + 11 * kTickMs;
}

// The candidate scan up to `value`: a burst each, 4 ticks for each wrong one, 10 at the end.
double IdealDioMs(int cv, int value) {
  double ms = 0;
  for (int candidate = 0; candidate <= value; ++candidate) {
    ms += BurstMs(prog::DirectVerifyByte(cv, candidate));
    if (candidate < value) ms += 4 * kTickMs;
  }
  return ms + 10 * kTickMs;
}

}  // namespace

int main(int argc, char** argv) {
  int cv = 29;
  int repeats = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--cv") {
      cv = NumberAfter(argc, argv, i, 1, 1024);  // all the CVs a decoder has
    } else if (arg == "--repeats") {
      repeats = NumberAfter(argc, argv, i, 1);
    } else {
      qarn2::bench::RefuseUnknown(kProgram, arg);
    }
  }
  QCoreApplication application(argc, argv);
  // The engine as the program builds it for --simulate: the simulated track on the
  // wall clock, Qt's event loop and its 10 ms timer.
  qarn2::engine::EngineOptions options;
  options.simulate = true;
  qarn2::engine::Engine engine(options);
  qarn2::link::TrackLink* link = &engine.Link();
  prog::ProgramState& state = engine.State();
  prog::CvCommands& commands = engine.Cv();
  qarn2::sim::SimulatedTrack& track = engine.Track();
  engine.SetUpHardware(qarn2::link::kBoard);
  link->RestartBackground();
  int value = 0;
  {
    auto lock = track.Lock();
    value = track.Decoder().Cv(cv);
  }
  std::printf("CV %d = %d on the simulated track, real clock, %d reads each\n", cv, value, repeats);
  for (const char* mode : {"dir", "dio"}) {
    state.ProgrammingMode = mode;
    commands.OpenCvBox(false);
    link->WaitTicks(20);
    std::vector<double> ms;
    bool all_read = true;
    for (int r = 0; r < repeats; ++r) {
      const auto start = Clock::now();
      commands.EnterInCvBox(std::to_string(cv));  // as typed into the CV box
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      all_read = all_read && link->AckResult && state.CvValue == value;
      link->WaitTicks(5);
    }
    const double ideal = std::string(mode) == "dir" ? IdealDirMs(cv, value) : IdealDioMs(cv, value);
    double mean = 0;
    for (double m : ms) mean += m / ms.size();
    std::printf("%s: min %.1f ms, mean %.1f ms, max %.1f ms; ideal %.1f ms; mean/ideal %.3f%s\n", mode,
                *std::min_element(ms.begin(), ms.end()), mean, *std::max_element(ms.begin(), ms.end()),
                ideal, mean / ideal, all_read ? "" : "  (READ FAILED)");
  }
  return 0;
}
