#pragma once

// The commands that read and write the decoder's CVs: the window's CV box, "Alle CVs"
// and "Reset" without the window, run by the same engine (programming::CvCommands).
// Results go to `out`, the engine's progress texts (converted to UTF-8) and --trace
// to `err`.

#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>

namespace qarn2::cli {

// Exit status of these commands besides kExitOk and kExitUsage: the CV could not be
// read or a write was not acknowledged (whole sheet: at least one), and the serial
// port failed.
inline constexpr int kExitNotConfirmed = 1;
inline constexpr int kExitPortError = 3;

// `read CV`, `write CV VALUE`, `read-all FILE`, `write-all FILE`, `reset`; `args`
// are the arguments after the command's name.
int RunRead(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunWrite(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunReadAll(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunWriteAll(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunReset(std::span<const std::string> args, std::ostream& out, std::ostream& err);
// `compare FILE`: the sheet's values against the decoder's, nothing written.
int RunCompare(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The usage lines of the five commands for the tool's help text.
std::string DecoderCommandsUsage();
// --mode as the help text explains it.
std::string ModeOptionHelp();

// `identify`: CV 8 and CV 7 read as `read` reads them, in one session; `name` gets
// them (nullopt for one not read) and prints what they mean. `usage` is the
// command's usage lines. Exit 1 when either could not be read.
int RunReadIdentity(std::span<const std::string> args, const char* usage, std::ostream& out, std::ostream& err,
                    const std::function<void(std::optional<int> manufacturer, std::optional<int> version)>& name);

}  // namespace qarn2::cli
