#include "sheet/file_bytes.h"

namespace qarn2::sheet {

std::optional<std::string> ReadFileBytes(const std::string& path, std::string& error) {
  std::string problem;
  std::optional<std::string> text = safefile::ReadRegularFile(path, problem);
  if (!text) error = "cannot read '" + path + "': " + problem;
  return text;
}

std::string ReplaceFileBytes(const safefile::Target& target, const std::string& text) {
  const std::string problem = safefile::WriteWhole(target, text);
  return problem.empty() ? "" : "cannot write '" + target.given + "': " + problem;
}

std::string ReplaceFileBytes(const std::string& path, const std::string& text) {
  return ReplaceFileBytes(safefile::ResolveTarget(path), text);
}

}  // namespace qarn2::sheet
