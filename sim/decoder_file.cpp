#include "sim/decoder_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

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

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  lines.push_back(text.substr(start));  // empty when the text ends with a line end
  return lines;
}

// The line as reading all CVs writes it.
std::string StandardLine(int number, int value, std::string_view old_line) {
  std::string line = std::to_string(number);
  line.resize(std::max<std::size_t>(4, line.size() + 1), ' ');
  const std::string digits = std::to_string(value);
  line += std::string(3 - std::min<std::size_t>(3, digits.size()), ' ') + digits + ' ';
  for (std::size_t i = 0; i < old_line.size(); ++i) {
    if (static_cast<unsigned char>(old_line[i]) >= 64) {
      line += old_line.substr(i);
      break;
    }
  }
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
  for (std::string_view line : SplitLines(text)) {
    const CvLine cv = ReadCvLine(line);
    if (cv.number == 0 || cv.value < 0 || cv.value > 255) continue;
    decoder.SetCv(cv.number, static_cast<std::uint8_t>(cv.value));
    ++taken;
  }
  return taken;
}

std::string TextWithCvs(std::string_view text, const DecoderModel& decoder) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> lines;
  std::set<int> named;
  for (std::string_view line : SplitLines(text)) {
    const CvLine cv = ReadCvLine(line);
    if (cv.number == 0) {
      lines.emplace_back(line);
      continue;
    }
    named.insert(cv.number);
    const int value = decoder.Cv(cv.number);
    lines.push_back(cv.value == value ? std::string(line) : UpdatedLine(line, cv, value));
  }

  std::vector<std::string> added;
  for (int number = 1; number <= DecoderModel::kCvCount; ++number) {
    const int value = decoder.Cv(number);
    if (value != DecoderModel::DefaultCv(number) && !named.contains(number)) {
      added.push_back(StandardLine(number, value, ""));
    }
  }
  const bool ends_with_line_end = lines.back().empty();
  lines.insert(ends_with_line_end ? lines.end() - 1 : lines.end(), added.begin(), added.end());

  std::string out;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) out += "\r\n";
    out += lines[i];
  }
  return out;
}

std::string ReadDecoderFile(const std::filesystem::path& path) {
  const auto fail = [&path] {
    return DecoderFileError(
        path, "cannot read decoder file " + path.string() + ": " + std::strerror(errno));
  };
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw fail();
  std::string text;
  char buffer[4096];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) {
    errno = error;
    throw fail();
  }
  return text.substr(0, text.find('\0'));
}

void WriteDecoderFile(const std::filesystem::path& path, std::string_view text) {
  const auto fail = [&path] {
    return DecoderFileError(
        path, "cannot write decoder file " + path.string() + ": " + std::strerror(errno));
  };
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw fail();
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const int error = errno;
  if (std::fclose(file) != 0 || !written) {
    if (!written) errno = error;
    throw fail();
  }
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
