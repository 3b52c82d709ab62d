// "CV auslesen" / "Vergleichen" as the user runs it from the window, against the
// simulated decoder.

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <string>

#include "ui/compare_result.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

class CompareWindowTest : public Form1Fixture {
 protected:
  void SetUp() override { Start(); }

  QPlainTextEdit* Sheet() const { return Find<QPlainTextEdit>("Decoder"); }
  QString Caption() const { return Find<QGroupBox>("GroupCVRW")->title(); }
  void SetDecoderCv(int number, int value) {
    auto lock = Track().Lock();
    Track().Decoder().SetCv(number, static_cast<std::uint8_t>(value));
  }
  CompareResult* Differences() const { return form_->findChild<CompareResult*>("Vergleich"); }
  bool Written() const {
    for (const sim::TrackLogEntry& e : Track().Log()) {
      if (e.text.starts_with("service: write") && e.text.find("(stored)") != std::string::npos) return true;
    }
    return false;
  }
};

TEST_F(CompareWindowTest, AChangedCvIsListedAndNeitherSheetNorDecoderChanges) {
  const QString sheet = QString::fromUtf8("*dio\nLok\n1 %1 Adresse\n3 %2 Beschleunigung\n29 %3 Konfiguration\n7 Version")
                            .arg(DecoderCv(1))
                            .arg(DecoderCv(3))
                            .arg(DecoderCv(29));
  Sheet()->setPlainText(sheet);
  // Offered with "Alle CVs", as the window offers that for a loaded sheet.
  EXPECT_FALSE(Find<QAction>("vergleicheCVs")->isEnabled());
  Find<QAction>("leseAlleCVs")->setEnabled(true);
  Track().ClearLog();
  Choose("vergleicheCVs");
  EXPECT_EQ(Caption(), "Decoder vergleichen");
  EXPECT_EQ(Result(), "0 Unterschiede zum Blatt");
  EXPECT_TRUE(Differences() == nullptr || Differences()->isHidden());

  const int old_value = DecoderCv(3);
  SetDecoderCv(3, old_value + 5);
  Choose("vergleicheCVs");
  EXPECT_EQ(Result(), "1 Unterschied zum Blatt");
  ASSERT_NE(Differences(), nullptr);
  EXPECT_TRUE(Differences()->isVisible());
  EXPECT_EQ(Differences()->Text(), QString("1 Unterschied zum Blatt\n\nCV 3: Blatt %1, Decoder %2")
                                       .arg(old_value)
                                       .arg(old_value + 5));
  EXPECT_EQ(Sheet()->toPlainText(), sheet);
  EXPECT_EQ(DecoderCv(3), old_value + 5);
  EXPECT_FALSE(Written());
  EXPECT_TRUE(messages_.empty());

  // Put back, the next comparison takes the list away again.
  SetDecoderCv(3, old_value);
  Choose("vergleicheCVs");
  EXPECT_TRUE(Differences()->isHidden());
}

TEST_F(CompareWindowTest, EndeStopsTheComparisonAtTheCvInProgress) {
  Sheet()->setPlainText(QString("1 %1 A\n29 %2 B\n8 99 C").arg(DecoderCv(1)).arg(DecoderCv(29) + 1));
  Find<QAction>("leseAlleCVs")->setEnabled(true);
  bool done = false;
  on_tick_ = [&] {
    if (!done && Find<QLabel>("CVLabel1")->text().startsWith("lese CV 29")) {
      done = true;
      Click(Find("CVRWEnde"));
    }
  };
  Track().ClearLog();
  Choose("vergleicheCVs");
  on_tick_ = nullptr;
  ASSERT_TRUE(done);
  // CV 29 was not confirmed; its read stopped, and CV 8 was never asked.
  EXPECT_EQ(Result(), "abgebrochen: 0 Unterschiede zum Blatt");
  EXPECT_FALSE(Shown("GroupCVRW"));
  EXPECT_TRUE(Differences() == nullptr || Differences()->isHidden());
  for (const sim::TrackLogEntry& e : Track().Log()) EXPECT_EQ(e.text.find("CV 8"), std::string::npos) << e.text;
}

}  // namespace
}  // namespace qarn2::ui
