#include "ui/qt_translations.h"

#include <QApplication>
#include <QDate>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace qarn2::ui {
namespace {

// What the user reads on Qt's own dialogs: a label of the file dialog and the cancel
// button of every dialog's button row.
QString LookIn() { return QCoreApplication::translate("QFileDialog", "Look in:"); }
QString CancelButton() {
  QDialogButtonBox buttons(QDialogButtonBox::Cancel);
  return buttons.button(QDialogButtonBox::Cancel)->text();
}

class QtTranslationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(empty_.isValid());
    locale_before_ = QLocale();
    const QString german = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_de.qm";
    ASSERT_TRUE(QFile::exists(german)) << "Qt's catalogues are missing: qt6-translations-l10n";
  }
  // Qt's English again for the tests that follow (a folder without catalogues), and
  // the default locale as it was.
  void TearDown() override {
    InstallQtTranslations(*qApp, QLocale::c(), empty_.path());
    QLocale::setDefault(locale_before_);
  }

  QTemporaryDir empty_;
  QLocale locale_before_;
};

TEST_F(QtTranslationsTest, GermanWhereTheSystemSpeaksEnglishOrNothing) {
  for (const char* name : {"C", "en_US", "en_GB", "de_DE", "de_AT"}) {
    SCOPED_TRACE(name);
    const QString file = InstallQtTranslations(*qApp, QLocale(name));
    EXPECT_EQ(QFileInfo(file).fileName(), "qtbase_de.qm");
    EXPECT_EQ(LookIn(), "Suchen in:");
    EXPECT_EQ(CancelButton(), "Abbrechen");
    // Dates and sizes in the file dialog go with its words.
    EXPECT_EQ(QLocale().language(), QLocale::German);
    EXPECT_EQ(QLocale().toString(QDate(2024, 12, 7), "d. MMM"), "7. Dez.");
  }
  // A language Qt has no texts for.
  EXPECT_EQ(QFileInfo(InstallQtTranslations(*qApp, QLocale("sv_SE"))).fileName(), "qtbase_de.qm");
  EXPECT_EQ(CancelButton(), "Abbrechen");
}

TEST_F(QtTranslationsTest, TheSystemsLanguageWhereQtHasIt) {
  const QString french = InstallQtTranslations(*qApp, QLocale("fr_FR"));
  EXPECT_EQ(QFileInfo(french).fileName(), "qtbase_fr.qm");
  EXPECT_EQ(CancelButton(), "Annuler");
  EXPECT_EQ(QLocale().language(), QLocale::French);
  // Another call replaces the catalogue, it does not stack a second one on it.
  InstallQtTranslations(*qApp, QLocale("en_US"));
  EXPECT_EQ(CancelButton(), "Abbrechen");
  InstallQtTranslations(*qApp, QLocale("fr_FR"));
  EXPECT_EQ(CancelButton(), "Annuler");
}

TEST_F(QtTranslationsTest, WithoutCataloguesQtsEnglishStays) {
  InstallQtTranslations(*qApp, QLocale("de_DE"));
  ASSERT_EQ(CancelButton(), "Abbrechen");
  EXPECT_EQ(InstallQtTranslations(*qApp, QLocale("de_DE"), empty_.path()), "");
  EXPECT_EQ(CancelButton(), "Cancel");
  EXPECT_EQ(LookIn(), "Look in:");
}

}  // namespace
}  // namespace qarn2::ui
