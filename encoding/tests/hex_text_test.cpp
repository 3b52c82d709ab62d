#include "encoding/hex_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qarn2::encoding {
namespace {

TEST(ParseHexBytes, AcceptsOneOrTwoDigitsSeparatedByBlanks) {
  struct Case {
    const char* text;
    std::vector<std::uint8_t> bytes;
    const char* bad_token;
  };
  const Case cases[] = {
      {"FF 00", {0xFF, 0x00}, ""},
      {"  a\t0b  7F ", {0x0A, 0x0B, 0x7F}, ""},
      {"c6", {0xC6}, ""},
      {"", {}, ""},
      {" \t ", {}, ""},
      {"FFF", {}, "FFF"},
      {"G1", {}, "G1"},
      {"12 3x 45", {0x12}, "3x"},
      {"-1", {}, "-1"},
      {"0x5", {}, "0x5"},
      {"55,55", {}, "55,55"},
  };
  for (const Case& c : cases) {
    const HexParse parsed = ParseHexBytes(c.text);
    EXPECT_EQ(parsed.bad_token, c.bad_token) << '"' << c.text << '"';
    EXPECT_EQ(parsed.ok(), std::string(c.bad_token).empty()) << c.text;
    if (parsed.ok()) {
      EXPECT_EQ(parsed.bytes, c.bytes) << c.text;
    }
  }
}

TEST(ToHex, EveryByteRoundTripsThroughParse) {
  std::vector<std::uint8_t> all;
  for (int value = 0; value < 256; ++value)
    all.push_back(static_cast<std::uint8_t>(value));
  const HexParse parsed = ParseHexBytes(ToHex(all));
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed.bytes, all);
}

}  // namespace
}  // namespace qarn2::encoding
