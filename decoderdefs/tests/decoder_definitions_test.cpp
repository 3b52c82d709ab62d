// The decoder definitions read from a JMRI folder written for the tests: what a
// decoder file says, which models a decoder's CV 8 and CV 7 name, and what hostile
// or broken files get (a message naming file and line, nothing read from them).

#include "decoderdefs/decoder_definitions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "decoderdefs/tests/sample_definitions.h"
#include "testsupport/test_files.h"

namespace qarn2::decoderdefs {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testsupport::Put;

struct Folder : testsupport::TempFolder {
  Folder() : testsupport::TempFolder("qarn2_defs") { testing::WriteJmriFolder(Path()); }
  DefinitionPlaces Places() const {
    std::string problem;
    DefinitionPlaces places = FindDefinitions(Path().string(), problem);
    EXPECT_EQ(problem, "");
    return places;
  }
  fs::path Decoders() const { return Path() / "xml" / "decoders"; }
};

const Variable* Find(const Family& family, const std::string& item) {
  for (const Variable& v : family.variables) {
    if (v.item == item) return &v;
  }
  return nullptr;
}

// What the sheets show of the variables is proven through sheet-from-definition; the
// older way of naming a value's further CVs is not in their model.
TEST(DecoderDefinitionsTest, TheValueElementNamesTheCvsThatFollow) {
  const Folder folder;
  std::vector<DefinitionProblem> problems;
  const std::vector<Family> alt = ReadDecoderFile(folder.Decoders() / "Alt.xml", folder.Places(), problems);
  ASSERT_EQ(alt.size(), 1u);
  EXPECT_THAT(Find(alt[0], "Long Address")->cvs, ElementsAre(17, 18));
  EXPECT_THAT(Find(alt[0], "Speed Table")->cvs, ElementsAre(67, 68, 69));
}

TEST(DecoderDefinitionsTest, NamesTheModelsOfAManufacturerAndVersion) {
  const Folder folder;
  const DefinitionLibrary library = LoadDefinitions(folder.Places(), false);
  EXPECT_TRUE(library.problems.empty());
  // The index gives some numbers to two makers: both are named.
  EXPECT_EQ(ManufacturerNames(library, 99), "Lenz / Lenz Elektronik");
  EXPECT_EQ(ManufacturerNames(library, 14), "");
  const auto names = [&](std::optional<int> version) {
    std::vector<std::string> found;
    for (const ModelMatch& m : MatchingModels(library, 13, version)) found.push_back(m.model->name);
    return found;
  };
  EXPECT_THAT(names(21), ElementsAre("Bastel L", "Bastel S"));
  EXPECT_THAT(names(22), ElementsAre("Bastel L"));  // the model's own range
  EXPECT_THAT(names(5), ElementsAre("Alt 1"));      // the family's
  EXPECT_THAT(names(30), ElementsAre());
  EXPECT_THAT(names(std::nullopt), ElementsAre("Alt 1", "Bastel L", "Bastel S"));
  EXPECT_TRUE(MatchingModels(library, 99, 1).empty());  // Lenz: no file
}

TEST(DecoderDefinitionsTest, RefusesHostileAndBrokenFilesNamingFileAndLine) {
  struct Case {
    const char* name;
    std::string text;  // the decoder file; it may include "evil.xml", written as `evil`
    std::string evil;
    const char* message;
    int line;  // of the problem, in the file named by `in_evil`
    bool in_evil;
  };
  const std::string head = "<?xml version=\"1.0\"?>\n<decoder-config xmlns:xi=\"http://www.w3.org/2001/XInclude\">\n"
                           "<decoder><family name=\"F\" mfg=\"Lenz\"><model model=\"M\"/></family>\n<variables>\n";
  const std::string tail = "</variables></decoder></decoder-config>\n";
  const std::string include = "<xi:include href=\"parts/evil.xml\"/>\n";
  const std::string include_again = "<xi:include href=\"evil.xml\"/>\n";
  const Case cases[] = {
      {"entity", "<?xml version=\"1.0\"?>\n<!DOCTYPE d [\n<!ENTITY a \"aaaa\">\n]>\n<decoder-config/>\n", "",
       "declares entities", 4, false},
      {"loop", head + include + tail,
       "<variables xmlns:xi=\"http://www.w3.org/2001/XInclude\">\n" + include_again + "</variables>\n",
       "include loop", 2, true},
      {"outside", head + "<xi:include href=\"../../../../etc/passwd\"/>\n" + tail, "", "outside the JMRI folder", 5,
       false},
      {"missing", head + "<xi:include href=\"nmra/none.xml\"/>\n" + tail, "", "'nmra/none.xml' cannot be read", 5,
       false},
      {"web", head + "<xi:include href=\"http://example.com/x.xml\"/>\n" + tail, "", "not fetched", 5, false},
      {"broken include", head + include + tail, "<variables>\n<variable CV=\"1\">\n</variables>\n", "mismatch", 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Folder folder;
    Put(folder.Decoders() / "Bad.xml", c.text);
    if (!c.evil.empty()) Put(folder.Decoders() / "parts" / "evil.xml", c.evil);
    const DefinitionLibrary library = LoadDefinitions(folder.Places(), true);
    ASSERT_EQ(library.problems.size(), 1u);
    const DefinitionProblem& p = library.problems[0];
    EXPECT_EQ(p.file.filename(), c.in_evil ? "evil.xml" : "Bad.xml");
    EXPECT_EQ(p.line, c.line);
    EXPECT_THAT(p.message, HasSubstr(c.message));
    // The other files still count.
    EXPECT_EQ(library.files_read, 2);
  }
}

TEST(DecoderDefinitionsTest, RefusesAFileOverSixteenMebibytesUnread) {
  const Folder folder;
  Put(folder.Decoders() / "Huge.xml", std::string(kMaxDefinitionSize + 1, ' '));
  const DefinitionLibrary library = LoadDefinitions(folder.Places(), false);
  ASSERT_EQ(library.problems.size(), 1u);
  EXPECT_EQ(library.problems[0].file.filename(), "Huge.xml");
  EXPECT_THAT(library.problems[0].message, HasSubstr("larger than 16 MiB"));
}

// ~/JMRI is proven by the window's tests; the user's own folder only here.
TEST(DecoderDefinitionsTest, TakesTheUsersOwnDefinitions) {
  const testsupport::TempFolder home("qarn2_home");
  const std::string saved = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", home.Path().c_str(), 1);
  fs::create_directories(home.Path() / ".jmri" / "decoders");
  std::string problem;
  const DefinitionPlaces found = FindDefinitions(std::nullopt, problem);
  setenv("HOME", saved.c_str(), 1);
  EXPECT_EQ(found.user_decoders, home.Path() / ".jmri" / "decoders");
}

}  // namespace
}  // namespace qarn2::decoderdefs
