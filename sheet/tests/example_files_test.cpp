// The sample decoder files in examples/ open as sheets with their mode line and the
// CV lines a user expects of each kind of decoder.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "programming/sheet_lines.h"
#include "sheet/decoder_file.h"
#include "sheet/file_bytes.h"

namespace qarn2::sheet {
namespace {

struct Example {
  const char* file;
  const char* mode_line;
  std::map<int, int> values;  // CV number -> value; -1: the line has none
};

std::map<int, int> LocomotiveValues() {
  std::map<int, int> values{{1, 3}, {2, 2}, {3, 4}, {4, 3}, {5, 255}, {6, 96},
                            {7, -1}, {8, -1}, {29, 22}};
  for (int cv = 67; cv <= 94; ++cv) values[cv] = 0;  // checked as a rising curve below
  return values;
}

TEST(ExampleFilesTest, EachOpensWithItsModeLineAndCvLines) {
  const Example examples[] = {
      {"lokdecoder.LOC", "*dir", LocomotiveValues()},
      {"funktionsdecoder.DEC", "*dio",
       {{1, 3}, {7, -1}, {8, -1}, {13, 3}, {29, 6}, {33, 1}, {34, 2}, {35, 4}, {36, 8},
        {49, 64}, {50, 64}}},
      {"zubehoerdecoder.DEC", "*pag",
       {{1, 1}, {3, 10}, {4, 10}, {5, 10}, {6, 10}, {7, -1}, {8, -1}, {9, 0}, {29, 128}}},
  };
  for (const Example& example : examples) {
    const std::string path = std::string(QARN2_EXAMPLES_DIR) + "/" + example.file;
    const std::string text = ReadDecoderFile(path);
    // Already CR LF throughout and without a NUL: the sheet is the file, byte for byte.
    std::string error;
    EXPECT_EQ(ReadFileBytes(path, error).value_or(""), text) << example.file;

    const programming::TextSheet sheet(text);
    EXPECT_EQ(sheet.Line(0), example.mode_line) << example.file;
    std::map<int, int> values;
    std::string descriptions;
    for (int i = 0; i < sheet.LineCount(); ++i) {
      const std::string line = sheet.Line(i);
      const int cv = programming::ParseCvNumber(line);
      if (cv <= 0) continue;
      EXPECT_FALSE(values.contains(cv)) << example.file << ": CV " << cv << " twice";
      values[cv] = cv >= 67 && cv <= 94 ? 0 : programming::ParseCvValue(line);
      EXPECT_NE(programming::LineDescription(line), "") << example.file << ": " << line;
      descriptions += programming::LineDescription(line);
    }
    EXPECT_EQ(values, example.values) << example.file;
    EXPECT_NE(descriptions.find_first_of("\xE4\xF6\xFC\xC4\xD6\xDC\xDF"), std::string::npos)
        << example.file << ": no umlaut";
  }
}

TEST(ExampleFilesTest, TheLocomotivesSpeedTableRisesToTheTop) {
  const programming::TextSheet sheet(ReadDecoderFile(QARN2_EXAMPLES_DIR "/lokdecoder.LOC"));
  std::array<int, 28> table{};
  EXPECT_TRUE(programming::ScanSheetLines(sheet, table).any_speed_line);
  for (std::size_t i = 1; i < table.size(); ++i) EXPECT_GT(table[i], table[i - 1]) << i;
  EXPECT_EQ(table[27], 255);
}

}  // namespace
}  // namespace qarn2::sheet
