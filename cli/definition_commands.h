#pragma once

// `definitions`, `identify` and `sheet-from-definition`: JMRI's decoder definitions
// read from a local JMRI folder (the decoderdefs library the window uses as well).

#include <iosfwd>
#include <span>
#include <string>

namespace qarn2::cli {

// `args` are the arguments after the command's name. definitions: kExitOk when
// definitions were found (files that could not be read are listed), kExitDataError
// when none were. identify: as `read` (kExitNotConfirmed when CV 8 or CV 7 could not be
// read). sheet-from-definition: kExitDataError when labels hold characters the sheet
// cannot and --lossy was not given; kExitUsage for a model not found or ambiguous.
int RunDefinitions(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunIdentify(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunSheetFromDefinition(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The three commands' usage lines for the tool's help text.
std::string DefinitionUsage();

}  // namespace qarn2::cli
