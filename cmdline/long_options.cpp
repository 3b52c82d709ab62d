#include "cmdline/long_options.h"

#include <getopt.h>

#include <mutex>

namespace qarn2::cmdline {
namespace {

// getopt_long keeps its place in globals.
std::mutex scan_mutex;

constexpr int kOperand = 1;  // what getopt_long returns for an operand in "-" mode
constexpr int kFirstLong = 256;

}  // namespace

Scan ScanOptions(std::span<const std::string> args, std::span<const LongOption> options,
                 const std::function<std::string(std::string_view name, const std::string& value)>& take) {
  std::vector<option> table;
  for (std::size_t i = 0; i < options.size(); ++i) {
    table.push_back({options[i].name, options[i].takes_value ? required_argument : no_argument, nullptr,
                     kFirstLong + static_cast<int>(i)});
  }
  table.push_back({nullptr, 0, nullptr, 0});
  std::vector<std::string> words = {"qarn2"};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  Scan scan;
  const std::lock_guard<std::mutex> lock(scan_mutex);
  optind = 0;  // a fresh start, whatever ran before
  opterr = 0;  // the messages are the caller's
  // "-": operands come back in their place; ":": a missing value is told apart.
  while (scan.ok()) {
    const int first = optind == 0 ? 1 : optind;
    const int code = getopt_long(argc, argv.data(), "-:h", table.data(), nullptr);
    if (code == -1) break;
    const std::string given = first < argc ? words[static_cast<std::size_t>(first)] : "";
    if (code == kOperand) {
      scan.operands.emplace_back(optarg);
    } else if (code == 'h') {
      if (const std::string problem = take("help", ""); !problem.empty()) scan.error = problem;
    } else if (code == ':') {
      scan.missing_value = given.substr(0, given.find('='));
    } else if (code == '?') {
      if (optopt >= kFirstLong) {
        scan.extra_value = given.substr(0, given.find('='));
      } else {
        scan.unknown = optopt > 0 ? std::string("-") + static_cast<char>(optopt) : given;
      }
    } else {
      const LongOption& found = options[static_cast<std::size_t>(code - kFirstLong)];
      // getopt_long takes "--sim" for "--simulate": only the whole name counts here.
      if (given.substr(0, given.find('=')) != std::string("--") + found.name) {
        scan.unknown = given;
      } else if (const std::string problem = take(found.name, found.takes_value ? optarg : "");
                 !problem.empty()) {
        scan.error = problem;
      }
    }
  }
  if (scan.ok()) {
    for (int i = optind; i < argc; ++i) scan.operands.push_back(words[static_cast<std::size_t>(i)]);
  }
  return scan;
}

std::string VersionLine(std::string_view program) { return std::string(program) + " " + QARN2_VERSION; }

}  // namespace qarn2::cmdline
