#pragma once

#include <QString>

class QCoreApplication;
class QDialog;
class QDialogButtonBox;
class QLocale;

namespace qarn2::ui {

// Qt's own texts (the file, print and page dialogs, the buttons of message boxes) in
// the language of `locale`, where Qt has a catalogue for it, and in German otherwise:
// the program's own texts are German. English counts as having none, since it is the
// language Qt's texts are written in (its catalogue holds nothing but plural forms);
// an English or "C" system gets German dialogs in the German program.
//
// Takes the catalogues from `folder` (Qt's translations folder when empty) and
// installs one on `application`, replacing what an earlier call installed. Dates and
// numbers in Qt's dialogs follow the language they speak: the default locale becomes
// German when German stands in, `locale` otherwise. Returns the catalogue's file, or an
// empty text when `folder` has none for the locale nor for German (Qt's English texts
// then stay).
QString InstallQtTranslations(QCoreApplication& application, const QLocale& locale,
                              const QString& folder = QString());

// "OK" and "Abbrechen" for `dialog`, German whatever catalogue Qt found, tied to its
// accept and reject.
QDialogButtonBox* GermanOkCancel(QDialog& dialog);

}  // namespace qarn2::ui
