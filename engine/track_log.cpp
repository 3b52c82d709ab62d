#include "engine/track_log.h"

#include <iterator>

#include "engine/port_recorder.h"

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

}  // namespace qarn2::engine
