#include "sheet/print_layout.h"

namespace qarn2::sheet {

PrintLayout LayOutPrint(const std::string& file_name, const std::vector<std::string>& lines) {
  PrintLayout layout;
  layout.texts.reserve(lines.size() + 1);
  layout.texts.push_back({0, kPrintLeft, 0, file_name, true});
  std::size_t count = lines.size();
  if (count > 0 && lines.back().empty()) --count;
  for (std::size_t i = 0; i < count; ++i) {
    const int page = static_cast<int>(i / kPrintLinesPerPage);
    const int k = static_cast<int>(i % kPrintLinesPerPage) + 1;
    layout.texts.push_back({page, kPrintLeft, kPrintLinePitch * k, lines[i]});
    layout.pages = page + 1;
  }
  return layout;
}

}  // namespace qarn2::sheet
