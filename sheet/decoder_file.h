#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qarn2::sheet {

// A decoder file that cannot be opened, created or written. Its message is the one
// the user sees, in UTF-8: "Datei %s kann nicht geöffnet werden" / "Datei %s kann
// nicht erstellt werden", %s the file name as the system gives it.
class SheetFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A decoder file's bytes as the sheet takes them: up to the first NUL, which ends the
// text, every line end (CR LF, CR or LF) made CR LF. The window and the tool read every
// decoder file through this, so that both see the same lines.
std::string DecoderText(std::string_view bytes);

// A decoder file's text as the sheet takes it (DecoderText of its bytes). Throws
// SheetFileError when the file cannot be read (missing, no permission, a folder, a
// FIFO or device, larger than 16 MiB). An empty file gives "".
std::string ReadDecoderFile(const std::string& path);

// The lines of a sheet's text (CR LF between them) as the window's pane holds them and
// prints them when none is wrapped: what follows the last line end is a line too, an
// empty one included; "" is one empty line.
std::vector<std::string> SheetTextLines(std::string_view text);

// Writes the sheet's text (lines separated by CR LF, nothing added) into `path`,
// creating the file or replacing it whole: a failed or interrupted save leaves the old
// file as it was. A symbolic link keeps pointing at the file, which keeps its
// permissions. Throws SheetFileError when it cannot.
void WriteDecoderFile(const std::string& path, const std::string& text);

// "Datei %s kann nicht erstellt werden" for `path`.
std::string CannotCreateMessage(const std::string& path);

}  // namespace qarn2::sheet
