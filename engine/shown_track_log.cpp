#include "engine/shown_track_log.h"

#include <sched.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

#include "engine/track_log.h"
#include "safefile/safe_file.h"
#include "serial/thread_priority.h"

namespace qarn2::engine {

ShownTrackLog::ShownTrackLog(LiveTrackLog& log) : log_(log) {}

ShownTrackLog::~ShownTrackLog() {
  if (saving_.joinable()) saving_.join();
}

ShownTrackLog::Update ShownTrackLog::Poll() {
  Update update;
  const std::uint64_t end_before = first_ + lines_.size();
  for (;;) {
    std::uint64_t lost = 0;
    std::vector<sim::TrackLogEntry> entries = log_.Since(next_entry_, &lost);
    // A run that lost packets in between is two runs.
    if (lost > 0) collapser_.Break();
    update.lost += lost;
    for (sim::TrackLogEntry& entry : entries) collapser_.Add(std::move(entry), lines_);
    if (entries.size() < LiveTrackLog::kMaxPerPoll) break;
  }

  // Lines beyond the bound are dropped before they are ever shown.
  const std::uint64_t end = first_ + lines_.size();
  const std::uint64_t first_kept = first_ + (lines_.size() > kMaxLines ? lines_.size() - kMaxLines : 0);
  if (last_shown_ && *last_shown_ >= first_kept) {
    const TrackLogLine& line = lines_[*last_shown_ - first_];
    if (line.count != last_shown_count_) {
      update.last = FormatLogLine(line);
      last_shown_count_ = line.count;
    }
  }
  for (std::uint64_t n = std::max(end_before, first_kept); n < end; ++n) {
    const TrackLogLine& line = lines_[n - first_];
    if (!Shows(line)) continue;
    update.added.push_back(FormatLogLine(line));
    last_shown_ = n;
    last_shown_count_ = line.count;
  }
  for (std::uint64_t n = first_; n < std::min(first_kept, end_before); ++n) update.dropped += Shows(lines_[n - first_]);
  lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(first_kept - first_));
  first_ = first_kept;
  return update;
}

std::vector<std::string> ShownTrackLog::ShowCommandsOnly(bool on) {
  commands_only_ = on;
  last_shown_.reset();
  std::vector<std::string> shown;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!Shows(lines_[i])) continue;
    shown.push_back(FormatLogLine(lines_[i]));
    last_shown_ = first_ + i;
    last_shown_count_ = lines_[i].count;
  }
  return shown;
}

void ShownTrackLog::Clear() {
  Poll();
  log_.Clear();
  first_ += lines_.size();
  lines_.clear();
  last_shown_.reset();
  collapser_.Break();
}

std::future<std::string> ShownTrackLog::Save(const std::string& path) {
  if (saving_.joinable()) saving_.join();
  // The lines as they stand now (the entries are shared, not copied).
  std::vector<TrackLogLine> shown;
  shown.reserve(lines_.size());
  std::copy_if(lines_.begin(), lines_.end(), std::back_inserter(shown),
               [this](const TrackLogLine& line) { return Shows(line); });
  std::promise<std::string> done;
  std::future<std::string> outcome = done.get_future();
  saving_ = std::thread([path, shown = std::move(shown), done = std::move(done)]() mutable {
    // The thread starts with the user-interface thread's raised priority, with which
    // it would hold that thread up; it is background work.
    serial::RestoreThreadPriority({SCHED_OTHER, 0, 10});
    try {
      std::string text;
      for (const TrackLogLine& line : shown) {
        text += FormatLogLine(line);
        text += '\n';
      }
      done.set_value(safefile::WriteWhole(path, text));
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  return outcome;
}

}  // namespace qarn2::engine
