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

TEST(DecoderDefinitionsTest, ReadsFamiliesModelsAndVariablesWithTheirIncludes) {
  const Folder folder;
  std::vector<DefinitionProblem> problems;
  const std::vector<Family> families = ReadDecoderFile(folder.Decoders() / "Bastel.xml", folder.Places(), problems);
  EXPECT_TRUE(problems.empty()) << problems.front().message;
  ASSERT_EQ(families.size(), 1u);
  const Family& f = families[0];
  EXPECT_EQ(f.manufacturer, "Public-domain and DIY");
  EXPECT_EQ(f.low_version, 20);
  EXPECT_EQ(f.high_version, 29);
  ASSERT_EQ(f.models.size(), 2u);
  EXPECT_EQ(f.models[1].low_version, 21);
  // From the include JMRI's address names, resolved in the folder; then the relative one.
  const Variable* address = Find(f, "Long Address");
  ASSERT_NE(address, nullptr);
  EXPECT_THAT(address->cvs, ElementsAre(17, 18));
  EXPECT_EQ(address->label, "Extended Address");
  EXPECT_EQ(address->label_de, "Lange Adresse");
  EXPECT_EQ(address->kind, "splitVal");
  const Variable* start = Find(f, "Vstart");
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->default_value, 5);
  EXPECT_EQ(Find(f, "Short Address")->default_value, 3);
  EXPECT_TRUE(Find(f, "Decoder Version")->read_only);
  EXPECT_EQ(Find(f, "Speed Steps")->mask, "XXXXXXVX");
  EXPECT_THAT(Find(f, "Sound Volume")->include, ElementsAre("Bastel L"));
  EXPECT_FALSE(VariableApplies(*Find(f, "Sound Volume"), "Bastel S"));
  EXPECT_FALSE(VariableApplies(*Find(f, "Smoke"), "Bastel L"));
  EXPECT_TRUE(VariableApplies(*Find(f, "Smoke"), "Bastel S"));
  EXPECT_TRUE(Find(f, "Indexed")->cvs.empty());
  // The older way: the value element says what CVs follow the one named.
  const std::vector<Family> alt = ReadDecoderFile(folder.Decoders() / "Alt.xml", folder.Places(), problems);
  ASSERT_EQ(alt.size(), 1u);
  EXPECT_THAT(Find(alt[0], "Long Address")->cvs, ElementsAre(17, 18));
  EXPECT_THAT(Find(alt[0], "Speed Table")->cvs, ElementsAre(67, 68, 69));
}

TEST(DecoderDefinitionsTest, NamesTheModelsOfAManufacturerAndVersion) {
  const Folder folder;
  const DefinitionLibrary library = LoadDefinitions(folder.Places(), false);
  EXPECT_TRUE(library.problems.empty());
  ASSERT_NE(FindManufacturer(library, 13), nullptr);
  EXPECT_EQ(FindManufacturer(library, 13)->name, "Public-domain and DIY");
  EXPECT_EQ(FindManufacturer(library, 14), nullptr);
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

TEST(DecoderDefinitionsTest, FindsJmriInTheUsualPlacesAndTheUsersOwnDefinitions) {
  const testsupport::TempFolder home("qarn2_home");
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  setenv("HOME", home.Path().c_str(), 1);
  std::string problem;
  const DefinitionPlaces none = FindDefinitions(std::nullopt, problem);
  testing::WriteJmriFolder(home.Path() / "JMRI");
  fs::create_directories(home.Path() / ".jmri" / "decoders");
  const DefinitionPlaces found = FindDefinitions(std::nullopt, problem);
  setenv("HOME", saved.c_str(), 1);
  EXPECT_EQ(problem, "");
  EXPECT_EQ(found.jmri_xml, home.Path() / "JMRI" / "xml");
  EXPECT_EQ(found.user_decoders, home.Path() / ".jmri" / "decoders");
  EXPECT_FALSE(none.user_decoders);
  FindDefinitions(home.Path().string(), problem);
  EXPECT_THAT(problem, HasSubstr("is no JMRI folder"));
}

}  // namespace
}  // namespace qarn2::decoderdefs
