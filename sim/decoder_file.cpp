#include "sim/decoder_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <optional>
#include <utility>
#include <vector>

#include "safefile/safe_file.h"

namespace qarn2::sim {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Past this a run of digits is no number of ours; it only has to stay above any limit.
constexpr int kNumberCap = 100000;

// The number in `digits` (all of them digits), kNumberCap for anything larger.
int NumberOf(std::string_view digits) {
  int number = 0;
  for (char c : digits) {
    number = number * 10 + (c - '0');
    if (number >= kNumberCap) return kNumberCap;
  }
  return number;
}

// What a line says about a CV.
struct CvLine {
  int number = 0;                // 1..1024, or 0: the line names no CV of the decoder
  int value = -1;                // -1: no value; may be above 255
  std::size_t blanks_begin = 0;  // the blanks before the value's digits
  std::size_t value_begin = 0;
  std::size_t value_end = 0;
};

CvLine ReadCvLine(std::string_view line) {
  CvLine cv;
  std::size_t end = 0;
  while (end < line.size() && IsDigit(line[end])) ++end;
  const int number = NumberOf(line.substr(0, end));
  if (end == 0 || number < 1 || number > DecoderModel::kCvCount) return cv;
  cv.number = number;

  std::size_t pos = std::min(std::to_string(number).size(), line.size());
  cv.blanks_begin = pos;
  while (pos < line.size() && line[pos] == ' ') ++pos;
  cv.value_begin = pos;
  while (pos < line.size() && IsDigit(line[pos])) ++pos;
  cv.value_end = pos;
  if (pos > cv.value_begin) cv.value = NumberOf(line.substr(cv.value_begin, pos - cv.value_begin));
  return cv;
}

// A line and the line end it had ("\r\n", "\r", "\n", or none for the last).
struct Line {
  std::string_view text;
  std::string_view end;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    const std::size_t end_begin = i;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    lines.push_back({text.substr(start, end_begin - start), text.substr(end_begin, i + 1 - end_begin)});
    start = i + 1;
  }
  lines.push_back({text.substr(start), {}});  // empty when the text ends with a line end
  return lines;
}

// The line as reading all CVs writes it.
std::string StandardLine(int number, int value, std::string_view old_line) {
  std::string line = std::to_string(number);
  line.resize(std::max<std::size_t>(4, line.size() + 1), ' ');
  const std::string digits = std::to_string(value);
  line += std::string(3 - std::min<std::size_t>(3, digits.size()), ' ') + digits + ' ';
  // The description as it stands: what follows the number, the value (digits or the
  // "?" of a CV not read) and the blanks after each.
  std::size_t at = 0;
  while (at < old_line.size() && IsDigit(old_line[at])) ++at;
  while (at < old_line.size() && old_line[at] == ' ') ++at;
  std::size_t value_end = at;
  if (value_end < old_line.size() && old_line[value_end] == '?') {
    ++value_end;
  } else {
    while (value_end < old_line.size() && IsDigit(old_line[value_end])) ++value_end;
  }
  if (value_end > at) {
    at = value_end;
    while (at < old_line.size() && old_line[at] == ' ') ++at;
  }
  if (at > 0) line += old_line.substr(at);
  return line;
}

std::string UpdatedLine(std::string_view line, const CvLine& cv, int value) {
  if (cv.value >= 0) {
    std::string digits = std::to_string(value);
    const std::size_t width = cv.value_end - cv.blanks_begin;
    const bool had_blanks = cv.value_begin > cv.blanks_begin;
    if (width > digits.size()) {
      digits.insert(0, width - digits.size(), ' ');
    } else if (had_blanks) {
      digits.insert(0, 1, ' ');
    }
    std::string updated(line.substr(0, cv.blanks_begin));
    updated += digits;
    updated += line.substr(cv.value_end);
    const CvLine check = ReadCvLine(updated);
    if (check.number == cv.number && check.value == value) return updated;
  }
  return StandardLine(cv.number, value, line);
}

}  // namespace

int LoadCvsFromText(std::string_view text, DecoderModel& decoder) {
  text = text.substr(0, text.find('\0'));
  int taken = 0;
  for (const Line& line : SplitLines(text)) {
    const CvLine cv = ReadCvLine(line.text);
    if (cv.number == 0 || cv.value < 0 || cv.value > 255) continue;
    decoder.SetCv(cv.number, static_cast<std::uint8_t>(cv.value));
    ++taken;
  }
  return taken;
}

std::string TextWithCvs(std::string_view text, const DecoderModel& decoder) {
  text = text.substr(0, text.find('\0'));
  // Each line keeps its own line end; the lines added get CR LF.
  std::vector<std::pair<std::string, std::string>> lines;
  std::set<int> named;
  for (const Line& line : SplitLines(text)) {
    const CvLine cv = ReadCvLine(line.text);
    if (cv.number == 0) {
      lines.emplace_back(line.text, line.end);
      continue;
    }
    named.insert(cv.number);
    const int value = decoder.Cv(cv.number);
    lines.emplace_back(cv.value == value ? std::string(line.text) : UpdatedLine(line.text, cv, value), line.end);
  }

  std::vector<std::pair<std::string, std::string>> added;
  for (int number = 1; number <= DecoderModel::kCvCount; ++number) {
    const int value = decoder.Cv(number);
    if (value != DecoderModel::DefaultCv(number) && !named.contains(number)) {
      added.emplace_back(StandardLine(number, value, ""), "\r\n");
    }
  }
  // Before the final line end if the text has one; after the last line with one
  // of its own otherwise.
  if (!added.empty()) {
    if (lines.back().first.empty()) {
      lines.insert(lines.end() - 1, added.begin(), added.end());
    } else {
      if (lines.back().second.empty()) lines.back().second = "\r\n";
      lines.insert(lines.end(), added.begin(), added.end());
      lines.back().second.clear();
    }
  }

  std::string out;
  for (const auto& [line, end] : lines) out += line + end;
  return out;
}

std::string ReadDecoderFile(const std::filesystem::path& path) {
  std::string problem;
  std::optional<std::string> text = safefile::ReadRegularFile(path.string(), problem);
  if (!text) throw DecoderFileError(path, "cannot read decoder file " + path.string() + ": " + problem);
  // A decoder file is text: one with NUL bytes is something else (a program, an
  // image), and writing CVs back into it would destroy it.
  if (text->find('\0') != std::string::npos) {
    throw DecoderFileError(path, "cannot use " + path.string() + " as decoder file: it holds NUL bytes, it is no text");
  }
  return std::move(*text);
}

void WriteDecoderFile(const std::filesystem::path& path, std::string_view text) {
  const std::string problem = safefile::WriteWhole(path.string(), text);
  if (!problem.empty()) throw DecoderFileError(path, "cannot write decoder file " + path.string() + ": " + problem);
}

std::string LoadDecoderFile(const std::filesystem::path& path, DecoderModel& decoder) {
  std::string text = ReadDecoderFile(path);
  LoadCvsFromText(text, decoder);
  return text;
}

void SaveDecoderFile(const std::filesystem::path& path, std::string_view loaded_text,
                     const DecoderModel& decoder) {
  WriteDecoderFile(path, TextWithCvs(loaded_text, decoder));
}

}  // namespace qarn2::sim
