// The sheet's line format as the CV commands read and rewrite it.

#include "programming/sheet_lines.h"

#include <gtest/gtest.h>

namespace qarn2::programming {
namespace {

TEST(SheetLinesTest, NumberValueAndDescription) {
  struct Case {
    const char* line;
    int cv;
    int value;
    const char* description;
  };
  const Case cases[] = {
      {"29 6 Konfiguration", 29, 6, "Konfiguration"},
      {"1 3 (Adresse)", 1, 3, "(Adresse)"},  // kept as it stands, "(" included
      {"29 -> 28 Fahrstufen", 29, -1, "-> 28 Fahrstufen"},
      {"29    ? (Konfiguration)", 29, -1, "(Konfiguration)"},
      {"29    ? Konfiguration", 29, -1, "Konfiguration"},
      {"67", 67, -1, ""},
      {"67  -5 Trimm", 67, -1, "-5 Trimm"},
      {"7\t12", 7, -1, "\t12"},  // only blanks separate the value
      {"029 5", 29, 5, ""},  // the value follows the whole run of digits
      {"0 5", 0, 5, ""},
      {"*dir", -1, -1, ""},  // no CV line, no description
      {"Lokdecoder BR 218", -1, -1, ""},
      {"99999999999 5", -1, 5, ""},  // too long for an int: no number
      {"5 99999999999", 5, -1, ""},
      {"100 255 H\xF6he", 100, 255, "H\xF6he"},
      {"12 34@x", 12, 34, "@x"},
      {"", -1, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ParseCvNumber(c.line), c.cv);
    EXPECT_EQ(ParseCvValue(c.line), c.value);
    EXPECT_EQ(LineDescription(c.line), c.description);
  }
}

TEST(SheetLinesTest, ReadAllLineFields) {
  EXPECT_EQ(ReadAllLine(29, 34, "Konfiguration"), "29   34 Konfiguration");
  EXPECT_EQ(ReadAllLine(29, std::nullopt, "Konfiguration"), "29    ? Konfiguration");
  EXPECT_EQ(ReadAllLine(1, 3, "Adresse)"), "1     3 Adresse)");
  EXPECT_EQ(ReadAllLine(100, 255, ""), "100 255 ");
  EXPECT_EQ(ReadAllLine(1000, 0, "x"), "1000   0 x");
}

TEST(SheetLinesTest, EntryIntegers) {
  EXPECT_EQ(ParseInteger("29"), 29);
  EXPECT_EQ(ParseInteger(" 29 "), 29);
  EXPECT_EQ(ParseInteger("+7"), 7);
  EXPECT_EQ(ParseInteger("-1"), -1);
  EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
  for (const char* bad : {"", "  ", "abc", "12a", "1 2", "+-5", "-+5", "++5", "+", "2147483648",
                          "99999999999999999999", "0x1D"}) {
    EXPECT_EQ(ParseInteger(bad), std::nullopt) << bad;
  }
}

TEST(SheetLinesTest, TextSheetKeepsItsLinesAndLastLineEnd) {
  TextSheet mixed("*dir\r\nTitel\n29 6\r1 3");
  ASSERT_EQ(mixed.LineCount(), 4);
  EXPECT_EQ(mixed.Line(2), "29 6");
  EXPECT_EQ(mixed.Text(), "*dir\r\nTitel\r\n29 6\r\n1 3");
  mixed.ReplaceLine(3, "1     3 ");
  mixed.ReplaceLine(4, "beyond the end");
  EXPECT_EQ(mixed.Text(), "*dir\r\nTitel\r\n29 6\r\n1     3 ");

  TextSheet ended("a\r\n\r\nb\r\n");
  EXPECT_EQ(ended.LineCount(), 3);
  EXPECT_EQ(ended.Line(1), "");
  EXPECT_EQ(ended.Text(), "a\r\n\r\nb\r\n");
  EXPECT_EQ(TextSheet("").LineCount(), 0);
  EXPECT_EQ(TextSheet("").Text(), "");
}

TEST(SheetLinesTest, ScanFillsTheSpeedTable) {
  std::array<int, 28> table{};
  table.fill(7);
  const SheetScan only_67 = ScanSheetLines(TextSheet("Titel\r\n67"), table);
  EXPECT_TRUE(only_67.any_speed_line);
  EXPECT_FALSE(only_67.any_value);
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[1], 7);  // no line for CV 68: left alone

  const SheetScan full = ScanSheetLines(TextSheet("66 1\n68 10\n94 250 x\n95 9\n0 5"), table);
  EXPECT_TRUE(full.any_speed_line);
  EXPECT_TRUE(full.any_value);
  EXPECT_EQ(table[1], 10);
  EXPECT_EQ(table[27], 250);

  const SheetScan none = ScanSheetLines(TextSheet("Titel\n0 5\n*pag"), table);
  EXPECT_FALSE(none.any_speed_line);
  EXPECT_FALSE(none.any_value);
}

}  // namespace
}  // namespace qarn2::programming
