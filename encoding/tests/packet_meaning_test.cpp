// The words for DCC packets, for the forms other than the program's own (those are
// checked through the encoders in the engine's tests): long addresses, 128 steps,
// CV access on the main, the higher functions, accessories, and what is broken.

#include "encoding/packet_meaning.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qarn2::encoding {
namespace {

std::vector<std::uint8_t> WithCheck(std::vector<std::uint8_t> bytes) {
  std::uint8_t check = 0;
  for (std::uint8_t b : bytes) check ^= b;
  bytes.push_back(check);
  return bytes;
}

struct Case {
  std::vector<std::uint8_t> bytes;  // without the check byte
  std::size_t preamble;
  const char* meaning;
};

TEST(PacketMeaningTest, EveryKindOfPacketInWords) {
  const Case cases[] = {
      // The preamble decides between service mode and a locomotive 112..127.
      {{0x74, 0x1C, 0x06}, 20, "service: verify CV 29 = 6"},
      {{0x74, 0x1C, 0x06}, 19, "ops: loco 116 decoder control 1C + extra bytes 06"},
      {{0x77, 0xFF, 0x00}, 22, "service: verify CV 1024 = 0"},
      {{0x70, 0x00, 0x00}, 20, "service: reserved instruction 70 00 00"},
      {{0x78, 0x1C, 0x12}, 20, "service: reserved instruction 78 1C 12"},
      {{0x74, 0x1C, 0x06, 0x01}, 20, "service: packet 74 1C 06 01 not known"},
      {{0x74, 0x20}, 20, "service: verify register 5 (CV 29) = 32"},
      {{0x7E, 0x01}, 20, "service: write register 7 (CV 7) = 1"},
      {{0x00, 0x00}, 25, "reset"},
      // Operations mode: addresses.
      {{0x00, 0x01}, 10, "ops: all locos hard reset"},
      {{0x05, 0x00}, 10, "ops: loco 5 decoder reset"},
      {{0xC4, 0xD2, 0x64}, 10, "ops: loco 1234 (long) speed 5 forward (28 steps) or speed 3 forward FL off (14 steps)"},
      {{0xE7, 0xFF, 0x80}, 10, "ops: loco 10239 (long) functions F1=0 F2=0 F3=0 F4=0, FL=0 with 28 steps"},
      {{0xC4, 0xD2}, 10, "ops: long address without instruction C4 D2"},
      {{0xE8, 0x00}, 10, "ops: reserved address E8 00"},
      {{0xFF, 0x01}, 10, "ops: idle address FF 01"},
      // Instructions the program does not send.
      {{0x03, 0x3F, 0x86}, 10, "ops: loco 3 speed 5 forward (128 steps)"},
      {{0x03, 0x3F, 0x01}, 10, "ops: loco 3 emergency stop reverse (128 steps)"},
      {{0x03, 0x3F, 0x80}, 10, "ops: loco 3 stop forward (128 steps)"},
      {{0x03, 0x3F}, 10, "ops: loco 3 incomplete instruction 3F"},
      {{0x03, 0x3E, 0x10}, 10, "ops: loco 3 advanced operation 3E 10"},
      {{0x03, 0x12, 0x05}, 10, "ops: loco 3 consist address 5"},
      {{0x03, 0x13, 0x05}, 10, "ops: loco 3 consist address 5 reversed"},
      {{0x03, 0x0A}, 10, "ops: loco 3 decoder control 0A"},
      {{0x03, 0xDE, 0x81}, 10, "ops: loco 3 functions F13=1 F14=0 F15=0 F16=0 F17=0 F18=0 F19=0 F20=1"},
      {{0x03, 0xDF, 0x02}, 10, "ops: loco 3 functions F21=0 F22=1 F23=0 F24=0 F25=0 F26=0 F27=0 F28=0"},
      {{0x03, 0xC5, 0x02}, 10, "ops: loco 3 feature expansion C5 02"},
      {{0x03, 0xEC, 0x1C, 0x06}, 10, "ops: loco 3 write CV 29 = 6"},
      {{0x03, 0xE7, 0xFF, 0x2A}, 10, "ops: loco 3 verify CV 1024 = 42"},
      {{0x03, 0xE8, 0x1C, 0xFD}, 10, "ops: loco 3 write CV 29 bit 5 = 1"},
      {{0x03, 0xE8, 0x1C, 0xE5}, 10, "ops: loco 3 verify CV 29 bit 5 = 0"},
      {{0x03, 0xE0, 0x1C, 0x06}, 10, "ops: loco 3 reserved CV access E0 1C 06"},
      {{0x03, 0xEC, 0x1C}, 10, "ops: loco 3 incomplete instruction EC 1C"},
      {{0x03, 0xF2, 0x10}, 10, "ops: loco 3 write CV 23 = 16"},
      {{0x03, 0xF9, 0x10}, 10, "ops: loco 3 short-form CV access F9 10"},
      {{0x03, 0x64, 0x22}, 10,
       "ops: loco 3 speed 5 forward (28 steps) or speed 3 forward FL off (14 steps) + extra bytes 22"},
      // The 28-step codes at the edges, and their 14-step reading.
      {{0x03, 0x50}, 10, "ops: loco 3 stop reverse (28 steps) or stop reverse FL on (14 steps)"},
      {{0x03, 0x61}, 10, "ops: loco 3 emergency stop forward (28 steps) or emergency stop forward FL off (14 steps)"},
      {{0x03, 0x72}, 10, "ops: loco 3 speed 2 forward (28 steps) or speed 1 forward FL on (14 steps)"},
      {{0x03, 0x7F}, 10, "ops: loco 3 speed 28 forward (28 steps) or speed 14 forward FL on (14 steps)"},
      // Accessories: the high address bits inverted in the second byte.
      {{0x80, 0xF8}, 10, "accessory: decoder 0 output 0 on"},
      {{0xBF, 0xF8}, 10, "accessory: decoder 63 output 0 on"},
      {{0x81, 0xE3}, 10, "accessory: decoder 65 output 3 off"},
      {{0xBF, 0x8B}, 10, "accessory: all decoders output 3 on"},
      {{0x81, 0xF9, 0x00}, 10, "accessory: decoder 1 instruction 00"},
      {{0x81, 0x71, 0x05}, 10, "accessory: extended decoder 4 aspect 5"},
      {{0x81, 0x70, 0x05}, 10, "accessory: packet 81 70 05 not known"},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> bytes = WithCheck(c.bytes);
    EXPECT_EQ(PacketMeaning(bytes, c.preamble), c.meaning) << "preamble " << c.preamble;
  }
}

TEST(PacketMeaningTest, ABrokenPacketSaysWhatIsWrongBeforeAnythingElse) {
  // A reset and a service packet with a bit of the check byte turned over.
  EXPECT_EQ(PacketMeaning(std::vector<std::uint8_t>{0x00, 0x00, 0x01}, 20), "check byte wrong (should be 00)");
  EXPECT_EQ(PacketMeaning(std::vector<std::uint8_t>{0x74, 0x1C, 0x06, 0x6F}, 20), "check byte wrong (should be 6E)");
  // One byte and its check byte is no packet a decoder takes.
  EXPECT_EQ(PacketMeaning(std::vector<std::uint8_t>{0x03, 0x03}, 10), "packet too short");
  EXPECT_EQ(PacketMeaning(std::vector<std::uint8_t>{}, 10), "packet too short");
}

}  // namespace
}  // namespace qarn2::encoding
