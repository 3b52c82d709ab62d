#include "sim/simulated_ports.h"

#include "serial/tty_device.h"

namespace qarn2::sim {

serial::DeviceFactory DevicesWithSimulatedTrack(SimulatedTrack& track) {
  return [&track](const std::string& path) -> std::unique_ptr<serial::SerialDevice> {
    if (path == kSimulatedPath) return track.MakeDevice();
    return serial::MakeTtyDevice();
  };
}

void MapEveryPortToTheTrack(serial::PortMap& ports) {
  for (int n = 1; n <= 16; ++n) ports.Set("COM" + std::to_string(n), kSimulatedPath);
}

}  // namespace qarn2::sim
