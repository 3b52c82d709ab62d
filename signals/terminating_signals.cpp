#include "signals/terminating_signals.h"

#include <signal.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace qarn2::signals {
namespace {

constexpr int kMaxCleanups = 8;
std::atomic<Cleanup> cleanups[kMaxCleanups];
struct sigaction previous_int {};
struct sigaction previous_term {};

void OnTerminatingSignal(int signal_number) {
  for (const std::atomic<Cleanup>& cleanup : cleanups) {
    if (const Cleanup run = cleanup.load()) run();
  }
  // Then whatever handled the signal before, or what it would have done by default.
  const struct sigaction& previous = signal_number == SIGINT ? previous_int : previous_term;
  if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal_number);
    return;
  }
  sigaction(signal_number, &previous, nullptr);
  raise(signal_number);
}

void InstallOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (auto [number, previous] : {std::pair{SIGINT, &previous_int}, std::pair{SIGTERM, &previous_term}}) {
      struct sigaction current {};
      if (sigaction(number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
      struct sigaction action {};
      action.sa_handler = OnTerminatingSignal;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESTART;
      sigaction(number, &action, previous);
    }
  });
}

}  // namespace

bool RunOnTerminatingSignal(Cleanup cleanup) {
  InstallOnce();
  static std::mutex registering;
  std::lock_guard lock(registering);
  for (const std::atomic<Cleanup>& slot : cleanups) {
    if (slot.load() == cleanup) return true;
  }
  for (std::atomic<Cleanup>& slot : cleanups) {
    if (slot.load() == nullptr) {
      slot = cleanup;
      return true;
    }
  }
  return false;
}

}  // namespace qarn2::signals
