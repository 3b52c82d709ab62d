#pragma once

#include "serial/com_port.h"
#include "serial/port_map.h"
#include "sim/simulated_track.h"

namespace qarn2::sim {

// The device path that stands for the simulated track in a port map.
inline constexpr const char* kSimulatedPath = "sim";

// Opens the simulated track for the path "sim" and a Linux tty for every other.
serial::DeviceFactory DevicesWithSimulatedTrack(SimulatedTrack& track);

// Every port COM1..COM16 on the simulated track (--simulate).
void MapEveryPortToTheTrack(serial::PortMap& ports);

}  // namespace qarn2::sim
