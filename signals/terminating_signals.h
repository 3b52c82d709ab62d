#pragma once

#include <signal.h>

namespace qarn2::signals {

// The signals that end the program after the clean-ups have run: Ctrl+C, kill's
// default, the terminal closing, Ctrl+\.
inline constexpr int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Work that must be done when one of kTerminatingSignals ends the program: a
// half-written file removed, a serial port's lines dropped. It runs on whatever thread
// the signal lands and may make async-signal-safe calls only.
using Cleanup = void (*)();

// Has `cleanup` run when one of kTerminatingSignals comes, before the signal goes on
// to what handled it before (by default, the end of the program, with a core dump for
// SIGQUIT). A signal that is ignored stays ignored. The same function registered
// again is kept once. False when no more can be registered (a fixed few, since the
// handler may not allocate).
bool RunOnTerminatingSignal(Cleanup cleanup);

// kTerminatingSignals as a set, to hold them off (pthread_sigmask) while a clean-up
// would find work half done.
sigset_t TerminatingSignalSet();

}  // namespace qarn2::signals
