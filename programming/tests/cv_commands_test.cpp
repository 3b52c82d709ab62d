// The CV commands end to end: the CV box, the whole sheet and the factory reset on the
// simulated track, on virtual time.

#include "programming/cv_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "encoding/fixed_streams.h"
#include "link/hardware_setup.h"
#include "engine/testing/track_bench.h"

namespace qarn2::programming {
namespace {

using sim::TrackLogEntry;

// Records what the window would show.
struct RecordingView : CvCommandsView {
  void HideAllPanels() override { ++hide_all; }
  void ShowCvBox(const std::string& text, bool entry) override {
    shown = true;
    caption = text;
    with_entry = entry;
  }
  void HideCvBox() override { shown = false; }
  void SetCvBoxCaption(const std::string& text) override { caption = text; }
  void SetCvPrompt(const std::string& text) override {
    prompt = text;
    if (on_prompt) on_prompt(text);
  }
  void SetCvResult(const std::string& text) override {
    result = text;
    results.push_back(text);
    if (on_result) on_result(text);
  }
  void ClearCvEntry() override { ++cleared; }
  void SetMenuItemEnabled(std::string_view name, bool enabled) override {
    (name == "Kennlinie" ? kennlinie : write_all) = enabled;
  }
  void ShowResetBox(bool show) override { reset_box = show; }

  int hide_all = 0;
  bool shown = false;
  bool with_entry = false;
  std::string caption, prompt, result;
  std::vector<std::string> results;
  int cleared = 0;
  bool kennlinie = false, write_all = false, reset_box = false;
  std::function<void(const std::string&)> on_prompt, on_result;
};

class CvCommandsTest : public ::testing::Test, protected engine::testing::TrackBench {
 protected:
  CvCommandsTest() {
    commands_ = std::make_unique<CvCommands>(*link_, fixed_, state_, view_);
    state_.ProgrammingMode = "dir";
    link::SetUpBoardPort(*link_, fixed_);
  }

  // Service packets (not resets) the decoder received since the log was cleared.
  int ServicePackets() {
    link_->WaitTicks(3);
    int n = 0;
    for (const TrackLogEntry& e : track_.Log()) n += e.kind == TrackLogEntry::kPacket && e.bytes[0] != 0;
    return n;
  }
  void Enter(const std::string& entry) { commands_->EnterInCvBox(entry); }

  ProgramState state_;
  RecordingView view_;
  std::unique_ptr<CvCommands> commands_;
};

TEST_F(CvCommandsTest, ReadBoxReadsValidEntriesAndClearsTheRest) {
  commands_->OpenCvBox(false);
  EXPECT_TRUE(state_.AbortFlag);
  EXPECT_EQ(view_.hide_all, 1);
  EXPECT_EQ(view_.caption, "CV- Wert lesen");
  EXPECT_EQ(view_.prompt, "CV- Nr eingeben:");
  EXPECT_TRUE(view_.with_entry);
  link_->WaitTicks(5);
  track_.ClearLog();

  for (const char* bad : {"0", "1025", "abc", "", "99999999999"}) {
    Enter(bad);
    EXPECT_EQ(view_.result, "") << bad;
  }
  EXPECT_EQ(view_.cleared, 5);
  EXPECT_EQ(ServicePackets(), 0);

  Enter("29");
  EXPECT_EQ(view_.cleared, 5);  // the entry stays for the next Enter
  EXPECT_EQ(view_.result, "CV Nr 29 = 6");
  EXPECT_FALSE(state_.AbortFlag);
  SetCv(1, 42);
  Enter("1");
  EXPECT_EQ(view_.result, "CV Nr 1 = 42");
  EXPECT_EQ(state_.LocoAddress, 42);
  // No short address: the try-outs keep theirs.
  SetCv(1, 200);
  Enter("1");
  EXPECT_EQ(view_.result, "CV Nr 1 = 200");
  EXPECT_EQ(state_.LocoAddress, 42);

  // A CV the mode cannot reach: nothing sent, not readable, the address unchanged.
  state_.ProgrammingMode = "reg";
  track_.ClearLog();
  Enter("9");
  EXPECT_EQ(view_.result, "    nicht lesbar");
  EXPECT_EQ(ServicePackets(), 0);
}

TEST_F(CvCommandsTest, WriteBoxStepsThroughNumberAndValue) {
  commands_->OpenCvBox(true);
  EXPECT_EQ(view_.caption, "CV- Variable schreiben");
  Enter("1025");
  EXPECT_FALSE(commands_->CvBoxAwaitingValue());
  Enter("29");
  EXPECT_TRUE(commands_->CvBoxAwaitingValue());
  EXPECT_EQ(view_.caption, "CV Nr 29 schreiben");
  EXPECT_EQ(view_.prompt, "CV- Wert eingeben:");
  const int cleared = view_.cleared;
  Enter("300");
  EXPECT_EQ(view_.cleared, cleared + 1);
  EXPECT_TRUE(commands_->CvBoxAwaitingValue());
  EXPECT_EQ(Cv(29), 6);
  Enter("34");
  EXPECT_EQ(Cv(29), 34);
  EXPECT_EQ(view_.result, "CV Nr 29=34 best\xE4tigt");
  EXPECT_FALSE(commands_->CvBoxAwaitingValue());
  EXPECT_EQ(view_.caption, "CV- Variable schreiben");
  EXPECT_EQ(view_.prompt, "CV- Nr eingeben:");

  // CV 1 sets the address before the write, whatever its outcome.
  {
    auto lock = track_.Lock();
    track_.Decoder().SetAckPolicy(sim::AckPolicy::kNeverAfterWrite);
  }
  Enter("1");
  Enter("17");
  EXPECT_EQ(view_.result, "CV 1 keine Best\xE4tigung");
  EXPECT_EQ(state_.LocoAddress, 17);
}

TEST_F(CvCommandsTest, EndStopsAScanAndDropsTrackPower) {
  state_.ProgrammingMode = "dio";
  SetCv(29, 200);
  commands_->OpenCvBox(false);
  int tested = 0;
  view_.on_result = [&](const std::string& text) {
    if (text.rfind("teste ", 0) == 0 && ++tested == 3) commands_->EndCvBox();
  };
  Enter("29");
  EXPECT_EQ(tested, 3);
  EXPECT_EQ(view_.result, "    nicht lesbar");
  EXPECT_FALSE(view_.shown);
  EXPECT_FALSE(commands_->Busy());
  link_->WaitTicks(2);
  auto lock = track_.Lock();
  EXPECT_FALSE(track_.Decoder().powered());
}

TEST_F(CvCommandsTest, CommandsStartedDuringAWaitAreRefused) {
  state_.ProgrammingMode = "dio";
  SetCv(29, 40);
  SetCv(8, 99);
  TextSheet sheet("3 1");
  commands_->OpenCvBox(false);
  bool tried = false;
  view_.on_result = [&](const std::string& text) {
    if (tried || text != "teste 20 ") return;
    tried = true;
    EXPECT_TRUE(commands_->Busy());
    commands_->EnterInCvBox("3");
    EXPECT_EQ(commands_->ReadAllCvs(sheet), std::nullopt);
    EXPECT_EQ(commands_->WriteAllCvs(sheet), std::nullopt);
    commands_->OfferFactoryReset();
    EXPECT_FALSE(commands_->ConfirmFactoryReset());
    EXPECT_TRUE(view_.reset_box);  // the question stays
  };
  Enter("29");
  EXPECT_TRUE(tried);
  EXPECT_EQ(view_.result, "CV Nr 29 = 40");
  EXPECT_EQ(sheet.Text(), "3 1");
  EXPECT_EQ(Cv(8), 99);
  EXPECT_EQ(Cv(3), sim::DecoderModel::DefaultCv(3));
}

TEST_F(CvCommandsTest, ReadAllRewritesTheCvLines) {
  SetCv(29, 34);
  SetCv(67, 9);
  TextSheet sheet(
      "*dir\r\nLokdecoder Test\r\n1 3 (Adresse)\r\n29 6 Konfiguration\r\n"
      "2000 5 nicht da\r\n67\r\n-- Ende\r\n");
  const std::optional<int> errors = commands_->ReadAllCvs(sheet);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(sheet.Text(),
            "*dir\r\nLokdecoder Test\r\n1     3 (Adresse)\r\n29   34 Konfiguration\r\n"
            "2000   ? nicht da\r\n67    9 \r\n-- Ende\r\n");
  EXPECT_EQ(view_.caption, "Decoder auslesen");
  EXPECT_FALSE(view_.with_entry);
  EXPECT_EQ(view_.result, "1 Fehler beim Auslesen");
  EXPECT_EQ(state_.LocoAddress, 0);  // the whole-sheet commands leave the address
  // ScanSheet ran: the speed table and both menu items.
  EXPECT_EQ(state_.SpeedTable[0], 9);
  EXPECT_TRUE(view_.kennlinie);
  EXPECT_TRUE(view_.write_all);
}

TEST_F(CvCommandsTest, EndDuringReadAllFinishesTheCurrentCvOnly) {
  TextSheet sheet("1 x\n29 x\n7 x\n8 x");
  view_.on_prompt = [&](const std::string& text) {
    if (text == "lese CV 29") {
      view_.on_result = [&](const std::string& r) {
        if (r == "   Bit 2=1 ") commands_->EndCvBox();
      };
    }
  };
  EXPECT_EQ(commands_->ReadAllCvs(sheet), 1);
  // The aborted bitwise read confirmed nothing; the line keeps what it had.
  EXPECT_EQ(sheet.Text(), "1     3 x\r\n29 x\r\n7 x\r\n8 x");
  EXPECT_EQ(view_.result, "1 Fehler beim Auslesen");
}

TEST_F(CvCommandsTest, WriteAllWritesEveryValueInTheSheet) {
  track_.ClearLog();
  TextSheet sheet(
      "*dir\nTitel 2\n29    ? Konfiguration\n029 5\n3 10 Anfahren\n4 300 zu gross\n"
      "99999999999 7\n0 1\n5");
  EXPECT_EQ(commands_->WriteAllCvs(sheet), 1);
  EXPECT_EQ(Cv(29), 5);
  EXPECT_EQ(Cv(3), 10);
  EXPECT_EQ(Cv(4), sim::DecoderModel::DefaultCv(4));
  EXPECT_EQ(view_.caption, "Decoder programmieren");
  EXPECT_EQ(view_.result, "1 mal keine Best\xE4tigung");
  // Two writes of 11 copies each, nothing for CV 4 or the lines without a number.
  EXPECT_EQ(ServicePackets(), 22);
  EXPECT_EQ(sheet.Line(3), "029 5");

  TextSheet good("3 11");
  EXPECT_EQ(commands_->WriteAllCvs(good), 0);
  EXPECT_EQ(view_.prompt, "schreibe CV 3 = 11");
  EXPECT_EQ(view_.result, "0 Fehler beim Schreiben");
}

TEST_F(CvCommandsTest, ScanSheetSetsTheMenuItems) {
  commands_->ScanSheet(TextSheet("67"));
  EXPECT_TRUE(view_.kennlinie);
  EXPECT_FALSE(view_.write_all);
  commands_->ScanSheet(TextSheet("29 6"));
  EXPECT_FALSE(view_.kennlinie);
  EXPECT_TRUE(view_.write_all);
}

TEST_F(CvCommandsTest, FactoryResetRestoresTheDefaults) {
  SetCv(29, 50);
  SetCv(1, 77);
  // Declined: only the question goes; the resets keep running.
  commands_->OfferFactoryReset();
  EXPECT_TRUE(view_.reset_box);
  EXPECT_EQ(link_->BackgroundStream, fixed_.ResetBurst);
  commands_->DeclineFactoryReset();
  EXPECT_FALSE(view_.reset_box);
  link_->WaitTicks(10);
  EXPECT_EQ(Cv(29), 50);
  EXPECT_EQ(link_->BackgroundStream, fixed_.ResetBurst);
  EXPECT_EQ(ServicePackets(), 0);
}

TEST_F(CvCommandsTest, FactoryResetRightAfterTheStart) {
  SetCv(29, 50);
  SetCv(1, 77);
  // Nothing was sent before: the question itself sets the resets going, so the
  // decoder is in service mode when the reset packet comes.
  commands_->OfferFactoryReset();
  link_->WaitTicks(5);
  track_.ClearLog();
  ASSERT_TRUE(commands_->ConfirmFactoryReset());
  EXPECT_FALSE(view_.reset_box);
  link_->WaitTicks(3);
  EXPECT_EQ(Cv(29), 6);
  EXPECT_EQ(Cv(1), 3);
  // Three copies of CV 8 := 8, all on the track before the power goes 5 ticks after
  // the write returned (the first of them may be a tick already due).
  int copies = 0;
  sim::SimTime last_copy{}, power_off{};
  for (const TrackLogEntry& e : track_.Log()) {
    if (e.kind == TrackLogEntry::kPacket && e.bytes[0] == 0x7F && e.bytes[1] == 0x08) {
      ++copies;
      last_copy = e.time;
    }
    if (e.kind == TrackLogEntry::kPower) power_off = e.time;
  }
  EXPECT_EQ(copies, 3);
  EXPECT_GT(power_off, last_copy);
  EXPECT_LE(power_off - last_copy, std::chrono::milliseconds(55));
}

}  // namespace
}  // namespace qarn2::programming
