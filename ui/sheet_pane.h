#pragma once

#include <string>
#include <string_view>
#include <vector>

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

  // The whole text as a decoder file holds it: the lines separated by CR LF, nothing
  // added at the end.
  std::string Text() const;
  // Replaces the whole text (a new undo history); CR LF ends a line.
  void SetText(std::string_view text);
  // The lines as the pane shows them, first to last: a line wider than the pane counts
  // as one line per row it is wrapped into (what is printed).
  std::vector<std::string> DisplayedLines() const;

 private:
  QPlainTextEdit* pane_;
};

}  // namespace qarn2::ui
