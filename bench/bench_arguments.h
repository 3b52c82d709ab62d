#pragma once

// The benchmark programs' command lines: a bad one ends the program with one line on
// standard error, naming the program and the problem, and exit status 2.

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

namespace qarn2::bench {

[[noreturn]] inline void Refuse(const char* program, const std::string& problem) {
  std::fprintf(stderr, "%s: %s; see --help\n", program, problem.c_str());
  std::exit(2);
}

// An argument none of the program's options takes.
[[noreturn]] inline void RefuseUnknown(const char* program, const std::string& arg) {
  Refuse(program, (arg.size() > 1 && arg[0] == '-' ? "unknown option '" : "unexpected argument '") + arg + "'");
}

// The whole number from `low` to `high` that follows the option argv[i]; moves i onto it.
inline int NumberAfter(const char* program, int argc, char** argv, int& i, int low,
                       int high = std::numeric_limits<int>::max()) {
  const std::string option = argv[i];
  if (++i == argc) Refuse(program, option + " needs a value");
  const std::string_view text = argv[i];
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number < low || number > high) {
    const std::string range = high == std::numeric_limits<int>::max()
                                  ? "of at least " + std::to_string(low)
                                  : "from " + std::to_string(low) + " to " + std::to_string(high);
    Refuse(program, option + " takes a whole number " + range + ", not '" + std::string(text) + "'");
  }
  return number;
}

}  // namespace qarn2::bench
