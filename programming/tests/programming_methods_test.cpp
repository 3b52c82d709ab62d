// The programming methods end to end: packets on the simulated track, the decoder's
// CVs and acknowledges, on virtual time.

#include "programming/programming_methods.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "encoding/fixed_streams.h"
#include "link/hardware_setup.h"
#include "engine/testing/track_bench.h"

namespace qarn2::programming {
namespace {

using namespace std::chrono_literals;
using encoding::Packet;
using sim::TrackLogEntry;

// Passes everything through to the simulated track and remembers RTS, which the
// track itself ignores.
class RtsWatch : public serial::ForwardingDevice {
 public:
  RtsWatch(std::unique_ptr<serial::SerialDevice> inner, bool& rts)
      : ForwardingDevice(std::move(inner)), rts_(rts) {}
  int SetRTS(bool on) override {
    rts_ = on;
    return ForwardingDevice::SetRTS(on);
  }

 private:
  bool& rts_;
};

// One burst: a service packet (without its check byte) and its copies in a row.
struct Burst {
  Packet packet;
  int copies;
  bool operator==(const Burst&) const = default;
};

void PrintTo(const Burst& b, std::ostream* os) {
  for (auto byte : b.packet) *os << std::hex << int(byte) << ' ';
  *os << 'x' << std::dec << b.copies;
}

const std::string kConfirmed = "   best\xE4tigt";
const std::string kFailed = "   Fehler ";

class ProgrammingMethodsTest : public ::testing::Test, protected engine::testing::TrackBench {
 protected:
  ProgrammingMethodsTest()
      : TrackBench([this](serial::DeviceFactory track_devices) -> serial::DeviceFactory {
          return [this, track_devices](const std::string& path) {
            return std::make_unique<RtsWatch>(track_devices(path), rts_);
          };
        }) {
    programmer_ =
        std::make_unique<ServiceModeProgrammer>(*link_, fixed_, mode_, cv_value_, abort_);
    programmer_->ShowProgress = [this](const std::string& text) {
      progress_.push_back(text);
      if (on_progress_) on_progress_(text);
    };
    SetUpBoard();
  }

  // The board's port set-up, with the resets set going.
  void SetUpBoard() {
    link::SetUpBoardPort(*link_, fixed_);
    port_->WriteText(link_->BackgroundStream);
    link_->WaitTicks(5);
  }

  // The LGB interface's set-up: 9600 bit/s, nothing repeated, greeting exchanged.
  void SetUpLgb() {
    link_->HardwareKind = link::kLgbInterface;
    ASSERT_TRUE(link::SetUpLgbPort(*link_));
  }
  void SetLgb(const sim::LgbSettings& settings) {
    auto lock = track_.Lock();
    track_.Lgb().SetSettings(settings);
  }
  // How long the last command took, from the log's clearing.
  sim::SimTime Since(sim::SimTime start) const { return clock_.Now() - start; }


  // Starts from a clean log and progress; returns AckResult.
  bool Read(const std::string& mode, int cv) {
    Begin(mode, cv);
    programmer_->ReadCv();
    return link_->AckResult;
  }
  bool Write(const std::string& mode, int cv, int value) {
    Begin(mode, cv);
    cv_value_ = value;
    programmer_->WriteCv();
    return link_->AckResult;
  }
  void Begin(const std::string& mode, int cv) {
    mode_ = mode;
    link_->CvNumber = cv;
    link_->WaitTicks(1);
    track_.ClearLog();
    progress_.clear();
  }

  // The service packets on the track since the log was cleared, copies in a row
  // counted; the background's resets only separate bursts. Waits first for the
  // characters still in the port's FIFO.
  std::vector<Burst> Bursts() {
    link_->WaitTicks(3);
    std::vector<Burst> bursts;
    bool after_other = true;
    for (const TrackLogEntry& e : track_.Log()) {
      // (A background reset cut for a burst may leave "00 00", too short for a decoder.)
      if (e.kind != TrackLogEntry::kPacket || e.bytes.size() < 3) continue;
      const Packet packet(e.bytes.begin(), e.bytes.end() - 1);
      if (packet == Packet{0x00, 0x00}) {
        after_other = true;
        continue;
      }
      if (!after_other && bursts.back().packet == packet) {
        ++bursts.back().copies;
      } else {
        bursts.push_back({packet, 1});
      }
      after_other = false;
    }
    return bursts;
  }

  // Service packets and power switching in their order, repeats shown once.
  std::vector<std::string> Sequence() {
    link_->WaitTicks(3);
    std::vector<std::string> out;
    for (const TrackLogEntry& e : track_.Log()) {
      std::string item;
      if (e.kind == TrackLogEntry::kPower) {
        item = e.text == "track power on" ? "on" : "off";
      } else if (e.kind == TrackLogEntry::kPacket && e.bytes[0] != 0x00) {
        for (std::size_t i = 0; i + 1 < e.bytes.size(); ++i) {
          static const char kHex[] = "0123456789ABCDEF";
          if (i > 0) item += ' ';
          item += kHex[e.bytes[i] >> 4];
          item += kHex[e.bytes[i] & 0xF];
        }
      } else {
        continue;
      }
      if (out.empty() || out.back() != item) out.push_back(item);
    }
    return out;
  }

  std::string mode_ = "dir";
  int cv_value_ = 0;
  bool abort_ = false;
  bool rts_ = false;
  std::vector<std::string> progress_;
  std::function<void(const std::string&)> on_progress_;
  std::unique_ptr<ServiceModeProgrammer> programmer_;
};

TEST_F(ProgrammingMethodsTest, WritesAndReadsBackInEveryMode) {
  // "reg" and "roc" reach CV 29 as register 5.
  const struct {
    const char* mode;
    int cv;
    int decoder_cv;
  } places[] = {
      {"dir", 1, 1},       {"dir", 29, 29}, {"dir", 1024, 1024}, {"dio", 1, 1}, {"dio", 29, 29},
      {"dio", 1024, 1024}, {"reg", 1, 1},   {"reg", 5, 29},      {"pag", 1, 1}, {"pag", 29, 29},
      {"pag", 1024, 1024}, {"roc", 1, 1},   {"roc", 5, 29},
  };
  for (const auto& p : places) {
    for (int value : {0, 1, 0x81, 255}) {
      SCOPED_TRACE(std::string(p.mode) + " CV " + std::to_string(p.cv) + " = " +
                   std::to_string(value));
      SetCv(p.decoder_cv, value ^ 0x5A);
      EXPECT_TRUE(Write(p.mode, p.cv, value));
      EXPECT_EQ(progress_.back(), kConfirmed);
      EXPECT_EQ(Cv(p.decoder_cv), value);
      EXPECT_FALSE(rts_);

      cv_value_ = -7;
      EXPECT_TRUE(Read(p.mode, p.cv));
      EXPECT_EQ(cv_value_, value);
      EXPECT_FALSE(rts_);
    }
  }
}

TEST_F(ProgrammingMethodsTest, ReadOnlyCv8IsReadInEveryModeAndRefusesWrites) {
  // The manufacturer's number: every mode reaches it (register 8, page 2 register 4).
  for (const char* mode : {"dir", "dio", "reg", "pag", "roc"}) {
    for (int value : {0, 1, 0x81, 255}) {
      SCOPED_TRACE(std::string(mode) + " CV 8 = " + std::to_string(value));
      SetCv(8, value);
      cv_value_ = -7;
      EXPECT_TRUE(Read(mode, 8));
      EXPECT_EQ(cv_value_, value);
    }
    EXPECT_FALSE(Write(mode, 8, 0x42)) << mode;
    EXPECT_EQ(progress_.back(), kFailed);
    EXPECT_EQ(Cv(8), 255);
  }
}

TEST_F(ProgrammingMethodsTest, EachMethodSendsItsBursts) {
  const struct {
    const char* what;
    const char* mode;
    bool write;
    int cv, value;
    std::vector<Burst> bursts;
  } cases[] = {
      {"dio read of 0: one candidate", "dio", false, 29, 0, {{{0x74, 0x1C, 0x00}, 5}}},
      {"reg read of CV 8 behind the page preset",
       "reg",
       false,
       8,
       2,
       {{{0x7D, 0x01}, 5}, {{0x77, 0x00}, 5}, {{0x77, 0x01}, 5}, {{0x77, 0x02}, 5}}},
      {"pag read of CV 1024: page 256 as 0, data register 4",
       "pag",
       false,
       1024,
       1,
       {{{0x7D, 0x00}, 5}, {{0x73, 0x00}, 5}, {{0x73, 0x01}, 5}}},
      {"dir write of CV 1024", "dir", true, 1024, 0x81, {{{0x7F, 0xFF, 0x81}, 11}}},
      {"dio write of CV 1", "dio", true, 1, 5, {{{0x7C, 0x00, 0x05}, 11}}},
      // The page preset first: the page register may still name another page.
      {"reg write of CV 8 (factory reset)", "reg", true, 8, 8, {{{0x7D, 0x01}, 5}, {{0x7F, 0x08}, 5}}},
      {"pag write of CV 1024", "pag", true, 1024, 255, {{{0x7D, 0x00}, 5}, {{0x7B, 0xFF}, 11}}},
      {"roc write of CV 1", "roc", true, 1, 3, {{{0x78, 0x03}, 5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.write) SetCv(c.cv, c.value);
    const bool ack = c.write ? Write(c.mode, c.cv, c.value) : Read(c.mode, c.cv);
    EXPECT_TRUE(ack);
    EXPECT_EQ(Bursts(), c.bursts);
  }
  // The register write of 8 into CV 8 was the factory reset.
  EXPECT_EQ(Cv(1), sim::DecoderModel::DefaultCv(1));
}

TEST_F(ProgrammingMethodsTest, OldLenzRocoCyclesThePowerAfterThePreset) {
  // Read: the preset (its last copies cut off by the power going), the power cycle,
  // then the scan. Write: the power cycle, then the register write behind no preset.
  SetCv(2, 1);
  EXPECT_TRUE(Read("roc", 2));
  EXPECT_EQ(cv_value_, 1);
  EXPECT_EQ(Sequence(), (std::vector<std::string>{"7D 01", "off", "on", "71 00", "71 01"}));
  EXPECT_TRUE(Write("roc", 2, 7));
  EXPECT_EQ(Sequence(), (std::vector<std::string>{"off", "on", "79 07"}));
  EXPECT_EQ(Cv(2), 7);
}

TEST_F(ProgrammingMethodsTest, BitwiseReadShowsEachBitThenVerifiesTheByte) {
  SetCv(29, 0x81);
  EXPECT_TRUE(Read("dir", 29));
  EXPECT_EQ(cv_value_, 0x81);
  const std::vector<std::string> expected = {"   Bit 0=1 ", "   Bit 1=0 ", "   Bit 2=0 ",
                                             "   Bit 3=0 ", "   Bit 4=0 ", "   Bit 5=0 ",
                                             "   Bit 6=0 ", "   Bit 7=1 ", "teste 129 "};
  EXPECT_EQ(progress_, expected);
  std::vector<Burst> bursts;
  for (int bit = 0; bit < 8; ++bit) bursts.push_back({{0x78, 0x1C, std::uint8_t(0xE8 + bit)}, 5});
  bursts.push_back({{0x74, 0x1C, 0x81}, 5});
  EXPECT_EQ(Bursts(), bursts);
  EXPECT_EQ(Count(TrackLogEntry::kAcknowledge), 3);
}

TEST_F(ProgrammingMethodsTest, BitwiseReadFailsWhenTheByteVerifyDoesNot) {
  // CV 29 changes under the read after bit 3: bits 0..3 come from 6, bits 4..7 from
  // 0xFF, so the assembled 0xF6 is not what the decoder holds.
  SetCv(29, 6);
  on_progress_ = [this](const std::string& text) {
    if (text == "   Bit 3=0 ") SetCv(29, 0xFF);
  };
  EXPECT_FALSE(Read("dir", 29));
  EXPECT_EQ(cv_value_, 0xF6);
  EXPECT_EQ(progress_.back(), "teste 246 ");
  EXPECT_EQ(Count(TrackLogEntry::kAcknowledge), 6);  // bits 1, 2, 4..7; not the byte
  EXPECT_FALSE(rts_);
}

TEST_F(ProgrammingMethodsTest, PagedWriteNeedsTheSecondAcknowledge) {
  // CV 7 is read-only: the page write is acknowledged, the data write is not.
  const int before = Cv(7);
  EXPECT_FALSE(Write("pag", 7, 0x81));
  EXPECT_EQ(Count(TrackLogEntry::kAcknowledge), 1);
  EXPECT_EQ(progress_.back(), kFailed);
  EXPECT_EQ(Cv(7), before);
  // Both acknowledged, each its own ring: confirmed.
  track_.ClearLog();
  EXPECT_TRUE(Write("pag", 6, 0x81));
  EXPECT_EQ(Count(TrackLogEntry::kAcknowledge), 2);
  EXPECT_EQ(Cv(6), 0x81);
}

TEST_F(ProgrammingMethodsTest, AbortEndsTheReadUnconfirmedWithItsEndWait) {
  const struct {
    const char* mode;
    const char* abort_at;  // the progress text at which AbortFlag is set
    int cv_value;          // afterwards
    Packet last_packet;
    int end_ticks;  // the read's end wait
  } cases[] = {
      // The scan stops after the candidate under way.
      {"dio", "teste 10 ", 10, {0x74, 0x1C, 0x0A}, 10},
      {"pag", "teste 3 ", 3, {0x70, 0x03}, 10},
      // The bits after the abort are skipped and no byte verify goes out, although
      // the last bit verify was acknowledged.
      {"dir", "   Bit 1=1 ", 2, {0x78, 0x1C, 0xE9}, 11},
      {"dir", "   Bit 7=1 ", 0xC2, {0x78, 0x1C, 0xEF}, 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " at " + c.abort_at);
    SetCv(29, 0xC2);
    abort_ = false;
    sim::SimTime aborted{};
    on_progress_ = [&](const std::string& text) {
      if (text != c.abort_at) return;
      abort_ = true;
      aborted = clock_.Now();
    };
    EXPECT_FALSE(Read(c.mode, 29));
    // The first of the end wait's ticks may come at once.
    EXPECT_GE(clock_.Now() - aborted, (c.end_ticks - 1) * 10ms);
    EXPECT_EQ(cv_value_, c.cv_value);
    EXPECT_FALSE(rts_);
    const std::vector<Burst> bursts = Bursts();
    ASSERT_FALSE(bursts.empty());
    EXPECT_EQ(bursts.back().packet, c.last_packet);
  }
  on_progress_ = nullptr;
  abort_ = false;
}

TEST_F(ProgrammingMethodsTest, CvsOutsideTheModesReachSendNothing) {
  const struct {
    const char* mode;
    int cv;
  } cases[] = {{"reg", 9},    {"reg", 0},    {"roc", 9}, {"roc", 1024}, {"dir", 0},
               {"dir", 1025}, {"dio", 1025}, {"pag", 0}, {"pag", 1025}};
  const int cv1 = Cv(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " CV " + std::to_string(c.cv));
    link_->AckResult = true;
    EXPECT_FALSE(Read(c.mode, c.cv));
    EXPECT_TRUE(Bursts().empty());
    link_->AckResult = true;
    EXPECT_FALSE(Write(c.mode, c.cv, 0x81));
    EXPECT_TRUE(Bursts().empty());
    EXPECT_EQ(progress_, std::vector<std::string>{kFailed});
  }
  EXPECT_EQ(Cv(1), cv1);  // register 1 never touched
}

TEST_F(ProgrammingMethodsTest, UnknownModeSendsNothingAndFails) {
  link_->SetDTR(false);
  link_->WaitTicks(2);
  for (const char* mode : {"xyz", "DIR", ""}) {
    SCOPED_TRACE(mode);
    link_->AckResult = true;  // a previous command's outcome must not show through
    EXPECT_FALSE(Read(mode, 29));
    link_->AckResult = true;
    EXPECT_FALSE(Write(mode, 29, 3));
    EXPECT_EQ(progress_, std::vector<std::string>{kFailed});
  }
  EXPECT_TRUE(Bursts().empty());
  EXPECT_FALSE(track_.Powered());
}

// Characters the LGB interface received, as the track log names its messages.
std::vector<std::string> LgbMessages(const std::vector<TrackLogEntry>& log) {
  std::vector<std::string> messages;
  for (const TrackLogEntry& e : log) {
    if (e.kind == TrackLogEntry::kLgb) messages.push_back(e.text);
  }
  return messages;
}

TEST_F(ProgrammingMethodsTest, LgbReadsAndWritesThroughTheInterface) {
  SetUpLgb();
  SetCv(29, 6);
  EXPECT_TRUE(Write("dir", 29, 9));
  EXPECT_EQ(Cv(29), 9);
  EXPECT_EQ(progress_.back(), kConfirmed);
  EXPECT_FALSE(rts_);

  for (const char* mode : {"dir", "dio"}) {
    cv_value_ = -7;
    EXPECT_TRUE(Read(mode, 29)) << mode;
    EXPECT_EQ(cv_value_, 9);
    EXPECT_TRUE(progress_.empty());
    EXPECT_TRUE(rts_);  // the interface keeps RTS
  }
  EXPECT_EQ(Count(TrackLogEntry::kPacket), 0);

  // The read-only CV 7: the interface answers 98 07 00.
  EXPECT_FALSE(Write("dir", 7, 1));
  EXPECT_EQ(progress_.back(), kFailed);
}

TEST_F(ProgrammingMethodsTest, LgbRepliesAreJudgedByWhatHasArrived) {
  SetUpLgb();
  SetCv(29, 5);
  struct Case {
    const char* name;
    int limit;
    sim::LgbReplyFault fault;
    bool read;
    int value;
  };
  const Case cases[] = {
      {"4 characters", -1, sim::LgbReplyFault::kNone, true, 5},
      // A reply that never becomes whole gives no value (it used to read as 0).
      {"3 characters", 3, sim::LgbReplyFault::kNone, false, -7},
      {"2 characters", 2, sim::LgbReplyFault::kNone, false, -7},
      {"1 character", 1, sim::LgbReplyFault::kNone, false, -7},
      {"another CV", -1, sim::LgbReplyFault::kWrongCv, false, -7},
      {"a wrong check byte", -1, sim::LgbReplyFault::kCorruptCheck, false, -7},
      {"another kind of reply", -1, sim::LgbReplyFault::kWrongKind, false, -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::LgbSettings settings;
    settings.reply_limit = c.limit;
    settings.fault = c.fault;
    SetLgb(settings);
    cv_value_ = -7;
    EXPECT_EQ(Read("dir", 29), c.read);
    EXPECT_EQ(cv_value_, c.value);
  }
  // A write needs 98 N 01 whole.
  sim::LgbSettings two;
  two.reply_limit = 2;
  SetLgb(two);
  EXPECT_FALSE(Write("dir", 29, 7));
  EXPECT_EQ(Cv(29), 7);  // stored all the same
}

TEST_F(ProgrammingMethodsTest, LgbWaitsEndWithoutAReply) {
  SetUpLgb();
  sim::LgbSettings silent;
  silent.silent = true;
  SetLgb(silent);
  // A read waits up to 200 ticks, a write up to 20 (each tick 10 ms, one more
  // begun when the count is passed).
  Begin("dir", 29);
  sim::SimTime start = clock_.Now();
  programmer_->ReadCv();
  EXPECT_FALSE(link_->AckResult);
  EXPECT_GE(Since(start), std::chrono::milliseconds(2000));
  EXPECT_LE(Since(start), std::chrono::milliseconds(2020));

  Begin("dir", 29);
  start = clock_.Now();
  programmer_->WriteCv();
  EXPECT_FALSE(link_->AckResult);
  EXPECT_EQ(progress_.back(), kFailed);
  // 20..21 ticks for the reply, then 2 at the end of the write.
  EXPECT_GE(Since(start), std::chrono::milliseconds(210));
  EXPECT_LE(Since(start), std::chrono::milliseconds(240));
}

TEST_F(ProgrammingMethodsTest, LgbSendsNothingItCannotName) {
  SetUpLgb();
  SetCv(44, 12);
  // CV 300 would go out as 44 (its low byte): neither read nor written.
  EXPECT_FALSE(Read("dir", 300));
  EXPECT_FALSE(Read("dio", 300));
  EXPECT_FALSE(Write("dir", 300, 99));
  EXPECT_EQ(progress_.back(), kFailed);
  EXPECT_EQ(Cv(44), 12);
  // Only the direct modes exist for the interface; the others send nothing at all.
  for (const char* mode : {"reg", "pag", "roc"}) {
    EXPECT_FALSE(Read(mode, 1)) << mode;
    EXPECT_FALSE(Write(mode, 1, 5)) << mode;
    EXPECT_EQ(progress_.back(), kFailed);
  }
  link_->WaitTicks(10);
  EXPECT_TRUE(LgbMessages(track_.Log()).empty());
  EXPECT_EQ(Cv(1), 3);
}

}  // namespace
}  // namespace qarn2::programming
