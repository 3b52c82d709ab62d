#include "signals/terminating_signals.h"

#include <signal.h>

#include <atomic>
#include <iterator>
#include <mutex>

namespace qarn2::signals {
namespace {

constexpr int kMaxCleanups = 8;
std::atomic<Cleanup> cleanups[kMaxCleanups];
// What handled each of kTerminatingSignals before, at the same index.
struct sigaction previous_actions[std::size(kTerminatingSignals)] = {};

void OnTerminatingSignal(int signal_number) {
  for (const std::atomic<Cleanup>& cleanup : cleanups) {
    if (const Cleanup run = cleanup.load()) run();
  }
  // Then whatever handled the signal before, or what it would have done by default.
  std::size_t index = 0;
  while (kTerminatingSignals[index] != signal_number) ++index;
  const struct sigaction& previous = previous_actions[index];
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
    for (std::size_t i = 0; i < std::size(kTerminatingSignals); ++i) {
      const int number = kTerminatingSignals[i];
      struct sigaction current {};
      if (sigaction(number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
      struct sigaction action {};
      action.sa_handler = OnTerminatingSignal;
      sigemptyset(&action.sa_mask);
      action.sa_flags = SA_RESTART;
      sigaction(number, &action, &previous_actions[i]);
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

sigset_t TerminatingSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : kTerminatingSignals) sigaddset(&set, number);
  return set;
}

}  // namespace qarn2::signals
