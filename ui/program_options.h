#pragma once

#include <span>
#include <string>

#include "engine/engine.h"
#include "serial/port_map.h"
#include "sim/decoder_traits.h"

namespace qarn2::ui {

// What the command line of the program may say. The window's one setting, the saved
// choice of devices for COM1 and COM2, is in port_settings.h.
struct ProgramOptions {
  serial::PortMap ports;    // --port COMn=PATH (PATH "sim": the simulated track)
  bool simulate = false;    // --simulate: every port is the simulated track
  std::string sim_decoder;  // --sim-decoder FILE: the simulated decoder's CVs
  sim::DecoderTraits sim_traits;  // --sim-trait TRAIT: how the simulated decoder behaves
  std::string sim_option;   // the first --sim-* option given: the run wants the track
  bool help = false;        // --help, -h
  bool version = false;     // --version
  std::string file;         // FILE: the decoder file the window opens at start
  std::string jmri;         // --jmri DIR: JMRI's folder with the decoder definitions
};

struct ParsedOptions {
  ProgramOptions options;
  std::string error;  // empty when the command line is good
};

// Reads the arguments after the program's name. Arguments Qt takes for itself
// (-platform and the like) are removed by the application object beforehand.
ParsedOptions ParseProgramOptions(std::span<const std::string> args);

// The text of --help.
std::string ProgramUsage();

// The engine's options for this run: the ports on the wall clock.
engine::EngineOptions EngineOptionsFor(const ProgramOptions& options);

// The port map for this run: --simulate and the --sim-* options put every port on
// the simulated track, unless a --port already names it.
serial::PortMap PortsFor(const ProgramOptions& options);

}  // namespace qarn2::ui
