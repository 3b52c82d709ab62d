#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "serial/serial_device.h"
#include "sim/dccex_station_model.h"
#include "sim/decoder_model.h"
#include "sim/decoder_traits.h"
#include "sim/lgb_interface_model.h"
#include "sim/sim_clock.h"
#include "sim/track_receiver.h"

namespace qarn2::sim {

// One line of the track's log.
struct TrackLogEntry {
  enum Kind { kPacket, kBadPacket, kBreak, kAcknowledge, kPower, kLgb, kStation };
  SimTime time{};
  Kind kind = kPacket;
  std::vector<std::uint8_t> bytes;
  std::string text;  // what it meant, or what was wrong
};

std::string FormatLogEntry(const TrackLogEntry& entry);

// The hardware on the far side of the cable: a booster with a decoder on the
// programming track at 19200 bit/s, the LGB interface at 9600 bit/s and a DCC-EX
// station at 115200 bit/s, all backed by one decoder. The port opens it through MakeDevice (one device per opening); the
// track, its decoder and its log live on between openings.
class SimulatedTrack {
 public:
  struct Options {
    bool track = true;           // answers as the track at 19200 8N1
    bool lgb = true;             // answers as the LGB interface at 9600 8N1
    bool dccex = true;           // answers as a DCC-EX station at 115200 8N1
    std::size_t fifo = 16;       // transmit FIFO of the simulated UART, characters
    // Transmit-empty comes once the characters not yet in the FIFO last no longer than
    // this (0: once all are in it).
    SimTime refill_ahead = serial::kTransmitRefillAhead;
    SimTime ack_delay = std::chrono::microseconds(500);  // packet end to pulse start
    // How the decoder behaves (--sim-trait); the pulse's length among it.
    DecoderTraits decoder;
    // The chance that an acknowledge the decoder gives never reaches the port (a
    // weak one, as sound decoders give), drawn from a generator seeded with
    // `ack_loss_seed`, so that a run can be repeated.
    double ack_loss = 0.0;
    std::uint64_t ack_loss_seed = 1;
  };

  explicit SimulatedTrack(SimClock& clock) : SimulatedTrack(clock, Options{}) {}
  SimulatedTrack(SimClock& clock, Options options);
  ~SimulatedTrack();

  std::unique_ptr<serial::SerialDevice> MakeDevice();

  // The models, for set-up and checks. Lock() while the port may be running.
  DecoderModel& Decoder() { return decoder_; }
  LgbInterfaceModel& Lgb() { return lgb_; }
  DccExStationModel& Station() { return station_; }
  std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }
  void SetMinPreamble(std::size_t bits);
  bool Powered() const;

  // What the track received, oldest first: at most kMaxLogEntries (about 10 MB), the
  // oldest dropped beyond that.
  static constexpr std::size_t kMaxLogEntries = 100000;
  std::vector<TrackLogEntry> Log() const;
  void ClearLog();
  // The log taken a part at a time. Entries are numbered from 0 as they are logged and
  // keep their numbers when older ones drop out or are cleared. Returns the entries
  // from number `next` on, oldest first, at most `max` of them, and sets `next` to the
  // number after the last one returned. `lost`: how many from `next` on had dropped
  // out before they were taken (those cleared by ClearLog are skipped, not counted).
  std::vector<TrackLogEntry> LogSince(std::uint64_t& next, std::size_t max, std::uint64_t& lost) const;

  // On virtual time the port's event thread gets its batches of events only when the
  // user-interface thread lets them through, one batch at a time, so that every run
  // goes alike: lets the next one through (if any).
  void ReleaseEvents();
  // No batch is on its way, and the event thread waits for more.
  bool EventsSettled() const;
  // A batch of events waits to be let through.
  bool EventsRaised() const;

  SimClock& Clock() { return clock_; }

 private:
  friend class SimDevice;
  class SimDevice;

  SimClock& clock_;
  const Options options_;
  mutable std::recursive_mutex mutex_;
  DecoderModel decoder_;
  LgbInterfaceModel lgb_;
  DccExStationModel station_;
  TrackReceiver receiver_;
  std::vector<TrackLogEntry> log_;
  std::uint64_t logged_ = 0;           // entries ever logged: the next one's number
  std::uint64_t cleared_through_ = 0;  // the entries below this number were cleared
  std::mt19937_64 ack_loss_draws_;
  bool powered_ = false;
  SimDevice* open_device_ = nullptr;
};

}  // namespace qarn2::sim
