// "Does CV n hold v?" on the engine as the window and the tool build it: one question
// to a DCC-EX station (<V>) or one verify burst through the board, whatever mode the
// window last had.

#include <gtest/gtest.h>

#include <string>

#include "engine/testing/track_bench.h"
#include "link/dccex_station.h"
#include "link/hardware_kind.h"
#include "programming/sheet_lines.h"

namespace qarn2::engine {
namespace {

using sim::TrackLogEntry;

TEST(VerifyCvTest, SaysWhetherTheCvHoldsTheValueOnEachHardware) {
  struct Case {
    int kind;
    const char* mode;
    const char* sent;  // a part of the track log: how it asked
  };
  const Case cases[] = {
      {link::kDccEx, "reg", "to the station: <V 29 6>"},  // the station's CV 29, not register 5
      {link::kBoard, "pag", "verify register"},  // every mode: the tool's compare table
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.mode);
    testing::TrackBench bench;
    bench.link_->HardwareKind = c.kind;
    ASSERT_TRUE(bench.engine_->SetUpHardware(c.kind));
    bench.link_->RestartBackground();
    bench.engine_->State().ProgrammingMode = c.mode;
    // What the sheet's comparison asks: CV 29 holds 6 (the decoder's default), then 7.
    const programming::TextSheet sheet("29 6\r\n");
    const auto same = bench.engine_->Cv().CompareAllCvs(sheet, 0);
    ASSERT_TRUE(same);
    ASSERT_EQ(same->lines.size(), 1u);
    EXPECT_EQ(same->lines[0].result, programming::CvComparison::Result::kSame);
    EXPECT_EQ(same->lines[0].reads, 0);  // settled by the verify alone
    bench.SetCv(29, 7);
    const auto differs = bench.engine_->Cv().CompareAllCvs(sheet, 0);
    ASSERT_TRUE(differs);
    EXPECT_EQ(differs->lines[0].result, programming::CvComparison::Result::kDiffers);
    EXPECT_EQ(differs->lines[0].decoder_value, 7);

    bool asked = false;
    for (const TrackLogEntry& e : bench.track_.Log()) {
      asked = asked || e.text.find(c.sent) != std::string::npos;
    }
    EXPECT_TRUE(asked);
  }
}

TEST(StationBitWriteTest, SetsAndClearsOneBitAndSaysWhatItWrote) {
  testing::TrackBench bench;
  bench.link_->HardwareKind = link::kDccEx;
  ASSERT_TRUE(bench.engine_->SetUpHardware(link::kDccEx));
  struct Step {
    int cv, bit, value;
    link::StationAnswer::Outcome outcome;
    int cv_after;
  };
  const Step steps[] = {
      {29, 5, 1, link::StationAnswer::kValue, 6 | 32},
      {29, 1, 0, link::StationAnswer::kValue, 32 | 4},
      {7, 0, 1, link::StationAnswer::kNotDone, -1},  // read-only: -1
  };
  for (const Step& step : steps) {
    const link::StationAnswer answer = link::StationWriteBit(*bench.link_, step.cv, step.bit, step.value);
    EXPECT_EQ(answer.outcome, step.outcome) << answer.frame;
    if (step.cv_after >= 0) {
      EXPECT_EQ(bench.Cv(step.cv), step.cv_after);
    }
  }
}

}  // namespace
}  // namespace qarn2::engine
