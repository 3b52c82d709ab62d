// A decoder sheet written as a JMRI roster file: the structure JMRI's schema
// (locomotive-config.xsd) asks for, the address, and what is left out.

#include "roster/roster_export.h"

#include <QString>
#include <QXmlStreamReader>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace qarn2::roster {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// --- the schema, as far as the export touches it -------------------------------------

// The children of a locomotive in the order the schema's sequence gives them.
const std::vector<QString> kLocomotiveChildren = {"dateUpdated", "decoder",    "locoaddress", "functionlabels",
                                                  "soundlabels", "attributepairs", "speedprofile", "values"};
const std::set<QString> kLocomotiveAttributes = {
    "id",     "dccAddress",     "fileName",  "imageFilePath", "iconFilePath", "URL",     "IsShuntingOn",
    "groupName", "roadName",    "roadNumber", "mfg",          "manufacturerID", "productID", "developerID",
    "owner",  "model",          "comment",   "maxSpeed"};

bool IsInteger(QStringView text, int low, int high) {
  bool ok = false;
  const int number = text.toInt(&ok);
  return ok && number >= low && number <= high;
}

// What in `xml` the schema would not take, plus the processing instructions JMRI
// writes and reads; empty when it is a roster file JMRI reads. Checks the elements
// the export writes in full and the order of the others.
std::vector<std::string> SchemaFaults(const std::string& xml, std::map<int, int>* cvs = nullptr) {
  std::vector<std::string> faults;
  const auto fault = [&](const QXmlStreamReader& r, const std::string& what) {
    faults.push_back("line " + std::to_string(r.lineNumber()) + ": " + what);
  };
  QXmlStreamReader r(QByteArray::fromStdString(xml));
  std::vector<QString> path;
  bool stylesheet = false;
  int locomotive_child = -1;  // index into kLocomotiveChildren of the last child seen
  int values_stage = 0;       // 0 nothing yet, 1 decoderDef, 2 CVvalue, 3 indexedCVvalue
  while (!r.atEnd()) {
    const auto token = r.readNext();
    if (token == QXmlStreamReader::StartDocument && r.documentEncoding() != u"UTF-8") fault(r, "not UTF-8");
    if (token == QXmlStreamReader::ProcessingInstruction && r.processingInstructionTarget() == u"xml-stylesheet") {
      stylesheet = r.processingInstructionData() == u"href=\"/xml/XSLT/locomotive.xsl\" type=\"text/xsl\"";
    }
    if (token == QXmlStreamReader::EndElement) path.pop_back();
    if (token != QXmlStreamReader::StartElement) continue;
    const QString name = r.name().toString();
    const QXmlStreamAttributes a = r.attributes();
    const QString parent = path.empty() ? QString() : path.back();
    path.push_back(name);
    if (parent.isEmpty()) {
      if (name != u"locomotive-config") fault(r, "root " + name.toStdString());
      if (a.value("http://www.w3.org/2001/XMLSchema-instance", "noNamespaceSchemaLocation") !=
          u"http://jmri.org/xml/schema/locomotive-config.xsd") {
        fault(r, "no schema location");
      }
    } else if (parent == u"locomotive-config") {
      if (name != u"locomotive") fault(r, "root holds " + name.toStdString());
      if (!a.hasAttribute("id")) fault(r, "locomotive without id");
      for (const QXmlStreamAttribute& attribute : a) {
        if (!kLocomotiveAttributes.contains(attribute.name().toString())) {
          fault(r, "locomotive attribute " + attribute.name().toString().toStdString());
        }
      }
      if (a.hasAttribute("dccAddress") && !IsInteger(a.value("dccAddress"), 1, 10239)) fault(r, "dccAddress");
      locomotive_child = -1;
    } else if (parent == u"locomotive") {
      const auto at = std::find(kLocomotiveChildren.begin(), kLocomotiveChildren.end(), name);
      const int index = static_cast<int>(at - kLocomotiveChildren.begin());
      if (at == kLocomotiveChildren.end() || index < locomotive_child ||
          (index == locomotive_child && name != u"attributepairs")) {
        fault(r, "locomotive child " + name.toStdString() + " out of order");
      }
      if (locomotive_child < 1 && index > 1) fault(r, "no decoder before " + name.toStdString());
      locomotive_child = index;
      if (name == u"decoder" && (!a.hasAttribute("family") || !a.hasAttribute("model"))) {
        fault(r, "decoder without family or model");
      }
    } else if (parent == u"locoaddress") {
      if (name == u"dcclocoaddress" &&
          (!IsInteger(a.value("number"), 1, 10239) ||
           (a.value("longaddress") != u"yes" && a.value("longaddress") != u"no"))) {
        fault(r, "dcclocoaddress");
      }
      if (name == u"protocol") {
        const QString protocol = r.readElementText();
        path.pop_back();
        if (protocol != u"dcc_short" && protocol != u"dcc_long") fault(r, "protocol " + protocol.toStdString());
      }
    } else if (parent == u"values") {
      const int stage = name == u"decoderDef" ? 1 : name == u"CVvalue" ? 2 : name == u"indexedCVvalue" ? 3 : 0;
      if (stage == 0 || stage < values_stage || (stage == 1 && values_stage == 1)) {
        fault(r, "values child " + name.toStdString() + " out of order");
      }
      values_stage = stage;
      if (stage == 2) {
        if (a.size() != 2 || !IsInteger(a.value("name"), 0, 1 << 30) || !IsInteger(a.value("value"), 0, 255)) {
          fault(r, "CVvalue");
        } else if (cvs != nullptr) {
          (*cvs)[a.value("name").toInt()] = a.value("value").toInt();
        }
      }
    }
  }
  if (r.hasError()) fault(r, r.errorString().toStdString());
  if (!stylesheet) faults.push_back("no stylesheet");
  return faults;
}

TEST(ExportRoster, TheFileHasTheStructureJmrisSchemaAsksFor) {
  const std::string sheet =
      "*dir\r\nBR 89 Rangierlok\r\n\r\n1     3 Adresse\r\n29   34 Konfiguration\r\n17  195 \r\n18  244\r\n"
      "7       Versionsnummer\r\n67    6 Stufe 1\r\n";
  const RosterExport exported = ExportRoster(sheet, "BR 89");
  ASSERT_FALSE(exported.error);
  std::map<int, int> cvs;
  EXPECT_THAT(SchemaFaults(exported.xml, &cvs), IsEmpty()) << exported.xml;
  EXPECT_EQ(cvs, (std::map<int, int>{{1, 3}, {17, 195}, {18, 244}, {29, 34}, {67, 6}}));
  EXPECT_EQ(exported.cv_values, 5);
  EXPECT_EQ(exported.left_out, 1);
  // The checker itself finds what JMRI would not take.
  std::string broken = exported.xml;
  broken.replace(broken.find("<decoder"), 0, "<values/>");
  broken.replace(broken.find(" family=\"\""), 10, "");
  EXPECT_THAT(SchemaFaults(broken), ElementsAre(::testing::HasSubstr("no decoder before values"),
                                                ::testing::HasSubstr("decoder out of order"),
                                                ::testing::HasSubstr("decoder without family")));
}

TEST(ExportRoster, TheAddressComesFromCv1OrFromCv17And18AsCv29Says) {
  const struct {
    const char* name;
    std::string cv_lines;
    std::optional<int> address;
    bool long_address;
    std::vector<int> problem_cvs;  // of the reason there is none
  } cases[] = {
      {"short", "1     3 \r\n29    6 \r\n", 3, false, {}},
      {"short without CV 29", "1   127 \r\n", 127, false, {}},
      {"long, as JMRI's own example", "1     3 \r\n17  195 \r\n18  244 \r\n29   34 \r\n", 1012, true, {}},
      {"long, highest", "17  231 \r\n18  255 \r\n29   32 \r\n", 10239, true, {}},
      {"CV 17/18 but bit 5 clear", "1     5 \r\n17  195 \r\n18  244 \r\n29    2 \r\n", 5, false, {}},
      {"long without CV 17", "1     3 \r\n18  244 \r\n29   34 \r\n", std::nullopt, false, {17}},
      {"CV 17 below 192", "17  100 \r\n18  244 \r\n29   34 \r\n", std::nullopt, false, {17}},
      {"CV 18 not read", "17  195 \r\n18    ? \r\n29   34 \r\n", std::nullopt, false, {18}},
      {"long address 0", "17  192 \r\n18    0 \r\n29   34 \r\n", std::nullopt, false, {18}},
      {"CV 29 not read", "1     3 \r\n29    ? \r\n", std::nullopt, false, {29}},
      {"CV 1 = 0", "1     0 \r\n", std::nullopt, false, {1}},
      {"CV 1 = 128", "1   128 \r\n", std::nullopt, false, {1}},
      {"no CV 1", "3     5 \r\n", std::nullopt, false, {1}},
      {"accessory decoder", "1     1 \r\n29  128 \r\n", std::nullopt, false, {29}},
  };
  for (const auto& c : cases) {
    const RosterExport exported = ExportRoster("Lok\r\n" + c.cv_lines, "Lok");
    ASSERT_FALSE(exported.error) << c.name;
    EXPECT_EQ(exported.address, c.address) << c.name;
    EXPECT_EQ(exported.long_address, c.long_address) << c.name;
    std::vector<int> problem_cvs;
    for (const SheetProblem& p : exported.problems) {
      if (p.kind == SheetProblem::kNoAddress || p.kind == SheetProblem::kAccessoryDecoder) problem_cvs.push_back(p.cv);
    }
    EXPECT_EQ(problem_cvs, c.problem_cvs) << c.name;
    EXPECT_THAT(SchemaFaults(exported.xml), IsEmpty()) << c.name;
    const bool has_address = exported.xml.find("dccAddress=") != std::string::npos;
    EXPECT_EQ(has_address, c.address.has_value()) << c.name;
    EXPECT_EQ(exported.xml.find("<locoaddress>") != std::string::npos, has_address) << c.name;
    if (c.address) {
      const std::string number = std::to_string(*c.address);
      EXPECT_NE(exported.xml.find("dccAddress=\"" + number + "\""), std::string::npos) << c.name;
      EXPECT_NE(exported.xml.find("<protocol>" + std::string(c.long_address ? "dcc_long" : "dcc_short")),
                std::string::npos)
          << c.name;
    }
  }
}

TEST(ExportRoster, LinesWithoutAValueAreCountedAndOtherUnfitLinesReported) {
  const std::string sheet =
      "*dir\r\n"
      "3 Achsen\r\n"          // 2: a title beginning with a digit is a CV line without a value
      "1     3 Adresse\r\n"   // 3
      "7       Version\r\n"   // 4: no value
      "8     ? Hersteller\r\n"  // 5: not read
      "5   300 zu gross\r\n"  // 6
      "1025  1 zu hoch\r\n"   // 7
      "1     4 nochmal\r\n"   // 8
      "0     9 keine CV\r\n"  // 9: no command uses CV 0
      "1024 12\n"             // 10, LF alone
      "Bemerkung\r\n";
  const RosterExport exported = ExportRoster(sheet, "Lok");
  ASSERT_FALSE(exported.error);
  EXPECT_EQ(exported.left_out, 3);
  std::map<int, int> cvs;
  EXPECT_THAT(SchemaFaults(exported.xml, &cvs), IsEmpty());
  EXPECT_EQ(cvs, (std::map<int, int>{{1, 3}, {1024, 12}}));
  EXPECT_EQ(exported.cv_values, 2);
  ASSERT_EQ(exported.problems.size(), 3u);
  const SheetProblem& too_large = exported.problems[0];
  EXPECT_EQ(too_large.kind, SheetProblem::kValueTooLarge);
  EXPECT_EQ(too_large.line, 6);
  EXPECT_EQ(too_large.value, 300);
  EXPECT_EQ(exported.problems[1].kind, SheetProblem::kCvOutOfRange);
  EXPECT_EQ(exported.problems[1].line, 7);
  EXPECT_EQ(exported.problems[1].cv, 1025);
  const SheetProblem& twice = exported.problems[2];
  EXPECT_EQ(twice.kind, SheetProblem::kDuplicateCv);
  EXPECT_EQ(twice.line, 8);
  EXPECT_EQ(twice.value, 4);
  EXPECT_EQ(twice.kept_value, 3);
  EXPECT_EQ(exported.address, 3);
}

TEST(ExportRoster, TheIdStandsAsGivenWithLineEndsAsBlanks) {
  for (const std::string& id : {std::string("Köf II"), std::string("B&O \"Royal\" <1>"), std::string("ÄÖÜ € ✓")}) {
    QXmlStreamReader r(QByteArray::fromStdString(ExportRoster("1 3\r\n", id).xml));
    while (r.readNextStartElement() && r.name() != u"locomotive") {
    }
    EXPECT_EQ(r.attributes().value("id").toString().toStdString(), id);
  }
  QXmlStreamReader r(QByteArray::fromStdString(ExportRoster("1 3\r\n", "Zeile\nzwei\tTab").xml));
  while (r.readNextStartElement() && r.name() != u"locomotive") {
  }
  EXPECT_EQ(r.attributes().value("id"), u"Zeile zwei Tab");
}

TEST(ExportRosterRefuses, WhatIsNoDecoderSheet) {
  const struct {
    const char* name;
    std::string text;
    SheetError::Kind kind;
    int line;
    int column;
  } cases[] = {
      {"NUL after CR LF, CR and LF", std::string("Lok\r\n1 3\r29 6\nab\0cd\r\n", 20), SheetError::kNulByte, 4, 3},
      {"NUL first", std::string("\0\0\0\x01", 4), SheetError::kNulByte, 1, 1},
      {"a roster file", "<?xml version=\"1.0\"?>\n<locomotive-config>\n  <locomotive id=\"x\"/>\n</locomotive-config>\n",
       SheetError::kNoCvLine, 0, 0},
      {"only text and CV 0", "*dir\r\nDecoder\r\n0 5\r\n", SheetError::kNoCvLine, 0, 0},
      {"empty", "", SheetError::kNoCvLine, 0, 0},
  };
  for (const auto& c : cases) {
    const RosterExport exported = ExportRoster(c.text, "x");
    ASSERT_TRUE(exported.error) << c.name;
    EXPECT_EQ(exported.error->kind, c.kind) << c.name;
    EXPECT_EQ(exported.error->line, c.line) << c.name;
    EXPECT_EQ(exported.error->column, c.column) << c.name;
    EXPECT_EQ(exported.xml, "") << c.name;
  }
}

}  // namespace
}  // namespace qarn2::roster
