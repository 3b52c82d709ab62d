#include "encoding/stream_decoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/fixed_streams.h"

namespace qarn2::encoding {
namespace {

using ::testing::HasSubstr;

constexpr double kU = kSerialBitTimeUs;

// "55 C6 78" -> the three characters.
std::string Chars(const std::string& hex) {
  std::istringstream in(hex);
  std::string out;
  unsigned value = 0;
  while (in >> std::hex >> value) out += static_cast<char>(value);
  return out;
}

// "0 1111 0" -> "011110": blanks are only for reading.
std::string Bits(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ') out += c;
  }
  return out;
}

// Start bit, 8 bits most significant first, per byte; then the end bit.
std::string PacketBits(const std::vector<std::uint8_t>& bytes_with_check) {
  std::string out;
  for (std::uint8_t byte : bytes_with_check) {
    out += '0';
    for (int b = 7; b >= 0; --b) out += ((byte >> b) & 1) ? '1' : '0';
  }
  return out + '1';
}

// Runs as "S2 M2 S3 M3", counted in serial bit times.
std::string RunShape(const std::vector<LineRun>& runs, double bit_time_us) {
  std::string out;
  for (const LineRun& run : runs) {
    if (!out.empty()) out += ' ';
    out += run.mark ? 'M' : 'S';
    out += std::to_string(static_cast<int>(run.duration_us / bit_time_us + 0.5));
  }
  return out;
}

// --- Line levels -------------------------------------------------------------------

TEST(LineRunsOf, OneCharacterGivesStartDataStopBitsLsbFirst) {
  struct Case {
    unsigned char character;
    const char* shape;
  };
  const Case cases[] = {
      {0x55, "S1 M1 S1 M1 S1 M1 S1 M1 S1 M1"},
      {0xC6, "S2 M2 S3 M3"},  // data 0,1,1,0,0,0,1,1
      {0xF0, "S5 M5"},
      {0x00, "S9 M1"},
      {0xFF, "S1 M9"},
      {0x9C, "S3 M3 S2 M2"},
      {0x57, "S1 M3 S1 M1 S1 M1 S1 M1"},
      {0x80, "S8 M2"},
  };
  for (const Case& c : cases) {
    const auto runs = LineRunsOf(std::string(1, static_cast<char>(c.character)));
    EXPECT_EQ(RunShape(runs, kU), c.shape) << "character " << int{c.character};
  }
}

TEST(LineRunsOf, RunsCarryTheirCharacterAndScaleWithBitTime) {
  const auto runs = LineRunsOf(Chars("F0 C6 78"));
  ASSERT_EQ(RunShape(runs, kU), "S5 M5 S2 M2 S3 M3 S4 M4 S1 M1");
  const std::size_t expected_chars[] = {0, 0, 1, 1, 1, 1, 2, 2, 2, 2};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].char_index, expected_chars[i]) << "run " << i;
  }
  EXPECT_TRUE(LineRunsOf("").empty());
  // At half the rate the halves of 'U' are 104 us: five '0' bits, not five '1'.
  const double slow = 1e6 / 9600.0;
  EXPECT_EQ(RunShape(LineRunsOf(Chars("C6"), slow), slow), "S2 M2 S3 M3");
  EXPECT_EQ(DccBitsOf(LineRunsOf("U", slow)).Text(), "00000");
}

// --- DCC bits from whole characters ------------------------------------------------

TEST(DccBitsOf, EveryAlphabetCharacterGivesItsGroup) {
  struct Case {
    unsigned char character;
    const char* group;
  };
  const Case cases[] = {
      {0x55, "11111"}, {0x56, "0111"}, {0x59, "1011"}, {0x65, "1101"}, {0x95, "1110"},
      {0x5C, "011"},   {0x71, "101"},  {0xC5, "110"},  {0x78, "01"},   {0xE1, "10"},
      {0xF0, "0"},     {0xC6, "00"},   {0x96, "010"},  {0x99, "100"},  {0x66, "001"},
  };
  for (const Case& c : cases) {
    const DccBits decoded =
        DccBitsOf(LineRunsOf(std::string(1, static_cast<char>(c.character))));
    EXPECT_FALSE(decoded.error) << int{c.character};
    EXPECT_EQ(decoded.Text(), c.group) << int{c.character};
    EXPECT_TRUE(IsInSerialAlphabet(c.character));
  }
}

TEST(DccBitsOf, BitsKeepTheirHalvesAndCharacter) {
  const DccBits decoded = DccBitsOf(LineRunsOf(Chars("C6 55")));
  ASSERT_EQ(decoded.Text(), "0011111");
  const double halves[] = {2 * kU, 3 * kU, kU};
  for (int i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(decoded.bits[i].space_us, halves[i]) << i;
    EXPECT_DOUBLE_EQ(decoded.bits[i].mark_us, halves[i]) << i;
    EXPECT_EQ(decoded.bits[i].char_index, i < 2 ? 0u : 1u) << i;
  }
}

// Of all 256 characters only the alphabet and 0x9C have equal halves inside the
// windows; every other one breaks on unequal halves.
TEST(DccBitsOf, AllCharactersOutsideAlphabetAndNot9CHaveUnequalHalves) {
  int valid = 0;
  for (int c = 0; c < 256; ++c) {
    const DccBits decoded = DccBitsOf(LineRunsOf(std::string(1, static_cast<char>(c))));
    const bool expect_valid =
        IsInSerialAlphabet(static_cast<unsigned char>(c)) || c == 0x9C;
    EXPECT_EQ(!decoded.error, expect_valid) << "character " << c;
    if (decoded.error) {
      EXPECT_EQ(decoded.error->kind, BitErrorKind::kUnequalHalves) << c;
    } else {
      ++valid;
    }
  }
  EXPECT_EQ(valid, 16);
  EXPECT_FALSE(IsInSerialAlphabet(0x9C));
  EXPECT_EQ(DccBitsOf(LineRunsOf(Chars("9C"))).Text(), "00");
}

// --- DCC bits from crafted line timing ---------------------------------------------

struct TimedRun {
  char level;  // 'S' or 'M'
  double us;
};

std::vector<LineRun> Runs(const std::vector<TimedRun>& timed) {
  std::vector<LineRun> runs;
  for (std::size_t i = 0; i < timed.size(); ++i) {
    runs.push_back({timed[i].level == 'M', timed[i].us, i / 2});
  }
  return runs;
}

struct CraftedCase {
  const char* name;
  std::vector<TimedRun> runs;
  const char* bits;  // decoded before the error
  std::optional<BitErrorKind> error;
  std::size_t error_run = 0;
};

TEST(DccBitsOf, CraftedTimingIsJudgedByTheWindows) {
  using K = BitErrorKind;
  constexpr auto kOut = K::kHalfOutsideWindows;
  // clang-format off
  const CraftedCase cases[] = {
      {"one at lower edge",    {{'S', 52.0}, {'M', 52.0}}, "1", {}},
      {"one at upper edge",    {{'S', 64.0}, {'M', 64.0}}, "1", {}},
      {"one below window",     {{'S', 51.9}, {'M', 51.9}}, "", kOut},
      {"one above window",     {{'S', 64.1}, {'M', 64.1}}, "", kOut},
      {"between windows",      {{'S', 77.0}, {'M', 77.0}}, "", kOut},
      {"zero at lower edge",   {{'S', 90.0}, {'M', 90.0}}, "0", {}},
      {"zero below window",    {{'S', 89.9}, {'M', 89.9}}, "", kOut},
      {"zero at upper edge",   {{'S', 10000.0}, {'M', 10000.0}}, "0", {}},
      {"zero above window",    {{'S', 10000.5}, {'M', 10000.5}}, "", kOut},
      {"halves 1 us apart",    {{'S', 100.0}, {'M', 101.0}}, "0", {}},
      {"halves 1.2 us apart",  {{'S', 100.0}, {'M', 101.2}}, "", K::kUnequalHalves},
      {"mark out of window",   {{'S', 63.6}, {'M', 64.4}}, "", kOut},
      {"space out of window",  {{'S', 64.4}, {'M', 63.6}}, "", kOut},
      {"zero space too short", {{'S', 89.6}, {'M', 90.4}}, "", kOut},
      {"space at the end",     {{'S', 52.0}, {'M', 52.0}, {'S', 104.0}}, "1",
                               K::kSpaceWithoutMark, 2},
      {"idle mark first",      {{'M', 500.0}, {'S', 58.0}, {'M', 58.0}}, "1", {}},
      {"same level joined",    {{'S', 52.0}, {'S', 52.0}, {'M', 104.0}}, "0", {}},
      {"stops at first error", {{'S', 52.0}, {'M', 52.0}, {'S', 120.0}, {'M', 60.0},
                                {'S', 52.0}, {'M', 52.0}}, "1", K::kUnequalHalves, 2},
  };
  // clang-format on
  for (const CraftedCase& c : cases) {
    const DccBits decoded = DccBitsOf(Runs(c.runs));
    EXPECT_EQ(decoded.Text(), c.bits) << c.name;
    ASSERT_EQ(decoded.error.has_value(), c.error.has_value()) << c.name;
    if (c.error) {
      EXPECT_EQ(decoded.error->kind, *c.error) << c.name;
      EXPECT_EQ(decoded.error->run_index, c.error_run) << c.name;
    }
  }
}

TEST(DccBitsOf, ErrorKeepsHalfDurationsForTheMessage) {
  const DccBits decoded = DccBitsOf(Runs({{'S', 70.0}, {'M', 70.4}}));
  ASSERT_TRUE(decoded.error);
  EXPECT_DOUBLE_EQ(decoded.error->space_us, 70.0);
  EXPECT_DOUBLE_EQ(decoded.error->mark_us, 70.4);
  EXPECT_THAT(DescribeBitError(*decoded.error),
              HasSubstr("outside the DCC windows (70.0 us space, 70.4 us mark"));
}

// --- Packets -----------------------------------------------------------------------

struct PacketCase {
  const char* name;
  std::string bits;
  std::size_t min_preamble;
  std::vector<std::vector<std::uint8_t>> packets;  // bytes with the check byte
  std::vector<std::size_t> preambles;
  std::size_t trailing_ones;
  std::optional<PacketErrorKind> error;
  std::size_t error_value = 0;  // preamble or byte count, as the kind says
};

TEST(PacketsOf, SplitsBitsIntoPackets) {
  using K = PacketErrorKind;
  const std::string idle = PacketBits({0xFF, 0x00, 0xFF});
  const std::string ten(10, '1');
  const std::vector<std::uint8_t> ff00 = {0xFF, 0x00, 0xFF};
  // clang-format off
  const PacketCase cases[] = {
      {"idle packet", ten + idle + "11", 10, {ff00}, {10}, 2, {}},
      {"end bit not in next preamble", ten + idle + ten + idle, 10, {ff00, ff00},
       {10, 10}, 0, {}},
      {"end bit would make it 10", ten + idle + std::string(9, '1') + idle, 10, {ff00},
       {10}, 0, K::kShortPreamble, 9},
      {"service needs 20", std::string(19, '1') + idle, 20, {}, {}, 0,
       K::kShortPreamble, 19},
      {"no preamble at all", idle, 1, {}, {}, 0, K::kShortPreamble, 0},
      {"four bytes", ten + PacketBits({0x01, 0x02, 0x04, 0x07}), 10,
       {{0x01, 0x02, 0x04, 0x07}}, {10}, 0, {}},
      {"one byte only", ten + Bits("0 11111111 1"), 10, {}, {}, 0, K::kTooFewBytes, 1},
      {"ends inside a byte", ten + Bits("0 11111111 0 0000"), 10, {}, {}, 0,
       K::kEndsInsidePacket, 1},
      {"ends before end bit", ten + Bits("0 11111111 0 00000000 0 11111111"), 10, {},
       {}, 0, K::kEndsInsidePacket, 3},
      {"ends after start bit", ten + "0", 10, {}, {}, 0, K::kEndsInsidePacket, 0},
      {"ones only", std::string(7, '1'), 10, {}, {}, 7, {}},
      {"nothing", "", 10, {}, {}, 0, {}},
  };
  // clang-format on
  for (const PacketCase& c : cases) {
    const PacketDecode decoded = PacketsOf(c.bits, c.min_preamble);
    ASSERT_EQ(decoded.packets.size(), c.packets.size()) << c.name;
    for (std::size_t i = 0; i < c.packets.size(); ++i) {
      EXPECT_EQ(decoded.packets[i].bytes, c.packets[i]) << c.name;
      EXPECT_EQ(decoded.packets[i].preamble, c.preambles[i]) << c.name;
      EXPECT_TRUE(decoded.packets[i].check_right) << c.name;
    }
    EXPECT_EQ(decoded.trailing_ones, c.trailing_ones) << c.name;
    ASSERT_EQ(decoded.error.has_value(), c.error.has_value()) << c.name;
    if (!c.error) continue;
    EXPECT_EQ(decoded.error->kind, *c.error) << c.name;
    const std::size_t value = *c.error == K::kShortPreamble ? decoded.error->preamble
                                                            : decoded.error->byte_count;
    EXPECT_EQ(value, c.error_value) << c.name;
  }
}

TEST(PacketsOf, ReportsStartBitAndWrongCheckByte) {
  const std::string bits = std::string(12, '1') + PacketBits({0x03, 0x3F, 0x3D}) +
                           std::string(10, '1') + PacketBits({0x00, 0x00, 0x00});
  const PacketDecode decoded = PacketsOf(bits, 10);
  ASSERT_FALSE(decoded.error);
  ASSERT_EQ(decoded.packets.size(), 2u);
  EXPECT_EQ(decoded.packets[0].start_bit, 12u);
  EXPECT_FALSE(decoded.packets[0].check_right);  // 03 ^ 3F = 3C, not 3D
  EXPECT_EQ(decoded.packets[1].start_bit, 12u + 28u + 10u);
  EXPECT_TRUE(decoded.packets[1].check_right);
  EXPECT_THROW(PacketsOf("1101x", 1), std::invalid_argument);
}

// --- Whole streams -----------------------------------------------------------------

struct StreamCase {
  const char* name;
  std::string stream;
  bool service;
  std::vector<std::vector<std::uint8_t>> packets;  // bytes with the check byte
  std::size_t preamble;                            // of every packet
  std::size_t trailing_ones;
};

std::vector<StreamCase> GoodStreams() {
  const FixedStreams fixed = MakeFixedStreams();
  const std::vector<std::uint8_t> reset = {0x00, 0x00, 0x00};
  const std::string ff00 = Chars("55 55 78 55 C5 C6 C6 C6 C6 78 55 55");
  const std::string x033f = Chars("55 55 C6 C6 C6 5C C6 78 55 C6 5C C5 78");
  const std::string x7f08 = Chars("55 55 E1 5C 55 C6 C6 78 C6 C6 56 78 55");
  const std::string x740005 =
      Chars("55 55 66 65 C6 C6 C6 C6 C6 C6 C6 C6 78 96 56 C6 5C");
  return {
      {"FF 00", ff00, false, {{0xFF, 0x00, 0xFF}}, 10, 2},
      {"03 3F", x033f, false, {{0x03, 0x3F, 0x3C}}, 10, 0},
      {"7F 08", x7f08, false, {{0x7F, 0x08, 0x77}}, 11, 2},
      {"74 00 05", x740005, false, {{0x74, 0x00, 0x05, 0x71}}, 10, 0},
      {"service FF 00", "UU" + ff00, true, {{0xFF, 0x00, 0xFF}}, 20, 2},
      {"service 7F 08", "UU" + x7f08, true, {{0x7F, 0x08, 0x77}}, 21, 2},
      {"service 74 00 05", "UU" + x740005, true, {{0x74, 0x00, 0x05, 0x71}}, 20, 0},
      {"IdleStream", fixed.IdleStream, false, {{0xFF, 0x00, 0xFF}}, 10, 1},
      {"ResetStream", fixed.ResetStream, false, {reset}, 10, 0},
      {"LongResetStream", fixed.LongResetStream, false, {reset}, 15, 0},
      {"PagePresetStream", fixed.PagePresetStream, true, {{0x7D, 0x01, 0x7C}}, 20, 0},
      {"ResetBurst", fixed.ResetBurst, false, std::vector(8, reset), 15, 0},
  };
}

TEST(DecodeSerialStream, FixedStreamsAndExamplesDecode) {
  for (const StreamCase& c : GoodStreams()) {
    const StreamDecode decoded = DecodeSerialStream(c.stream, c.service);
    ASSERT_TRUE(decoded.ok()) << c.name << ": " << decoded.error->message;
    std::string expected_bits;
    ASSERT_EQ(decoded.packets.size(), c.packets.size()) << c.name;
    for (std::size_t i = 0; i < c.packets.size(); ++i) {
      EXPECT_EQ(decoded.packets[i].bytes, c.packets[i]) << c.name;
      EXPECT_EQ(decoded.packets[i].preamble, c.preamble) << c.name;
      expected_bits += std::string(c.preamble, '1') + PacketBits(c.packets[i]);
    }
    EXPECT_EQ(decoded.trailing_ones, c.trailing_ones) << c.name;
    EXPECT_EQ(decoded.bits, expected_bits + std::string(c.trailing_ones, '1'))
        << c.name;
  }
}

struct BadStreamCase {
  const char* name;
  std::string stream;
  bool service;
  StreamErrorKind kind;
  std::size_t char_index;
  const char* message_part;
};

TEST(DecodeSerialStream, ReportsTheFirstErrorOnTheLine) {
  using K = StreamErrorKind;
  const std::string ff00 = Chars("55 55 78 55 C5 C6 C6 C6 C6 78 55 55");
  const BadStreamCase cases[] = {
      {"unequal halves", Chars("55 55 57 55"), false, K::kOutsideAlphabet, 2,
       "halves of a bit unequal"},
      {"valid timing, not in alphabet", Chars("55 55 9C 55"), false,
       K::kOutsideAlphabet, 2,
       "timing is valid DCC, bits 00 with halves of 156.3, 104.2"},
      {"short preamble", Chars("55 78 55 C5 C6 C6 C6 C6 78 55 55"), false,
       K::kShortPreamble, 1, "preamble of 5 bits"},
      {"operations preamble in service", ff00, true, K::kShortPreamble, 2,
       "at least 20 needed"},
      {"wrong check byte", Chars("55 55 C6 C6 78 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 78"),
       false, K::kWrongCheckByte, 2, "packet 08 00 00"},
      {"ends inside packet", Chars("55 55 78 55 C5 C6 C6"), false, K::kEndsInsidePacket,
       2, "after 1 byte"},
      {"one byte packet", Chars("55 55 78 55 55"), false, K::kTooFewBytes, 2,
       "has 1 byte"},
      {"bad character after a packet", ff00 + Chars("57"), false, K::kOutsideAlphabet,
       12, "position 13"},
      {"bad character cuts a packet", Chars("55 55 78 55 2A 55"), false,
       K::kOutsideAlphabet, 4, "character 2A"},
      {"packet error before bad character",
       Chars("55 78 55 C5 C6 C6 C6 C6 78 55 55 57"), false, K::kShortPreamble, 1,
       "preamble"},
      {"wrong check before bad character",
       Chars("55 55 C6 C6 78 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 78 55 55 9C"), false,
       K::kWrongCheckByte, 2, "wrong check byte"},
  };
  for (const BadStreamCase& c : cases) {
    const StreamDecode decoded = DecodeSerialStream(c.stream, c.service);
    ASSERT_FALSE(decoded.ok()) << c.name;
    EXPECT_EQ(decoded.error->kind, c.kind) << c.name << ": " << decoded.error->message;
    EXPECT_EQ(decoded.error->char_index, c.char_index) << c.name;
    EXPECT_THAT(decoded.error->message, HasSubstr(c.message_part)) << c.name;
    EXPECT_EQ(decoded.error->message.find('\n'), std::string::npos) << c.name;
  }
}

TEST(DecodeSerialStream, MessageNamesCharacterPositionAndTiming) {
  const StreamDecode decoded = DecodeSerialStream(Chars("55 55 57"), false);
  ASSERT_FALSE(decoded.ok());
  EXPECT_EQ(decoded.error->message,
            "character 57 at position 3 is outside the alphabet: halves of a bit "
            "unequal (52.1 us space, 156.3 us mark)");
}

}  // namespace
}  // namespace qarn2::encoding
