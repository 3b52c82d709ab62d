// Prints the conformance matrix: every CV command of the tool on every hardware and in
// every programming mode, against each kind of simulated decoder, with a verdict per
// cell (true, honest failure, refused, WRONG), the counts, and what each cell that is
// not simply true found.
//
//   conformance_matrix [TRAITS...]    (default: every trait set of the matrix)
// Exit 1 when a cell is WRONG.

#include <cstdio>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "cli/testing/conformance_matrix.h"
#include "programming/programming_methods.h"

using qarn2::cli::testing::MatrixCell;

int main(int argc, char** argv) {
  std::vector<std::string> trait_sets(argv + 1, argv + argc);
  if (trait_sets.empty()) trait_sets = qarn2::cli::testing::MatrixTraitSets();
  const char kShort[] = {'+', '~', '-', 'X'};
  std::map<MatrixCell::Verdict, int> counts;
  std::vector<MatrixCell> remarkable;
  for (const std::string& traits : trait_sets) {
    std::cout << "\n== decoder: " << traits << "\n";
    std::printf("%-8s %-4s", "hardware", "mode");
    for (const char* command : qarn2::cli::testing::kMatrixCommands) std::printf(" %-9s", command);
    std::printf("\n");
    std::string row;
    for (const MatrixCell& cell : qarn2::cli::testing::RunMatrixRow(traits)) {
      if (cell.command == qarn2::cli::testing::kMatrixCommands[0]) std::printf("%-8s %-4s", cell.hardware.c_str(), cell.mode.c_str());
      std::printf(" %-9c", kShort[cell.verdict]);
      if (cell.command == "--retries") std::printf("\n");
      std::fflush(stdout);
      ++counts[cell.verdict];
      if (!cell.detail.empty()) remarkable.push_back(cell);
    }
  }
  std::cout << "\n+ true, ~ honest failure, - refused (nothing sent), X WRONG\n";
  for (const auto& [verdict, n] : counts) std::cout << qarn2::cli::testing::VerdictName(verdict) << ": " << n << "\n";
  if (!remarkable.empty()) std::cout << "\nFindings:\n";
  for (const MatrixCell& cell : remarkable) {
    std::cout << "  [" << cell.traits << "] " << cell.hardware << " " << cell.mode << " " << cell.command << ": "
              << qarn2::cli::testing::VerdictName(cell.verdict) << ": " << cell.detail << "\n";
  }
  return counts[MatrixCell::kWrong] > 0 ? 1 : 0;
}
