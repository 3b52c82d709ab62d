#include "cli/track_options.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <stdexcept>

#include "cli/command_line.h"
#include "cli/qt_application.h"
#include "sim/decoder_traits.h"

namespace qarn2::cli {
namespace {

// "0", "1", "0.3", ".25": a decimal fraction from 0 to 1, nothing else.
std::optional<double> Probability(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
      std::count(text.begin(), text.end(), '.') > 1 || text == ".") {
    return std::nullopt;
  }
  const double p = std::strtod(text.c_str(), nullptr);
  if (p < 0.0 || p > 1.0) return std::nullopt;
  return p;
}

}  // namespace

std::string TrackOptionsHelp() {
  return std::string(R"(Track options (send, read, write, read-all, write-all, compare, reset):
  --port COMn=PATH     the device behind COMn for this run, e.g. COM1=/dev/ttyUSB0;
                       PATH "sim" is the simulated programming track. Without it
                       COMn is /dev/ttyS<n-1>; the tool uses COM1.
  --simulate           every port is the simulated programming track.
  --virtual-time       run the simulated track on virtual time (instant, and the
                       same result every time).
  --trace              print the packets written, with their time: on the
                       simulated track what the decoder made of each packet, its
                       acknowledges, track power and gaps; on a real port the
                       packets decoded from the characters written, DTR and RTS,
                       and the rings on RI. send prints it on standard output,
                       the other commands on standard error. A run of identical
                       background packets (idle, reset, the try-out's repeats)
                       is one line with its count ("... idle ×120").
  --trace-all          the same, every packet a line of its own.
  --sim-decoder FILE   the simulated decoder's CVs come from the decoder file FILE
                       (missing: defaults) and go back into it at the end.
  --sim-lgb-reply HOW  how the simulated LGB interface replies: whole (the
                       default: each reply in one piece), slow (a character at a
                       time, 30 ms apart), or 1, 2 or 3 (cut to that many
                       characters).
  --sim-ack-loss P     each acknowledge of the simulated decoder is lost with the
                       probability P (0 to 1, e.g. 0.3), as with a decoder that
                       acknowledges weakly.
  --sim-seed N         the seed of those losses (default 1): the same seed, the
                       same losses on virtual time.
)") + sim::DecoderTraitsHelp() + R"(  --virtual-time and every --sim-* option imply --simulate unless a --port names
  "sim"; with a --port that names a real device they are refused (exit 2).
)";
}

std::vector<cmdline::LongOption> WithTrackOptions(std::vector<cmdline::LongOption> own) {
  for (const char* flag : {"simulate", "virtual-time", "trace", "trace-all"}) own.push_back({flag, false});
  for (const char* valued : {"port", "sim-decoder", "sim-lgb-reply", "sim-ack-loss", "sim-trait", "sim-seed"}) {
    own.push_back({valued, true});
  }
  return own;
}

bool TakeTrackOption(std::string_view name, const std::string& value, TrackOptions& options, std::string& error) {
  const std::string* v = &value;
  if (name == "simulate") {
    options.simulate = true;
  } else if (name == "virtual-time") {
    options.virtual_time = true;
  } else if (name == "trace" || name == "trace-all") {
    options.trace = true;
    if (name == "trace-all") options.trace_all = true;
  } else if (name == "port") {
    if (!options.ports.AddOption(*v)) {
      error = "--port takes COMn=PATH with n from 1 to 16, not '" + *v + "'";
    }
  } else if (name == "sim-decoder") {
    options.sim_decoder = *v;
  } else if (name == "sim-lgb-reply") {
    if (*v == "whole") {
      options.lgb = {};
    } else if (*v == "slow") {
      options.lgb.one_at_a_time = true;
      options.lgb.character_gap = std::chrono::milliseconds(30);
    } else if (*v == "1" || *v == "2" || *v == "3") {
      options.lgb.reply_limit = (*v)[0] - '0';
    } else {
      error = "--sim-lgb-reply takes whole, slow, 1, 2 or 3, not '" + *v + "'";
    }
  } else if (name == "sim-ack-loss") {
    const std::optional<double> p = Probability(*v);
    if (p) {
      options.track.ack_loss = *p;
    } else {
      error = "--sim-ack-loss takes a probability from 0 to 1, not '" + *v + "'";
    }
  } else if (name == "sim-trait") {
    if (const std::string problem = sim::ApplyDecoderTrait(*v, options.track.decoder); !problem.empty()) {
      error = "--sim-trait '" + *v + "': " + problem;
    }
  } else if (name == "sim-seed") {
    if (const std::optional<int> seed = DecimalArgument(*v, 0, 2147483647)) {
      options.track.ack_loss_seed = static_cast<std::uint64_t>(*seed);
    } else {
      error = "--sim-seed takes a number from 0 to 2147483647, not '" + *v + "'";
    }
  } else {
    return false;
  }
  // Whatever shapes the simulated track asks for it: never a real port's run.
  if (name.starts_with("sim-") && options.sim_option.empty()) options.sim_option = "--" + std::string(name);
  return true;
}

std::unique_ptr<engine::Engine> OpenEngine(const TrackOptions& options) {
  if (const std::string conflict = engine::ConflictingOptions(options); !conflict.empty()) {
    throw std::runtime_error(conflict);
  }
  // The hand-off needs a Qt application object on this thread (printing may have
  // made it already).
  EnsureQtApplication();
  return std::make_unique<engine::Engine>(options);
}

}  // namespace qarn2::cli
