#pragma once

// The tool's CV commands against every kind of simulated decoder: each decoder trait
// (and the default) x hardware x programming mode x command, run as `qarn2-cli` runs
// them (in-process, on the simulated track on virtual time, the decoder's memory in a
// decoder file), and judged by one rule: a value reported is the decoder's value; a
// confirmation only where the decoder really stored the value; otherwise an honest
// failure; and nothing stored that the user did not ask for.

#include <functional>
#include <string>
#include <vector>

namespace qarn2::cli::testing {

struct MatrixCell {
  std::string traits;    // as --sim-trait takes them, blank-separated; "default"
  std::string hardware;  // board, booster, lgb
  std::string mode;      // dir, dio, reg, pag, roc
  std::string command;   // read, write, read-all, write-all, compare, reset, --verify, --retries

  enum Verdict {
    kTrue,           // every result true, and all that could succeed did
    kHonestFailure,  // every result true, some reported as failed (see `detail`)
    kRefused,        // the tool refused, as this hardware cannot do it; nothing sent
    kWrong,          // a result not true, or something stored nobody asked for
  };
  Verdict verdict = kTrue;
  std::string detail;  // what failed or was wrong, one line per finding
  int runs = 0;        // tool runs the cell took
};

// The decoder trait sets of the matrix: the default decoder, each trait alone, and
// all of them together.
std::vector<std::string> MatrixTraitSets();
inline const char* const kMatrixHardware[] = {"board", "booster", "lgb"};
inline const char* const kMatrixCommands[] = {"read",  "write",    "read-all", "write-all",
                                              "compare", "reset", "--verify", "--retries"};

// Runs the cells of one trait set (every hardware, mode and command), calling `done`
// after each.
std::vector<MatrixCell> RunMatrixRow(const std::string& traits,
                                     const std::function<void(const MatrixCell&)>& done = {});

const char* VerdictName(MatrixCell::Verdict verdict);

}  // namespace qarn2::cli::testing
