#pragma once

// Runs the tool's entry point as a test would from a shell.

#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace qarn2::cli::testing {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline Result RunCli(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  Result r;
  r.status = RunCommandLine(args, in, out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

}  // namespace qarn2::cli::testing
