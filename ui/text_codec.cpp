#include "ui/text_codec.h"

#include <vector>

#include "sheet/code_page.h"

namespace qarn2::ui {

QString FromCp1252(std::string_view bytes) {
  return QString::fromStdString(sheet::Cp1252ToUtf8(bytes));
}

std::string ToCp1252(const QString& text) { return sheet::Utf8ToCp1252(text.toStdString()); }

std::u32string MissingFromCp1252(const QString& text) {
  std::vector<char32_t> replaced;
  sheet::Utf8ToCp1252(text.toStdString(), replaced);
  std::u32string missing;
  for (char32_t c : replaced) {
    if (missing.find(c) == std::u32string::npos) missing += c;
  }
  return missing;
}

}  // namespace qarn2::ui
