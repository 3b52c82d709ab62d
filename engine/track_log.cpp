#include "engine/track_log.h"

#include <sched.h>

#include <exception>
#include <iterator>

#include "engine/port_recorder.h"
#include "safefile/safe_file.h"
#include "serial/thread_priority.h"

namespace qarn2::engine {

LiveTrackLog::LiveTrackLog(sim::SimulatedTrack& track) : track_(&track) {}

LiveTrackLog::LiveTrackLog(PortRecorder& recorder) : recorder_(&recorder) {}

std::vector<sim::TrackLogEntry> LiveTrackLog::Since(std::uint64_t& next, std::uint64_t* lost) {
  std::uint64_t dropped = 0;
  std::vector<sim::TrackLogEntry> entries =
      recorder_ ? recorder_->Since(next, kMaxPerPoll, dropped) : track_->LogSince(next, kMaxPerPoll, dropped);
  if (lost) *lost = dropped;
  return entries;
}

void LiveTrackLog::Clear() {
  if (recorder_) {
    recorder_->Clear();
  } else {
    track_->ClearLog();
  }
}

std::vector<sim::TrackLogEntry> LiveTrackLog::Entries() {
  // A part at a time, as a poll takes it, so that the track is never held up long.
  std::vector<sim::TrackLogEntry> entries;
  std::uint64_t next = 0;
  for (;;) {
    std::vector<sim::TrackLogEntry> part = Since(next);
    entries.insert(entries.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    if (part.size() < kMaxPerPoll) break;
  }
  return entries;
}

LiveTrackLog::~LiveTrackLog() {
  if (saving_.joinable()) saving_.join();
}

std::future<std::string> LiveTrackLog::Save(const std::string& path) {
  if (saving_.joinable()) saving_.join();
  std::promise<std::string> done;
  std::future<std::string> outcome = done.get_future();
  saving_ = std::thread([this, path, done = std::move(done)]() mutable {
    // The thread starts with the user-interface thread's raised priority, with which
    // it would hold that thread up; it is background work.
    serial::RestoreThreadPriority({SCHED_OTHER, 0, 10});
    try {
      done.set_value(SaveNow(path));
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  return outcome;
}

std::string LiveTrackLog::SaveNow(const std::string& path) {
  std::string text;
  for (const sim::TrackLogEntry& entry : Entries()) {
    text += sim::FormatLogEntry(entry);
    text += '\n';
  }
  return safefile::WriteWhole(path, text);
}

}  // namespace qarn2::engine
