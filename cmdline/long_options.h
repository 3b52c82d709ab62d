#pragma once

// The command lines of both programs, read with the C library's getopt_long: long
// options as "--name VALUE" or "--name=VALUE", "-h" for "--help", "--" ending the
// options, and operands anywhere among them, in their order.

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qarn2::cmdline {

struct LongOption {
  const char* name;  // without the dashes; "help" is also taken as "-h"
  bool takes_value;
};

struct Scan {
  std::vector<std::string> operands;
  std::string unknown;        // the first argument that is no option, as given
  std::string missing_value;  // "--name" of an option that lacks its value
  std::string extra_value;    // "--name" of an option given a value it does not take
  std::string error;          // the first message `take` returned
  bool ok() const { return unknown.empty() && missing_value.empty() && extra_value.empty() && error.empty(); }
};

// Hands each option of `args` in turn to `take` with its name and value (empty when
// it takes none); a non-empty return ends the scan with that message. Names must be
// given whole: no abbreviations.
Scan ScanOptions(std::span<const std::string> args, std::span<const LongOption> options,
                 const std::function<std::string(std::string_view name, const std::string& value)>& take);

// "qarn2 0.1" for `program` "qarn2".
std::string VersionLine(std::string_view program);

}  // namespace qarn2::cmdline
