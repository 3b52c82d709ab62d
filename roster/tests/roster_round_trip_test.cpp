// Through a roster file and back: sheet -> roster -> sheet keeps every CV value, and
// roster -> sheet -> roster keeps every plain CVvalue.

#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "programming/sheet_lines.h"
#include "roster/roster_export.h"
#include "roster/roster_import.h"
#include "roster/tests/sample_roster.h"
#include "sheet/decoder_file.h"

namespace qarn2::roster {
namespace {

// CV number -> value of every sheet line that has both.
std::map<int, int> SheetValues(const std::string& text) {
  const programming::TextSheet sheet(text);
  std::map<int, int> values;
  for (int i = 0; i < sheet.LineCount(); ++i) {
    const int cv = programming::ParseCvNumber(sheet.Line(i));
    const int value = programming::ParseCvValue(sheet.Line(i));
    if (cv > 0 && value >= 0) values.emplace(cv, value);
  }
  return values;
}

// name -> value of every CVvalue whose name is a CV number 1..1024 and whose value is
// a byte; the first of two with the same name.
std::map<int, int> PlainCvValues(const std::string& xml) {
  QXmlStreamReader r(QByteArray::fromStdString(xml));
  std::map<int, int> values;
  while (!r.atEnd()) {
    if (r.readNext() != QXmlStreamReader::StartElement || r.name() != u"CVvalue") continue;
    bool cv_ok = false, value_ok = false;
    const int cv = r.attributes().value("name").toInt(&cv_ok);
    const int value = r.attributes().value("value").toInt(&value_ok);
    if (cv_ok && value_ok && cv >= 1 && cv <= 1024 && value >= 0 && value <= 255) values.emplace(cv, value);
  }
  return values;
}

TEST(RosterRoundTrip, EverySampleSheetKeepsEveryCvValue) {
  for (const char* file : {"lokdecoder.LOC", "funktionsdecoder.DEC", "zubehoerdecoder.DEC"}) {
    const std::string sheet = sheet::ReadDecoderFile(std::string(QARN2_EXAMPLES_DIR) + "/" + file);
    const RosterExport exported = ExportRoster(sheet, file);
    ASSERT_FALSE(exported.error) << file;
    const RosterImport imported = ImportRoster(exported.xml);
    ASSERT_FALSE(imported.error) << file << ": " << imported.error->detail;
    EXPECT_EQ(SheetValues(imported.sheet), SheetValues(sheet)) << file;
    EXPECT_FALSE(SheetValues(sheet).empty()) << file;
    EXPECT_TRUE(imported.problems.empty()) << file;
  }
}

TEST(RosterRoundTrip, EveryCvAndEveryValueComeBack) {
  // All 1024 CVs, each value 0..255 four times, in the widths of all four digit counts.
  std::string sheet = "*dir\r\nAlle CVs\r\n";
  std::map<int, int> values;
  for (int cv = 1; cv <= 1024; ++cv) {
    values[cv] = (cv * 37) % 256;
    sheet += programming::ReadAllLine(cv, values[cv], "CV " + std::to_string(cv)) + "\r\n";
  }
  const RosterExport exported = ExportRoster(sheet, "Alle");
  ASSERT_FALSE(exported.error);
  EXPECT_EQ(PlainCvValues(exported.xml), values);
  const RosterImport imported = ImportRoster(exported.xml);
  ASSERT_FALSE(imported.error);
  EXPECT_EQ(SheetValues(imported.sheet), values);
  EXPECT_EQ(imported.cv_lines, 1024);
}

TEST(RosterRoundTrip, ARosterKeepsEveryPlainCvValue) {
  const std::string roster = testing::SampleRoster();
  const RosterImport imported = ImportRoster(roster);
  ASSERT_FALSE(imported.error);
  const RosterExport exported = ExportRoster(imported.sheet, "Köf II Gleisbau");
  ASSERT_FALSE(exported.error);
  const std::map<int, int> plain = PlainCvValues(roster);
  EXPECT_EQ(plain.size(), 5u + 28u);  // CV 1, 2, 3, 8, 29 and the speed table
  EXPECT_EQ(PlainCvValues(exported.xml), plain);
  EXPECT_EQ(exported.left_out, 0);
  // And back into the sheet it came from, its title aside (the export writes no road).
  const auto cv_lines = [](const std::string& sheet) { return sheet.substr(sheet.find("\r\n1 ")); };
  EXPECT_EQ(cv_lines(ImportRoster(exported.xml).sheet), cv_lines(imported.sheet));
}

}  // namespace
}  // namespace qarn2::roster
