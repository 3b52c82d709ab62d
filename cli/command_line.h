#pragma once

// The command-line front end: parses the arguments, runs one command and writes its
// results. Everything goes through the given streams, so the commands run in-process
// in tests just as they do from main().

#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/long_options.h"

namespace qarn2::cli {

// Exit status of the tool.
inline constexpr int kExitOk = 0;
// `decode`: the stream is faulty; `encode`: the encoder has no characters for the
// packet.
inline constexpr int kExitDataError = 1;
inline constexpr int kExitUsage = 2;  // bad arguments or bad input text

// A number given on the command line: decimal digits only, within `low`..`high`.
std::optional<int> DecimalArgument(std::string_view text, int low, int high);

// A command's arguments read with getopt_long: its options (--help and -h are added)
// handed to `take` in turn, as "--name VALUE" or "--name=VALUE", and its operands,
// "--" ending the options. `error` is the first problem in the tool's words: an
// unknown option, a missing value, or what `take` returned. With `help_ends`, the
// arguments after --help are not looked at.
struct CommandScan {
  bool help = false;
  std::vector<std::string> operands;
  std::string error;
};
CommandScan ScanCommand(std::span<const std::string> args, std::span<const cmdline::LongOption> options,
                        const std::function<std::string(std::string_view name, const std::string& value)>& take,
                        bool help_ends = false);

// The help text printed by --help and when no command is given.
std::string HelpText();

// Runs `qarn2-cli ARGS...`; `args` excludes the program name. Reads `in` only for
// `encode --batch`. Returns the exit status.
int RunCommandLine(std::span<const std::string> args, std::istream& in,
                   std::ostream& out, std::ostream& err);

}  // namespace qarn2::cli
