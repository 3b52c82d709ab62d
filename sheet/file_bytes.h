#pragma once

#include <optional>
#include <string>

namespace qarn2::sheet {

// The whole file as 8-bit text, byte for byte; nullopt with `error` set ("cannot read
// 'PATH': reason") when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::string& path, std::string& error);

// Replaces the file at `path` by `text` in one step: the text goes into a new file
// beside it, which then takes its name, so a failure leaves the old file whole. The
// file keeps its permissions (a new one gets 0666 less the umask, as usual); a
// symbolic link keeps pointing at the new file.
// Returns the problem ("cannot write 'PATH': reason"), empty on success.
std::string ReplaceFileBytes(const std::string& path, const std::string& text);

}  // namespace qarn2::sheet
