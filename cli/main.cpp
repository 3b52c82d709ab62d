#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  // Batch encoding streams millions of lines: no syncing with C stdio, no tie.
  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  // The system's words for an error number in the user's language, where the C
  // library has them; numbers and everything else stay as they are.
  std::setlocale(LC_MESSAGES, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = qarn2::cli::RunCommandLine(args, std::cin, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
