// definitions, identify and sheet-from-definition through the tool's entry point, on a
// JMRI folder written for the tests; identify against the simulated track on virtual
// time, whose decoder answers 13 in CV 8 and 21 in CV 7.

#include "cli/definition_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/command_line.h"
#include "cli/tests/run_cli.h"
#include "decoderdefs/tests/sample_definitions.h"
#include "testsupport/test_files.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::Result;
using testing::RunCli;

struct Jmri : testsupport::TempFolder {
  Jmri() : testsupport::TempFolder("qarn2_jmri_defs") { decoderdefs::testing::WriteJmriFolder(Path()); }
  std::string Dir() const { return Path().string(); }
};

// HOME pointed at an empty folder, so that only --jmri names definitions.
struct EmptyHome {
  EmptyHome() : folder("qarn2_home") {
    if (const char* old = std::getenv("HOME")) saved = old;
    setenv("HOME", folder.Path().c_str(), 1);
  }
  ~EmptyHome() { setenv("HOME", saved.c_str(), 1); }
  testsupport::TempFolder folder;
  std::string saved;
};

bool JmriInstalled() {
  std::error_code ignored;
  for (const char* dir : {"/opt/JMRI", "/usr/local/JMRI", "/usr/share/jmri"}) {
    if (fs::exists(dir, ignored)) return true;
  }
  return false;
}

TEST(DefinitionCommandsTest, DefinitionsListsWhatWasFoundAndWhatCouldNotBeRead) {
  const Jmri jmri;
  testsupport::Put(jmri.Path() / "xml" / "decoders" / "Broken.xml", "<decoder-config>\n<decoder>\n");
  const Result r = RunCli({"definitions", "--jmri", jmri.Dir()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "JMRI folder: " + jmri.Dir() + "/xml\n"
                   "4 manufacturers in the index, 2 decoder files read: 1 manufacturer, 2 families, 3 models\n"
                   "Public-domain and DIY (13): 2 families\n"
                   "  Alt (Alt.xml): Alt 1\n"
                   "  Bastel (Bastel.xml): Bastel L, Bastel S\n"
                   "1 file could not be read:\n"
                   "  " + jmri.Dir() + "/xml/decoders/Broken.xml:3:1: Premature end of document.\n");
  // Nothing readable but the index: no definitions, and the broken file named.
  fs::remove(jmri.Path() / "xml" / "decoders" / "Bastel.xml");
  fs::remove(jmri.Path() / "xml" / "decoders" / "Alt.xml");
  const Result none = RunCli({"definitions", "--jmri", jmri.Dir()});
  EXPECT_EQ(none.status, kExitDataError);
  EXPECT_THAT(none.out, HasSubstr("Broken.xml:3:1"));
  // A model whose file cannot be read is not reported as merely unknown.
  const Result lost = RunCli({"sheet-from-definition", "--jmri", jmri.Dir(), "--model", "Bastel S"});
  EXPECT_EQ(lost.status, kExitUsage);
  EXPECT_THAT(lost.err, HasSubstr("Broken.xml:3:1"));
}

TEST(DefinitionCommandsTest, SheetFromDefinitionNamesEachCvOfTheModel) {
  const Jmri jmri;
  struct Case {
    std::vector<std::string> options;
    std::string sheet;
  };
  const Case cases[] = {
      // German labels where given; no value for read-only CVs nor CV 7 and 8, which
      // writing the sheet would send (a write to CV 8 resets many decoders); the bit fields of CV 29 on one line with their
      // defaults combined; the address a line per CV; the other model's CV 47 absent.
      {{"--model", "Bastel S", "--lossy"},
       "*dir\r\nPublic-domain and DIY Bastel S\r\n1     3 Adresse\r\n2     5 Anfahrspannung\r\n7     ? Version\r\n"
       "8     ? Hersteller\r\n17    ? Lange Adresse\r\n18    ? Lange Adresse\r\n29    2 Fahrtrichtung; Fahrstufen\r\n"
       "30    ? Fehler\r\n48    3 Smoke ? 3\r\n"},
      {{"--model", "Bastel L", "--lang", "en"},
       "*dir\r\nPublic-domain and DIY Bastel L\r\n1     3 Primary Address\r\n2     5 Start Volts\r\n7     ? Version\r\n"
       "8     ? Manufacturer\r\n17    ? Extended Address\r\n18    ? Extended Address\r\n"
       "29    2 Direction; Speed Steps\r\n30    ? Error\r\n"
       "47  180 Sound volume\r\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"sheet-from-definition", "--jmri", jmri.Dir() + "/xml"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Result r = RunCli(args);
    EXPECT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(r.out, c.sheet);
  }
  // "Lautstärke" is Windows-1252; "≥" is not: without --lossy nothing is written.
  const Result strict = RunCli({"sheet-from-definition", "--jmri", jmri.Dir(), "--model", "Bastel S"});
  EXPECT_EQ(strict.status, kExitDataError);
  EXPECT_EQ(strict.out, "");
  EXPECT_THAT(strict.err, HasSubstr("Windows-1252 lacks (≥)"));
  const Result german = RunCli({"sheet-from-definition", "--jmri", jmri.Dir(), "--model", "Bastel L"});
  EXPECT_THAT(german.out, HasSubstr("47  180 Lautst\xE4rke\r\n"));
  const Result unknown = RunCli({"sheet-from-definition", "--jmri", jmri.Dir(), "--model", "Bastel X"});
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_THAT(unknown.err, HasSubstr("no model 'Bastel X'"));
}

TEST(DefinitionCommandsTest, SheetFromDefinitionIsAnOrdinarySheetForReadAll) {
  const Jmri jmri;
  const testsupport::TempFolder folder("qarn2_defsheet");
  const std::string sheet = folder.File("bastel.DEC");
  ASSERT_EQ(RunCli({"sheet-from-definition", "--jmri", jmri.Dir(), "--model", "Bastel L", "--out", sheet}).status,
            kExitOk);
  const Result r = RunCli({"read-all", "--simulate", "--virtual-time", sheet});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_THAT(r.out, HasSubstr("7    21 Version\r\n"));
  EXPECT_THAT(r.out, HasSubstr("18  "));
}

TEST(DefinitionCommandsTest, IdentifyNamesTheSimulatedDecoder) {
  const Jmri jmri;
  const Result r = RunCli({"identify", "--simulate", "--virtual-time", "--jmri", jmri.Dir()});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out,
            "CV 8 = 13 (manufacturer)\n"
            "CV 7 = 21 (version)\n"
            "manufacturer: Public-domain and DIY\n"
            "2 models for this manufacturer and version 21:\n"
            "  Bastel / Bastel L (Bastel.xml)\n"
            "  Bastel / Bastel S (Bastel.xml)\n");
  // In paged mode through the same CV box.
  const Result paged = RunCli({"identify", "--mode", "pag", "--simulate", "--virtual-time", "--jmri", jmri.Dir()});
  EXPECT_EQ(paged.status, kExitOk) << paged.err;
  EXPECT_THAT(paged.out, HasSubstr("CV 7 = 21 (version)\n"));
  // A bare booster gives no acknowledge: nothing to read with.
  const Result booster = RunCli({"identify", "--hardware", "booster", "--simulate", "--virtual-time"});
  EXPECT_EQ(booster.status, kExitUsage);
  EXPECT_THAT(booster.err, HasSubstr("a bare booster gives no acknowledge"));
}

TEST(DefinitionCommandsTest, WithoutDefinitionsIdentifyStillPrintsTheNumbers) {
  if (JmriInstalled()) GTEST_SKIP() << "a JMRI folder is installed on this machine";
  const EmptyHome home;
  const Result r = RunCli({"identify", "--simulate", "--virtual-time"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, "CV 8 = 13 (manufacturer)\nCV 7 = 21 (version)\n");
  EXPECT_THAT(r.err, HasSubstr("no JMRI decoder definitions found"));
  const Result defs = RunCli({"definitions"});
  EXPECT_EQ(defs.status, kExitDataError);
  EXPECT_THAT(defs.err, HasSubstr("give --jmri DIR"));
  const Result bad = RunCli({"identify", "--simulate", "--virtual-time", "--jmri", home.folder.Path().string()});
  EXPECT_EQ(bad.status, kExitUsage);
  EXPECT_THAT(bad.err, HasSubstr("is no JMRI folder"));
  EXPECT_THAT(bad.err, Not(HasSubstr("CV- Nr")));  // refused before the track
}

}  // namespace
}  // namespace qarn2::cli
