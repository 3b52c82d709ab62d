#pragma once

#include <QString>

#include <string>

class QWidget;

namespace qarn2::ui {

// The question before the sheet is saved with characters the decoder file's code page
// lacks, naming them: "Die Zeichen Ł, → gibt es in der Zeichentabelle der Decoderdatei
// nicht; sie werden als ? gespeichert. Trotzdem speichern?" (one: "Das Zeichen Ł ...;
// es wird als ? gespeichert. ..."). At most ten are named and the rest counted; one
// that shows nothing by itself (a control, a combining mark, a blank of its own) is
// named by its code, U+200B.
QString LostCharactersQuestion(const std::u32string& characters);

// Asks it in a message box with "Ja" and "Nein"; "Nein" is preselected and is also
// what Escape answers. True for "Ja".
bool AskToSaveLosingCharacters(QWidget* parent, const std::u32string& characters);

}  // namespace qarn2::ui
