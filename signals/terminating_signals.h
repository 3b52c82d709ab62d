#pragma once

namespace qarn2::signals {

// Work that must be done when SIGINT or SIGTERM ends the program: a half-written file
// removed, a serial port's lines dropped. It runs on whatever thread the signal lands
// and may make async-signal-safe calls only.
using Cleanup = void (*)();

// Has `cleanup` run when SIGINT or SIGTERM comes, before the signal goes on to what
// handled it before (by default, the end of the program). A signal that is ignored
// stays ignored. The same function registered again is kept once. False when no more
// can be registered (a fixed few, since the handler may not allocate).
bool RunOnTerminatingSignal(Cleanup cleanup);

}  // namespace qarn2::signals
