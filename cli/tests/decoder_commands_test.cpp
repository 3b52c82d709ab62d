// read, write, read-all, write-all and reset end to end: through the tool's entry
// point against the simulated track on virtual time. The simulated decoder starts with
// its defaults (CV 1 = 3, CV 29 = 6) unless a decoder file carries it between runs.
// One test runs the simulated track on the wall clock instead.

#include "cli/decoder_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include "cli/command_line.h"
#include "cli/tests/run_cli.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

using testing::Result;
using testing::RunCli;

// A file of the test's own, removed at the end.
class TempFile {
 public:
  explicit TempFile(const std::string& name, const std::string& text = "")
      : path_(fs::temp_directory_path() / ("qarn2_cli_" + name)) {
    fs::remove(path_);
    if (!text.empty()) Put(text);
  }
  ~TempFile() { fs::remove(path_); }
  std::string Path() const { return path_.string(); }
  void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
  std::string Get() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  fs::path path_;
};

// Runs `command ARGS` on a decoder kept in `decoder` between runs.
Result OnDecoder(const TempFile& decoder, const std::string& command, std::vector<std::string> args) {
  args.insert(args.begin(), {command, "--virtual-time", "--sim-decoder", decoder.Path()});
  return RunCli(args);
}

// The value a run of `read CV` printed; -1 when it printed none.
int ValueRead(const Result& r, int cv) {
  const std::string head = "CV " + std::to_string(cv) + " = ";
  if (r.status != kExitOk || !r.out.starts_with(head)) return -1;
  return std::stoi(r.out.substr(head.size()));
}

// The lines of a text with CR LF line ends; the part after the last line end is the
// last element (empty when the text ends with one).
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2) {
    lines.push_back(text.substr(from, at - from));
  }
  lines.push_back(text.substr(from));
  return lines;
}

// A line of a decoder file that begins with a CV number, taken apart: the number,
// the value after it when there is one, and what follows as the description.
struct CvLine {
  int cv = 0;
  std::optional<int> value;
  std::string description;
};

std::optional<CvLine> TakeApart(const std::string& line) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
    return line.substr(from, i - from);
  };
  const auto blanks = [&] {
    while (i < line.size() && line[i] == ' ') ++i;
  };
  const std::string number = digits();
  if (number.empty()) return std::nullopt;
  CvLine parsed;
  parsed.cv = std::stoi(number);
  blanks();
  if (const std::string value = digits(); !value.empty()) parsed.value = std::stoi(value);
  blanks();
  parsed.description = line.substr(i);
  return parsed;
}

// Lines of the simulated track's trace on standard error that show a service-mode
// packet (resets and power changes are not such lines).
std::vector<std::string> ServiceLines(const std::string& err) {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) {
    if (line.find("service:") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

TEST(ReadCommandTest, EveryDirectModeReadsTheDefaultOfCv29) {
  const Result dir = RunCli({"read", "--virtual-time", "29"});  // dir is the default
  EXPECT_EQ(dir.status, kExitOk) << dir.err;
  EXPECT_EQ(dir.out, "CV 29 = 6\n");
  // The bitwise read: the tool's entry behind the box's prompt, each bit, the check.
  EXPECT_THAT(dir.err, HasSubstr("CV- Nr eingeben: 29\n   Bit 0=0\n   Bit 1=1\n   Bit 2=1\n"));
  EXPECT_THAT(dir.err, HasSubstr("teste 6\nCV Nr 29 = 6\n"));

  const Result dio = RunCli({"read", "--virtual-time", "--mode", "dio", "29"});
  EXPECT_EQ(dio.status, kExitOk) << dio.err;
  EXPECT_EQ(dio.out, "CV 29 = 6\n");
  EXPECT_THAT(dio.err, HasSubstr("teste 5\nteste 6\nCV Nr 29 = 6\n"));
  EXPECT_THAT(dio.err, Not(HasSubstr("Bit")));
}

TEST(ReadCommandTest, ACvOutOfTheModesReachSendsNothing) {
  // Register mode reaches CV 8: its verify packets go out ...
  const Result reachable = RunCli({"read", "--virtual-time", "--trace", "--mode", "reg", "8"});
  EXPECT_EQ(reachable.status, kExitOk) << reachable.err;
  EXPECT_THAT(ServiceLines(reachable.err), Not(::testing::IsEmpty()));
  // ... but not CV 9 (nor does the old register method).
  for (const char* mode : {"reg", "roc"}) {
    const Result r = RunCli({"read", "--virtual-time", "--trace", "--mode", mode, "9"});
    EXPECT_EQ(r.status, kExitNotConfirmed) << mode;
    EXPECT_EQ(r.out, "CV 9 not readable\n") << mode;
    EXPECT_THAT(r.err, HasSubstr("nicht lesbar")) << mode;
    EXPECT_THAT(r.err, HasSubstr("power  track power on")) << mode;
    EXPECT_THAT(ServiceLines(r.err), ::testing::IsEmpty()) << mode << r.err;
  }
}

TEST(WriteCommandTest, AWrittenValueIsReadBackInTheNextRun) {
  const TempFile decoder("write.DEC");
  const Result write = OnDecoder(decoder, "write", {"--trace", "29", "34"});
  EXPECT_EQ(write.status, kExitOk) << write.err;
  EXPECT_EQ(write.out, "CV 29 = 34 acknowledged\n");
  // Progress in UTF-8, and the decoder's side of it in the trace.
  EXPECT_THAT(write.err, HasSubstr("CV- Nr eingeben: 29\nCV- Wert eingeben: 34\n"));
  EXPECT_THAT(write.err, HasSubstr("CV Nr 29=34 bestätigt\n"));
  EXPECT_THAT(write.err, HasSubstr("service: write CV 29 = 34 (stored)"));
  EXPECT_THAT(write.err, HasSubstr("acknowledge  6 ms pulse on RI"));

  for (const char* mode : {"dir", "pag"}) {
    const Result read = OnDecoder(decoder, "read", {"--mode", mode, "29"});
    EXPECT_EQ(read.status, kExitOk) << mode << read.err;
    EXPECT_EQ(read.out, "CV 29 = 34\n") << mode;
  }
}

TEST(WriteCommandTest, AWriteTheDecoderRefusesIsNotAcknowledged) {
  const TempFile decoder("refused.DEC");
  // CV 7 is the version number: read-only.
  const Result write = OnDecoder(decoder, "write", {"7", "5"});
  EXPECT_EQ(write.status, kExitNotConfirmed);
  EXPECT_EQ(write.out, "CV 7 = 5 not acknowledged\n");
  EXPECT_THAT(write.err, HasSubstr("CV 7 keine Bestätigung"));
  // Register mode cannot reach CV 29.
  const Result out_of_reach = OnDecoder(decoder, "write", {"--mode", "reg", "29", "5"});
  EXPECT_EQ(out_of_reach.status, kExitNotConfirmed);
  EXPECT_EQ(OnDecoder(decoder, "read", {"29"}).out, "CV 29 = 6\n");
}

TEST(DecoderCommandsTest, BadUsageIsRefusedBeforeTheTrackIsTouched) {
  const TempFile sheet("usage.DEC", "29 6\r\n");
  const TempFile cut("usage_nul.DEC", std::string("29 6\0\r\n1 5\r\n", 12));
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"read", "0"}, "CV takes a number from 1 to 1024, not '0'"},
      {{"read", "1025"}, "not '1025'"},
      {{"read", "abc"}, "not 'abc'"},
      {{"read", "+5"}, "not '+5'"},
      {{"read", "1", "2"}, "needs one CV number"},
      {{"read"}, "needs one CV number"},
      {{"read", "--mode", "xyz", "29"}, "--mode takes dir, dio, reg, pag or roc, not 'xyz'"},
      {{"read", "29", "--mode"}, "--mode needs a value"},
      {{"read", "--in-place", "29"}, "unknown option '--in-place'"},
      {{"write", "29", "256"}, "VALUE takes a number from 0 to 255, not '256'"},
      {{"write", "0", "5"}, "CV takes a number from 1 to 1024, not '0'"},
      {{"write", "29", "-1"}, "unknown option '-1'"},
      {{"write", "29"}, "needs a CV number and a value"},
      {{"read-all"}, "needs one decoder file"},
      {{"read-all", "/nonexistent/qarn2.DEC"}, "cannot read '/nonexistent/qarn2.DEC'"},
      {{"write-all", fs::temp_directory_path().string()}, "cannot read"},
      {{"write-all", "--in-place", sheet.Path()}, "unknown option '--in-place'"},
      {{"reset", "8"}, "takes no operands"},
      {{"read", "--port", "COM0=/dev/null", "29"}, "--port takes COMn=PATH"},
      {{"read", "--sim-lgb-reply", "4", "29"}, "--sim-lgb-reply takes whole, slow, 1, 2 or 3, not '4'"},
      {{"write", "29", "6", "--sim-lgb-reply"}, "--sim-lgb-reply needs a value"},
      {{"read", "--retries", "10", "29"}, "--retries takes a number from 0 to 9, not '10'"},
      {{"read", "--verify", "29"}, "--verify is for write and write-all"},
      {{"read-all", "--verify", sheet.Path()}, "--verify is for write and write-all"},
      {{"read-all", "--in-place", cut.Path()}, "line 1: a NUL byte ends the sheet there, as the window reads it; "
                                               "the 8 bytes from it on are left out, and --in-place would drop "
                                               "them from the file"},
      {{"read", "--sim-ack-loss", "1.5", "29"}, "--sim-ack-loss takes a probability from 0 to 1, not '1.5'"},
      {{"read", "--sim-seed", "x", "29"}, "--sim-seed takes a number"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, {"--virtual-time", "--trace"});
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, kExitUsage) << c.message << "\n" << r.err;
    EXPECT_EQ(r.out, "") << c.message;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_THAT(r.err, Not(HasSubstr("packet"))) << c.message;
  }
}

// The sheet of a small locomotive decoder, in CR LF lines, as a file holds it.
const char kSheet[] =
    "*dir\r\n"
    "Testlok BR 89\r\n"
    "1 3 (Adresse)\r\n"
    "29   Konfiguration\r\n"
    "3\r\n"
    "Bemerkung: CV 5 bleibt\r\n"
    "0 5 keine CV\r\n";

TEST(ReadAllCommandTest, RewritesTheCvLinesAndLeavesEveryOtherByte) {
  const TempFile decoder("read_all_decoder.DEC", "29   34 \r\n");
  const TempFile sheet("read_all.DEC", kSheet);
  const Result r = OnDecoder(decoder, "read-all", {sheet.Path()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "*dir\r\n"
            "Testlok BR 89\r\n"
            "1     3 (Adresse)\r\n"
            "29   34 Konfiguration\r\n"
            "3     4 \r\n"
            "Bemerkung: CV 5 bleibt\r\n"
            "0 5 keine CV\r\n");
  EXPECT_THAT(r.err, HasSubstr("lese CV 29\n"));
  EXPECT_THAT(r.err, HasSubstr("0 Fehler beim Auslesen\n"));
  EXPECT_EQ(sheet.Get(), kSheet);  // without --in-place the file stays
}

TEST(ReadAllCommandTest, RegisterModeReachesTheCvsTheLinesNameOrNone) {
  // A line names a CV in every mode: reg reaches CV 29 as register 5; lines 5 and 6
  // are no registers 5 and 6 (CV 29 and the page register) but CVs it cannot reach.
  const TempFile sheet("read_all_reg.DEC", "1 3 Adresse\r\n29 6 Konfiguration\r\n5 255 Vmax\r\n6 77\r\n3 1");
  const Result r = RunCli({"read-all", "--virtual-time", "--mode", "reg", sheet.Path()});
  EXPECT_EQ(r.status, kExitNotConfirmed) << r.err;
  EXPECT_EQ(r.out, "1     3 Adresse\r\n29    6 Konfiguration\r\n5     ? Vmax\r\n6     ? \r\n3     4 ");
  EXPECT_THAT(r.err, HasSubstr("CV 5 in reg nicht erreichbar"));
  EXPECT_THAT(r.err, HasSubstr("2 Fehler beim Auslesen\n"));

  // What write-all then stores is the conformance matrix's to check.
  const Result w = RunCli({"write-all", "--virtual-time", "--mode", "reg", "--json", sheet.Path()});
  EXPECT_EQ(w.status, kExitNotConfirmed) << w.err;
  EXPECT_THAT(w.out, HasSubstr("\"failures\": 2"));
  EXPECT_THAT(w.out, HasSubstr("\"result\": \"not reachable in this mode\""));
}

TEST(ReadAllCommandTest, TheFilesModeLineHoldsUnlessModeIsGiven) {
  const TempFile sheet("read_all_mode_line.DEC", "*reg\r\n5 9\r\n1 3");
  const Result in_file_mode = RunCli({"read-all", "--virtual-time", sheet.Path()});
  EXPECT_EQ(in_file_mode.status, kExitNotConfirmed) << in_file_mode.err;  // reg does not reach CV 5
  EXPECT_EQ(in_file_mode.out, "*reg\r\n5     ? \r\n1     3 ");
  const Result given = RunCli({"read-all", "--virtual-time", "--mode", "dio", sheet.Path()});
  EXPECT_EQ(given.status, kExitOk) << given.err;
  EXPECT_EQ(given.out, "*reg\r\n5   255 \r\n1     3 ");

  const TempFile unknown("write_all_mode_line.DEC", "*xyz\r\n29 6");
  const Result refused = RunCli({"write-all", "--virtual-time", "--trace", unknown.Path()});
  EXPECT_EQ(refused.status, kExitUsage);
  EXPECT_THAT(refused.err, HasSubstr("'xyz'"));
  EXPECT_THAT(ServiceLines(refused.err), ::testing::IsEmpty());
}

TEST(ReadAllCommandTest, InPlaceReplacesTheFileOrKeepsTheResult) {
  const TempFile sheet("in_place.DEC", "Lok\r\n29 0 Konfiguration\r\n");
  fs::permissions(sheet.Path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const Result r = RunCli({"read-all", "--virtual-time", "--in-place", sheet.Path()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(sheet.Get(), "Lok\r\n29    6 Konfiguration\r\n");
  EXPECT_EQ(fs::status(sheet.Path()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  // No temporary file is left beside it.
  int beside = 0;
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
    beside += entry.path().filename().string().starts_with(".qarn2_cli_in_place.DEC.");
  }
  EXPECT_EQ(beside, 0);

  // Nothing can be written in /proc: a plain user is refused before the decoder is
  // read; root, whom the file's permissions do not stop, gets the read values on
  // standard output instead.
  const Result failed = RunCli({"read-all", "--virtual-time", "--in-place", "/proc/version"});
  EXPECT_EQ(failed.status, kExitUsage);
  EXPECT_THAT(failed.err, HasSubstr("Datei /proc/version kann nicht erstellt werden"));
  EXPECT_EQ(failed.out.empty(), getuid() != 0);
}

TEST(WriteAllCommandTest, WritesEveryValueAndCountsTheOnesNotTaken) {
  const TempFile decoder("write_all_decoder.DEC");
  const TempFile sheet("write_all.DEC",
                       "*dir\r\n"
                       "Testlok\r\n"
                       "1 300 Adresse\r\n"     // too large: not written, counted
                       "29 34 Konfiguration\r\n"
                       "3    ? Anfahren\r\n"   // no value: passed over
                       "4 7 Bremsen\r\n");
  const Result r = OnDecoder(decoder, "write-all", {sheet.Path()});
  EXPECT_EQ(r.status, kExitNotConfirmed) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_THAT(r.err, HasSubstr("schreibe CV 1 = 300\n   Fehler\nschreibe CV 29 = 34\n"));
  EXPECT_THAT(r.err, HasSubstr("1 mal keine Bestätigung\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("schreibe CV 3 ")));

  const TempFile check("write_all_check.DEC", "1\r\n3\r\n4\r\n29\r\n");
  EXPECT_EQ(OnDecoder(decoder, "read-all", {check.Path()}).out,
            "1     3 \r\n3     4 \r\n4     7 \r\n29   34 \r\n");

  sheet.Put("29 6\r\n4 0\r\n");
  const Result clean = OnDecoder(decoder, "write-all", {sheet.Path()});
  EXPECT_EQ(clean.status, kExitOk) << clean.err;
  EXPECT_THAT(clean.err, HasSubstr("0 Fehler beim Schreiben\n"));
}

TEST(ResetCommandTest, BringsTheDecoderBackToItsDefaults) {
  const TempFile decoder("reset.DEC");
  ASSERT_EQ(OnDecoder(decoder, "write", {"29", "38"}).status, kExitOk);
  ASSERT_EQ(OnDecoder(decoder, "read", {"29"}).out, "CV 29 = 38\n");
  // Whatever the mode, the reset goes by register mode.
  const Result reset = OnDecoder(decoder, "reset", {"--mode", "pag", "--trace"});
  EXPECT_EQ(reset.status, kExitOk) << reset.err;
  EXPECT_EQ(reset.out, "factory reset sent\n");
  EXPECT_THAT(reset.err, HasSubstr("write register 8 (CV 8) = 8 (factory reset)"));
  EXPECT_EQ(OnDecoder(decoder, "read", {"29"}).out, "CV 29 = 6\n");
}

TEST(DecoderCommandsTest, APortThatCannotBeOpenedEndsEveryCommand) {
  const TempFile sheet("port_error.DEC", "29 6\r\n");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"read", "29"}, {"write", "29", "6"}, {"read-all", sheet.Path()},
           {"write-all", sheet.Path()}, {"reset"}}) {
    std::vector<std::string> with_port = args;
    with_port.insert(with_port.begin() + 1, {"--port", "COM1=/nonexistent/device", "--trace"});
    const Result r = RunCli(with_port);
    EXPECT_EQ(r.status, kExitPortError) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    // The port's message, then the system's words and what to do.
    EXPECT_EQ(r.err, "qarn2-cli: " + args[0] + ": Unable to open com port (win error code: 2)\n  /nonexistent/device: " +
                         std::strerror(ENOENT) +
                         ". Ist der Adapter eingesteckt? Den Anschluss mit --port COMn=PFAD nennen (z. B. "
                         "/dev/ttyUSB0 oder ein Name unter /dev/serial/by-id/).\n");
  }
}

TEST(HardwareOptionTest, TheLgbInterfaceReadsAndWritesThroughItsMessages) {
  const TempFile decoder("lgb_decoder.DEC");
  const Result write = OnDecoder(decoder, "write", {"--hardware", "lgb", "--trace", "29", "34"});
  EXPECT_EQ(write.status, kExitOk) << write.err;
  EXPECT_EQ(write.out, "CV 29 = 34 acknowledged\n");
  EXPECT_THAT(write.err, HasSubstr("write CV 29 = 34 (stored)"));
  EXPECT_THAT(ServiceLines(write.err), ::testing::IsEmpty());  // no track signal at all
  for (const char* mode : {"dir", "dio"}) {
    const Result read = OnDecoder(decoder, "read", {"--hardware", "lgb", "--mode", mode, "29"});
    EXPECT_EQ(read.status, kExitOk) << read.err;
    EXPECT_EQ(read.out, "CV 29 = 34\n");
  }
  // CV 300 would go out as CV 44: refused without a message to the interface.
  const Result high = OnDecoder(decoder, "write", {"--hardware", "lgb", "--trace", "300", "1"});
  EXPECT_EQ(high.status, kExitNotConfirmed);
  EXPECT_THAT(high.err, Not(HasSubstr("write CV 44")));
}

TEST(HardwareOptionTest, WhatTheHardwareCannotDoIsRefused) {
  const TempFile sheet("hardware_sheet.DEC", "29 6\r\n");
  const std::vector<std::vector<std::string>> refused = {
      {"read", "--hardware", "booster", "29"},
      {"read-all", "--hardware", "booster", sheet.Path()},
      {"reset", "--hardware", "lgb"},
      {"read", "--hardware", "lgb", "--mode", "pag", "29"},
      {"write", "--hardware", "lgb", "--mode", "reg", "1", "3"},
      {"write", "--hardware", "booster", "--verify", "29", "7"},  // reading back is reading
      {"read", "--hardware", "usb", "29"},
  };
  for (std::vector<std::string> args : refused) {
    args.push_back("--virtual-time");
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, kExitUsage) << args[0] << " " << args[2];
    EXPECT_EQ(r.out, "");
  }
  // Writing through a bare booster works as with the board.
  const Result write = RunCli({"write", "--virtual-time", "--hardware", "booster", "29", "7"});
  EXPECT_EQ(write.status, kExitOk) << write.err;
}

TEST(DecoderCommandsTest, HelpNamesEachCommandAndItsOptions) {
  const Result all = RunCli({"--help"});
  for (const char* usage : {"qarn2-cli read [", "qarn2-cli write [", "qarn2-cli read-all [",
                            "qarn2-cli write-all [", "qarn2-cli reset ["}) {
    EXPECT_THAT(all.out, HasSubstr(usage));
  }
  const Result one = RunCli({"write", "--help"});
  EXPECT_EQ(one.status, kExitOk);
  EXPECT_THAT(one.out, HasSubstr("qarn2-cli write ["));
  EXPECT_THAT(one.out, HasSubstr("--mode MODE"));
  EXPECT_THAT(one.out, HasSubstr("--hardware HW"));
  EXPECT_THAT(one.out, HasSubstr("--port COMn=PATH"));
  EXPECT_THAT(one.out, Not(HasSubstr("qarn2-cli read-all")));
}

// Each programming mode with numbers at the ends and in the middle of what it reaches
// (CV numbers, in the register modes register numbers).
const struct {
  const char* mode;
  std::vector<int> cvs;
} kModeReach[] = {
    {"dir", {1, 29, 1024}}, {"dio", {1, 29, 1024}}, {"pag", {1, 29, 1024}},
    {"reg", {1, 5}},        {"roc", {1, 5}},
};

TEST(ModeRoundTripTest, EveryModeReadsBackWhatItWrote) {
  // In a cycle: each round gives every CV another value than the round before, and
  // the first differs from each CV's default.
  const int kValues[] = {129, 0, 255, 1};
  for (const auto& [mode, cvs] : kModeReach) {
    SCOPED_TRACE(mode);
    const TempFile decoder(std::string("round_trip_") + mode + ".DEC");
    for (int round = 0; round < 4; ++round) {
      // Neighbouring CVs hold different values, so a write that lands on another CV
      // of the list shows in its read.
      std::map<int, int> values;
      for (std::size_t i = 0; i < cvs.size(); ++i) {
        const int cv = cvs[i];
        values[cv] = kValues[(round + i) % 4];
        const Result write = OnDecoder(decoder, "write", {"--mode", mode, std::to_string(cv),
                                                          std::to_string(values[cv])});
        EXPECT_EQ(write.status, kExitOk) << write.err;
        EXPECT_EQ(write.out, "CV " + std::to_string(cv) + " = " + std::to_string(values[cv]) +
                                 " acknowledged\n");
      }
      for (const auto& [cv, value] : values) {
        const Result read = OnDecoder(decoder, "read", {"--mode", mode, std::to_string(cv)});
        EXPECT_EQ(read.status, kExitOk) << read.err;
        EXPECT_EQ(read.out, "CV " + std::to_string(cv) + " = " + std::to_string(value) + "\n");
      }
    }
    // The bitwise direct read finds the last values too: the mode's packets reached
    // the CVs they were meant for, not some others that its own reads also reach. In
    // the register modes, register 5 is the configuration, CV 29.
    const bool registers = std::string(mode) == "reg" || std::string(mode) == "roc";
    for (std::size_t i = 0; i < cvs.size(); ++i) {
      const int cv = registers && cvs[i] == 5 ? 29 : cvs[i];
      const Result read = OnDecoder(decoder, "read", {std::to_string(cv)});
      EXPECT_EQ(ValueRead(read, cv), kValues[(3 + i) % 4]) << cv << "\n" << read.err;
    }
  }
}

TEST(ModeRoundTripTest, TheReadOnlyManufacturerIdReadsAlikeInEveryMode) {
  const int manufacturer = ValueRead(RunCli({"read", "--virtual-time", "8"}), 8);
  ASSERT_GE(manufacturer, 0);
  for (const auto& reach : kModeReach) {
    const Result read = RunCli({"read", "--virtual-time", "--mode", reach.mode, "8"});
    EXPECT_EQ(ValueRead(read, 8), manufacturer) << reach.mode << "\n" << read.out << read.err;
  }
}

TEST(PagedModeTest, EachWriteIsAcknowledgedOnItsOwn) {
  const TempFile decoder("paged.DEC");
  // The page preset and the data write each get an acknowledge; the write's own
  // must not be taken for the preset's, whether or not the value changes.
  for (const char* value : {"34", "34", "6", "34"}) {
    const Result write = OnDecoder(decoder, "write", {"--mode", "pag", "29", value});
    EXPECT_EQ(write.status, kExitOk) << value << "\n" << write.err;
    EXPECT_EQ(write.out, std::string("CV 29 = ") + value + " acknowledged\n");
  }
  EXPECT_EQ(OnDecoder(decoder, "read", {"--mode", "pag", "29"}).out, "CV 29 = 34\n");

  // CV 7 is read-only: the preset is acknowledged, the write is not.
  const int version = ValueRead(OnDecoder(decoder, "read", {"7"}), 7);
  ASSERT_GE(version, 0);
  const int other = (version + 1) % 256;
  const Result refused = OnDecoder(decoder, "write", {"--mode", "pag", "7", std::to_string(other)});
  EXPECT_EQ(refused.status, kExitNotConfirmed);
  EXPECT_EQ(refused.out, "CV 7 = " + std::to_string(other) + " not acknowledged\n");
  EXPECT_THAT(refused.err, HasSubstr("CV 7 keine Bestätigung"));
  EXPECT_EQ(ValueRead(OnDecoder(decoder, "read", {"7"}), 7), version);
}

TEST(WriteCommandTest, TrackPowerGoesOnlyAfterTheLastCopyOfTheWrite) {
  const Result r = RunCli({"write", "--virtual-time", "--trace", "29", "34"});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  std::vector<std::string> lines;
  std::istringstream trace(r.err);
  for (std::string line; std::getline(trace, line);) lines.push_back(line);
  const auto power_off = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("track power off") != std::string::npos;
  });
  ASSERT_NE(power_off, lines.end()) << r.err;
  const auto is_copy = [](const std::string& line) {
    return line.find("7C 1C 22") != std::string::npos &&
           line.find("service: write CV 29 = 34") != std::string::npos;
  };
  EXPECT_EQ(std::count_if(lines.begin(), power_off, is_copy), 11) << r.err;
  // Nothing of the write is cut off by the power going.
  EXPECT_EQ(std::count_if(power_off, lines.end(),
                          [](const std::string& line) { return line.find("7C") != std::string::npos; }),
            0)
      << r.err;
}

TEST(ResetCommandTest, AfterAResetTheDecoderReadsAsANewOne) {
  const TempFile cvs("reset_cvs.DEC", "1\r\n29\r\n67\r\n1024\r\n");
  const Result as_new = RunCli({"read-all", "--virtual-time", cvs.Path()});
  ASSERT_EQ(as_new.status, kExitOk) << as_new.err;

  const TempFile decoder("reset_changed.DEC");
  const TempFile changes("reset_changes.DEC", "1 77\r\n29 34\r\n67 200\r\n1024 9\r\n");
  ASSERT_EQ(OnDecoder(decoder, "write-all", {changes.Path()}).status, kExitOk);
  ASSERT_NE(OnDecoder(decoder, "read-all", {cvs.Path()}).out, as_new.out);

  const Result reset = OnDecoder(decoder, "reset", {});
  EXPECT_EQ(reset.status, kExitOk) << reset.err;
  EXPECT_EQ(reset.out, "factory reset sent\n");
  EXPECT_EQ(OnDecoder(decoder, "read-all", {cvs.Path()}).out, as_new.out);
}

TEST(DecoderFileFlowTest, AnExampleWrittenWholeReadsBackWhole) {
  // The CVs the examples name without a value are read-only: read-all fills in what
  // the decoder holds.
  std::map<int, int> held;
  for (int cv : {7, 8}) {
    held[cv] = ValueRead(RunCli({"read", "--virtual-time", std::to_string(cv)}), cv);
    ASSERT_GE(held[cv], 0) << cv;
  }
  for (const char* name : {"lokdecoder.LOC", "funktionsdecoder.DEC", "zubehoerdecoder.DEC"}) {
    SCOPED_TRACE(name);
    const std::string path = (fs::path(QARN2_EXAMPLES_DIR) / name).string();
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::vector<std::string> lines = CrLfLines(text.str());
    ASSERT_GT(lines.size(), 5u);

    // The decoder starts with another value in each CV the file gives one, so every
    // value read back is one that write-all put there.
    std::string other_values;
    for (const std::string& line : lines) {
      if (const auto cv_line = TakeApart(line); cv_line && cv_line->value) {
        const int other = (*cv_line->value + 77) % 256;
        other_values += std::to_string(cv_line->cv) + " " + std::to_string(other) + "\r\n";
      }
    }
    const TempFile decoder(std::string("example_") + name, other_values);

    // The file's mode line chooses the mode.
    const Result written = OnDecoder(decoder, "write-all", {path});
    EXPECT_EQ(written.status, kExitOk) << written.err;
    EXPECT_EQ(written.out, "");
    EXPECT_THAT(written.err, HasSubstr("0 Fehler beim Schreiben\n"));

    const Result read = OnDecoder(decoder, "read-all", {path});
    EXPECT_EQ(read.status, kExitOk) << read.err;
    EXPECT_THAT(read.err, HasSubstr("0 Fehler beim Auslesen\n"));
    const std::vector<std::string> read_lines = CrLfLines(read.out);
    ASSERT_EQ(read_lines.size(), lines.size()) << read.out;
    int cv_lines = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto given = TakeApart(lines[i]);
      if (!given) {
        EXPECT_EQ(read_lines[i], lines[i]);
        continue;
      }
      ++cv_lines;
      const auto got = TakeApart(read_lines[i]);
      ASSERT_TRUE(got) << read_lines[i];
      EXPECT_EQ(got->cv, given->cv) << read_lines[i];
      EXPECT_EQ(got->value, given->value ? *given->value : held.at(given->cv)) << read_lines[i];
      // Whole, a "(" at its start too.
      EXPECT_EQ(got->description, given->description) << read_lines[i];
    }
    EXPECT_GE(cv_lines, 9);
  }
}

TEST(HardwareOptionTest, TheLgbInterfacesRepliesCountOnlyWhenTheyTellEnough) {
  const struct {
    const char* reply;
    bool acknowledged;  // a write reply's first three characters tell it
    bool readable;      // a read reply needs all four
  } cases[] = {
      {"slow", true, true},
      {"1", false, false},
      {"2", false, false},
      {"3", true, false},
  };
  for (const auto& c : cases) {
    // A value and a CV number with the top bit set, too.
    for (const auto& [cv, value] : {std::pair{"29", "34"}, std::pair{"200", "129"}}) {
      SCOPED_TRACE(std::string(c.reply) + ": CV " + cv + " = " + value);
      const TempFile decoder(std::string("lgb_reply_") + c.reply + ".DEC");
      const Result write =
          OnDecoder(decoder, "write", {"--hardware", "lgb", "--sim-lgb-reply", c.reply, cv, value});
      EXPECT_EQ(write.status, c.acknowledged ? kExitOk : kExitNotConfirmed) << write.err;
      EXPECT_EQ(write.out, std::string("CV ") + cv + " = " + value +
                               (c.acknowledged ? " acknowledged\n" : " not acknowledged\n"));
      const std::string progress = c.acknowledged ? std::string("CV Nr ") + cv + "=" + value + " bestätigt"
                                                  : std::string("CV ") + cv + " keine Bestätigung";
      EXPECT_THAT(write.err, HasSubstr(progress));

      const Result read = OnDecoder(decoder, "read", {"--hardware", "lgb", "--sim-lgb-reply", c.reply, cv});
      EXPECT_EQ(read.status, c.readable ? kExitOk : kExitNotConfirmed) << read.err;
      const std::string result = c.readable ? std::string(" = ") + value : std::string(" not readable");
      EXPECT_EQ(read.out, std::string("CV ") + cv + result + "\n");
      if (!c.readable) {
        EXPECT_THAT(read.err, HasSubstr("nicht lesbar"));
      }
    }
  }
}

// The simulated track on the wall clock, as a real port would run.
TEST(RealClockTest, AWriteIsReadBackInPagedAndDirectMode) {
  for (const char* mode : {"pag", "dir"}) {
    SCOPED_TRACE(mode);
    const TempFile decoder(std::string("wall_clock_") + mode + ".DEC");
    const std::vector<std::string> track = {"--simulate", "--sim-decoder", decoder.Path(), "--mode", mode};
    std::vector<std::string> write = {"write", "29", "34"};
    write.insert(write.begin() + 1, track.begin(), track.end());
    const Result written = RunCli(write);
    EXPECT_EQ(written.status, kExitOk) << written.err;
    EXPECT_EQ(written.out, "CV 29 = 34 acknowledged\n");
    std::vector<std::string> read = {"read", "29"};
    read.insert(read.begin() + 1, track.begin(), track.end());
    const Result back = RunCli(read);
    EXPECT_EQ(back.status, kExitOk) << back.err;
    EXPECT_EQ(back.out, "CV 29 = 34\n");
  }
}

// --- Tries, read-back and the JSON report, against a decoder that loses acknowledges.

QJsonObject JsonOf(const Result& r) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << r.out;
  return document.object();
}

// With --json every exit prints one object: the exit status, the failure's message,
// and the CVs once the track was reached.
TEST(JsonTest, EveryExitPrintsOneObject) {
  const TempFile sheet("json.DEC", "29 6\r\n");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string error;  // empty: none
    bool cvs;           // "cvs" and "failures"
  } cases[] = {
      {{"read", "--mode", "xyz", "29", "--json"}, kExitUsage, "--mode takes dir, dio, reg, pag or roc, not 'xyz'", false},
      {{"write", "--bogus", "--json", "29", "5"}, kExitUsage, "unknown option '--bogus'", false},
      {{"read", "--json", "2000"}, kExitUsage, "CV takes a number from 1 to 1024, not '2000'", false},
      {{"read-all", "--json", "/nonexistent/qarn2.DEC"}, kExitUsage, "cannot read '/nonexistent/qarn2.DEC'", false},
      {{"reset", "--json"}, kExitUsage, "--retries, --verify and --json are for reading and writing CVs", false},
      {{"read", "--json", "--port", "COM1=/dev/ttyS7", "--sim-seed", "3", "29"}, kExitUsage,
       "--sim-seed puts every port on the simulated track", false},
      {{"write-all", "--json", "--port", "COM1=/nonexistent/device", sheet.Path()}, kExitPortError,
       "Unable to open com port (win error code: 2)", true},
      {{"write", "--json", "--virtual-time", "--sim-ack-loss", "1", "29", "5"}, kExitNotConfirmed, "", true},
      {{"read-all", "--json", "--virtual-time", sheet.Path()}, kExitOk, "", true},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(c.args);
    SCOPED_TRACE(r.out);
    EXPECT_EQ(r.status, c.status) << r.err;
    const QJsonObject report = JsonOf(r);
    EXPECT_EQ(report["command"].toString().toStdString(), c.args[0]);
    EXPECT_EQ(report["exit"].toInt(-1), c.status);
    if (c.error.empty()) {
      EXPECT_FALSE(report.contains("error"));
    } else {
      EXPECT_THAT(report["error"].toString().toStdString(), HasSubstr(c.error));
      EXPECT_THAT(r.err, HasSubstr(c.error));
    }
    EXPECT_EQ(report.contains("cvs"), c.cvs);
    EXPECT_EQ(report.contains("failures"), c.cvs);
  }
  // The usage asked for is the usage.
  EXPECT_THAT(RunCli({"read", "--json", "--help"}).out, ::testing::StartsWith("Usage:\n"));
}

TEST(RetriesTest, WeakAcknowledgesAreTriedAgainAndWhatIsReadIsTheDecoders) {
  // The example locomotive on the decoder; a third of its acknowledges lost.
  const std::string path = std::string(QARN2_EXAMPLES_DIR) + "/lokdecoder.LOC";
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const TempFile sheet("retries.LOC", bytes.str());
  const auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"read-all", "--virtual-time", "--sim-decoder", sheet.Path(), "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(sheet.Path());
    return RunCli(args);
  };
  const Result clean = run({});
  ASSERT_EQ(clean.status, kExitOk) << clean.err;
  std::map<int, int> decoder;
  for (const QJsonValue& cv : JsonOf(clean)["cvs"].toArray()) decoder[cv["cv"].toInt()] = cv["value"].toInt();
  ASSERT_GT(decoder.size(), 30u);

  const Result once = run({"--sim-ack-loss", "0.3", "--sim-seed", "1"});
  const Result four = run({"--sim-ack-loss", "0.3", "--sim-seed", "1", "--retries", "3"});
  const QJsonObject once_report = JsonOf(once), four_report = JsonOf(four);
  EXPECT_EQ(once.status, kExitNotConfirmed);
  EXPECT_EQ(four_report["retries"].toInt(), 3);
  EXPECT_EQ(four_report["mode"].toString(), "dir");
  EXPECT_EQ(four_report["hardware"].toString(), "board");
  EXPECT_LT(four_report["failures"].toInt(), once_report["failures"].toInt());
  int more_tries = 0;
  for (const QJsonObject& report : {once_report, four_report}) {
    const bool retrying = report["retries"].toInt() == 3;
    const QJsonArray cvs = report["cvs"].toArray();
    EXPECT_EQ(cvs.size(), static_cast<qsizetype>(decoder.size()));
    int failures = 0;
    for (const QJsonValue& cv : cvs) {
      const int tries = cv["tries"].toInt();
      EXPECT_TRUE(tries >= 1 && tries <= (retrying ? 4 : 1)) << tries;
      more_tries += tries > 1;
      if (cv["result"].toString() == "read") {
        EXPECT_EQ(cv["value"].toInt(), decoder[cv["cv"].toInt()]) << "CV " << cv["cv"].toInt();
        continue;
      }
      EXPECT_EQ(cv["result"].toString(), "not readable");
      EXPECT_FALSE(cv.toObject().contains("value"));
      EXPECT_EQ(tries, retrying ? 4 : 1) << "a failure has used every try";
      ++failures;
    }
    EXPECT_EQ(report["failures"].toInt(), failures);
  }
  EXPECT_GT(more_tries, 0);
  EXPECT_THAT(four.err, HasSubstr(", Versuch 2 von 4\n"));
  // The sheet comes with the report, each value read in its line.
  EXPECT_THAT(four_report["sheet"].toString().toStdString(), HasSubstr("Lokdecoder Beispiel"));
}

TEST(VerifyTest, AnAcknowledgedValueTheDecoderDoesNotHoldIsAFailure) {
  const TempFile decoder("verify_decoder.DEC");
  // CV 8 = 8 is the factory reset: acknowledged, and CV 8 then holds the maker's 13.
  Result r = OnDecoder(decoder, "write", {"--verify", "29", "34"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "CV 29 = 34 acknowledged and read back\n");
  r = OnDecoder(decoder, "write", {"--verify", "8", "8"});
  EXPECT_EQ(r.status, kExitNotConfirmed);
  EXPECT_EQ(r.out, "CV 8 = 8 acknowledged, but read back as 13\n");

  const TempFile sheet("verify.DEC", "29 34\r\n8 8\r\n3 5\r\n");
  r = OnDecoder(decoder, "write-all", {"--verify", "--json", sheet.Path()});
  EXPECT_EQ(r.status, kExitNotConfirmed);
  EXPECT_THAT(r.err, HasSubstr("CV 8 = 8 acknowledged, but read back as 13\n"));
  const QJsonArray cvs = JsonOf(r)["cvs"].toArray();
  ASSERT_EQ(cvs.size(), 3);
  EXPECT_EQ(cvs[0]["result"].toString(), "acknowledged and read back");
  EXPECT_EQ(cvs[1]["result"].toString(), "read back otherwise");
  EXPECT_EQ(cvs[1]["read_back"].toInt(), 13);
  EXPECT_EQ(cvs[2]["read_back"].toInt(), 5);
  EXPECT_EQ(JsonOf(r)["failures"].toInt(), 1);

  // Without --verify the same write counts as done: the acknowledge is all there is.
  EXPECT_EQ(OnDecoder(decoder, "write", {"8", "8"}).status, kExitOk);
}

TEST(VerifyTest, TheReadBackIsTriedAsOftenAsTheWrite) {
  const TempFile decoder("verify_retries.DEC");
  const TempFile sheet("verify_retries_sheet.DEC", "1 5\r\n3 129\r\n4 7\r\n29 34\r\n");
  const Result r = OnDecoder(decoder, "write-all",
                             {"--verify", "--retries", "3", "--sim-ack-loss", "0.3", "--sim-seed", "4", "--json", sheet.Path()});
  int retried = 0;
  for (const QJsonValue& cv : JsonOf(r)["cvs"].toArray()) {
    if (!cv.toObject().contains("read_back")) continue;
    const int tries = cv["read_back_tries"].toInt();
    EXPECT_TRUE(tries >= 1 && tries <= 4) << tries;
    retried += tries > 1;
    // A read back that found nothing says so, with every try used.
    if (cv["read_back"].isNull()) {
      EXPECT_EQ(cv["result"].toString(), "not readable back");
      EXPECT_EQ(tries, 4);
    }
  }
  EXPECT_GT(retried, 0) << r.out;
}

TEST(ModeRoundTripTest, TheOldRegisterMethodsPresetReachesTheTrackWholeBeforeThePowerGoes) {
  const Result r = RunCli({"read", "--virtual-time", "--trace", "--mode", "roc", "3"});
  EXPECT_EQ(r.out, "CV 3 = 4\n");
  int presets = 0;
  std::istringstream lines(r.err);
  for (std::string line; std::getline(lines, line) && line.find("track power off") == std::string::npos;) {
    presets += line.find("write register 6 (page register) = 1") != std::string::npos;
  }
  EXPECT_EQ(presets, 5);
}

}  // namespace
}  // namespace qarn2::cli
