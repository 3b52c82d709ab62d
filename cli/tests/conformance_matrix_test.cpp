#include "cli/testing/conformance_matrix.h"

#include <gtest/gtest.h>

namespace qarn2::cli::testing {
namespace {

class ConformanceMatrixTest : public ::testing::TestWithParam<std::string> {};

// Every command on every hardware and in every mode, against one kind of decoder: a
// value reported is the decoder's, a confirmation means the value is stored, nothing
// is stored that was not asked for. Where no acknowledge is lost on the way (all but
// the --retries cells), everything the hardware and mode can do succeeds.
TEST_P(ConformanceMatrixTest, EveryResultIsTheDecodersTruth) {
  for (const MatrixCell& cell : RunMatrixRow(GetParam())) {
    SCOPED_TRACE(cell.hardware + " " + cell.mode + " " + cell.command + ": " + cell.detail);
    EXPECT_NE(cell.verdict, MatrixCell::kWrong);
    if (cell.command != "--retries") {
      EXPECT_NE(cell.verdict, MatrixCell::kHonestFailure);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Decoders, ConformanceMatrixTest, ::testing::ValuesIn(MatrixTraitSets()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name;
                           for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace qarn2::cli::testing
