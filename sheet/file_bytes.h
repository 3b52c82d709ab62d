#pragma once

#include <optional>
#include <string>

#include "safefile/safe_file.h"

namespace qarn2::sheet {

// The whole regular file as 8-bit text, byte for byte; nullopt with `error` set
// ("cannot read 'PATH': reason") when it cannot be read, is no regular file (a FIFO,
// a device) or is larger than any decoder sheet (16 MiB).
std::optional<std::string> ReadFileBytes(const std::string& path, std::string& error);

// Replaces the file by `text` in one step, as safefile::WriteWhole does (the old file
// whole on any failure; permissions and owner kept; links followed; device nodes and
// FIFOs never replaced, the program's standard output written to). `target` was
// resolved once, when the command began. Returns the problem ("cannot write 'PATH':
// reason"), empty on success.
std::string ReplaceFileBytes(const safefile::Target& target, const std::string& text);
std::string ReplaceFileBytes(const std::string& path, const std::string& text);

}  // namespace qarn2::sheet
