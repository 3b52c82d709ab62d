#include "ui/program_options.h"

namespace qarn2::ui {

ParsedOptions ParseProgramOptions(std::span<const std::string> args) {
  ParsedOptions parsed;
  ProgramOptions& options = parsed.options;
  for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg == "--sim-trait") {
      if (!has_value) {
        parsed.error = arg + " needs a value";
      } else if (const std::string problem = sim::ApplyDecoderTrait(args[++i], options.sim_traits);
                 !problem.empty()) {
        parsed.error = "--sim-trait '" + args[i] + "': " + problem;
      }
    } else if (arg == "--port" || arg == "--sim-decoder") {
      if (!has_value) {
        parsed.error = arg + " needs a value";
      } else if (arg == "--sim-decoder") {
        options.sim_decoder = args[++i];
      } else if (const std::string& value = args[++i]; !options.ports.AddOption(value)) {
        parsed.error = "--port takes COMn=PATH with n from 1 to 16, not '" + value + "'";
      }
    } else {
      parsed.error = "unknown argument '" + arg + "'";
    }
    if (arg.starts_with("--sim-") && options.sim_option.empty()) options.sim_option = arg;
  }
  if (parsed.error.empty()) parsed.error = engine::ConflictingOptions(EngineOptionsFor(options));
  return parsed;
}

std::string ProgramUsage() {
  return std::string(R"(Usage: qarn2 [OPTIONS]
The DCC decoder service program: one window to read and write a decoder's CVs on the
programming track.

Options:
  --simulate           every port is the simulated programming track, so everything
                       can be tried without hardware.
  --port COMn=PATH     the device behind COMn for this run, e.g. COM1=/dev/ttyUSB0;
                       PATH "sim" is the simulated programming track. Without it COMn
                       is /dev/ttyS<n-1>. May be given more than once.
  --sim-decoder FILE   the simulated decoder's CVs come from the decoder file FILE
                       and are written back to it when the program ends.
)") + sim::DecoderTraitsHelp() + R"(  --help               this text.
--sim-decoder and --sim-trait imply --simulate unless a --port names "sim"; with a
--port that names a real device they are refused.
)";
}

engine::EngineOptions EngineOptionsFor(const ProgramOptions& options) {
  engine::EngineOptions engine_options;
  engine_options.ports = options.ports;
  engine_options.simulate = options.simulate;
  engine_options.sim_decoder = options.sim_decoder;
  engine_options.sim_option = options.sim_option;
  engine_options.track.decoder = options.sim_traits;
  // "Protokoll" shows what goes to a real port too.
  engine_options.live_log = true;
  return engine_options;
}

serial::PortMap PortsFor(const ProgramOptions& options) { return engine::PortsFor(EngineOptionsFor(options)); }

}  // namespace qarn2::ui
