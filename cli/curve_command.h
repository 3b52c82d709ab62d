#pragma once

// `curve FILE --shape S --entry K --value V`: the speed table editor without the
// window, for scripts and checks.

#include <iosfwd>
#include <span>
#include <string>

namespace qarn2::cli {

// Loads the sheet's speed table (CV 67..94), moves entry K to V in shape S, and prints
// the sheet as "übernehmen" leaves it. kExitOk, or kExitUsage for bad arguments, a file
// that cannot be read or a sheet without a line for CV 67..94.
int RunCurve(std::span<const std::string> args, std::ostream& out, std::ostream& err);

std::string CurveUsage();

}  // namespace qarn2::cli
