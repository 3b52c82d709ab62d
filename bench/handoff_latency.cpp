// How long a serial notification takes from the port's event thread to its handler on
// the user-interface thread, with the Qt event loop running.
//
//   handoff_latency [--mode port|deliver|both] [--samples N] [--gap-us G] [--help]
//
// port:    a real TComPort over a stand-in device whose WaitEvents reports transmit
//          empty at once (or after G microseconds of idle line); measured from the
//          moment WaitEvents returns on the event thread to the start of OnTxEmpty.
// deliver: QtHandOff::Deliver called from a plain thread; measured from the call to
//          the start of the notification.
// The first kWarmUp hand-offs of each mode are not counted.

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/bench_arguments.h"
#include "qtadapter/qt_hand_off.h"
#include "serial/com_port.h"
#include "serial/serial_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using qarn2::qtadapter::QtHandOff;
namespace serial = qarn2::serial;

constexpr int kWarmUp = 200;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// Collects the latencies on the user-interface thread.
class Samples {
 public:
  explicit Samples(int wanted) : wanted_(wanted) { values_ns_.reserve(wanted); }
  // Returns true once enough samples are in.
  bool Add(std::int64_t from_ns, std::int64_t to_ns) {
    if (seen_++ >= kWarmUp) values_ns_.push_back(to_ns - from_ns);
    return Full();
  }
  bool Full() const { return static_cast<int>(values_ns_.size()) >= wanted_; }
  std::vector<std::int64_t>& values() { return values_ns_; }

 private:
  int wanted_;
  int seen_ = 0;
  std::vector<std::int64_t> values_ns_;
};

// A device that has nothing to send: every WaitEvents reports transmit empty, after
// `gap` of idle line, until `limit` events have been reported; then it waits to be
// cancelled. Everything else succeeds and does nothing.
class TxEmptySource : public serial::SerialDevice {
 public:
  TxEmptySource(int limit, std::chrono::microseconds gap, std::atomic<std::int64_t>& produced_ns)
      : limit_(limit), gap_(gap), produced_ns_(produced_ns) {}

  int Open(const std::string&) override { return 0; }
  void Close() override { CancelWaitEvents(); }
  int SetQueueSizes(int, int) override { return 0; }
  int SetLineSettings(const serial::LineSettings&) override { return 0; }
  int SetTimeouts(const serial::TimeoutValues&) override { return 0; }
  int StartWrite(std::shared_ptr<serial::WriteJob> job) override {
    job->Complete(static_cast<int>(job->data().size()), 0);
    return 0;
  }
  int Read(char*, int, int& got) override {
    got = 0;
    return 0;
  }
  int RxQueueCount(int& count) override {
    count = 0;
    return 0;
  }
  int Purge() override { return 0; }
  int SetDTR(bool) override { return 0; }
  int SetRTS(bool) override { return 0; }
  int ReadModemLines(serial::ModemLines& lines) override {
    lines = {};
    return 0;
  }
  int SetEventMask(serial::TComEvents) override {
    std::lock_guard lock(mutex_);
    cancelled_ = false;
    return 0;
  }

  serial::EventWait WaitEvents() override {
    std::unique_lock lock(mutex_);
    if (gap_.count() > 0) cancel_.wait_for(lock, gap_, [this] { return cancelled_; });
    if (produced_ == limit_) cancel_.wait(lock, [this] { return cancelled_; });
    if (cancelled_) return {serial::EventWait::kCancelled, {}, 0};
    ++produced_;
    produced_ns_ = NowNs();
    return {serial::EventWait::kEvents, {serial::evTxEmpty}, 0};
  }

  void CancelWaitEvents() override {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    cancel_.notify_all();
  }

 private:
  const int limit_;
  const std::chrono::microseconds gap_;
  std::atomic<std::int64_t>& produced_ns_;
  std::mutex mutex_;
  std::condition_variable cancel_;
  bool cancelled_ = false;
  int produced_ = 0;
};

void MeasureThroughPort(QtHandOff& hand_off, Samples& samples, int total,
                        std::chrono::microseconds gap) {
  std::atomic<std::int64_t> produced_ns{0};
  serial::TComPort port(hand_off, [&](const std::string&) {
    return std::make_unique<TxEmptySource>(total, gap, produced_ns);
  });
  port.SetSyncMethod(serial::smWindowSync);
  port.SetEvents({serial::evRxChar, serial::evTxEmpty, serial::evRing});
  port.OnTxEmpty = [&](serial::TCustomComPort&) {
    const std::int64_t start = NowNs();
    if (samples.Add(produced_ns, start)) QCoreApplication::quit();
  };
  port.Open();
  QCoreApplication::exec();
  port.Close();
}

void MeasureDeliverAlone(QtHandOff& hand_off, Samples& samples, int total,
                         std::chrono::microseconds gap) {
  std::thread deliverer([&] {
    for (int i = 0; i < total; ++i) {
      if (gap.count() > 0) std::this_thread::sleep_for(gap);
      const std::int64_t called = NowNs();
      hand_off.Deliver([&] { samples.Add(called, NowNs()); });
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::quit(); },
                              Qt::QueuedConnection);
  });
  QCoreApplication::exec();
  deliverer.join();
}

double Micros(std::int64_t ns) { return static_cast<double>(ns) / 1000.0; }

// Nearest-rank percentile of sorted values.
std::int64_t Percentile(const std::vector<std::int64_t>& sorted, double p) {
  const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
  return sorted[std::max<std::size_t>(rank, 1) - 1];
}

void PrintRow(const char* mode, long gap_us, std::vector<std::int64_t>& values) {
  std::sort(values.begin(), values.end());
  std::printf("%-8s %7ld %8zu %9.1f %9.1f %9.1f %9.1f\n", mode, gap_us, values.size(),
              Micros(Percentile(values, 0.5)), Micros(Percentile(values, 0.9)),
              Micros(Percentile(values, 0.99)), Micros(values.back()));
  std::fflush(stdout);
}

constexpr char kProgram[] = "handoff_latency";
// Upper bounds that keep the counts and the waits far from overflowing.
constexpr int kMaxSamples = 10'000'000;
constexpr int kMaxGapUs = 1'000'000;

void PrintHelp() {
  std::printf(
      "usage: %s [--mode port|deliver|both] [--samples N] [--gap-us G]\n"
      "\n"
      "Measures how long a serial notification takes from the port's event thread to its\n"
      "handler on the user-interface thread, with the Qt event loop running, and prints\n"
      "the median, 90th and 99th percentile and the longest, in microseconds. The first\n"
      "%d hand-offs of each mode are not counted.\n"
      "\n"
      "  --mode M     port: through a serial port over a stand-in device that reports\n"
      "               transmit-empty over and over, from the end of its wait for events to\n"
      "               the start of the handler; deliver: hand-offs from a plain thread\n"
      "               alone, from the call to the start of the notification; both: port,\n"
      "               then deliver (default both)\n"
      "  --samples N  hand-offs counted in each mode, 1 to %d (default 20000)\n"
      "  --gap-us G   microseconds of idle line before each hand-off, 0 to %d (default 0)\n"
      "  -h, --help   print this help and exit\n",
      kProgram, kWarmUp, kMaxSamples, kMaxGapUs);
}

[[noreturn]] void Refuse(const std::string& problem) { qarn2::bench::Refuse(kProgram, problem); }

int NumberAfter(int argc, char** argv, int& i, int low, int high = std::numeric_limits<int>::max()) {
  return qarn2::bench::NumberAfter(kProgram, argc, argv, i, low, high);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = "both";
  int samples_wanted = 20000;
  long gap_us = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintHelp();
      return 0;
    } else if (arg == "--mode") {
      if (++i == argc) Refuse("--mode needs a value");
      mode = argv[i];
      if (mode != "port" && mode != "deliver" && mode != "both") {
        Refuse("--mode takes port, deliver or both, not '" + mode + "'");
      }
    } else if (arg == "--samples") {
      samples_wanted = NumberAfter(argc, argv, i, 1, kMaxSamples);
    } else if (arg == "--gap-us") {
      gap_us = NumberAfter(argc, argv, i, 0, kMaxGapUs);
    } else {
      qarn2::bench::RefuseUnknown(kProgram, arg);
    }
  }

  QCoreApplication app(argc, argv);
  QtHandOff hand_off;
  const std::chrono::microseconds gap(gap_us);
  const int total = samples_wanted + kWarmUp;

  std::printf("hand-off latency in microseconds (first %d hand-offs not counted)\n", kWarmUp);
  std::printf("%-8s %7s %8s %9s %9s %9s %9s\n", "mode", "gap_us", "samples", "median", "p90",
              "p99", "max");
  if (mode != "deliver") {
    Samples samples(samples_wanted);
    MeasureThroughPort(hand_off, samples, total, gap);
    PrintRow("port", gap_us, samples.values());
  }
  if (mode != "port") {
    Samples samples(samples_wanted);
    MeasureDeliverAlone(hand_off, samples, total, gap);
    PrintRow("deliver", gap_us, samples.values());
  }
  return 0;
}
