#include "ui/program_options.h"

#include "cmdline/long_options.h"
#include "decoderdefs/decoder_definitions.h"

namespace qarn2::ui {

ParsedOptions ParseProgramOptions(std::span<const std::string> args) {
  ParsedOptions parsed;
  ProgramOptions& options = parsed.options;
  static constexpr cmdline::LongOption kOptions[] = {
      {"help", false},        {"version", false},    {"simulate", false},
      {"port", true},         {"sim-decoder", true}, {"sim-trait", true},
      {"jmri", true},
  };
  const cmdline::Scan scan =
      cmdline::ScanOptions(args, kOptions, [&](std::string_view name, const std::string& value) -> std::string {
        if (name.starts_with("sim-") && options.sim_option.empty()) options.sim_option = "--" + std::string(name);
        if (name == "help") {
          options.help = true;
        } else if (name == "version") {
          options.version = true;
        } else if (name == "simulate") {
          options.simulate = true;
        } else if (name == "jmri") {
          std::string problem;
          decoderdefs::FindDefinitions(value, problem);
          if (!problem.empty()) return "--jmri: " + problem;
          options.jmri = value;
        } else if (name == "sim-decoder") {
          options.sim_decoder = value;
        } else if (name == "sim-trait") {
          if (const std::string problem = sim::ApplyDecoderTrait(value, options.sim_traits); !problem.empty()) {
            return "--sim-trait '" + value + "': " + problem;
          }
        } else if (!options.ports.AddOption(value)) {
          return "--port takes COMn=PATH with n from 1 to 16, not '" + value + "'";
        }
        return "";
      });
  if (!scan.unknown.empty()) {
    parsed.error = "unknown argument '" + scan.unknown + "'";
  } else if (!scan.missing_value.empty()) {
    parsed.error = scan.missing_value + " needs a value";
  } else if (!scan.extra_value.empty()) {
    parsed.error = scan.extra_value + " takes no value";
  } else if (!scan.error.empty()) {
    parsed.error = scan.error;
  } else if (scan.operands.size() > 1) {
    parsed.error = "one decoder file at a time: '" + scan.operands[0] + "' or '" + scan.operands[1] + "'?";
  } else if (scan.operands.size() == 1) {
    options.file = scan.operands[0];
  }
  if (parsed.error.empty()) parsed.error = engine::ConflictingOptions(EngineOptionsFor(options));
  return parsed;
}

std::string ProgramUsage() {
  return std::string(R"(Usage: qarn2 [OPTIONS] [FILE]
The DCC decoder service program: one window to read and write a decoder's CVs on the
programming track. FILE is a decoder file the window opens at start, as
"Decoderdatei öffnen" would.

Options:
  --simulate           every port is the simulated programming track, so everything
                       can be tried without hardware.
  --port COMn=PATH     the device behind COMn for this run, e.g. COM1=/dev/ttyUSB0;
                       PATH "sim" is the simulated programming track. Without it COM1
                       and COM2 are the devices chosen under "Konfiguration" / "Ports"
                       / "Geräte...", saved in ~/.config/qarn2/qarn2.ini (which
                       qarn2-cli never reads), else COMn is /dev/ttyS<n-1>. May be
                       given more than once; it wins over the saved choice.
  --jmri DIR           JMRI's folder (its program folder or its xml folder), whose
                       decoder definitions "Erkennen" and "Decoderblatt aus
                       Definition..." use; without it ~/JMRI, /opt/JMRI,
                       /usr/local/JMRI, /usr/share/jmri and ~/.jmri/decoders.
  --sim-decoder FILE   the simulated decoder's CVs come from the decoder file FILE
                       and are written back to it when the program ends.
)") + sim::DecoderTraitsHelp() + R"(  -h, --help           this text.
  --version            the program's name and version.
An option's value may also follow an equals sign (--port=COM1=sim); "--" ends the
options, so that a FILE whose name begins with "-" can be given.
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
