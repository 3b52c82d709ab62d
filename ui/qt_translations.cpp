#include "ui/qt_translations.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLibraryInfo>
#include <QLocale>
#include <QPushButton>
#include <QTranslator>

#include <memory>

namespace qarn2::ui {
namespace {

// Marks the translators this file installs, so that a later call finds them.
constexpr char kTranslatorName[] = "qarn2-qt-translator";
// The catalogue of Qt's base modules: Core, Gui, Widgets and PrintSupport, which hold
// every text of Qt this program shows.
constexpr char kCatalogue[] = "qtbase";

bool Untranslated(const QLocale& language) {
  return language.language() == QLocale::English || language.language() == QLocale::C;
}

}  // namespace

QString InstallQtTranslations(QCoreApplication& application, const QLocale& locale, const QString& folder) {
  for (QTranslator* old : application.findChildren<QTranslator*>(kTranslatorName, Qt::FindDirectChildrenOnly)) {
    QCoreApplication::removeTranslator(old);
    delete old;
  }
  const QString from = folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder;
  auto translator = std::make_unique<QTranslator>();
  // The user's languages in the order of preference (LANGUAGE may name several), the
  // first that Qt has texts for; German after them all.
  bool loaded = false;
  for (const QString& name : locale.uiLanguages()) {
    const QLocale language(name);
    if (Untranslated(language)) continue;
    loaded = translator->load(language, kCatalogue, "_", from);
    if (loaded) break;
  }
  const QLocale german(QLocale::German, QLocale::Germany);
  const bool stand_in = !loaded && translator->load(german, kCatalogue, "_", from);
  QLocale::setDefault(stand_in ? german : locale);
  if (!loaded && !stand_in) return {};
  translator->setObjectName(kTranslatorName);
  translator->setParent(&application);
  QCoreApplication::installTranslator(translator.get());
  return translator.release()->filePath();
}

QDialogButtonBox* GermanOkCancel(QDialog& dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Abbrechen"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  return buttons;
}

}  // namespace qarn2::ui
