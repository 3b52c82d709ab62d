#pragma once

// `print FILE --pdf OUT`: the window's "Decoderdatei drucken" without the window, into
// a PDF file instead of onto a printer.

#include <iosfwd>
#include <span>
#include <string>

namespace qarn2::cli {

// `args` are the arguments after the command's name. Exit kExitOk; kExitUsage for bad
// arguments, a decoder file that cannot be read, an OUT that cannot be written or is
// FILE itself (an OUT that was there stays as it was); 3 when Qt cannot make the PDF.
int RunPrint(std::span<const std::string> args, std::ostream& out, std::ostream& err);

// The command's usage lines for the tool's help text.
std::string PrintUsage();

}  // namespace qarn2::cli
