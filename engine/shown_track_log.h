#pragma once

// What the window's "Protokoll" lists: the live log made into lines (see
// TrackLogCollapser), the newest kMaxLines of them, all of them or only the commands.
// The window polls it and follows what changed; "Speichern" writes exactly the lines
// the list shows. Everything here runs on the user-interface thread but the saving.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/track_log_lines.h"

namespace qarn2::engine {

class LiveTrackLog;

class ShownTrackLog {
 public:
  // The most lines kept, shown or not; the oldest drop out beyond it.
  static constexpr std::size_t kMaxLines = 100000;

  // `log` lives longer than this.
  explicit ShownTrackLog(LiveTrackLog& log);
  ShownTrackLog(const ShownTrackLog&) = delete;
  ShownTrackLog& operator=(const ShownTrackLog&) = delete;
  // Waits for a save still running.
  ~ShownTrackLog();

  // How the lines shown changed, applied in this order: the last line shown before
  // reads `last` now (its run grew), `added` come at the end, then `dropped` lines go
  // from the top.
  struct Update {
    std::optional<std::string> last;
    std::vector<std::string> added;
    std::size_t dropped = 0;
    std::uint64_t lost = 0;  // entries that dropped out of the live log unseen
  };
  // Takes everything the live log gained since the last poll.
  Update Poll();

  // Only the commands shown, or everything. Returns every line shown now: the list
  // starts over with them.
  std::vector<std::string> ShowCommandsOnly(bool on);
  bool CommandsOnly() const { return commands_only_; }

  // Empties the lines and the live log (what it still held unseen goes too).
  void Clear();

  // Writes the lines shown now to `path`, one a line with LF line ends, as UTF-8,
  // replacing the file in one step (see safefile::WriteWhole). Formatting and writing
  // a full list takes longer than the port may wait for its next characters, so it is
  // done on a thread of its own at a low priority; this returns at once. The future
  // gives the problem as a short reason, empty on success. A second Save waits for the
  // one before.
  std::future<std::string> Save(const std::string& path);

 private:
  bool Shows(const TrackLogLine& line) const { return !commands_only_ || !line.background; }

  LiveTrackLog& log_;
  TrackLogCollapser collapser_;
  std::deque<TrackLogLine> lines_;  // numbered from 0 as they are made
  std::uint64_t first_ = 0;         // the number of lines_.front()
  std::uint64_t next_entry_ = 0;    // the live log's next entry to take
  bool commands_only_ = false;
  std::optional<std::uint64_t> last_shown_;  // the number of the list's last line
  std::uint64_t last_shown_count_ = 0;       // its count as the list shows it
  std::thread saving_;
};

}  // namespace qarn2::engine
