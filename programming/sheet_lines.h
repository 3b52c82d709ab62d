#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarn2::programming {

// The decoder sheet as the CV commands see it: numbered lines of Windows-1252 text,
// each read when its turn comes (the user may edit the sheet while a command runs).
// The window's text pane and the command-line tool's file each implement it.
class SheetLines {
 public:
  virtual ~SheetLines() = default;
  virtual int LineCount() const = 0;
  // Line `index` (0-based) without its line end; empty when there is no such line.
  virtual std::string Line(int index) const = 0;
  // Replaces line `index`; a line that no longer exists is left alone.
  virtual void ReplaceLine(int index, const std::string& text) = 0;
};

// A sheet held in memory, made from and turned back into file text. Every line end
// (CR LF, CR or LF) ends a line; the text comes back with CR LF, and it ends with a
// line end exactly when the text it was made from did.
class TextSheet : public SheetLines {
 public:
  TextSheet() = default;
  explicit TextSheet(std::string_view text);
  int LineCount() const override { return static_cast<int>(lines_.size()); }
  std::string Line(int index) const override;
  void ReplaceLine(int index, const std::string& text) override;
  std::string Text() const;

 private:
  std::vector<std::string> lines_;
  bool ends_with_line_end_ = false;
};

// An integer as the entry field takes it: optional blanks around an optional sign and
// decimal digits. Nothing else, and nothing too large for an int, is an integer.
std::optional<int> ParseInteger(std::string_view text);

// The CV number of a sheet line: the run of decimal digits it begins with; -1 when it
// begins with no digit or the run is too long for an int.
int ParseCvNumber(std::string_view line);
// The value of a sheet line: after the leading digits and the blanks that follow them,
// a run of digits; -1 when there is none (or it is too long for an int).
int ParseCvValue(std::string_view line);
// The description of a CV line: what follows the number, the value (digits or the
// "?" of a CV not read) and the blanks after each, as it stands; empty for a line
// without a CV number.
std::string LineDescription(std::string_view line);
// A line as reading all CVs leaves it: the CV number left-aligned in three characters
// and a blank ("29  ", "1000 "), the value right-aligned in three and a blank ("  5 ",
// or "  ? " when it could not be read), then the description.
std::string ReadAllLine(int cv, std::optional<int> value, std::string_view description);

// What the sheet says for the menu items and the speed table.
struct SheetScan {
  bool any_value = false;       // a line with a CV number above 0 has a value
  bool any_speed_line = false;  // a line names a CV of 67..94
};
// Every line with a CV number of 67..94 puts its value (0 without one, 255 for one
// above 255) into entry number - 66 of `speed_table`; entries whose CV has no line
// are left alone.
SheetScan ScanSheetLines(const SheetLines& sheet, std::array<int, 28>& speed_table);

}  // namespace qarn2::programming
