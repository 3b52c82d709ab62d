#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace qarn2::ui {

// The widgets' side of the program's 8-bit Windows-1252 texts (see sheet/code_page.h):
// every byte comes back as itself; a character the code page lacks becomes '?'.
QString FromCp1252(std::string_view bytes);
std::string ToCp1252(const QString& text);
// The characters of `text` that ToCp1252 would make '?', each once, in the order they
// first appear; empty when the code page holds them all.
std::u32string MissingFromCp1252(const QString& text);

}  // namespace qarn2::ui
