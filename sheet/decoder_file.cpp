#include "sheet/decoder_file.h"

#include <optional>

#include "sheet/code_page.h"
#include "sheet/file_bytes.h"

namespace qarn2::sheet {
namespace {

// The message names the file as the system gives it, in UTF-8.
std::string FileMessage(const std::string& path, const char* what) { return "Datei " + path + what; }

// Every line end (CR LF, CR alone, LF alone) as CR LF.
std::string WithCrLf(std::string_view text) {
  std::string result;
  result.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      result += "\r\n";
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace

std::string DecoderText(std::string_view bytes) {
  return WithCrLf(bytes.substr(0, bytes.find('\0')));  // npos: all of it
}

std::string ReadDecoderFile(const std::string& path) {
  std::string problem;
  const std::optional<std::string> bytes = ReadFileBytes(path, problem);
  if (!bytes) throw SheetFileError(FileMessage(path, " kann nicht ge\xC3\xB6" "ffnet werden"));
  return DecoderText(*bytes);
}

std::vector<std::string> SheetTextLines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::size_t end; (end = text.find("\r\n")) != std::string_view::npos; text.remove_prefix(end + 2)) {
    lines.emplace_back(text.substr(0, end));
  }
  lines.emplace_back(text);
  return lines;
}

void WriteDecoderFile(const std::string& path, const std::string& text) {
  if (!ReplaceFileBytes(path, text).empty()) {
    throw SheetFileError(FileMessage(path, " kann nicht erstellt werden"));
  }
}

std::string CannotCreateMessage(const std::string& path) { return FileMessage(path, " kann nicht erstellt werden"); }

}  // namespace qarn2::sheet
