// import-jmri and export-jmri: the built tool run as a process on a roster file as
// JMRI writes it and on the sample locomotive sheet, and through the entry point for
// --out, refusals and help.

#include "cli/jmri_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/tests/run_cli.h"
#include "roster/tests/sample_roster.h"
#include "testsupport/test_files.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using testing::Result;
using testing::RunCli;
using testing::RunTool;
using testsupport::Get;
using testsupport::Put;

struct Folder : testsupport::TempFolder {
  Folder() : testsupport::TempFolder("qarn2_jmri") {}
};

TEST(JmriCommandsTest, ImportPrintsTheSheetAndReportsWhatWasLeftOut) {
  const Folder folder;
  const std::string xml = roster::testing::SampleRoster();
  const std::string path = folder.File("Kof_II_Gleisbau.xml");
  Put(path, xml);
  const Result r = RunTool({"import-jmri", path});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, roster::testing::SampleSheet());
  const auto line = [&](const char* text) { return std::to_string(roster::testing::LineOf(xml, text)); };
  EXPECT_EQ(r.err, "qarn2-cli: import-jmri: line " + line(R"(name="5" value="300")") +
                       ": CV 5 has the value \"300\", not 0..255; left out\n"
                       "qarn2-cli: import-jmri: line " + line("16.2.257") +
                       ": CV \"16.2.257\" is no plain CV number (an indexed CV?); left out\n"
                       "qarn2-cli: import-jmri: line " + line(R"(name="29" value="38")") +
                       ": CV 29 again, with 38; left out, the first value 6 stands\n"
                       "qarn2-cli: import-jmri: line " + line("<indexedCVvalue") +
                       ": CV \"257.2\" is no plain CV number (an indexed CV?); left out\n");
}

TEST(JmriCommandsTest, ExportPrintsTheRosterOfTheSampleLocomotive) {
  const Folder folder;
  const Result r = RunTool({"export-jmri", std::string(QARN2_EXAMPLES_DIR) + "/lokdecoder.LOC"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(r.out, StartsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<?xml-stylesheet href=\"/xml/XSLT/locomotive.xsl\" type=\"text/xsl\"?>\n"));
  EXPECT_THAT(r.out, HasSubstr("<locomotive id=\"lokdecoder\" dccAddress=\"3\">"));
  EXPECT_THAT(r.out, HasSubstr("<CVvalue name=\"29\" value=\"22\"/>\n      <CVvalue name=\"67\" value=\"6\"/>"));
  std::size_t cv_values = 0;
  for (std::size_t at = 0; (at = r.out.find("<CVvalue ", at)) != std::string::npos; ++at) ++cv_values;
  EXPECT_EQ(cv_values, 7u + 28u);  // CV 7 and 8 have no value
  EXPECT_EQ(r.err, "qarn2-cli: export-jmri: 2 CV lines with \"?\" or without a value left out\n"
                   "qarn2-cli: export-jmri: " + std::to_string(cv_values) + " CV values written to standard output\n");
}

TEST(JmriCommandsTest, OutWritesTheFileAndTheTwoCommandsMeet) {
  const Folder folder;
  const std::string sheet = folder.File("lok.LOC");
  const std::string xml = folder.File("lok.xml");
  Put(sheet, "*pag\r\nBR 89\r\n1     3 Adresse\r\n29   34 Konfiguration\r\n17  195 \r\n18  244 \r\n");
  Result r = RunCli({"export-jmri", sheet, "--id", "BR 89 005", "--out", xml});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "qarn2-cli: export-jmri: 4 CV values written to " + fs::canonical(xml).string() + "\n");
  EXPECT_THAT(Get(xml), HasSubstr("<locomotive id=\"BR 89 005\" dccAddress=\"1012\">"));

  Put(folder.File("old.LOC"), "alter Inhalt\r\n");
  r = RunCli({"import-jmri", "--out", folder.File("old.LOC"), xml});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Get(folder.File("old.LOC")), "*dir\r\nBR 89 005\r\n1     3 \r\n17  195 \r\n18  244 \r\n29   34 \r\n");
}

// Names the sheet's code page cannot hold are not made '?' behind the user's back.
TEST(JmriCommandsTest, CharactersTheSheetLacksAreWrittenOnlyWithLossy) {
  const Folder folder;
  const std::string xml = folder.File("lodz.xml");
  Put(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<locomotive-config>\n"
           "  <locomotive id=\"\u0141\u00f3d\u017a \u2192 Krak\u00f3w\" roadName=\"PKP\">\n"
           "    <values><CVvalue name=\"1\" value=\"3\"/></values>\n  </locomotive>\n</locomotive-config>\n");
  const std::string sheet = folder.File("lodz.LOC");
  const struct {
    std::vector<std::string> args;
    int status;
    bool written;
  } cases[] = {
      {{"import-jmri", xml}, kExitDataError, false},
      {{"import-jmri", xml, "--out", sheet}, kExitDataError, false},
      {{"import-jmri", xml, "--out", sheet, "--lossy"}, kExitOk, true},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_THAT(r.err, HasSubstr("line 3: the id holds characters that Windows-1252 lacks (\u0141\u017a\u2192), "
                                 "each '?' in the sheet\n"));
    EXPECT_EQ(fs::exists(sheet), c.written) << c.args.size();
  }
  EXPECT_EQ(Get(sheet), "*dir\r\n?\xF3" "d? ? Krak\xF3w (PKP)\r\n1     3 \r\n");
}

TEST(JmriCommandsTest, NoRosterFileAndNoSheetEndWithStatus2AndThePlace) {
  const Folder folder;
  const std::string broken = folder.File("broken.xml");
  Put(broken, "<?xml version=\"1.0\"?>\n<locomotive-config>\n  <locomotive></values>\n");
  const std::string binary = folder.File("binary.LOC");
  Put(binary, std::string("1 3\r\n29 \0\0", 9));
  const std::string roster = folder.File("roster.xml");
  Put(roster, roster::testing::SampleRoster());
  const std::string bad_byte = folder.File("bad_byte.xml");
  Put(bad_byte, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<locomotive-config id=\"K\xF6" "f\">\n");
  const std::string no_values = folder.File("no_values.xml");
  Put(no_values, "<?xml version=\"1.0\"?>\n<locomotive-config>\n  <locomotive id=\"x\"><values/></locomotive>\n"
                 "</locomotive-config>\n");
  const std::string huge = folder.File("huge.xml");
  Put(huge, roster::testing::SampleRoster());
  fs::resize_file(huge, 16 * 1024 * 1024 + 1);  // sparse; refused by its size, never read
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"import-jmri", broken},
       "qarn2-cli: import-jmri: '" + broken +
           "' is no roster file: line 3, column 23: Opening and ending tag mismatch.\n"},
      {{"import-jmri", bad_byte},
       "qarn2-cli: import-jmri: '" + bad_byte + "' is no roster file: line 2, column 25: bytes that are not valid UTF-8\n"},
      {{"import-jmri", no_values},
       "qarn2-cli: import-jmri: '" + no_values + "' has no CV value to import (its locomotive at line 3, column 21)\n"},
      {{"import-jmri", folder.File("missing.xml")},
       "qarn2-cli: import-jmri: cannot read '" + folder.File("missing.xml") + "': No such file or directory\n"},
      {{"import-jmri", huge}, "qarn2-cli: import-jmri: cannot read '" + huge + "': larger than 16 MiB\n"},
      {{"export-jmri", binary},
       "qarn2-cli: export-jmri: '" + binary + "' is no decoder sheet: line 2, column 4: a NUL byte, no text\n"},
      {{"export-jmri", roster},
       "qarn2-cli: export-jmri: '" + roster + "' is no decoder sheet: no line begins with a CV number\n"},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, kExitUsage) << c.args[1];
    EXPECT_EQ(r.out, "") << c.args[1];
    EXPECT_EQ(r.err, c.message);
  }
}

TEST(JmriCommandsTest, BadArgumentsAreRefusedBeforeAnythingIsWritten) {
  const Folder folder;
  const std::string sheet = std::string(QARN2_EXAMPLES_DIR) + "/lokdecoder.LOC";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"import-jmri"},
           {"import-jmri", "a.xml", "b.xml"},
           {"import-jmri", "--id", "x", "a.xml"},
           {"export-jmri", sheet, "--id"},
           {"export-jmri", sheet, "--id", ""},
           {"export-jmri", sheet, "--out"},
           {"export-jmri", sheet, "--pdf", "x"},
           {"export-jmri", sheet, "--out", folder.File("no/such/folder.xml")},
       }) {
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, kExitUsage) << args.back();
    EXPECT_EQ(r.out, "") << args.back();
    EXPECT_THAT(r.err, StartsWith("qarn2-cli: " + args[0] + ": ")) << args.back();
  }
  EXPECT_FALSE(fs::exists(folder.File("no")));
}

TEST(JmriCommandsTest, TheOutputNeverReplacesItsOwnInput) {
  const Folder folder;
  const std::string sheet = folder.File("lok.LOC");
  const std::string roster = folder.File("lok.xml");
  Put(sheet, "Lok\r\n1     3 \r\n");
  Put(roster, roster::testing::SampleRoster());
  fs::create_symlink("lok.LOC", folder.File("link.LOC"));
  fs::create_hard_link(roster, folder.File("hart.xml"));
  const struct {
    std::string command, input, out;
  } cases[] = {
      {"export-jmri", sheet, sheet},
      {"export-jmri", sheet, folder.File("./sub/../lok.LOC")},
      {"export-jmri", sheet, folder.File("link.LOC")},
      {"import-jmri", roster, roster},
      {"import-jmri", roster, folder.File("hart.xml")},
  };
  fs::create_directory(folder.File("sub"));
  for (const auto& c : cases) {
    const std::string before = Get(c.input);
    const Result r = RunCli({c.command, c.input, "--out", c.out});
    EXPECT_EQ(r.status, kExitUsage) << c.out;
    EXPECT_EQ(r.err, "qarn2-cli: " + c.command + ": --out '" + c.out + "' is the input file '" + c.input +
                         "' itself; the output would replace it\n");
    EXPECT_EQ(Get(c.input), before) << c.out;
  }
}

TEST(JmriCommandsTest, HelpExplainsBothCommands) {
  for (const char* command : {"import-jmri", "export-jmri"}) {
    const Result r = RunCli({command, "--help"});
    EXPECT_EQ(r.status, kExitOk);
    EXPECT_THAT(r.out, StartsWith(std::string("Usage:\n  qarn2-cli ") + command));
    EXPECT_THAT(RunCli({"--help"}).out, HasSubstr(std::string("qarn2-cli ") + command + " "));
  }
}

}  // namespace
}  // namespace qarn2::cli
