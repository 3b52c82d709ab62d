#include "sim/decoder_model.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "encoding/bit_string.h"

namespace qarn2::sim {
namespace {

using encoding::Packet;
using namespace std::chrono_literals;

// One service or reset packet with its preamble lasts about this long on the track.
constexpr SimTime kPacketTime = 9ms;
const Packet kReset{0x00, 0x00};
const Packet kIdle{0xFF, 0x00};

std::uint8_t B(int value) { return static_cast<std::uint8_t>(value); }

// Direct mode, 0111 CCAA AAAAAAAA DDDDDDDD: CC = 1 verify, 3 write, 2 bit manipulation.
Packet Direct(int cc, int cv, int data) {
  return {B(0x70 | cc << 2 | (cv - 1) >> 8), B(cv - 1), B(data)};
}
Packet DirectVerify(int cv, int v) { return Direct(1, cv, v); }
Packet DirectWrite(int cv, int v) { return Direct(3, cv, v); }
// 111K DBBB: K = 1 writes, D is the bit's value.
Packet DirectBit(int cv, bool write, int bit, int d) {
  return Direct(2, cv, 0xE0 | (write ? 0x10 : 0) | d << 3 | bit);
}
// Register and paged mode, 0111 CRRR DDDDDDDD.
Packet RegisterVerify(int reg, int v) { return {B(0x70 + reg - 1), B(v)}; }
Packet RegisterWrite(int reg, int v) { return {B(0x78 + reg - 1), B(v)}; }

class DecoderModelTest : public ::testing::Test {
 protected:
  DecoderModelTest() { decoder_.PowerOn(now_); }

  DecoderModel::Reaction Send(const Packet& packet, SimTime after = kPacketTime) {
    now_ += after;
    std::vector<std::uint8_t> bytes = packet;
    std::uint8_t check = 0;
    for (std::uint8_t b : packet) check ^= b;
    bytes.push_back(check);
    return decoder_.OnPacket(now_, bytes);
  }
  // `copies` back to back; the number of acknowledges.
  int Burst(const Packet& packet, int copies) {
    int acks = 0;
    for (int i = 0; i < copies; ++i) acks += Send(packet).acknowledge ? 1 : 0;
    return acks;
  }
  // The background stream between two bursts.
  void Resets(int count = 4) { Burst(kReset, count); }
  void PowerCycle() {
    decoder_.PowerOff(now_);
    now_ += 200ms;
    decoder_.PowerOn(now_);
    Resets();
  }

  // The verify scan: candidates 0..255, 5 copies each; the first acknowledged wins.
  int Scan(const std::function<Packet(int)>& verify) {
    for (int v = 0; v < 256; ++v) {
      const int acks = Burst(verify(v), 5);
      Resets();
      if (acks > 0) return v;
    }
    return -1;
  }

  // The read and write sequences of the five programming modes, as the program sends
  // them; -1 / false when the decoder does not confirm.
  int Read(const std::string& mode, int cv) {
    Resets();
    if (mode == "dir") {
      int value = 0;
      for (int b = 0; b < 8; ++b) {
        if (Burst(DirectBit(cv, false, b, 1), 5) > 0) value |= 1 << b;
        Resets();
      }
      return Burst(DirectVerify(cv, value), 5) > 0 ? value : -1;
    }
    if (mode == "dio") return Scan([cv](int v) { return DirectVerify(cv, v); });
    if (mode == "pag") {
      Burst(RegisterWrite(6, (cv - 1) / 4 + 1), 5);  // page register, page 256 as 0
      Resets();
      return Scan([cv](int v) { return RegisterVerify((cv - 1) % 4 + 1, v); });
    }
    Burst(RegisterWrite(6, 1), 5);  // the page preset
    if (mode == "roc") PowerCycle();
    Resets();
    return Scan([cv](int v) { return RegisterVerify(cv, v); });
  }
  bool Write(const std::string& mode, int cv, int v) {
    Resets();
    if (mode == "dir" || mode == "dio") return Burst(DirectWrite(cv, v), 11) > 0;
    if (mode == "reg") return Burst(RegisterWrite(cv, v), 5) > 0;
    if (mode == "pag") {
      // The program's first wait takes the first acknowledge; only a second confirms.
      const int acks = Burst(RegisterWrite(6, (cv - 1) / 4 + 1), 5) + Burst(kReset, 10) +
                       Burst(RegisterWrite((cv - 1) % 4 + 1, v), 11);
      return acks >= 2;
    }
    PowerCycle();  // "roc"
    return Burst(RegisterWrite(cv, v), 5) + Burst(kReset, 5) > 0;
  }

  DecoderModel decoder_;
  SimTime now_{0};
};

TEST_F(DecoderModelTest, EveryModeWritesAndReadsBack) {
  struct Case {
    const char* mode;
    int cv;          // as the user names it; "reg" and "roc" send it as the register
    int decoder_cv;  // where it lands: register 5 is CV 29
    int value;
  };
  const Case cases[] = {
      {"dir", 29, 29, 0x81}, {"dir", 1024, 1024, 0}, {"dir", 67, 67, 255},
      {"dio", 1, 1, 0},      {"dio", 300, 300, 255}, {"reg", 5, 29, 38},
      {"reg", 1, 1, 44},     {"reg", 4, 4, 7},       {"pag", 29, 29, 34},
      {"pag", 3, 3, 200},    {"pag", 1024, 1024, 9}, {"pag", 1021, 1021, 1},
      {"roc", 2, 2, 17},     {"roc", 5, 29, 2},      {"roc", 3, 3, 128},
  };
  // "roc" right after "pag" on page 256: its write has no page preset and relies on
  // the power-on alone to bring registers 1..4 back to CV 1..4.
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " CV " + std::to_string(c.cv));
    EXPECT_TRUE(Write(c.mode, c.cv, c.value));
    EXPECT_EQ(decoder_.Cv(c.decoder_cv), c.value);
    EXPECT_EQ(Read(c.mode, c.cv), c.value);
  }
}

// A "reg" write sends no page preset, so after a paged access it lands on the page
// that paged mode left behind, as on a real decoder; the "reg" read presets page 1.
TEST_F(DecoderModelTest, RegisterWriteAfterPagedAccess) {
  ASSERT_TRUE(Write("pag", 1024, 9));
  EXPECT_TRUE(Write("reg", 2, 5));
  EXPECT_EQ(decoder_.Cv(1022), 5);
  EXPECT_EQ(decoder_.Cv(2), DecoderModel::DefaultCv(2));
  EXPECT_EQ(Read("reg", 2), DecoderModel::DefaultCv(2));
}

TEST_F(DecoderModelTest, ReadOnlyCvsAndFactoryReset) {
  for (const char* mode : {"dir", "reg", "pag"}) {
    SCOPED_TRACE(mode);
    EXPECT_FALSE(Write(mode, 7, 99));
    EXPECT_FALSE(Write(mode, 8, 13));
    decoder_.SetCv(29, 0);
    decoder_.SetCv(1024, 1);
    EXPECT_TRUE(Write(mode, 8, 8));
    for (int cv = 1; cv <= DecoderModel::kCvCount; ++cv) {
      ASSERT_EQ(decoder_.Cv(cv), DecoderModel::DefaultCv(cv)) << "CV " << cv;
    }
  }
  // The program's factory reset: three copies of register 8 := 8, acknowledged once.
  decoder_.SetCv(1, 77);
  Resets();
  EXPECT_EQ(Burst(RegisterWrite(8, 8), 3), 1);
  EXPECT_EQ(decoder_.Cv(1), 3);
}

// Each packet twice after resets: the acknowledge of the second copy, the CV after it.
TEST_F(DecoderModelTest, SingleInstructions) {
  struct Case {
    Packet packet;
    bool ack;
    int cv29_after;
    const char* meaning;
  };
  const Case cases[] = {
      {DirectVerify(29, 7), false, 6, "service: verify CV 29 = 7 (no match)"},
      {DirectBit(29, false, 1, 1), true, 6, "service: verify CV 29 bit 1 = 1 (match)"},
      {DirectBit(29, false, 0, 1), false, 6, "service: verify CV 29 bit 0 = 1 (no match)"},
      {DirectBit(29, false, 0, 0), true, 6, "service: verify CV 29 bit 0 = 0 (match)"},
      {DirectBit(29, true, 0, 1), true, 7, "service: write CV 29 bit 0 = 1 (stored)"},
      {DirectBit(29, true, 2, 0), true, 2, "service: write CV 29 bit 2 = 0 (stored)"},
      {DirectBit(8, true, 0, 0), false, 6, "service: write CV 8 bit 0 = 0 (refused: read-only)"},
      {{0x70, 0x1C, 0x06}, false, 6, "service: reserved instruction 70 1C 06 (ignored)"},
  };
  for (const Case& c : cases) {
    decoder_.FactoryReset();
    Resets();
    EXPECT_FALSE(Send(c.packet).acknowledge);
    const DecoderModel::Reaction second = Send(c.packet);
    EXPECT_EQ(second.meaning, c.meaning);
    EXPECT_EQ(second.acknowledge, c.ack) << c.meaning;
    EXPECT_EQ(decoder_.Cv(29), c.cv29_after) << c.meaning;
  }
}

TEST_F(DecoderModelTest, AcknowledgePolicies) {
  struct Case {
    AckPolicy policy;
    Packet packet;
    std::vector<bool> acks;  // per copy
  };
  const std::vector<bool> once{false, true, false, false, false};
  const std::vector<bool> every{false, true, true, true, true};
  const std::vector<bool> never(5, false);
  const Case cases[] = {
      {AckPolicy::kOncePerCommand, DirectVerify(1, 3), once},
      {AckPolicy::kEveryRepeatAfterFirst, DirectVerify(1, 3), every},
      {AckPolicy::kEveryRepeatAfterFirst, RegisterWrite(6, 1), every},
      {AckPolicy::kNeverAfterWrite, DirectVerify(1, 3), once},
      {AckPolicy::kNeverAfterWrite, RegisterWrite(8, 8), never},
      {AckPolicy::kNeverAfterWrite, DirectWrite(2, 9), never},
  };
  for (const Case& c : cases) {
    decoder_.SetAckPolicy(c.policy);
    Resets();
    std::vector<bool> acks;
    for (std::size_t i = 0; i < c.acks.size(); ++i) acks.push_back(Send(c.packet).acknowledge);
    EXPECT_EQ(acks, c.acks) << "policy " << static_cast<int>(c.policy);
  }
  EXPECT_EQ(decoder_.Cv(2), 9);  // the silent write was still stored
}

// What may come between the two copies of a command, and whether the pair holds.
TEST_F(DecoderModelTest, ServiceModeAndPairs) {
  struct Case {
    const char* name;
    std::function<void()> between;
    bool ack;
  };
  const Case cases[] = {
      {"nothing", [] {}, true},
      {"two resets", [this] { Resets(2); }, true},
      {"three resets: a new command", [this] { Resets(3); }, false},
      {"another service packet", [this] { Send(DirectVerify(2, 0)); }, false},
      {"idle packet", [this] { Send(kIdle); }, false},
      {"operations packet",
       [this] {
         Send(Packet{0x05, 0x60});
       },
       false},
      {"20 ms gap", [this] { now_ += 20ms - kPacketTime; }, true},
      {"longer gap", [this] { now_ += 20ms - kPacketTime + 1ns; }, false},
      {"power cycle", [this] { decoder_.PowerOff(now_), decoder_.PowerOn(now_ + 1ms); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Resets();
    Send(DirectVerify(1, 3));
    c.between();
    EXPECT_EQ(Send(DirectVerify(1, 3)).acknowledge, c.ack);
  }
  // Without a reset first there is no service mode, and the packet is not acted on.
  PowerCycle();
  Send(kIdle);
  EXPECT_EQ(Burst(DirectVerify(1, 3), 5), 0);
  EXPECT_EQ(Send(kReset).meaning, "reset");
  EXPECT_TRUE(decoder_.InServiceMode(now_ + 20ms));
  EXPECT_FALSE(decoder_.InServiceMode(now_ + 21ms));
  EXPECT_EQ(Send(kIdle).meaning, "idle [leaves service mode]");
}

// Operations packets as the try-outs send them, read by a 14-step (CV 29 = 4) and a
// 28-step (CV 29 = 6) decoder at address 3.
TEST_F(DecoderModelTest, OperationsPackets) {
  struct Case {
    int cv29;
    Packet packet;
    const char* meaning;
    int speed_step;
    bool forward;
    bool fl;
    std::vector<int> functions_on;
  };
  const Case cases[] = {
      {4, {0x03, 0x76}, "ops: loco 3 speed 5/14 forward FL on", 5, true, true, {}},
      {4, {0x03, 0x95}, "ops: loco 3 group 1: F1=1 F2=0 F3=1 F4=0", 0, true, false, {1, 3}},
      {6, {0x03, 0x72}, "ops: loco 3 speed 2/28 forward", 2, true, false, {}},
      {6, {0x03, 0x5F}, "ops: loco 3 speed 28/28 reverse", 28, false, false, {}},
      {6, {0x03, 0x95}, "ops: loco 3 group 1: FL=1 F1=1 F2=0 F3=1 F4=0", 0, true, true, {1, 3}},
      {6, {0x03, 0xB9}, "ops: loco 3 group 2: F5=1 F6=0 F7=0 F8=1", 0, true, false, {5, 8}},
      {6, {0x03, 0xA4}, "ops: loco 3 group 2: F9=0 F10=0 F11=1 F12=0", 0, true, false, {11}},
      {6, {0x00, 0x7F}, "ops: all locos speed 28/28 forward", 28, true, false, {}},
      {6, {0x05, 0x7F}, "ops: loco 5 speed 28/28 forward (other address)", 0, true, false, {}},
      {6, {0x03, 0x3F, 0x85}, "ops: loco 3 speed 4/126 forward", 4, true, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.meaning);
    decoder_.SetCv(29, B(c.cv29));
    decoder_.PowerOn(now_);
    EXPECT_EQ(Send(c.packet).meaning, c.meaning);
    const LocoState& loco = decoder_.loco();
    EXPECT_EQ(std::tie(loco.speed_step, loco.forward, loco.fl),
              std::tie(c.speed_step, c.forward, c.fl));
    std::array<bool, 13> f{};
    for (int n : c.functions_on) f[n] = true;
    EXPECT_EQ(loco.f, f);
  }
  // A long address takes over from CV 1 when CV 29 bit 5 is set.
  decoder_.SetCv(29, 6 | 0x20);
  decoder_.SetCv(17, 0xC4);
  decoder_.SetCv(18, 0xD2);
  EXPECT_EQ(Send({0xC4, 0xD2, 0x6F}).meaning, "ops: loco 1234 (long) speed 27/28 forward");
  EXPECT_EQ(Send({0x03, 0x40}).meaning, "ops: loco 3 stop reverse (other address)");
}

TEST_F(DecoderModelTest, BasicAccessoryOutputs) {
  struct Case {
    Packet packet;
    const char* meaning;
    int address;
    std::uint8_t outputs_on;  // bit per output after the packet
  };
  const Case cases[] = {
      {{0x81, 0xF9}, "accessory 1 output 1 on", 1, 0x02},
      {{0x81, 0xF8}, "accessory 1 output 0 on", 1, 0x01},  // its partner goes off
      {{0x81, 0xFF}, "accessory 1 output 7 on", 1, 0x81},
      {{0x81, 0xF7}, "accessory 1 output 7 off", 1, 0x01},
      {{0xA0, 0xFD}, "accessory 32 output 5 on", 32, 0x20},
      {{0xBF, 0x89}, "accessory 511 output 1 on", 511, 0x02},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Send(c.packet).meaning, c.meaning);
    for (int output = 0; output < 8; ++output) {
      EXPECT_EQ(decoder_.AccessoryOutputOn(c.address, output), ((c.outputs_on >> output) & 1) != 0)
          << c.meaning << ", output " << output;
    }
  }
}

}  // namespace
}  // namespace qarn2::sim
