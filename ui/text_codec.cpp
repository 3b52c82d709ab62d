#include "ui/text_codec.h"

#include "sheet/code_page.h"

namespace qarn2::ui {

QString FromCp1252(std::string_view bytes) {
  return QString::fromStdString(sheet::Cp1252ToUtf8(bytes));
}

std::string ToCp1252(const QString& text) { return sheet::Utf8ToCp1252(text.toStdString()); }

}  // namespace qarn2::ui
