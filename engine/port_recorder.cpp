#include "engine/port_recorder.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <mutex>
#include <utility>

#include "encoding/hex_text.h"
#include "encoding/packet_meaning.h"
#include "encoding/stream_decoder.h"

namespace qarn2::engine {
namespace {

using sim::SimTime;
using sim::TrackLogEntry;

// One character at 19200 bit/s 8N1: start bit, 8 data bits, stop bit.
constexpr double kCharacterTimeUs = 10 * encoding::kSerialBitTimeUs;

// How far the line may run behind the writes. The port asks for more characters once
// what it holds lasts less than 40 ms, and a UART's FIFO holds a few ms: on a real line
// a write starts within this of being made. A device that takes characters faster than
// the line (a pseudo-terminal, an adapter with a large buffer) would otherwise run the
// times off ever further.
constexpr SimTime kMaxLineLag = std::chrono::milliseconds(200);

// A write ahead of the queued background follows what the UART's FIFO still holds.
constexpr std::size_t kFifoCharacters = 16;

SimTime AfterCharacters(SimTime start, std::size_t characters) {
  return start + std::chrono::duration_cast<SimTime>(std::chrono::duration<double, std::micro>(
                     static_cast<double>(characters) * kCharacterTimeUs));
}

// The packets of one write. Packets with the short preamble of operations mode are
// taken too: the background stream and try-outs use them.
void DecodeWrite(SimTime start, const std::string& data, std::vector<TrackLogEntry>& entries) {
  const encoding::StreamDecode decoded = encoding::DecodeSerialStream(data, false);
  const encoding::DccBits bits = encoding::DccBitsOf(encoding::LineRunsOf(data));
  for (const encoding::DecodedPacket& packet : decoded.packets) {
    const std::size_t character =
        packet.start_bit < bits.bits.size() ? bits.bits[packet.start_bit].char_index : 0;
    entries.push_back({AfterCharacters(start, character), TrackLogEntry::kPacket, packet.bytes,
                       encoding::PacketMeaning(packet.bytes, packet.preamble)});
  }
  if (decoded.error && decoded.error->kind != encoding::StreamErrorKind::kWrongCheckByte) {
    entries.push_back({AfterCharacters(start, decoded.error->char_index), TrackLogEntry::kBadPacket,
                       {}, decoded.error->message});
  }
}

// A station's text as the log shows it: line ends as "\n", other control and
// non-ASCII bytes as "\xHH".
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte >= 0x7F) {
      out += "\\x" + encoding::HexByte(byte);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

struct PortRecorder::Record {
  explicit Record(Clock clock) : now(std::move(clock)) {}

  // The data is copied by the caller, outside the lock.
  void NoteWrite(std::string data, bool ahead) {
    std::lock_guard lock(mutex);
    if (above_track_rate) {
      // A DCC-EX station's text commands, shown as text.
      Add({{now(), TrackLogEntry::kStation, {}, "to the station: " + Printable(data)}, {}, false});
      return;
    }
    if (below_track_rate) {
      // Not a track signal: the LGB interface's messages, shown as they are.
      Add({{now(), TrackLogEntry::kLgb, {}, "to the interface: " + encoding::ToHex(data)}, {}, false});
      return;
    }
    Add({{now(), TrackLogEntry::kPacket, {}, {}}, std::move(data), true, ahead});
  }
  void NoteRead(const char* data, int count) {
    if (count <= 0) return;
    const std::string_view got(data, static_cast<std::size_t>(count));
    std::lock_guard lock(mutex);
    if (above_track_rate) {
      Add({{now(), TrackLogEntry::kStation, {}, "from the station: " + Printable(got)}, {}, false});
      return;
    }
    Add({{now(), TrackLogEntry::kLgb, {}, "from the interface: " + encoding::ToHex(got)}, {}, false});
  }
  bool AboveTrackRate() {
    std::lock_guard lock(mutex);
    return above_track_rate;
  }
  void Note(TrackLogEntry::Kind kind, std::string text) {
    std::lock_guard lock(mutex);
    Add({{now(), kind, {}, std::move(text)}, {}, false});
  }

  // A line change or ring as it will be shown, or a write still to be decoded.
  struct Noted {
    TrackLogEntry entry;
    std::string written;
    bool is_write = false;
    bool ahead = false;  // written ahead of the queued background
  };
  // Under `mutex`. Past the bound (nobody has read the record for long) the oldest
  // note goes undecoded.
  void Add(Noted note) {
    if (notes.size() >= kMaxEntries) {
      notes.pop_front();
      ++dropped;
    }
    notes.push_back(std::move(note));
  }

  const Clock now;
  std::mutex mutex;  // the event thread notes rings, the user-interface thread the rest
  bool below_track_rate = false;  // the port runs slower than the track's 19200 bit/s
  bool above_track_rate = false;  // ... faster: a DCC-EX station's text
  std::deque<Noted> notes;        // not yet decoded, in the order they happened
  std::uint64_t dropped = 0;      // notes dropped undecoded since the record was last read
};

// Hands every call on to the device it wraps and notes what matters for the trace.
class PortRecorder::RecordingDevice : public serial::ForwardingDevice {
 public:
  RecordingDevice(std::unique_ptr<serial::SerialDevice> device, std::shared_ptr<Record> record)
      : ForwardingDevice(std::move(device)), record_(std::move(record)) {}

  int SetLineSettings(const serial::LineSettings& settings) override {
    const int error = ForwardingDevice::SetLineSettings(settings);
    if (error == 0) {
      std::lock_guard lock(record_->mutex);
      record_->below_track_rate = settings.baud_rate < 19200;
      record_->above_track_rate = settings.baud_rate > 19200;
    }
    return error;
  }
  int StartWrite(std::shared_ptr<serial::WriteJob> job) override {
    std::string data = job ? job->data() : std::string();
    const bool ahead = job && job->ahead();
    const int error = ForwardingDevice::StartWrite(std::move(job));
    if (error == 0) record_->NoteWrite(std::move(data), ahead);
    return error;
  }
  int Read(char* buffer, int max, int& got) override {
    const int error = ForwardingDevice::Read(buffer, max, got);
    if (error == 0) record_->NoteRead(buffer, got);
    return error;
  }
  int SetDTR(bool on) override {
    const int error = ForwardingDevice::SetDTR(on);
    if (error == 0) {
      // A station's DTR is no track power: it only restarts the board when raised.
      const bool station = record_->AboveTrackRate();
      record_->Note(TrackLogEntry::kPower, station ? (on ? "DTR on" : "DTR off")
                                           : on  ? "DTR on: track power on"
                                                 : "DTR off: track power off");
    }
    return error;
  }
  int SetRTS(bool on) override {
    const int error = ForwardingDevice::SetRTS(on);
    if (error == 0) record_->Note(TrackLogEntry::kPower, on ? "RTS on" : "RTS off");
    return error;
  }
  serial::EventWait WaitEvents() override {
    serial::EventWait wait = ForwardingDevice::WaitEvents();
    if (wait.outcome == serial::EventWait::kEvents && wait.events.Has(serial::evRing)) {
      for (int i = 0; i < std::max(1, wait.rings); ++i) record_->Note(TrackLogEntry::kAcknowledge, "ring on RI");
    }
    return wait;
  }

 private:
  std::shared_ptr<Record> record_;
};


PortRecorder::PortRecorder()
    : PortRecorder([start = std::chrono::steady_clock::now()] {
        return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - start);
      }) {}

PortRecorder::PortRecorder(Clock now) : record_(std::make_shared<Record>(std::move(now))) {}

serial::DeviceFactory PortRecorder::Wrap(serial::DeviceFactory make_device) {
  return [make_device = std::move(make_device),
          record = record_](const std::string& path) -> std::unique_ptr<serial::SerialDevice> {
    std::unique_ptr<serial::SerialDevice> device = make_device(path);
    if (!device) return device;
    return std::make_unique<RecordingDevice>(std::move(device), record);
  };
}

bool PortRecorder::Decode(std::size_t max_notes) const {
  std::vector<Record::Noted> taken;
  SimTime passed{};
  std::uint64_t dropped = 0;
  bool more = false;
  {
    std::lock_guard lock(record_->mutex);
    std::deque<Record::Noted>& notes = record_->notes;
    const auto end = notes.begin() + static_cast<std::ptrdiff_t>(std::min(max_notes, notes.size()));
    taken.assign(std::make_move_iterator(notes.begin()), std::make_move_iterator(end));
    notes.erase(notes.begin(), end);
    more = !notes.empty();
    // Whatever is noted later is noted at this time or after it.
    passed = more ? notes.front().entry.time : record_->now();
    dropped = std::exchange(record_->dropped, 0);
  }
  next_number_ += dropped;

  for (Record::Noted& note : taken) {
    if (note.is_write && note.ahead) {
      // Written ahead: what was queued before goes but for the FIFO's characters, and
      // its packets that would have begun later never reach the line.
      const SimTime start =
          std::max(note.entry.time, std::min(line_free_, AfterCharacters(note.entry.time, kFifoCharacters)));
      std::erase_if(held_, [start](const TrackLogEntry& e) {
        return e.time >= start && (e.kind == TrackLogEntry::kPacket || e.kind == TrackLogEntry::kBadPacket);
      });
      line_free_ = AfterCharacters(start, note.written.size());
      DecodeWrite(start, note.written, held_);
    } else if (note.is_write) {
      // The characters go out once the line has sent those written before them.
      const SimTime start = std::max(note.entry.time, std::min(line_free_, note.entry.time + kMaxLineLag));
      line_free_ = AfterCharacters(start, note.written.size());
      DecodeWrite(start, note.written, held_);
    } else {
      held_.push_back(std::move(note.entry));
    }
  }
  // A write's later packets may go out after things noted after the write began.
  std::stable_sort(held_.begin(), held_.end(),
                   [](const TrackLogEntry& a, const TrackLogEntry& b) { return a.time < b.time; });
  const auto due = std::upper_bound(held_.begin(), held_.end(), passed,
                                    [](SimTime time, const TrackLogEntry& e) { return time < e.time; });
  for (auto it = held_.begin(); it != due; ++it) {
    kept_.push_back({next_number_++, std::move(*it)});
    if (kept_.size() > kMaxEntries) kept_.pop_front();
  }
  held_.erase(held_.begin(), due);
  return more;
}

std::vector<TrackLogEntry> PortRecorder::Entries() const {
  std::lock_guard lock(decoded_mutex_);
  // A part at a time, so that the port's threads never wait long for the lock.
  constexpr std::size_t kNotesAtATime = 1000;
  while (Decode(kNotesAtATime)) {
  }
  std::vector<TrackLogEntry> entries;
  entries.reserve(kept_.size() + held_.size());
  for (const Numbered& kept : kept_) entries.push_back(kept.entry);
  entries.insert(entries.end(), held_.begin(), held_.end());
  return entries;
}

std::vector<TrackLogEntry> PortRecorder::Since(std::uint64_t& next, std::size_t max, std::uint64_t& lost) {
  std::lock_guard lock(decoded_mutex_);
  Decode(max);
  next = std::clamp(next, cleared_through_, next_number_);
  lost = 0;
  std::vector<TrackLogEntry> entries;
  auto it = std::lower_bound(kept_.begin(), kept_.end(), next,
                             [](const Numbered& kept, std::uint64_t number) { return kept.number < number; });
  for (; it != kept_.end() && entries.size() < max; ++it) {
    lost += it->number - next;
    next = it->number + 1;
    entries.push_back(it->entry);
  }
  // Numbers of notes dropped undecoded, with nothing kept after them yet.
  if (it == kept_.end() && next < next_number_) {
    lost += next_number_ - next;
    next = next_number_;
  }
  return entries;
}

void PortRecorder::Clear() {
  std::lock_guard lock(decoded_mutex_);
  std::deque<Record::Noted> notes;
  {
    std::lock_guard record_lock(record_->mutex);
    notes.swap(record_->notes);  // freed after the lock
    record_->dropped = 0;
  }
  kept_.clear();
  held_.clear();
  cleared_through_ = next_number_;
}

}  // namespace qarn2::engine
