// A JMRI roster file into a decoder sheet: what JMRI writes, what a hand-edited file
// adds, and files that are no roster file or are built to hurt the reader.

#include "roster/roster_import.h"

#include <QString>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "roster/roster_format.h"
#include "roster/tests/sample_roster.h"

namespace qarn2::roster {
namespace {

using testing::LineOf;
using testing::SampleRoster;
using testing::SampleSheet;
using ::testing::HasSubstr;

// A roster file with `attributes` on the locomotive and `values` inside <values>.
std::string Roster(const std::string& attributes, const std::string& values) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<locomotive-config xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
         "  <locomotive " + attributes + ">\n"
         "    <decoder model=\"\" family=\"\"/>\n"
         "    <values>\n" + values + "    </values>\n"
         "  </locomotive>\n"
         "</locomotive-config>\n";
}

// One CV value, for the tests that look at something else.
const char kOneCv[] = "      <CVvalue name=\"1\" value=\"3\"/>\n";

std::string Title(const RosterImport& imported) {
  const std::size_t first = imported.sheet.find("\r\n") + 2;
  return imported.sheet.substr(first, imported.sheet.find("\r\n", first) - first);
}

TEST(ImportRoster, ARosterAsJmriWritesItBecomesTheSheet) {
  const std::string xml = SampleRoster();
  const RosterImport imported = ImportRoster(xml);
  ASSERT_FALSE(imported.error) << imported.error->detail;
  EXPECT_EQ(imported.sheet, SampleSheet());
  EXPECT_EQ(imported.cv_lines, 5 + 28);
  EXPECT_EQ(imported.id, "Köf II Gleisbau");

  ASSERT_EQ(imported.problems.size(), 4u);
  const RosterProblem& too_large = imported.problems[0];
  EXPECT_EQ(too_large.kind, RosterProblem::kBadValue);
  EXPECT_EQ(too_large.cv, 5);
  EXPECT_EQ(too_large.value, "300");
  EXPECT_EQ(too_large.line, LineOf(xml, R"(name="5" value="300")"));
  const RosterProblem& indexed = imported.problems[1];
  EXPECT_EQ(indexed.kind, RosterProblem::kNotPlainCv);
  EXPECT_EQ(indexed.name, "16.2.257");
  EXPECT_EQ(indexed.line, LineOf(xml, "16.2.257"));
  const RosterProblem& twice = imported.problems[2];
  EXPECT_EQ(twice.kind, RosterProblem::kDuplicateCv);
  EXPECT_EQ(twice.cv, 29);
  EXPECT_EQ(twice.value, "38");
  EXPECT_EQ(twice.kept_value, 6);
  EXPECT_EQ(twice.line, LineOf(xml, R"(name="29" value="38")"));
  EXPECT_EQ(imported.problems[3].kind, RosterProblem::kNotPlainCv);  // the indexedCVvalue
  EXPECT_EQ(imported.problems[3].name, "257.2");
}

TEST(ImportRoster, TitleLineFromIdRoadNameAndNumber) {
  const struct {
    const char* attributes;
    std::string title;
  } cases[] = {
      {R"(id="V 60")", "V 60"},
      {R"(id="V 60" roadName="DB")", "V 60 (DB)"},
      {R"(id="V 60" roadNumber="260 417-3")", "V 60 (260 417-3)"},
      {R"(id="V 60" roadName="" roadNumber="")", "V 60"},
      {R"(roadName="DB" roadNumber="V 60 417")", "(DB V 60 417)"},
      {R"(id="")", ""},
      // A line beginning with a digit would be a CV line to every command.
      {R"(id="218 001")", "Lok 218 001"},
      // A line end in an attribute would start a line of its own.
      {R"(id="Zeile&#10;29 5&#13;&#9;Ende")", "Zeile 29 5  Ende"},
      {R"(id="B&amp;O &quot;Royal Blue&quot; &#x20AC;")", "B&O \"Royal Blue\" \x80"},
  };
  for (const auto& c : cases) {
    const RosterImport imported = ImportRoster(Roster(c.attributes, kOneCv));
    ASSERT_FALSE(imported.error) << c.attributes;
    EXPECT_EQ(Title(imported), c.title) << c.attributes;
    EXPECT_THAT(imported.problems, ::testing::IsEmpty()) << c.attributes;
  }
}

TEST(ImportRoster, CharactersTheCodePageLacksBecomeQuestionMarksAndAreReported) {
  const std::string xml = Roster(R"(id="Ĺ 751 Łódź → Zürich" roadName="ČSD")", kOneCv);
  const RosterImport imported = ImportRoster(xml);
  ASSERT_FALSE(imported.error);
  EXPECT_EQ(Title(imported), "? 751 ?\xF3" "d? ? Z\xFCrich (?SD)");
  ASSERT_EQ(imported.problems.size(), 2u);
  EXPECT_EQ(imported.problems[0].kind, RosterProblem::kReplacedCharacters);
  EXPECT_EQ(imported.problems[0].field, "id");
  EXPECT_EQ(imported.problems[0].characters, "ĹŁź→");  // each once, in order
  EXPECT_EQ(imported.problems[0].unnamed_characters, 0);
  EXPECT_EQ(imported.problems[0].line, LineOf(xml, "<locomotive "));
  EXPECT_EQ(imported.problems[1].field, "roadName");
  EXPECT_EQ(imported.problems[1].characters, "Č");

  // Thousands of them: the first are named, the others counted, each once.
  QString many;
  for (int i = 0; i < 80000; ++i) many += QChar(0x4E00 + i % 3000);
  const RosterImport flood = ImportRoster(Roster("id=\"" + many.toStdString() + "\"", kOneCv));
  ASSERT_FALSE(flood.error);
  EXPECT_EQ(Title(flood), std::string(80000, '?'));
  ASSERT_EQ(flood.problems.size(), 1u);
  EXPECT_EQ(flood.problems[0].characters, many.first(kMaxNamedCharacters).toStdString());
  EXPECT_EQ(flood.problems[0].unnamed_characters, 3000 - kMaxNamedCharacters);
}

TEST(ImportRoster, OnlyPlainCvNumbersAndByteValuesOfTheFirstLocomotiveCount) {
  const std::string values =
      "      <decoderDef><CVvalue name=\"7\" value=\"7\"/></decoderDef>\n"  // not where CVs stand
      "      <CVvalue name=\"1024\" value=\"0\"/>\n"
      "      <CVvalue name=\"1000\" value=\"255\"/>\n"
      "      <CVvalue name=\"029\" value=\"034\"/>\n"
      "      <CVvalue name=\"0\" value=\"1\"/>\n"
      "      <CVvalue name=\"1025\" value=\"1\"/>\n"
      "      <CVvalue name=\"CV17\" value=\"192\"/>\n"
      "      <CVvalue name=\"+18\" value=\"1\"/>\n"
      "      <CVvalue value=\"1\"/>\n"
      "      <CVvalue name=\"19\" value=\"-1\"/>\n"
      "      <CVvalue name=\"20\" value=\" 5\"/>\n"
      "      <CVvalue name=\"21\" value=\"256\"/>\n"
      "      <CVvalue name=\"22\"/>\n";
  std::string xml = Roster(R"(id="Lok")", values);
  // A second locomotive, CVs right inside the first and outside any: whose they are
  // cannot be told.
  xml.replace(xml.find("    <values>"), 0, "    <CVvalue name=\"2\" value=\"9\"/>\n");
  xml.replace(xml.find("</locomotive-config>"), 0,
              "  <locomotive id=\"Zweite\"><values><CVvalue name=\"3\" value=\"3\"/></values></locomotive>\n"
              "  <CVvalue name=\"4\" value=\"4\"/>\n");
  const RosterImport imported = ImportRoster(xml);
  ASSERT_FALSE(imported.error) << imported.error->detail;
  EXPECT_EQ(imported.sheet, "*dir\r\nLok\r\n29   34 \r\n1000 255 \r\n1024   0 \r\n");

  std::vector<std::pair<RosterProblem::Kind, std::string>> reported;
  for (const RosterProblem& p : imported.problems) {
    reported.emplace_back(p.kind, p.kind == RosterProblem::kBadValue ? p.value : p.name);
  }
  using P = RosterProblem;
  EXPECT_EQ(reported, (std::vector<std::pair<P::Kind, std::string>>{
                          {P::kMisplacedCv, "2"},
                          {P::kMisplacedCv, "7"},
                          {P::kCvOutOfRange, "0"},
                          {P::kCvOutOfRange, "1025"},
                          {P::kNotPlainCv, "CV17"},
                          {P::kNotPlainCv, "+18"},
                          {P::kNotPlainCv, ""},
                          {P::kBadValue, "-1"},
                          {P::kBadValue, " 5"},
                          {P::kBadValue, "256"},
                          {P::kBadValue, ""},
                          {P::kFurtherLocomotive, "Zweite"},
                          {P::kMisplacedCv, "4"},
                      }));
  EXPECT_EQ(imported.problems[0].line, LineOf(xml, "name=\"2\""));
}

TEST(ImportRoster, ReadsTheEncodingTheDeclarationNames) {
  const QString body = QString::fromUtf8(
      "<locomotive-config><locomotive id=\"K\u00F6f\"><values><CVvalue name=\"1\" value=\"3\"/></values>"
      "</locomotive></locomotive-config>\n");
  const QString utf16 = QString(QChar::ByteOrderMark) + "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n" + body;
  for (const std::string& xml :
       {("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + body).toLatin1().toStdString(),
        std::string(reinterpret_cast<const char*>(utf16.utf16()), static_cast<std::size_t>(utf16.size()) * 2)}) {
    const RosterImport imported = ImportRoster(xml);
    ASSERT_FALSE(imported.error) << imported.error->detail;
    EXPECT_EQ(imported.sheet, "*dir\r\nK\xF6" "f\r\n1     3 \r\n");
  }
}

TEST(ImportRoster, AnOldFileWithADocumentTypeButNoEntitiesIsRead) {
  std::string xml = SampleRoster();
  xml.replace(xml.find("<locomotive-config"), 0, "<!DOCTYPE locomotive-config SYSTEM \"locomotive-config.dtd\">\n");
  const RosterImport imported = ImportRoster(xml);
  ASSERT_FALSE(imported.error) << imported.error->detail;
  EXPECT_EQ(imported.sheet, SampleSheet());
}

TEST(ImportRoster, ALocomotiveWithoutACvValueToImportIsRefusedWithWhatWasLeftOut) {
  for (const std::string values : {"", "      <CVvalue name=\"5\" value=\"300\"/>\n"}) {
    const std::string xml = Roster(R"(id="Leer")", values);
    const RosterImport imported = ImportRoster(xml);
    ASSERT_TRUE(imported.error) << values;
    EXPECT_EQ(imported.error->kind, RosterError::kNoCvValues);
    EXPECT_EQ(imported.error->line, LineOf(xml, "<locomotive "));
    EXPECT_EQ(imported.problems.size(), values.empty() ? 0u : 1u);
  }
}

// --- files that are refused ---------------------------------------------------------

struct Refusal {
  const char* name;
  std::string xml;
  RosterError::Kind kind;
  int line;
  int column;
};

void ExpectRefused(const Refusal& c) {
  const RosterImport imported = ImportRoster(c.xml);
  ASSERT_TRUE(imported.error) << c.name;
  EXPECT_EQ(imported.error->kind, c.kind) << c.name << ": " << imported.error->detail;
  EXPECT_EQ(imported.error->line, c.line) << c.name;
  EXPECT_EQ(imported.error->column, c.column) << c.name;
  EXPECT_EQ(imported.sheet, "") << c.name;
  EXPECT_THAT(imported.problems, ::testing::IsEmpty()) << c.name;
}

TEST(ImportRosterRefuses, MalformedXmlWithTheParsersLineAndColumn) {
  std::string cut = SampleRoster();
  cut.resize(cut.find("<CVvalue name=\"70\""));
  const Refusal cases[] = {
      {"tags crossed", "<?xml version=\"1.0\"?>\n<locomotive-config>\n  <locomotive></values>\n", RosterError::kMalformed,
       3, 23},
      {"cut off in the values", cut, RosterError::kMalformed, LineOf(cut, "name=\"69\"") + 1, 6},
      {"no XML at all", "29 34 Konfiguration\r\n", RosterError::kMalformed, 1, 1},
      {"empty", "", RosterError::kMalformed, 1, 1},
      {"an undeclared entity", "<locomotive-config><locomotive id=\"&lok;\"/></locomotive-config>",
       RosterError::kMalformed, 1, 40},  // the ';' of the reference
  };
  for (const Refusal& c : cases) ExpectRefused(c);
  EXPECT_THAT(ImportRoster(cases[0].xml).error->detail, HasSubstr("mismatch"));
}

TEST(ImportRosterRefuses, EntityDeclarationsBeforeAnyIsExpanded) {
  // Ten levels of ten: a billion "lol"s, three gigabytes, from a few hundred bytes.
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE locomotive-config [\n  <!ENTITY lol0 \"lol\">\n";
  for (int level = 1; level <= 10; ++level) {
    laughs += "  <!ENTITY lol" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) laughs += "&lol" + std::to_string(level - 1) + ";";
    laughs += "\">\n";
  }
  laughs += "]>\n<locomotive-config><locomotive id=\"&lol10;\"/></locomotive-config>\n";
  const Refusal cases[] = {
      {"billion laughs", laughs, RosterError::kEntityDeclaration, 14, 2},  // the end of the declaration
      {"a file of the machine",
       "<!DOCTYPE locomotive-config [\n<!ENTITY passwd SYSTEM \"file:///etc/passwd\">\n]>\n"
       "<locomotive-config><locomotive id=\"&passwd;\"/></locomotive-config>",
       RosterError::kEntityDeclaration, 3, 2},
      {"one harmless entity",
       "<!DOCTYPE locomotive-config [<!ENTITY br \"BR\">]><locomotive-config><locomotive id=\"&br; 89\"/>"
       "</locomotive-config>",
       RosterError::kEntityDeclaration, 1, 48},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const Refusal& c : cases) ExpectRefused(c);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// The column (from 1) of the first `text` in `xml`, which is ASCII up to there.
int ColumnOf(std::string_view xml, std::string_view text) {
  const std::size_t at = xml.find(text);
  return static_cast<int>(at - xml.rfind('\n', at));
}

TEST(ImportRosterRefuses, WhatIsNoTextOrWouldCostTheReaderMoreThanTheFilesLength) {
  const auto attributes = [](const char* name, int count) {
    std::string list = R"(id="Lok")";
    for (int i = 1; i < count; ++i) list.append(" ").append(name).append(std::to_string(i)).append("=\"urn:x\"");
    return list;
  };
  const std::string latin1_byte = Roster("id=\"K\xF6" "f\"", kOneCv);
  const std::string nul_inside = Roster(std::string("id=\"a\0b\"", 8), kOneCv);
  const std::string nul_after = Roster(R"(id="Lok")", kOneCv) + '\0';
  const std::string crowded = Roster(attributes("a", kMaxAttributes + 1), kOneCv);
  const std::string namespaces = Roster(attributes("xmlns:n", kMaxNamespaceDeclarations + 1), kOneCv);
  const std::string attribute_list =
      "<!DOCTYPE locomotive-config [\n<!ATTLIST locomotive id CDATA #IMPLIED>\n]>\n" + Roster(R"(id="Lok")", kOneCv);
  const auto last_line = [](const std::string& xml) { return LineOf(xml, "</locomotive-config>") + 1; };
  const Refusal cases[] = {
      {"a Latin-1 byte in UTF-8", latin1_byte, RosterError::kBadEncoding, LineOf(latin1_byte, "<locomotive "),
       ColumnOf(latin1_byte, "\xF6")},
      {"a NUL in an attribute", nul_inside, RosterError::kNulCharacter, 3, ColumnOf(nul_inside, std::string(1, '\0'))},
      {"a NUL after the document", nul_after, RosterError::kNulCharacter, last_line(nul_after), 1},
      {"one attribute too many", crowded, RosterError::kTooManyAttributes, 3,
       ColumnOf(crowded, std::string(" a").append(std::to_string(kMaxAttributes))) + 1},
      // The root element declares one already.
      {"one namespace too many", namespaces, RosterError::kTooManyNamespaces, 3,
       ColumnOf(namespaces, std::string(" xmlns:n").append(std::to_string(kMaxNamespaceDeclarations))) + 1},
      {"attribute lists", attribute_list, RosterError::kAttributeListDeclaration, 2, 1},
  };
  for (const Refusal& c : cases) ExpectRefused(c);
  EXPECT_EQ(ImportRoster(latin1_byte).error->detail, "UTF-8");
  // Up to the limits a file is read.
  EXPECT_FALSE(ImportRoster(Roster(attributes("a", kMaxAttributes), kOneCv)).error);
  EXPECT_FALSE(ImportRoster(Roster(attributes("xmlns:n", kMaxNamespaceDeclarations), kOneCv)).error);

  // A fault the reader finds before one of these is the one reported.
  const std::string crossed = "<?xml version=\"1.0\"?>\n<locomotive-config>\n  <locomotive></values>\n";
  const RosterError first = *ImportRoster(crossed).error;
  ExpectRefused({"crossed tags, then a NUL", crossed + "\n\n" + '\0', first.kind, first.line, first.column});
}

TEST(ImportRosterRefuses, DocumentsThatAreNoRosterFile) {
  const Refusal cases[] = {
      {"JMRI's roster index", "<?xml version=\"1.0\"?>\n<roster-config>\n<roster><locomotive id=\"x\"/></roster>\n",
       RosterError::kNotARoster, 2, 15},  // the end of the root element's tag
      {"a web page", "<html><body>Lok</body></html>", RosterError::kNotARoster, 1, 6},
      {"in a namespace", "<r:locomotive-config xmlns:r=\"urn:x\"><locomotive/></r:locomotive-config>",
       RosterError::kNotARoster, 1, 37},
      {"no locomotive", "<?xml version=\"1.0\"?>\n<locomotive-config>\n  <decoder/>\n</locomotive-config>\n",
       RosterError::kNoLocomotive, 2, 19},
  };
  for (const Refusal& c : cases) ExpectRefused(c);
  EXPECT_EQ(ImportRoster(cases[0].xml).error->detail, "roster-config");
}

TEST(ImportRosterRefuses, MoreThan16MiBWithoutReadingThem) {
  std::string xml = SampleRoster();
  xml.resize(kMaxRosterSize, ' ');  // blanks after the root element are allowed
  EXPECT_FALSE(ImportRoster(xml).error) << "exactly the largest size is read";
  xml += ' ';
  ExpectRefused({"one byte more", xml, RosterError::kTooLarge, 0, 0});
}

}  // namespace
}  // namespace qarn2::roster
