#pragma once

// A roster file's bytes as the XML reader gets them: decoded in the encoding the file
// names, and looked over for what no roster file holds and for what would cost the
// reader far more than the file's length (Qt's reader compares each attribute of an
// element with every one before it, looks each element's namespace up among all those
// declared around it, and each element's attributes among all attribute-list
// declarations). The reader is given only the text before the first fault, so that it
// can still report a fault of its own that comes earlier.

#include <QString>
#include <QStringView>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "roster/roster_import.h"

namespace qarn2::roster {

// Why the text stops being readable at `at`, an index into the decoded text.
struct TextFault {
  RosterError::Kind kind = RosterError::kMalformed;
  qsizetype at = 0;
  std::string detail{};
};

struct RosterText {
  QString text;  // when decoding failed, up to where it failed
  std::optional<TextFault> fault;
};

// Decodes `bytes` as an XML reader does: in the encoding the XML declaration names,
// else the one a byte order mark or the way the first '<' is written shows, else
// UTF-8. Faults: kBadEncoding (detail: the encoding's name) where the bytes stop being
// that encoding; kMalformed for an encoding the system does not know.
RosterText DecodeRoster(std::string_view bytes);

// The first place of `text` the reader is not to see: a NUL (kNulCharacter), the
// attribute of an element past kMaxAttributes (kTooManyAttributes), the namespace
// declaration past kMaxNamespaceDeclarations (kTooManyNamespaces), an attribute-list
// declaration (kAttributeListDeclaration). Markup that is not well-formed ends the
// look there: the reader refuses the text at that place itself.
std::optional<TextFault> FindMarkupFault(QStringView text);

// The line and column (both from 1) of the character at `at`, with lines ended as the
// reader ends them (CR LF, CR, LF) and columns counted as it counts them.
std::pair<int, int> LineAndColumn(QStringView text, qsizetype at);

// A number as JMRI writes CVs, values and versions: decimal digits only, no sign, no
// blanks. nullopt when it is anything else or too long for an int.
std::optional<int> PlainNumber(QStringView text);

}  // namespace qarn2::roster
