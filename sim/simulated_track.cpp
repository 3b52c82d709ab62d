#include "sim/simulated_track.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "encoding/hex_text.h"

namespace qarn2::sim {
namespace {

using serial::EventWait;
using serial::TComEvents;

}  // namespace

std::string FormatLogEntry(const TrackLogEntry& entry) {
  static const char* const kKinds[] = {"packet", "bad packet", "break", "acknowledge",
                                       "power", "lgb", "station"};
  char time[32];
  std::snprintf(time, sizeof time, "%10.3f ms",
                std::chrono::duration<double, std::milli>(entry.time).count());
  std::string line = std::string(time) + "  " + kKinds[entry.kind];
  if (!entry.bytes.empty()) line += "  " + encoding::ToHex(entry.bytes);
  if (!entry.text.empty()) line += "  " + entry.text;
  return line;
}

// The serial port's side of the cable for one opening. Characters written go out one
// after the other at the line's rate through a FIFO like a 16550's: a write is
// complete, and transmit-empty comes, when its last character has entered the FIFO.
class SimulatedTrack::SimDevice : public serial::SerialDevice, public TimedSource {
 public:
  explicit SimDevice(SimulatedTrack& track) : track_(track) { track_.clock_.Attach(this); }
  ~SimDevice() override {
    Close();
    track_.clock_.Detach(this);
  }

  int Open(const std::string&) override {
    auto lock = track_.Lock();
    if (track_.open_device_ != nullptr) return EBUSY;
    track_.open_device_ = this;
    open_ = true;
    // Opening the port resets a station's board (DTR): it boots once the line runs
    // at its rate.
    opened_at_ = track_.clock_.Now();
    station_restart_due_ = true;
    return 0;
  }

  void Close() override {
    auto lock = track_.Lock();
    if (!open_) return;
    DropQueues();
    cancelled_ = true;
    open_ = false;
    if (track_.powered_) SetPower(false);
    track_.open_device_ = nullptr;
    changed_.notify_all();
  }

  int SetQueueSizes(int, int) override { return Usable(); }
  int SetTimeouts(const serial::TimeoutValues&) override { return Usable(); }

  int SetLineSettings(const serial::LineSettings& settings) override {
    auto lock = track_.Lock();
    if (int error = Usable()) return error;
    if (settings.baud_rate <= 0) return EINVAL;
    settings_ = settings;
    if (station_restart_due_ && AtStationRate()) {
      station_restart_due_ = false;
      for (TimedReply& reply : track_.station_.Restart(opened_at_)) {
        arrivals_.push_back({reply.time, std::move(reply.text), true});
      }
      TakeStationLog();
      lock.unlock();
      track_.clock_.Reschedule();
    }
    return 0;
  }

  int StartWrite(std::shared_ptr<serial::WriteJob> job) override {
    auto lock = track_.Lock();
    if (int error = Usable()) return error;
    if (track_.clock_.IsVirtual()) {
      serial::WriteJob* waited = job.get();
      job->SetWaitDriver([this, waited] { track_.clock_.Drive([waited] { return waited->done(); }); });
    }
    if (job->ahead()) DropBeyondFifo();
    const std::string& data = job->data();
    const bool line_was_idle = pending_.empty();
    for (std::size_t i = 0; i < data.size(); ++i) {
      pending_.push_back({static_cast<std::uint8_t>(data[i]), i + 1 == data.size() ? job : nullptr});
    }
    if (line_was_idle) next_start_ = std::max(track_.clock_.Now(), line_free_);
    if (!data.empty()) untold_ = true;
    CompleteJobsInFifo();
    lock.unlock();
    track_.clock_.Reschedule();
    return 0;
  }

  int Read(char* buffer, int max, int& got) override {
    auto lock = track_.Lock();
    if (int error = Usable()) return error;
    got = std::min<int>(max, static_cast<int>(rx_.size()));
    std::copy_n(rx_.begin(), got, buffer);
    rx_.erase(0, got);
    return 0;
  }

  int RxQueueCount(int& count) override {
    auto lock = track_.Lock();
    if (int error = Usable()) return error;
    count = static_cast<int>(rx_.size());
    return 0;
  }

  int Purge() override {
    auto lock = track_.Lock();
    if (int error = Usable()) return error;
    DropQueues();
    return 0;
  }

  int SetDTR(bool on) override {
    auto lock = track_.Lock();
    if (int error = Usable()) return error;
    // A station's port raises DTR for the station's sake, not as track power.
    if (AtStationRate()) return 0;
    if (on != track_.powered_) SetPower(on);
    return 0;
  }

  int SetRTS(bool) override { return Usable(); }  // the track ignores RTS

  int ReadModemLines(serial::ModemLines& lines) override {
    auto lock = track_.Lock();
    if (int error = Usable()) return error;
    const SimTime now = track_.clock_.Now();
    lines = {};
    lines.ring = std::any_of(pulses_.begin(), pulses_.end(),
                             [now](const Pulse& p) { return p.start <= now && now < p.end; });
    return 0;
  }

  int SetEventMask(TComEvents events) override {
    auto lock = track_.Lock();
    mask_ = events;
    cancelled_ = false;
    return 0;
  }

  EventWait WaitEvents() override {
    std::unique_lock lock(track_.mutex_);
    if (in_flight_) {
      // Back from handing over the batch taken last: the events that came meanwhile
      // make the next one, taken at once.
      in_flight_ = false;
      taken_ = next_;
      taken_rings_ = next_rings_;
      next_ = {};
      next_rings_ = 0;
    }
    waiting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return cancelled_ || !(released_ & mask_).Empty(); });
    waiting_ = false;
    EventWait result;
    if (cancelled_) {
      result.outcome = EventWait::kCancelled;
    } else {
      result.events = released_ & mask_;
      released_ = TComEvents::FromBits(released_.Bits() & ~result.events.Bits());
      if (result.events.Has(serial::evRing)) {
        result.rings = released_rings_;
        released_rings_ = 0;
      }
    }
    return result;
  }

  void CancelWaitEvents() override {
    auto lock = track_.Lock();
    cancelled_ = true;
    changed_.notify_all();
  }

  // --- Simulated time.

  SimTime NextDue() override {
    auto lock = track_.Lock();
    SimTime due = kNever;
    if (!pending_.empty()) due = next_start_;
    for (const Pulse& p : pulses_) due = std::min(due, p.raised ? p.end : p.start);
    for (const Arrival& a : arrivals_) due = std::min(due, a.time);
    return due;
  }

  void RunDue(SimTime now) override {
    auto lock = track_.Lock();
    while (!pending_.empty() && next_start_ <= now) SendNextCharacter();
    RunPulses(now);
    while (!arrivals_.empty() && arrivals_.front().time <= now) {
      if (arrivals_.front().from_station) {
        std::string shown = arrivals_.front().text;
        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
        Note(arrivals_.front().time, TrackLogEntry::kStation, {}, "from the station: " + shown);
      }
      rx_ += arrivals_.front().text;
      arrivals_.pop_front();
      Raise(TComEvents{serial::evRxChar});
    }
  }

  // --- Events on virtual time.

  // Lets the batch the event thread has taken go to it; false when there is none.
  bool ReleaseBatch() {
    if (taken_.Empty() || in_flight_) return false;
    released_ = taken_;
    released_rings_ = taken_rings_;
    taken_ = {};
    taken_rings_ = 0;
    in_flight_ = true;
    changed_.notify_all();
    return true;
  }
  bool Raised() const { return !taken_.Empty() && !in_flight_; }
  bool Settled() const { return !in_flight_ && (waiting_ || cancelled_); }

 private:
  struct Outgoing {
    std::uint8_t c;
    std::shared_ptr<serial::WriteJob> job;  // set on a job's last character
  };
  struct Pulse {
    SimTime start, end;
    bool raised = false;
  };
  struct Arrival {
    SimTime time;
    std::string text;
    bool from_station = false;
  };

  bool AtStationRate() const {
    return track_.options_.dccex && settings_.baud_rate == DccExStationModel::kBitRate && EightNOne();
  }

  int Usable() const { return open_ ? 0 : EBADF; }

  SimTime CharacterTime() const {
    const int bits = 1 + settings_.data_bits + (settings_.parity != serial::prNone ? 1 : 0) +
                     (settings_.stop_bits == serial::sbOneStopBit ? 1 : 2);
    return SimTime(std::chrono::seconds(1)) * bits / settings_.baud_rate;
  }
  SimTime BitTime() const { return SimTime(std::chrono::seconds(1)) / settings_.baud_rate; }
  bool EightNOne() const {
    return settings_.data_bits == 8 && settings_.parity == serial::prNone &&
           settings_.stop_bits == serial::sbOneStopBit;
  }

  void Note(SimTime time, TrackLogEntry::Kind kind, std::vector<std::uint8_t> bytes, std::string text) {
    std::vector<TrackLogEntry>& log = track_.log_;
    // The log of a program that runs for days must not grow for days: past its
    // bound the oldest fifth goes (a few minutes of a busy track).
    if (log.size() >= SimulatedTrack::kMaxLogEntries) {
      log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(SimulatedTrack::kMaxLogEntries / 5));
    }
    log.push_back({time, kind, std::move(bytes), std::move(text)});
    ++track_.logged_;
  }

  // On the wall clock the port's event thread takes events as they come. On virtual
  // time that is played the same way every run: an event finds the thread free and is
  // taken as a batch of its own at once, or joins the next batch, which the thread
  // takes when it is back from handing over the one before. The batches reach the
  // thread only when the user-interface thread lets them (ReleaseBatch), one at a
  // time, each a notification of its own for the waits.
  //
  // Rings are counted wherever they wait: each is an acknowledge of its own.
  void Raise(TComEvents events) {
    events = events & mask_;
    if (events.Empty()) return;
    const int rings = events.Has(serial::evRing) ? 1 : 0;
    if (!track_.clock_.IsVirtual()) {
      released_ = released_ | events;
      released_rings_ += rings;
      changed_.notify_all();
    } else if (taken_.Empty() && !in_flight_) {
      taken_ = events;
      taken_rings_ = rings;
    } else {
      next_ = next_ | events;
      next_rings_ += rings;
    }
  }

  // The characters among the first `fifo` still to go out have entered the FIFO: a
  // job whose last one has is complete. Transmit-empty comes once per run of writes,
  // when what is not yet in the FIFO is short.
  void CompleteJobsInFifo() {
    const std::size_t in_fifo = std::min(pending_.size(), track_.options_.fifo);
    for (std::size_t i = 0; i < in_fifo; ++i) {
      if (pending_[i].job && !pending_[i].job->done()) {
        pending_[i].job->Complete(static_cast<int>(pending_[i].job->data().size()), 0);
      }
    }
    const SimTime beyond = CharacterTime() * static_cast<long long>(pending_.size() - in_fifo);
    if (untold_ && beyond <= track_.options_.refill_ahead) {
      untold_ = false;
      Raise(TComEvents{serial::evTxEmpty});
    }
  }

  void SendNextCharacter() {
    const Outgoing out = pending_.front();
    pending_.pop_front();
    const SimTime start = next_start_;
    line_free_ = start + CharacterTime();
    next_start_ = line_free_;
    CompleteJobsInFifo();
    const bool dcc = settings_.baud_rate == 19200 && EightNOne();
    if (settings_.baud_rate == 9600 && track_.options_.lgb) {
      ToInterface(line_free_, out.c);
    } else if (AtStationRate()) {
      ToStation(line_free_, out.c);
    } else if (track_.options_.track && track_.powered_) {
      track_.receiver_.Character(start, out.c, BitTime(), dcc);
      TakeTrackEvents();
    }
  }

  void TakeTrackEvents() {
    for (TrackEvent& event : track_.receiver_.Take()) {
      switch (event.kind) {
        case TrackEvent::kPacket: {
          DecoderModel::Reaction reaction =
              track_.decoder_.OnPacket(event.time, event.bytes, {event.preamble, event.after_idle});
          if (reaction.acknowledge && AcknowledgeLost()) {
            reaction.acknowledge = false;
            reaction.meaning += " (acknowledge lost)";
          }
          Note(event.time, TrackLogEntry::kPacket, event.bytes, reaction.meaning);
          if (reaction.acknowledge) {
            const SimTime start = event.time + track_.options_.ack_delay + reaction.acknowledge_after;
            pulses_.push_back({start, start + track_.options_.decoder.ack_pulse});
          }
          break;
        }
        case TrackEvent::kBadPacket:
          Note(event.time, TrackLogEntry::kBadPacket, event.bytes, event.problem);
          break;
        case TrackEvent::kBreak:
          Note(event.time, TrackLogEntry::kBreak, event.bytes, event.problem);
          break;
      }
    }
  }

  bool AcknowledgeLost() {
    if (track_.options_.ack_loss <= 0.0) return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(track_.ack_loss_draws_) < track_.options_.ack_loss;
  }

  void ToInterface(SimTime received, std::uint8_t c) {
    for (const auto& reply : track_.lgb_.OnCharacters(received, std::string(1, static_cast<char>(c)))) {
      arrivals_.push_back({reply.time, reply.text});
    }
    for (const auto& entry : track_.lgb_.TakeLog()) Note(entry.time, TrackLogEntry::kLgb, {}, entry.text);
    std::stable_sort(arrivals_.begin(), arrivals_.end(),
                     [](const Arrival& a, const Arrival& b) { return a.time < b.time; });
  }

  // The station takes a command when its '>' has come; the log shows the command
  // whole, as the station understood it.
  void ToStation(SimTime received, std::uint8_t c) {
    for (auto& reply : track_.station_.OnCharacters(received, std::string(1, static_cast<char>(c)))) {
      arrivals_.push_back({reply.time, std::move(reply.text), true});
    }
    TakeStationLog();
    std::stable_sort(arrivals_.begin(), arrivals_.end(),
                     [](const Arrival& a, const Arrival& b) { return a.time < b.time; });
  }
  void TakeStationLog() {
    for (const auto& entry : track_.station_.TakeLog()) {
      Note(entry.time, TrackLogEntry::kStation, {}, entry.text);
    }
  }

  // An acknowledge is one pulse on the ring input: one ring at its rising edge.
  void RunPulses(SimTime now) {
    for (Pulse& p : pulses_) {
      if (!p.raised && p.start <= now) {
        p.raised = true;
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(track_.options_.decoder.ack_pulse).count();
        Note(p.start, TrackLogEntry::kAcknowledge, {}, std::to_string(ms) + " ms pulse on RI");
        Raise(TComEvents{serial::evRing});
      }
    }
    pulses_.erase(std::remove_if(pulses_.begin(), pulses_.end(),
                                 [now](const Pulse& p) { return p.raised && p.end <= now; }),
                  pulses_.end());
  }

  void SetPower(bool on) {
    const SimTime now = track_.clock_.Now();
    track_.powered_ = on;
    Note(now, TrackLogEntry::kPower, {}, on ? "track power on" : "track power off");
    if (on) {
      track_.decoder_.PowerOn(now);
    } else {
      track_.receiver_.PowerOff(now);
      TakeTrackEvents();
      track_.decoder_.PowerOff(now);
      // A decoder without power draws no current: no acknowledge begins, and one on
      // the line ends.
      pulses_.erase(std::remove_if(pulses_.begin(), pulses_.end(), [](const Pulse& p) { return !p.raised; }),
                    pulses_.end());
      for (Pulse& p : pulses_) p.end = std::min(p.end, now);
    }
  }

  // What is queued beyond the FIFO goes (a job ahead of it was started); the FIFO's
  // characters still go out.
  void DropBeyondFifo() {
    const std::size_t in_fifo = std::min(pending_.size(), track_.options_.fifo);
    for (std::size_t i = in_fifo; i < pending_.size(); ++i) {
      if (pending_[i].job && !pending_[i].job->done()) pending_[i].job->Complete(0, ECANCELED);
    }
    pending_.resize(in_fifo);
  }

  void DropQueues() {
    for (Outgoing& out : pending_) {
      if (out.job && !out.job->done()) out.job->Complete(0, ECANCELED);
    }
    pending_.clear();
    untold_ = false;
    rx_.clear();
  }

  SimulatedTrack& track_;
  std::condition_variable_any changed_;
  bool open_ = false;
  serial::LineSettings settings_;
  std::deque<Outgoing> pending_;  // written, not yet on the line; the first `fifo` in the FIFO
  bool untold_ = false;           // written since the last transmit-empty
  SimTime next_start_{};          // when the next character starts
  SimTime line_free_{};           // end of the last character's stop bit
  std::vector<Pulse> pulses_;
  std::deque<Arrival> arrivals_;  // replies of the LGB interface or the station on their way
  SimTime opened_at_{};            // when this opening began
  bool station_restart_due_ = false;  // the station has not yet booted for this opening
  std::string rx_;
  TComEvents mask_;
  TComEvents released_;  // visible to WaitEvents
  int released_rings_ = 0;  // the rings among each set of events
  int taken_rings_ = 0;
  int next_rings_ = 0;
  // Virtual time only: the batch the event thread has taken, whether it is on its way
  // to the user-interface thread, and the events that make the batch after it.
  TComEvents taken_;
  bool in_flight_ = false;
  TComEvents next_;
  bool cancelled_ = false;
  bool waiting_ = false;
};

SimulatedTrack::SimulatedTrack(SimClock& clock, Options options)
    : clock_(clock),
      options_(options),
      lgb_(decoder_),
      station_(decoder_,
               [this] {
                 return options_.ack_loss > 0.0 &&
                        std::uniform_real_distribution<double>(0.0, 1.0)(ack_loss_draws_) < options_.ack_loss;
               }),
      ack_loss_draws_(options.ack_loss_seed) {
  decoder_.SetTraits(options.decoder);
}

SimulatedTrack::~SimulatedTrack() = default;

std::unique_ptr<serial::SerialDevice> SimulatedTrack::MakeDevice() {
  return std::make_unique<SimDevice>(*this);
}

void SimulatedTrack::SetMinPreamble(std::size_t bits) {
  auto lock = Lock();
  receiver_.SetMinPreamble(bits);
}

bool SimulatedTrack::Powered() const {
  std::lock_guard lock(mutex_);
  return powered_;
}

std::vector<TrackLogEntry> SimulatedTrack::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void SimulatedTrack::ClearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
  cleared_through_ = logged_;
}

std::vector<TrackLogEntry> SimulatedTrack::LogSince(std::uint64_t& next, std::size_t max,
                                                    std::uint64_t& lost) const {
  std::lock_guard lock(mutex_);
  const std::uint64_t first = logged_ - log_.size();
  next = std::clamp(next, cleared_through_, logged_);
  lost = next < first ? first - next : 0;
  next += lost;
  const auto from = log_.begin() + static_cast<std::ptrdiff_t>(next - first);
  const auto count = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(max, logged_ - next));
  next += static_cast<std::uint64_t>(count);
  return std::vector<TrackLogEntry>(from, from + count);
}

void SimulatedTrack::ReleaseEvents() {
  std::lock_guard lock(mutex_);
  if (open_device_ != nullptr) open_device_->ReleaseBatch();
}

bool SimulatedTrack::EventsRaised() const {
  std::lock_guard lock(mutex_);
  return open_device_ != nullptr && open_device_->Raised();
}

bool SimulatedTrack::EventsSettled() const {
  std::lock_guard lock(mutex_);
  return open_device_ == nullptr || open_device_->Settled();
}

}  // namespace qarn2::sim
