#pragma once

// The window's one setting: which device stands behind COM1 and COM2 when the command
// line does not say. Kept in the user's configuration directory
// (~/.config/qarn2/qarn2.ini, group [Ports]); the command-line tool never reads it, so
// that scripts run alike everywhere.

#include <map>
#include <string>

#include "engine/engine.h"
#include "ui/program_options.h"

namespace qarn2::ui {

// "COM1" / "COM2" -> the chosen device (a /dev/serial/by-id name where the device has
// one); a port without an entry is its default, /dev/ttyS<n-1>.
using SavedPorts = std::map<std::string, std::string>;

// The ports the dialog maps.
inline constexpr const char* kMappedPorts[] = {"COM1", "COM2"};

// The saved choice; empty when there is none or the file cannot be read.
SavedPorts LoadSavedPorts();
// Replaces the saved choice. Returns an error message (German) when the file cannot be
// written, else empty.
std::string SaveSavedPorts(const SavedPorts& ports);

// The engine's options for a start of the window: the command line's, and the saved
// choice for the ports it leaves (--port and --simulate win for their run).
engine::EngineOptions StartOptions(const ProgramOptions& options);

}  // namespace qarn2::ui
