#include "ui/lost_characters_question.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QStringList>

namespace qarn2::ui {
namespace {

// More would only make the box long; the count says the rest.
constexpr std::size_t kNamedAtMost = 10;

QString Named(char32_t c) {
  const QChar::Category category = QChar::category(c);
  const bool shows_itself = QChar::isPrint(c) && !QChar::isSpace(c) && category != QChar::Mark_NonSpacing &&
                            category != QChar::Mark_SpacingCombining && category != QChar::Mark_Enclosing;
  if (shows_itself) return QString::fromUcs4(&c, 1);
  return QStringLiteral("U+%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

QString LostCharactersQuestion(const std::u32string& characters) {
  QStringList named;
  for (std::size_t i = 0; i < characters.size() && i < kNamedAtMost; ++i) named << Named(characters[i]);
  QString list = named.join(QStringLiteral(", "));
  if (characters.size() > kNamedAtMost) list += QStringLiteral(" und %1 weitere").arg(characters.size() - kNamedAtMost);
  const bool one = characters.size() == 1;
  return (one ? QStringLiteral("Das Zeichen ") : QStringLiteral("Die Zeichen ")) + list +
         QStringLiteral(" gibt es in der Zeichentabelle der Decoderdatei nicht; ") +
         (one ? QStringLiteral("es wird") : QStringLiteral("sie werden")) +
         QStringLiteral(" als ? gespeichert. Trotzdem speichern?");
}

bool AskToSaveLosingCharacters(QWidget* parent, const std::u32string& characters) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Decoderdatei speichern"), LostCharactersQuestion(characters),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("&Ja"));
  box.button(QMessageBox::No)->setText(QStringLiteral("&Nein"));
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace qarn2::ui
