#pragma once

#include <string>

namespace qarn2::serial {

// How urgently a thread of the program is to run.
enum class Urgency {
  kLine,       // keeps the transmit line busy (the port's event thread, a simulated UART)
  kInterface,  // the user-interface thread, which refills the background stream
};

// Gives the calling thread the highest priority the process may take for `urgency`:
// real-time scheduling (SCHED_FIFO) where RLIMIT_RTPRIO or the capability allows it,
// the line above the interface; else the best nice value RLIMIT_NICE allows. Never
// fails; returns what the thread got ("SCHED_FIFO 20", "nice -5", "unchanged").
std::string RaiseThreadPriority(Urgency urgency);

// The calling thread's scheduling, to be put back when the urgent work is over (a
// thread that goes on with other work must not keep a real-time priority).
struct ThreadPriority {
  int policy = 0;
  int priority = 0;
  int nice = 0;
};
ThreadPriority CurrentThreadPriority();
void RestoreThreadPriority(const ThreadPriority& saved);

}  // namespace qarn2::serial
