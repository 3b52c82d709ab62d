#pragma once

#include <string>

#include "programming/sheet_lines.h"

class QPlainTextEdit;

namespace qarn2::ui {

// The decoder sheet `Decoder` as the CV commands see it: one line per paragraph of
// the text pane (the lines the user ended with Enter, however the pane wraps them for
// display), in Windows-1252.
class SheetPane : public programming::SheetLines {
 public:
  explicit SheetPane(QPlainTextEdit* pane) : pane_(pane) {}

  int LineCount() const override;
  std::string Line(int index) const override;
  // Edits only that line, as one step of the pane's undo history; the user's cursor
  // and the scroll position stay where they were.
  void ReplaceLine(int index, const std::string& text) override;

 private:
  QPlainTextEdit* pane_;
};

}  // namespace qarn2::ui
