#include "sheet/print_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qarn2::sheet {
namespace {

std::vector<std::string> Lines(int count) {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; ++i) lines.push_back("Zeile " + std::to_string(i));
  return lines;
}

TEST(LayOutPrintTest, FiftyNineLinesFillAPage) {
  const struct {
    int lines;
    int pages;
  } cases[] = {{0, 1}, {1, 1}, {59, 1}, {60, 2}, {118, 2}, {119, 3}};
  for (const auto& c : cases) {
    EXPECT_EQ(LayOutPrint("/x/lok.DEC", Lines(c.lines)).pages, c.pages) << c.lines << " lines";
  }
}

TEST(LayOutPrintTest, TheFileNameHeadsTheFirstPageAndEachLineHasItsPlace) {
  std::vector<std::string> lines = Lines(120);
  lines[59] = "1 3 " + std::string(500, 'x') + "\xE4";  // neither wrapped nor cut
  lines[60] = "";
  const PrintLayout layout = LayOutPrint("/home/x/lok1.DEC", lines);
  ASSERT_EQ(layout.texts.size(), 121u);
  const PrintedText& name = layout.texts[0];
  EXPECT_EQ(name.page, 0);
  EXPECT_EQ(name.x, 200);
  EXPECT_EQ(name.y, 0);
  EXPECT_EQ(name.text, "/home/x/lok1.DEC");
  // Line n (1-based) of the sheet: page, y.
  const struct {
    int line;
    int page;
    int y;
  } places[] = {{1, 0, 43}, {2, 0, 86}, {59, 0, 2537}, {60, 1, 43}, {61, 1, 86},
                {118, 1, 2537}, {119, 2, 43}, {120, 2, 86}};
  for (const auto& p : places) {
    const PrintedText& text = layout.texts[p.line];
    EXPECT_EQ(text.text, lines[p.line - 1]);
    EXPECT_EQ(text.page, p.page) << p.line;
    EXPECT_EQ(text.x, 200) << p.line;
    EXPECT_EQ(text.y, p.y) << p.line;
  }
}

}  // namespace
}  // namespace qarn2::sheet
