// The station's answers taken apart as they arrive: whole frames only, callback
// prefixes passed over, diagnostics and noise dropped.

#include "link/dccex_station.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qarn2::link {
namespace {

TEST(StationFramesTest, TakesWholeFramesAndKeepsTheOneStillArriving) {
  struct Case {
    std::string received;
    std::vector<std::string> frames;  // "letter: numbers" or "letter: garbled"
    std::string left;
  };
  const Case cases[] = {
      {"<r 29 6>\n", {"r: 29 6"}, ""},
      {"<r1|2|29 6>", {"r: 29 6"}, ""},                         // callback prefix
      {"noise <p1 PROG>\r\n<v 3 -1>", {"p: garbled", "v: 3 -1"}, ""},
      {"<* a > b *>\n<r 8 8>", {"r: 8 8"}, ""},                  // a diagnostic with '>'
      {"<r 29 zz>", {"r: garbled"}, ""},
      {"<r 29", {}, "<r 29"},                                     // still arriving
      {"<r 2<r 29 6>", {"r: 29 6"}, ""},                          // a frame cut short
      {"<* boot", {}, "<* boot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.received);
    std::string buffer = c.received;
    std::vector<std::string> seen;
    for (const StationFrame& frame : TakeStationFrames(buffer)) {
      std::string text;
      text += frame.letter;
      text += ':';
      if (frame.garbled) text += " garbled";
      for (int n : frame.numbers) {
        text += ' ';
        text += std::to_string(n);
      }
      seen.push_back(text);
    }
    EXPECT_EQ(seen, c.frames);
    EXPECT_EQ(buffer, c.left);
  }
}

}  // namespace
}  // namespace qarn2::link
