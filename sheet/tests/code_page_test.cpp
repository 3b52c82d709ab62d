#include "sheet/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace qarn2::sheet {
namespace {

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

TEST(CodePageTest, EveryByteComesBackAsItself) {
  const std::string all = AllBytes();
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  // Longer than any buffer the conversion goes through.
  std::string long_text;
  for (int i = 0; i < 40; ++i) long_text += all;
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(long_text)), long_text);
}

TEST(CodePageTest, BytesStandForTheCharactersOfTheCodePage) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"CV Nr 29=6 best\xE4tigt", "CV Nr 29=6 bestätigt"},
      {"\xC4\xD6\xDC\xDF\xA0\xFF", "ÄÖÜß\u00A0ÿ"},
      {"\x80 \x85 \x8A \x93\x94 \x96 \x99 \x9F", "€ … Š “” – ™ Ÿ"},
      // Unassigned in the code page: the control character of the same number.
      {"\x81\x8D\x8F\x90\x9D", "\u0081\u008D\u008F\u0090\u009D"},
      {std::string("a\0\x7F", 3), std::string("a\0\x7F", 3)},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Cp1252ToUtf8(c.in), c.out) << c.out;
}

TEST(CodePageTest, WhatTheCodePageCannotHoldBecomesAQuestionMark) {
  const struct {
    const char* name;
    std::string utf8;
    std::string expected;
  } cases[] = {
      {"letters outside", "\xC5\x82\xC3\xB3" "d\xC5\xBA", "?\xF3" "d?"},
      {"arrow", "a \xE2\x86\x92 b", "a ? b"},
      {"four bytes", "x\xF0\x9F\x9A\x82y", "x?y"},
      {"stray continuation", "\x80z", "?z"},
      {"cut off at the end", "ab\xC3", "ab?"},
      {"cut off inside", "\xE2\x82z", "??z"},
      {"overlong", "\xC0\xAF", "??"},
      {"surrogate", "\xED\xA0\x80", "???"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"not UTF-8 at all", "\xFF\xFE", "??"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCp1252(c.utf8), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace qarn2::sheet
