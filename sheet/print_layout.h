#pragma once

#include <string>
#include <vector>

namespace qarn2::sheet {

// The printout of a decoder sheet, in units of 0.1 mm from the top left corner of
// the printable area, y growing downwards, in "Courier New" with a character cell 40
// units (4 mm) high: the file name at (200, 0) on the first page, then the lines at
// x = 200, the k-th line of a page (k = 1..59) at y = 43 k. Lines are neither wrapped
// nor cut.
inline constexpr int kPrintLeft = 200;
inline constexpr int kPrintLinePitch = 43;
inline constexpr int kPrintCellHeight = 40;
inline constexpr int kPrintLinesPerPage = 59;
inline constexpr const char* kPrintFont = "Courier New";

struct PrintedText {
  int page = 0;  // 0-based
  int x = 0;
  int y = 0;
  std::string text;  // Windows-1252, as the sheet holds it; UTF-8 where `utf8`
  bool utf8 = false;  // the file name, as the system gives it
};

struct PrintLayout {
  int pages = 1;
  std::vector<PrintedText> texts;  // in printing order
};

// `file_name`: the file's name with its path, in UTF-8 as the system gives it (empty:
// an empty text is placed all the same); `lines`: the sheet's lines as they are
// printed, Windows-1252. Every line gets a text, empty ones included, but for an empty
// last line (the line end that closes a file's text): it prints nothing and never
// makes a page of its own. A sheet without lines still makes one page.
PrintLayout LayOutPrint(const std::string& file_name, const std::vector<std::string>& lines);

}  // namespace qarn2::sheet
