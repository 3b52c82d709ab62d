#include "programming/sheet_lines.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace qarn2::programming {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::size_t DigitRunEnd(std::string_view text, std::size_t from) {
  while (from < text.size() && IsDigit(text[from])) ++from;
  return from;
}

// The decimal digits text[from, to) as an int; -1 when the run is empty or too long.
int DigitsValue(std::string_view text, std::size_t from, std::size_t to) {
  if (from == to) return -1;
  int value = 0;
  const auto [end, error] = std::from_chars(text.data() + from, text.data() + to, value);
  if (error != std::errc() || end != text.data() + to) return -1;
  return value;
}

}  // namespace

TextSheet::TextSheet(std::string_view text) {
  std::string line;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i++];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i < text.size() && text[i] == '\n') ++i;
      lines_.push_back(std::move(line));
      line.clear();
      continue;
    }
    line += c;
  }
  ends_with_line_end_ = !text.empty() && line.empty();
  if (!ends_with_line_end_ && !text.empty()) lines_.push_back(std::move(line));
}

std::string TextSheet::Line(int index) const {
  if (index < 0 || index >= LineCount()) return {};
  return lines_[index];
}

void TextSheet::ReplaceLine(int index, const std::string& text) {
  if (index < 0 || index >= LineCount()) return;
  lines_[index] = text;
}

std::string TextSheet::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines_[i];
  }
  if (ends_with_line_end_) text += "\r\n";
  return text;
}

std::optional<int> ParseInteger(std::string_view text) {
  std::size_t from = text.find_first_not_of(' ');
  if (from == std::string_view::npos) return std::nullopt;
  const std::size_t to = text.find_last_not_of(' ') + 1;
  std::string_view number = text.substr(from, to - from);
  // from_chars takes a minus but no plus; one sign of either kind is allowed.
  if (number[0] == '+') number.remove_prefix(1);
  if (number.empty() || number[0] == '+' || (number[0] == '-' && text[from] == '+')) {
    return std::nullopt;
  }
  int value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
  return value;
}

int ParseCvNumber(std::string_view line) { return DigitsValue(line, 0, DigitRunEnd(line, 0)); }

int ParseCvValue(std::string_view line) {
  // After the whole run of digits, so that "029 5" gives 5 like "29 5".
  std::size_t at = DigitRunEnd(line, 0);
  while (at < line.size() && line[at] == ' ') ++at;
  return DigitsValue(line, at, DigitRunEnd(line, at));
}

std::string LineDescription(std::string_view line) {
  // After the number and the blanks behind it comes the value (digits, or the "?" of
  // a CV that could not be read) and its blanks; what follows is the user's text,
  // whatever its first character.
  std::size_t at = DigitRunEnd(line, 0);
  if (at == 0) return {};
  while (at < line.size() && line[at] == ' ') ++at;
  const std::size_t value_end = at < line.size() && line[at] == '?' ? at + 1 : DigitRunEnd(line, at);
  if (value_end > at) {
    at = value_end;
    while (at < line.size() && line[at] == ' ') ++at;
  }
  return std::string(line.substr(at));
}

std::string ReadAllLine(int cv, std::optional<int> value, std::string_view description) {
  std::string line = std::to_string(cv);
  if (line.size() < 3) line.resize(3, ' ');
  line += ' ';
  char field[16];
  if (value) {
    std::snprintf(field, sizeof field, "%3d ", *value);
  } else {
    std::snprintf(field, sizeof field, "  ? ");
  }
  line += field;
  line += description;
  return line;
}

SheetScan ScanSheetLines(const SheetLines& sheet, std::array<int, 28>& speed_table) {
  constexpr int kFirstSpeedCv = 67;
  constexpr int kLastSpeedCv = 94;
  constexpr int kHighestSpeedEntry = 255;
  SheetScan scan;
  const int count = sheet.LineCount();
  for (int i = 0; i < count; ++i) {
    const std::string line = sheet.Line(i);
    const int cv = ParseCvNumber(line);
    if (cv <= 0) continue;
    const int value = ParseCvValue(line);
    if (value >= 0) scan.any_value = true;
    if (cv >= kFirstSpeedCv && cv <= kLastSpeedCv) {
      scan.any_speed_line = true;
      // An entry is one byte: a value above 255 is taken as 255, and "übernehmen"
      // writes the line anew with it.
      speed_table[cv - kFirstSpeedCv] = value >= 0 ? std::min(value, kHighestSpeedEntry) : 0;
    }
  }
  return scan;
}

}  // namespace qarn2::programming
