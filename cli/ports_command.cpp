#include "cli/ports_command.h"

#include <ostream>

#include "cli/command_line.h"
#include "cli/track_options.h"
#include "engine/port_advice.h"
#include "engine/serial_port_list.h"

namespace qarn2::cli {

std::string PortsUsage() {
  return R"(  qarn2-cli ports [--port COMn=PATH]...
      Every serial device of this machine, one a line: its path, the COMn the
      options lead to it, the driver, a USB adapter's vendor:product and name,
      whether it is a system console (never taken as the default COM1) and
      whether you may open it (else the device file's owner, group and mode,
      or that there is no device file); below it the stable
      /dev/serial/by-id/ name, which --port takes too.
)";
}

int RunPorts(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  TrackOptions options;
  CommandScan scan = ScanCommand(
      args, WithTrackOptions({}),
      [&](std::string_view name, const std::string& value) {
        std::string error;
        TakeTrackOption(name, value, options, error);
        return error;
      },
      true);
  if (scan.help) {
    out << "Usage:\n" << PortsUsage();
    return kExitOk;
  }
  // The tool has always called what it does not take here an argument.
  if (scan.error.starts_with("unknown option")) scan.error.replace(0, 14, "unknown argument");
  if (scan.error.empty() && !scan.operands.empty()) scan.error = "unknown argument '" + scan.operands[0] + "'";
  if (!scan.error.empty()) {
    err << "qarn2-cli: ports: " << scan.error << '\n';
    return kExitUsage;
  }
  const auto ports = engine::ListSerialPorts(*engine::MakeUdevPortSource(), engine::ActiveConsoles(),
                                            engine::PortsFor(options));
  for (const engine::SerialPortInfo& port : ports) out << engine::FormatSerialPort(port) << '\n';
  if (ports.empty()) err << "qarn2-cli: ports: no serial device found\n";
  return kExitOk;
}

}  // namespace qarn2::cli
