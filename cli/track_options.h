#pragma once

// The options that say which device stands behind the port and how time runs, for
// the commands that talk to a programming track, and the engine they open with them.

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/long_options.h"

#include "engine/engine.h"

namespace qarn2::cli {

// --port COMn=PATH, --simulate, --virtual-time, --trace, --trace-all and the --sim-*
// options.
using TrackOptions = engine::EngineOptions;

// The track options as the help text explains them.
std::string TrackOptionsHelp();

// Their names, for a command's table of options.
std::vector<cmdline::LongOption> WithTrackOptions(std::vector<cmdline::LongOption> own);

// Takes the option `name` (without dashes) with its value if it is one of the above.
// Returns false for other options; sets `error` for a bad value.
bool TakeTrackOption(std::string_view name, const std::string& value, TrackOptions& options, std::string& error);

// The engine on these options, the port not yet open (the tool's Qt application
// object made first). Throws std::runtime_error with a one-line message for options
// that contradict each other and for an unreadable decoder file.
std::unique_ptr<engine::Engine> OpenEngine(const TrackOptions& options);

}  // namespace qarn2::cli
