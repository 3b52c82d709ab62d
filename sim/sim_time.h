#pragma once

#include <chrono>

namespace qarn2::sim {

// A point in simulated time: the time since the simulation started. The models of
// this folder keep no clock of their own; every call passes the time in.
using SimTime = std::chrono::nanoseconds;

}  // namespace qarn2::sim
