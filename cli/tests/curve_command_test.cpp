// curve: a decoder file's speed table reshaped as the editor would, printed.

#include "cli/curve_command.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/command_line.h"
#include "cli/tests/run_cli.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using testing::RunCli;

class CurveCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (fs::temp_directory_path() / ("qarn2_curve_" + std::to_string(::getpid()) + ".DEC")).string();
    std::string text = "*dir\r\nTestlok\r\n29 22 Konfiguration\r\n";
    for (int cv = 67; cv <= 94; ++cv) text += std::to_string(cv) + " 0 Stufe " + std::to_string(cv - 66) + "\r\n";
    std::ofstream(path_, std::ios::binary) << text;
  }
  void TearDown() override { fs::remove(path_); }
  std::string path_;
};

TEST_F(CurveCommandTest, AStraightLineThroughTheTopEntry) {
  const testing::Result r = RunCli({"curve", path_, "--shape", "gerade", "--entry", "28", "--value", "255"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  std::string expected = "*dir\r\nTestlok\r\n29 22 Konfiguration\r\n";
  for (int i = 1; i <= 28; ++i) {
    // 255 (i - 1) / 27, an exact half (none here) to the even neighbour.
    const int entry = static_cast<int>(std::lround(255.0 * (i - 1) / 27));
    char line[64];
    std::snprintf(line, sizeof line, "%d  %3d Stufe %d\r\n", 66 + i, entry, i);
    expected += line;
  }
  EXPECT_EQ(r.out, expected);
}

TEST_F(CurveCommandTest, BadArgumentsAreRefused) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"curve", path_, "--shape", "kurve", "--entry", "1", "--value", "5"},
           {"curve", path_, "--shape", "e", "--entry", "29", "--value", "5"},
           {"curve", path_, "--shape", "e", "--entry", "0", "--value", "5"},
           {"curve", path_, "--shape", "e", "--entry", "3", "--value", "256"},
           {"curve", path_, "--shape", "e", "--entry", "3"},
           {"curve", "/nonexistent/x.DEC", "--shape", "e", "--entry", "3", "--value", "1"},
       }) {
    const testing::Result r = RunCli(args);
    EXPECT_EQ(r.status, kExitUsage) << args[3] << " " << args[5];
    EXPECT_EQ(r.out, "");
  }
  std::ofstream(path_, std::ios::binary) << "29 6\r\n";
  EXPECT_EQ(RunCli({"curve", path_, "--shape", "gerade", "--entry", "3", "--value", "1"}).status, kExitUsage);
}

}  // namespace
}  // namespace qarn2::cli
