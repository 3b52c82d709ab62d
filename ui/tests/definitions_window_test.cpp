// "Decoder" / "Erkennen" and "Datei" / "Decoderblatt aus Definition..." as the user meets
// them in the window on the simulated track, with a JMRI folder written for the tests
// in the usual place (~/JMRI, HOME pointing at a folder of the test's own).

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "decoderdefs/tests/sample_definitions.h"
#include "testsupport/test_files.h"
#include "ui/definition_dialog.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct NotesDialogs : ScriptedOpen {
  void ShowNotes(QWidget*, const std::string& title, const std::vector<std::string>& lines) override {
    notes_title = title;
    notes = lines;
  }
  std::string notes_title;
  std::vector<std::string> notes;
};

bool JmriInstalled() {
  std::error_code ignored;
  for (const char* dir : {"/opt/JMRI", "/usr/local/JMRI", "/usr/share/jmri"}) {
    if (std::filesystem::exists(dir, ignored)) return true;
  }
  return false;
}

class DefinitionsWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    if (JmriInstalled()) GTEST_SKIP() << "a JMRI folder is installed on this machine; the test needs its own";
    if (const char* old = std::getenv("HOME")) saved_home_ = old;
    setenv("HOME", home_.Path().c_str(), 1);
    dialogs_.reset(script_ = new NotesDialogs);
  }
  void TearDown() override { setenv("HOME", saved_home_.c_str(), 1); }
  void WriteJmri() const { decoderdefs::testing::WriteJmriFolder(home_.Path() / "JMRI"); }
  QString SheetText() const { return Find<QPlainTextEdit>("Decoder")->toPlainText(); }

  testsupport::TempFolder home_{"qarn2_home"};
  std::string saved_home_;
  NotesDialogs* script_ = nullptr;
};

TEST_F(DefinitionsWindowTest, ErkennenNamesTheDecoderOnTheTrack) {
  WriteJmri();
  Start();
  Choose("Erkennen1");
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  EXPECT_EQ(script_->notes_title, "Decoder erkennen");
  EXPECT_THAT(script_->notes, ElementsAre("CV 8 (Hersteller) = 13", "CV 7 (Version) = 21",
                                          "Hersteller: Public-domain and DIY", "Passende Modelle:",
                                          "  Bastel / Bastel L", "  Bastel / Bastel S"));
  // The box is closed again: the next read starts as ever.
  EXPECT_FALSE(engine_->Cv().Busy());
  // A bare booster gives no acknowledge: nothing to read with.
  const auto pick = [this](const char* button) {
    Choose("HardwareWahl");
    Find<QAbstractButton>(button)->click();
  };
  pick("ButtonBooster");
  EXPECT_FALSE(Find<QAction>("Erkennen1")->isEnabled());
  pick("ButtonQARN");
  EXPECT_TRUE(Find<QAction>("Erkennen1")->isEnabled());
}

TEST_F(DefinitionsWindowTest, ErkennenWithoutDefinitionsStillShowsTheNumbers) {
  Start();
  Choose("Erkennen1");
  ASSERT_EQ(script_->notes.size(), 3u);
  EXPECT_EQ(script_->notes[0], "CV 8 (Hersteller) = 13");
  EXPECT_THAT(script_->notes[2], HasSubstr("Keine JMRI-Decoderdefinitionen gefunden"));
  // The sheet's command says so as an error.
  Choose("DefinitionSheet");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_THAT(messages_[0], HasSubstr("Keine JMRI-Decoderdefinitionen gefunden"));
  // A JMRI folder outside the usual places, named as --jmri names it.
  decoderdefs::testing::WriteJmriFolder(home_.Path() / "Downloads" / "jmri-5");
  form_->SetDefinitionsFolder((home_.Path() / "Downloads" / "jmri-5").string());
  Choose("Erkennen1");
  EXPECT_THAT(script_->notes, ::testing::Contains("Hersteller: Public-domain and DIY"));
}

TEST_F(DefinitionsWindowTest, DecoderblattAusDefinitionMakesASheetThatAlleCvsReads) {
  WriteJmri();
  Start();
  QTimer::singleShot(0, [&] {
    auto* dialog = dynamic_cast<DefinitionDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    // Typed down to one model, Enter takes it.
    auto* filter = dialog->findChild<QLineEdit*>("Filter");
    filter->setText("bastel s");
    emit filter->returnPressed();
    if (dialog->isVisible()) dialog->reject();  // not taken: the test fails below, not hangs
  });
  Choose("DefinitionSheet");
  EXPECT_TRUE(messages_.empty()) << messages_.front();
  EXPECT_EQ(SheetText().toStdString(),
            "*dir\nPublic-domain and DIY Bastel S\n1     3 Adresse\n2     5 Anfahrspannung\n7     ? Version\n"
            "8     ? Hersteller\n17    ? Lange Adresse\n18    ? Lange Adresse\n29    2 Fahrtrichtung; Fahrstufen\n"
            "30    ? Fehler\n48    3 Smoke ? 3\n");
  EXPECT_THAT(form_->windowTitle().toStdString(), HasSubstr("Bastel S"));
  EXPECT_EQ(script_->notes_title, "Decoderblatt aus Definition");
  EXPECT_THAT(script_->notes, ::testing::Contains(HasSubstr("\u2265")));
  // An ordinary sheet: "Alle CVs" reads it.
  Choose("leseAlleCVs");
  EXPECT_THAT(SheetText().toStdString(), HasSubstr("7    21 Version"));
}

}  // namespace
}  // namespace qarn2::ui
