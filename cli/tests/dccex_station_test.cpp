// --hardware dccex end to end through the tool's entry point: against the simulated
// station (virtual time and the wall clock), and against a station written apart from
// the program (cli/tests/dccex_station.py on a pseudo-terminal), which answers as the
// station's documentation says, stays silent, answers garbage or is still booting.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/decoder_commands.h"
#include "cli/tests/run_cli.h"
#include "testsupport/station_script.h"
#include "testsupport/test_files.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::Result;
using testing::RunCli;

std::string Temp(const std::string& name) { return (fs::temp_directory_path() / ("qarn2_dccex_" + name)).string(); }

// Runs `args` with --hardware dccex on the simulated station on virtual time, on a
// decoder kept in a file between runs.
Result OnStation(const std::string& decoder, std::vector<std::string> args) {
  args.insert(args.begin() + 1, {"--hardware", "dccex", "--virtual-time", "--sim-decoder", decoder, "--trace"});
  return RunCli(args);
}

TEST(DccExSimulatedTest, EveryCommandGoesThroughTheStationsTextAlone) {
  const std::string decoder = Temp("decoder.DEC");
  const std::string sheet = Temp("sheet.DEC");
  fs::remove(decoder);
  struct Step {
    std::vector<std::string> args;
    std::string sheet;  // put into `sheet` first when not empty
    int status;
    std::string out;
    std::string err;  // a part of standard error
  };
  const Step steps[] = {
      {{"read", "29"}, "", kExitOk, "CV 29 = 6\n", "to the station: <R 29> (read CV 29 = 6)"},
      {{"write", "29", "34"}, "", kExitOk, "CV 29 = 34 acknowledged\n", "from the station: <r 29 34>"},
      // A mode line means nothing to the station: CV 29 is not register 5.
      {{"write-all", sheet}, "*reg\r\n1 5\r\n29 38\r\n", kExitOk, "", "<W 29 38>"},
      {{"read-all", sheet}, "*reg\r\n1\r\n29\r\n", kExitOk, "*reg\r\n1     5 \r\n29   38 \r\n", "<R 29>"},
      // CV 7 is read-only: the station answers -1.
      {{"write", "7", "1"}, "", kExitNotConfirmed, "CV 7 = 1 not acknowledged\n", "<r 7 -1> (keine Best\u00e4tigung vom Decoder)"},
      {{"reset"}, "", kExitOk, "factory reset sent\n", "<W 8 8>"},
      {{"read", "29"}, "", kExitOk, "CV 29 = 6\n", "<r 29 6>"},
      // Every acknowledge lost: the station reads -1, and no value is made up.
      {{"read", "--sim-ack-loss", "1", "29"}, "", kExitNotConfirmed, "CV 29 not readable\n", "<r 29 -1>"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[0] + " " + step.args.back());
    if (!step.sheet.empty()) testsupport::Put(sheet, step.sheet);
    const Result r = OnStation(decoder, step.args);
    EXPECT_EQ(r.status, step.status) << r.err;
    EXPECT_EQ(r.out, step.out);
    EXPECT_THAT(r.err, HasSubstr(step.err));
    EXPECT_THAT(r.err, HasSubstr("warte auf die DCC-EX-Zentrale: sie startet nach dem \u00d6ffnen"));
    // No track signal of the program's own, nor anything else outside the commands.
    EXPECT_THAT(r.err, Not(HasSubstr("packet")));
    EXPECT_THAT(r.err, Not(HasSubstr("stray")));
  }
  fs::remove(decoder);
  fs::remove(sheet);
}

TEST(DccExSimulatedTest, RunsOnTheWallClockAndRefusesAMode) {
  const Result wall = RunCli({"read", "--simulate", "--hardware", "dccex", "29"});
  EXPECT_EQ(wall.status, kExitOk) << wall.err;
  EXPECT_EQ(wall.out, "CV 29 = 6\n");

  const Result mode = RunCli({"read", "--virtual-time", "--hardware", "dccex", "--mode", "pag", "29"});
  EXPECT_EQ(mode.status, kExitUsage);
  EXPECT_THAT(mode.err, HasSubstr("the station chooses how it programs"));
}

TEST(DccExPortTest, AnIndependentStationAnswersAsDocumented) {
  const std::string sheet = Temp("port_sheet.DEC");
  struct Case {
    const char* name;
    std::vector<std::string> station;  // the script's options
    std::vector<std::string> args;
    std::string sheet;
    int status;
    std::string out;
    std::string err;  // a part of standard error
  };
  const Case cases[] = {
      {"read", {}, {"read", "29"}, "", kExitOk, "CV 29 = 6\n", "DCC-EX-Zentrale bereit: DCC-EX V-4.2.1"},
      {"write answered the old way", {"--write-letter", "w"}, {"write", "29", "40"}, "", kExitOk,
       "CV 29 = 40 acknowledged\n", "best\u00e4tigt"},
      {"read-all", {}, {"read-all", sheet}, "1\r\n29\r\n", kExitOk, "1     3 \r\n29    6 \r\n",
       "0 Fehler beim Auslesen"},
      {"write-all", {}, {"write-all", sheet}, "1 5\r\n29 7\r\n", kExitOk, "", "0 Fehler beim Schreiben"},
      {"a -1 answer", {"--unreadable", "3"}, {"read", "3"}, "", kExitNotConfirmed, "CV 3 not readable\n",
       "Zentrale: <r 3 -1> (keine Best\u00e4tigung vom Decoder)"},
      {"still booting", {"--boot", "2.5"}, {"read", "29"}, "", kExitOk, "CV 29 = 6\n", "bereit"},
      {"silence", {"--behaviour", "silent"}, {"read", "29"}, "", kExitNotConfirmed, "CV 29 not readable\n",
       "keine Verbindung zur DCC-EX-Zentrale"},
      {"garbage", {"--behaviour", "garbage"}, {"read", "29"}, "", kExitNotConfirmed, "CV 29 not readable\n",
       "unverst\u00e4ndliche Antwort der Zentrale: <r 29 zz>"},
      {"a command the station does not know", {"--behaviour", "old"}, {"read", "29"}, "", kExitNotConfirmed,
       "CV 29 not readable\n", "die Zentrale kennt den Befehl <R 29> nicht"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::StationScript station(c.station);
    ASSERT_THAT(station.Device(), HasSubstr("/dev/")) << "python3 did not start the station";
    if (!c.sheet.empty()) testsupport::Put(sheet, c.sheet);
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, {"--hardware", "dccex", "--port", "COM1=" + station.Device()});
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_THAT(r.err, HasSubstr(c.err));
    // Nothing is sent while the station boots.
    EXPECT_THAT(station.Received(), Not(HasSubstr("booting")));
  }
  fs::remove(sheet);
}

}  // namespace
}  // namespace qarn2::cli
