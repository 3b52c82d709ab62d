// "Does CV n hold v?" on the engine as the window and the tool build it: one question
// to a DCC-EX station (<V>) or one verify burst through the board in the direct
// modes, a read and a comparison elsewhere.

#include <gtest/gtest.h>

#include <string>

#include "engine/testing/track_bench.h"
#include "link/dccex_station.h"
#include "link/hardware_kind.h"

namespace qarn2::engine {
namespace {

using sim::TrackLogEntry;

TEST(VerifyCvTest, SaysWhetherTheCvHoldsTheValueOnEachHardware) {
  struct Case {
    int kind;
    const char* mode;
    bool other_value_known;  // a mismatch tells the value the CV holds
    const char* sent;        // a part of the track log: how it asked
  };
  const Case cases[] = {
      {link::kDccEx, "dir", true, "to the station: <V 29 6>"},
      {link::kBoard, "dio", false, "verify CV 29 = 6"},
      {link::kBoard, "pag", true, "verify register"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " " + c.mode);
    testing::TrackBench bench;
    bench.link_->HardwareKind = c.kind;
    ASSERT_TRUE(bench.engine_->SetUpHardware(c.kind));
    bench.link_->RestartBackground();
    bench.engine_->State().ProgrammingMode = c.mode;
    bench.engine_->State().CvValue = 99;
    auto& programmer = bench.engine_->Programmer();

    const auto holds = programmer.VerifyCv(29, 6);
    EXPECT_TRUE(holds.holds);
    EXPECT_TRUE(holds.answered);
    EXPECT_EQ(holds.actual, 6);
    EXPECT_TRUE(bench.link_->AckResult);

    const auto differs = programmer.VerifyCv(29, 7);
    EXPECT_FALSE(differs.holds);
    EXPECT_FALSE(bench.link_->AckResult);
    EXPECT_EQ(differs.answered, c.other_value_known);
    EXPECT_EQ(differs.actual, c.other_value_known ? 6 : -1);
    EXPECT_EQ(bench.engine_->State().CvValue, 99);  // the caller's value stays

    bool asked = false;
    for (const TrackLogEntry& e : bench.track_.Log()) {
      asked = asked || e.text.find(c.sent) != std::string::npos;
    }
    EXPECT_TRUE(asked);
  }
}

TEST(VerifyCvTest, AStationThatCannotReadTheCvGivesNoAnswer) {
  // Every acknowledge lost: asked whether CV 29 holds 7, the station reads it and gets
  // nothing. That is no answer, not a value of -1.
  EngineOptions options = testing::VirtualTrack();
  options.track.ack_loss = 1.0;
  Engine engine(options);
  engine.Link().HardwareKind = link::kDccEx;
  ASSERT_TRUE(engine.SetUpHardware(link::kDccEx));
  const auto outcome = engine.Programmer().VerifyCv(29, 7);
  EXPECT_FALSE(outcome.holds);
  EXPECT_FALSE(outcome.answered);
  EXPECT_EQ(outcome.actual, -1);
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
