#pragma once

// The live log of what goes to the track, for the window's "Protokoll" (which shows it
// as ShownTrackLog makes it into lines): on the simulated track the track's own log
// (what the decoder made of each packet), on a real port the port's record (each
// packet decoded with its meaning, DTR and RTS changes, rings, the LGB interface's
// messages). Read on the user-interface thread by polling; the track and the port's
// threads never wait for it: they only note what happens, and a poll copies what is
// new, a part at a time, and decodes it outside any lock they take.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/simulated_track.h"

namespace qarn2::engine {

class PortRecorder;

class LiveTrackLog {
 public:
  // The most entries kept; the oldest drop out beyond it (about 10 to 20 MB).
  static constexpr std::size_t kMaxEntries = sim::SimulatedTrack::kMaxLogEntries;
  // The most entries one call of Since gives (and notes it decodes): a poll stays well
  // below a millisecond or two, whatever piled up before it.
  static constexpr std::size_t kMaxPerPoll = 2000;

  explicit LiveTrackLog(sim::SimulatedTrack& track);
  explicit LiveTrackLog(PortRecorder& recorder);
  LiveTrackLog(const LiveTrackLog&) = delete;
  LiveTrackLog& operator=(const LiveTrackLog&) = delete;

  // The entries logged since the last poll, oldest first. Entries are numbered from 0
  // as they are logged; `next` is the number of the first one wanted (0 at the start)
  // and comes back as the number after the last one given. At most kMaxPerPoll come at
  // once: when as many came, call again for the rest (or wait for the next poll).
  // `lost` (if given) is set to how many entries from `next` on had dropped out of the
  // log before they could be given; entries removed by Clear are not counted.
  std::vector<sim::TrackLogEntry> Since(std::uint64_t& next, std::uint64_t* lost = nullptr);

  // Empties the log; the numbers go on, so a reader's `next` stays valid.
  void Clear();

  // Every entry still in the log, oldest first. Copying a full log takes some 20 ms:
  // not for the user-interface thread while a command runs (Since is).
  std::vector<sim::TrackLogEntry> Entries();

 private:
  sim::SimulatedTrack* track_ = nullptr;
  PortRecorder* recorder_ = nullptr;
};

}  // namespace qarn2::engine
