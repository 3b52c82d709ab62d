#pragma once

// `import-jmri` and `export-jmri`: a decoder sheet from and into a JMRI roster file
// (one locomotive's XML file), through the roster library the window uses as well.

#include <iosfwd>
#include <span>
#include <string>

namespace qarn2::cli {

// `args` are the arguments after the command's name. kExitOk, also when the roster or
// sheet had parts that were left out (each is reported on `err`); kExitDataError when
// the roster holds characters the sheet cannot (named on `err`; nothing is written
// unless --lossy is given, which makes them '?'); kExitUsage for bad arguments, a file
// that cannot be read or written, an --out that is the input file itself (under any
// name), and a file that is no roster file or no decoder sheet (with the line and
// column where that shows).
int RunImportJmri(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int RunExportJmri(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The two commands' usage lines for the tool's help text.
std::string JmriUsage();

}  // namespace qarn2::cli
