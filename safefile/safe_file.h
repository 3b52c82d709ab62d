#pragma once

// Reading and writing the user's files as a careful desktop program does. Every path
// of the program that reads or writes a whole file goes through here: decoder files
// (window and tool), the printout's PDF, the simulated decoder's memory.
//
// Reading takes regular files only (never a FIFO, which would hang, nor a device such
// as /dev/zero, which never ends), and none larger than kMaxFileSize.
//
// Writing resolves the target once (symbolic links followed, also a dangling one:
// the file it names is created) and then writes what was resolved:
//  - a new file or a regular file the user may write: the text goes into a new file
//    beside it (named after it, cut short where the name would pass the longest the
//    file system takes), which takes the old one's permissions and, where the process
//    may, its owner, and then replaces it in one step (rename). Any failure leaves the
//    old file whole and no new file behind.
//  - a regular file the user may write in a folder the user may not: the old
//    contents are copied to the temporary folder first, then the file is written in
//    place; a failure puts the old contents back.
//  SIGINT, SIGTERM, SIGHUP or SIGQUIT during a save, on whatever thread they land,
//  wait until the save has ended; a save begun after one of them came makes nothing.
//  So the file is left old or new and whole, and no temporary file anywhere.
//  - the program's own standard output (a terminal, a pipe, a file, named as
//    /dev/stdout or through another link or device node): written to directly.
//  - anything else is refused: a file the user may not write, a folder, a device node
//    or FIFO (never replaced by a file), a path whose folder does not exist.
// Why not QSaveFile: it replaces device nodes and FIFOs like any file, keeps no
// owner, and leaves its temporary file behind when a signal ends the program; and the
// simulated track below the sheet has no Qt.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace qarn2::safefile {

// No decoder sheet comes near this; anything larger is not one.
inline constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// The whole regular file at `path`; nullopt with `problem` set (a short reason such as
// "not a regular file", "No such file or directory") when it cannot be read.
std::optional<std::string> ReadRegularFile(const std::string& path, std::string& problem,
                                           std::size_t max_size = kMaxFileSize);

// Where a write will go, resolved once.
struct Target {
  enum Kind {
    kNewFile,         // nothing there yet: created in `resolved`'s folder
    kRegularFile,     // replaced as a whole
    kStandardOutput,  // the process's standard output: written to directly
    kRefused,         // `problem` says why
  };
  Kind kind = kRefused;
  std::string given;     // the path as the user named it
  std::string resolved;  // the path written (links followed, folder made absolute)
  std::string problem;
  // Of the regular file found: to keep, and to know it again at the end.
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  dev_t device = 0;
  ino_t inode = 0;
};

Target ResolveTarget(const std::string& path);

// Whether writing `target` would replace the file at `path` (links followed): the same
// file by device and inode, however either was named (another path, a symbolic or a
// hard link). A command that reads `path` refuses such a target: its output would
// replace its own input.
bool IsSameFile(const std::string& path, const Target& target);

// Writes `bytes` to the resolved target as above. Returns the problem (a short reason),
// empty on success.
std::string WriteWhole(const Target& target, std::string_view bytes);
inline std::string WriteWhole(const std::string& path, std::string_view bytes) {
  return WriteWhole(ResolveTarget(path), bytes);
}

}  // namespace qarn2::safefile
