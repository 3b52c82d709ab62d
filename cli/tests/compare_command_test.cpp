// compare end to end: through the tool's entry point against the simulated track on
// virtual time, the decoder kept in a file between runs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/decoder_commands.h"
#include "cli/tests/run_cli.h"
#include "testsupport/test_files.h"

namespace qarn2::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using testing::Result;
using testing::RunCli;

// A sheet and a simulated decoder of the test's own, removed at the end.
class CompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    sheet_ = fs::temp_directory_path() / ("qarn2_compare_" + name + ".DEC");
    decoder_ = fs::temp_directory_path() / ("qarn2_compare_" + name + ".SIM");
    fs::remove(decoder_);
  }
  void TearDown() override {
    fs::remove(sheet_);
    fs::remove(decoder_);
  }
  void PutSheet(const std::string& text) const { testsupport::Put(sheet_, text); }
  // `command ARGS` on the kept decoder, with `traits`.
  Result Run(const std::string& command, std::vector<std::string> args, const std::vector<std::string>& traits = {}) {
    std::vector<std::string> all = {command, "--virtual-time", "--sim-decoder", decoder_.string()};
    for (const std::string& trait : traits) all.insert(all.end(), {"--sim-trait", trait});
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all);
  }
  Result Compare(std::vector<std::string> args, const std::vector<std::string>& traits = {}) {
    args.push_back(sheet_.string());
    return Run("compare", args, traits);
  }

  fs::path sheet_;
  fs::path decoder_;
};

// CVs every mode reaches (CV 29 is register 5), with values the simulated decoder's
// defaults do not hold, so that write-all changes each.
const char kSheet[] =
    "Testlok\r\n"
    "1 42 Adresse\r\n"
    "2 17 Anfahrspannung\r\n"
    "3 128 Beschleunigung\r\n"
    "29 34 Konfiguration\r\n";

TEST_F(CompareTest, AnUnchangedSheetAgreesAndEveryChangedCvIsFound) {
  const struct {
    std::vector<std::string> options;
    std::vector<std::string> traits;
  } cases[] = {
      {{"--mode", "dir"}, {}},
      {{"--mode", "dio"}, {}},
      {{"--mode", "reg"}, {}},
      {{"--mode", "pag"}, {}},
      {{"--mode", "roc"}, {}},
      // The decoder traits on every command: the conformance matrix, compare included.
      {{"--mode", "dir", "--hardware", "lgb"}, {}},
      {{"--hardware", "dccex"}, {}},  // the station's own verify
  };
  PutSheet(kSheet);
  for (const auto& c : cases) {
    const std::string label = ::testing::PrintToString(c.options) + ::testing::PrintToString(c.traits);
    fs::remove(decoder_);
    std::vector<std::string> write_args = c.options;
    write_args.push_back(sheet_.string());
    ASSERT_EQ(Run("write-all", write_args, c.traits).status, kExitOk) << label;

    const Result same = Compare(c.options, c.traits);
    EXPECT_EQ(same.status, kExitOk) << label << same.err;
    EXPECT_EQ(same.out, "4 CVs compared: all the same\n") << label;
    // Each settled by its verify (the LGB interface's read), none read after it.
    std::vector<std::string> json_options = c.options;
    json_options.push_back("--json");
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(Compare(json_options, c.traits).out)).object();
    ASSERT_EQ(json["cvs"].toArray().size(), 4) << label;
    for (const QJsonValue cv : json["cvs"].toArray()) {
      EXPECT_EQ(cv.toObject()["result"].toString(), "same") << label;
      EXPECT_EQ(cv.toObject()["reads"].toInt(), 0) << label;
    }

    // Each CV in turn a value off by one bit, low or high: found, and only it.
    const struct {
      int cv;
      int sheet;
      int changed;
    } changes[] = {{1, 42, 43}, {3, 128, 0}, {29, 34, 162}};
    for (const auto& change : changes) {
      // Changed in direct mode: reg and roc would take register numbers.
      std::vector<std::string> args = {std::to_string(change.cv), std::to_string(change.changed)};
      ASSERT_EQ(Run("write", args, c.traits).status, kExitOk) << label;
      const Result differs = Compare(c.options, c.traits);
      EXPECT_EQ(differs.status, kExitNotConfirmed) << label;
      EXPECT_EQ(differs.out, "CV " + std::to_string(change.cv) + ": Blatt " + std::to_string(change.sheet) +
                                 ", Decoder " + std::to_string(change.changed) +
                                 "\n4 CVs compared: 1 differ, 0 not readable\n")
          << label;
      args.back() = std::to_string(change.sheet);
      ASSERT_EQ(Run("write", args, c.traits).status, kExitOk) << label;
    }
  }
}

TEST_F(CompareTest, ADecoderThatConfirmsAnythingIsNeverTakenAsUnchanged) {
  // Its verify alone would confirm every line, the changed one too.
  PutSheet(kSheet);
  ASSERT_EQ(Run("write-all", {sheet_.string()}).status, kExitOk);
  ASSERT_EQ(Run("write", {"3", "5"}).status, kExitOk);
  for (const char* mode : {"dir", "pag", "reg"}) {
    const Result r = Compare({"--mode", mode, "--json"}, {"ack-anything"});
    EXPECT_EQ(r.status, kExitNotConfirmed) << mode;
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    EXPECT_THAT(json["error"].toString().toStdString(), HasSubstr("confirms anything")) << mode;
    // Nothing is compared after the value the decoder cannot hold.
    EXPECT_TRUE(json["cvs"].toArray().isEmpty()) << mode << r.out;
  }
}

TEST_F(CompareTest, NothingIsWrittenAndTheJsonNamesBothValues) {
  PutSheet(std::string(kSheet) + "7 99 Version\r\n1030 1\r\n");
  const std::string sheet_before = testsupport::Get(sheet_);
  ASSERT_EQ(Run("write-all", {"--mode", "reg", sheet_.string()}).status, kExitNotConfirmed);  // 7 and 1030 refused
  const std::string decoder_before = testsupport::Get(decoder_);
  const Result r = Compare({"--mode", "reg", "--trace", "--json"});
  EXPECT_EQ(r.status, kExitNotConfirmed);
  EXPECT_EQ(testsupport::Get(sheet_), sheet_before);
  EXPECT_EQ(testsupport::Get(decoder_), decoder_before);
  // Only the page register is written, as the mode's reads do.
  std::istringstream trace(r.err);
  for (std::string line; std::getline(trace, line);) {
    if (line.find("service: write") != std::string::npos) {
      EXPECT_THAT(line, HasSubstr("(page register)"));
    }
  }
  const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
  EXPECT_EQ(json["command"].toString(), "compare");
  EXPECT_EQ(json["failures"].toInt(), 2);
  const QJsonArray cvs = json["cvs"].toArray();
  ASSERT_EQ(cvs.size(), 6);
  EXPECT_EQ(cvs[0].toObject()["result"].toString(), "same");
  EXPECT_TRUE(cvs[0].toObject()["decoder"].isNull());
  const QJsonObject version = cvs[4].toObject();
  EXPECT_EQ(version["cv"].toInt(), 7);
  EXPECT_EQ(version["sheet"].toInt(), 99);
  EXPECT_EQ(version["result"].toString(), "differs");
  EXPECT_NE(version["decoder"].toInt(), 99);
  EXPECT_EQ(cvs[5].toObject()["result"].toString(), "not reachable in this mode");
}

// The other refusals are read-all's, by the same reading of the arguments.
TEST_F(CompareTest, ABareBoosterIsRefusedBeforeTheTrack) {
  PutSheet(kSheet);
  const Result r = RunCli({"compare", "--virtual-time", "--hardware", "booster", sheet_.string()});
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_THAT(r.err, HasSubstr("bare booster"));
  EXPECT_THAT(r.err, Not(HasSubstr("track power on")));
}

}  // namespace
}  // namespace qarn2::cli
