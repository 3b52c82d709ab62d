#pragma once

// The command-line front end: parses the arguments, runs one command and writes its
// results. Everything goes through the given streams, so the commands run in-process
// in tests just as they do from main().

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qarn2::cli {

// Exit status of the tool.
inline constexpr int kExitOk = 0;
// `decode`: the stream is faulty; `encode`: the encoder has no characters for the
// packet.
inline constexpr int kExitDataError = 1;
inline constexpr int kExitUsage = 2;  // bad arguments or bad input text

// A number given on the command line: decimal digits only, within `low`..`high`.
std::optional<int> DecimalArgument(std::string_view text, int low, int high);

// The help text printed by --help and when no command is given.
std::string HelpText();

// Runs `qarn2-cli ARGS...`; `args` excludes the program name. Reads `in` only for
// `encode --batch`. Returns the exit status.
int RunCommandLine(std::span<const std::string> args, std::istream& in,
                   std::ostream& out, std::ostream& err);

}  // namespace qarn2::cli
