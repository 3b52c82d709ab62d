// print end to end: a decoder file through the tool's entry point into a PDF, read
// back with poppler's pdftotext, which tells each word's box on its page in points.

#include "cli/print_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/tests/run_cli.h"
#include "testsupport/test_files.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr double kPointsPerUnit = 72.0 / 254.0;  // a unit is 0.1 mm
constexpr double kLeft = 200 * kPointsPerUnit;
constexpr double kPitch = 43 * kPointsPerUnit;
constexpr double kCell = 40 * kPointsPerUnit;
// Where a word's box begins depends on how the PDF reader reads the font's ascent.
constexpr double kTolerance = 1.5;

using testing::Result;
using testing::RunCli;

using testsupport::Put;

struct TempFolder : testsupport::TempFolder {
  TempFolder() : testsupport::TempFolder("qarn2_print") {}
};

bool HavePdfToText() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (!dir.empty() && access((dir + "/pdftotext").c_str(), X_OK) == 0) return true;
  }
  return false;
}

struct Word {
  double x, y, bottom;
  std::string text;
};
using Page = std::vector<Word>;

// The words of each page of `pdf`, as `pdftotext -bbox` finds them.
std::vector<Page> PdfWords(const std::string& pdf) {
  const std::string command = "pdftotext -bbox '" + pdf + "' - 2>/dev/null";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string html;
  char buffer[4096];
  for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
    html.append(buffer, n);
  }
  std::vector<Page> pages;
  // <page ...> begins a page; <word xMin="..." yMin="..." xMax="..." yMax="...">TEXT</word>
  const auto attribute = [&](std::size_t at, const char* name) {
    const std::size_t value = html.find(std::string(name) + "=\"", at) + std::strlen(name) + 2;
    return std::stod(html.substr(value, html.find('"', value) - value));
  };
  for (std::size_t at = 0; (at = html.find('<', at)) != std::string::npos; ++at) {
    if (html.compare(at, 6, "<page ") == 0) {
      pages.emplace_back();
    } else if (html.compare(at, 6, "<word ") == 0 && !pages.empty()) {
      const std::size_t text = html.find('>', at) + 1;
      pages.back().push_back({attribute(at, "xMin"), attribute(at, "yMin"), attribute(at, "yMax"),
                              html.substr(text, html.find('<', text) - text)});
    }
  }
  return pages;
}

const Word* Find(const Page& page, const std::string& text) {
  for (const Word& word : page) {
    if (word.text == text) return &word;
  }
  return nullptr;
}

std::string NumberedLines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "Zeile" + std::to_string(i) + "\r\n";
  return text;
}

TEST(PrintCommandTest, FiftyNineLinesFillAPageTheSixtiethBeginsTheNext) {
  if (!HavePdfToText()) GTEST_SKIP() << "pdftotext (Debian package poppler-utils) is not installed";
  const TempFolder folder;
  const std::string sheet = folder.File("lines.DEC");
  const std::string pdf = folder.File("lines.pdf");

  Put(sheet, NumberedLines(59));
  ASSERT_EQ(RunCli({"print", sheet, "--pdf", pdf}).status, kExitOk);
  std::vector<Page> pages = PdfWords(pdf);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].size(), 60u);  // the name and 59 lines
  ASSERT_NE(Find(pages[0], "Zeile59"), nullptr);
  EXPECT_NEAR(Find(pages[0], "Zeile59")->y, 59 * kPitch, kTolerance);

  Put(sheet, NumberedLines(60));
  const Result r = RunCli({"print", sheet, "--pdf", pdf});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  pages = PdfWords(pdf);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].size(), 60u);
  ASSERT_EQ(pages[1].size(), 1u);  // no name on the second page
  EXPECT_EQ(pages[1][0].text, "Zeile60");
  EXPECT_NEAR(pages[1][0].x, kLeft, kTolerance);
  EXPECT_NEAR(pages[1][0].y, kPitch, kTolerance);
}

TEST(PrintCommandTest, TheNameAndTheLinesStandWhereTheWindowPrintsThem) {
  if (!HavePdfToText()) GTEST_SKIP() << "pdftotext (Debian package poppler-utils) is not installed";
  const TempFolder folder;
  const std::string sheet = folder.File("lok1.DEC");
  const std::string pdf = folder.File("lok1.pdf");
  Put(sheet, "*dir\nLok\n1     3 Adresse\n29   22 Konfiguration\n4 5 Bremsverz\xF6gerung\n");
  // Given relative to the working folder, printed with its full path.
  const std::string relative = fs::relative(sheet, fs::current_path()).string();
  ASSERT_NE(relative.front(), '/');
  const Result r = RunCli({"print", "--pdf", pdf, relative});
  ASSERT_EQ(r.status, kExitOk) << r.err;
  const std::vector<Page> pages = PdfWords(pdf);
  ASSERT_EQ(pages.size(), 1u);

  const struct {
    const char* text;
    int line;
  } expected[] = {{"*dir", 1}, {"Lok", 2}, {"1", 3}, {"29", 4}, {"4", 5}};
  const Word* name = Find(pages[0], sheet);
  ASSERT_NE(name, nullptr) << sheet;
  EXPECT_NEAR(name->x, kLeft, kTolerance);
  EXPECT_NEAR(name->y, 0, kTolerance);
  for (const auto& e : expected) {
    const Word* word = Find(pages[0], e.text);
    ASSERT_NE(word, nullptr) << e.text;
    EXPECT_NEAR(word->x, kLeft, kTolerance) << e.text;
    EXPECT_NEAR(word->y, e.line * kPitch, kTolerance) << e.text;
    EXPECT_NEAR(word->bottom - word->y, kCell, 0.5) << e.text << ": a 4 mm cell";
  }
  // Windows-1252 in the file, the same letters on paper.
  const Word* umlaut = Find(pages[0], "Bremsverzögerung");
  ASSERT_NE(umlaut, nullptr);
  EXPECT_NEAR(umlaut->y, 5 * kPitch, kTolerance);
  // A fixed-pitch font: the descriptions behind numbers of the same width line up.
  const Word* adresse = Find(pages[0], "Adresse");
  const Word* konfiguration = Find(pages[0], "Konfiguration");
  ASSERT_TRUE(adresse && konfiguration);
  EXPECT_NEAR(adresse->x, konfiguration->x, 0.1);
  EXPECT_GT(adresse->x, kLeft + 10);
}

// Under whatever name the PDF would replace the sheet, it is refused and the sheet kept.
TEST(PrintCommandTest, TheSheetIsNeverPrintedOverItself) {
  const TempFolder folder;
  const std::string sheet = folder.File("lok.DEC");
  const std::string bytes = "1 3 Adresse\r\n";
  Put(sheet, bytes);
  fs::create_directory(folder.File("unter"));
  fs::create_symlink(sheet, folder.File("link.pdf"));
  fs::create_hard_link(sheet, folder.File("hart.pdf"));
  for (const std::string& pdf :
       {sheet, folder.File("unter/../lok.DEC"), folder.File("link.pdf"), folder.File("hart.pdf")}) {
    const Result r = RunCli({"print", sheet, "--pdf", pdf});
    EXPECT_EQ(r.status, kExitUsage) << pdf;
    EXPECT_THAT(r.err, HasSubstr("print: --pdf " + pdf + " is the decoder file " + sheet + " itself"));
    EXPECT_EQ(testsupport::Get(sheet), bytes) << pdf;
  }
}

TEST(PrintCommandTest, WhatCannotBeReadOrWrittenEndsWithoutAPdf) {
  const TempFolder folder;
  const std::string sheet = folder.File("lok.DEC");
  Put(sheet, "1 3 Adresse\r\n");
  const std::string pdf = folder.File("lok.pdf");
  const std::string missing = folder.File("fehlt.DEC");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"print", missing, "--pdf", pdf}, "print: Datei " + missing + " kann nicht geöffnet werden"},
      {{"print", folder.File(""), "--pdf", pdf}, "kann nicht geöffnet werden"},
      {{"print", sheet, "--pdf", folder.File("fehlt/lok.pdf")},
       "Datei " + folder.File("fehlt/lok.pdf") + " kann nicht erstellt werden"},
      {{"print", sheet}, "needs --pdf OUT.pdf"},
      {{"print", "--pdf", pdf}, "needs one decoder file"},
      {{"print", sheet, sheet, "--pdf", pdf}, "needs one decoder file"},
      {{"print", sheet, "--pdf"}, "--pdf needs a file name"},
      {{"print", sheet, "--pdf", pdf, "--printer"}, "unknown option '--printer'"},
  };
  for (const auto& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, kExitUsage) << c.message;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(pdf)) << c.message;
  }

  const Result help = RunCli({"--help"});
  EXPECT_THAT(help.out, HasSubstr("qarn2-cli print FILE --pdf OUT.pdf"));
  const Result one = RunCli({"print", "--help"});
  EXPECT_EQ(one.status, kExitOk);
  EXPECT_THAT(one.out, HasSubstr("no pane"));
}

}  // namespace
}  // namespace qarn2::cli
