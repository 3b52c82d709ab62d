#include "engine/port_recorder.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "encoding/hex_text.h"
#include "encoding/stream_decoder.h"

namespace qarn2::engine {
namespace {

using sim::SimTime;
using sim::TrackLogEntry;

// One character at 19200 bit/s 8N1: start bit, 8 data bits, stop bit.
constexpr double kCharacterTimeUs = 10 * encoding::kSerialBitTimeUs;

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
                       packet.check_right ? "" : "check byte wrong"});
  }
  if (decoded.error && decoded.error->kind != encoding::StreamErrorKind::kWrongCheckByte) {
    entries.push_back({AfterCharacters(start, decoded.error->char_index), TrackLogEntry::kBadPacket,
                       {}, decoded.error->message});
  }
}

}  // namespace

struct PortRecorder::Record {
  explicit Record(Clock clock) : now(std::move(clock)) {}

  void NoteWrite(const std::string& data) {
    std::lock_guard lock(mutex);
    if (below_track_rate) {
      // Not a track signal: the LGB interface's messages, shown as they are.
      notes.push_back({{now(), TrackLogEntry::kLgb, {}, "to the interface: " + encoding::ToHex(data)}, {}, false});
      return;
    }
    notes.push_back({{now(), TrackLogEntry::kPacket, {}, {}}, data, true});
  }
  void NoteRead(const char* data, int count) {
    if (count <= 0) return;
    std::lock_guard lock(mutex);
    notes.push_back({{now(), TrackLogEntry::kLgb, {}, "from the interface: " + encoding::ToHex(std::string(data, count))},
                     {},
                     false});
  }
  void Note(TrackLogEntry::Kind kind, std::string text) {
    std::lock_guard lock(mutex);
    notes.push_back({{now(), kind, {}, std::move(text)}, {}, false});
  }

  // A line change or ring as it will be shown, or a write still to be decoded.
  struct Noted {
    TrackLogEntry entry;
    std::string written;
    bool is_write = false;
  };
  const Clock now;
  mutable std::mutex mutex;  // the event thread notes rings
  bool below_track_rate = false;  // the port runs slower than the track's 19200 bit/s
  std::vector<Noted> notes;   // in the order they happened
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
    }
    return error;
  }
  int StartWrite(std::shared_ptr<serial::WriteJob> job) override {
    const std::string data = job ? job->data() : std::string();
    const int error = ForwardingDevice::StartWrite(std::move(job));
    if (error == 0) record_->NoteWrite(data);
    return error;
  }
  int Read(char* buffer, int max, int& got) override {
    const int error = ForwardingDevice::Read(buffer, max, got);
    if (error == 0) record_->NoteRead(buffer, got);
    return error;
  }
  int SetDTR(bool on) override {
    const int error = ForwardingDevice::SetDTR(on);
    if (error == 0) record_->Note(TrackLogEntry::kPower, on ? "DTR on: track power on" : "DTR off: track power off");
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

std::vector<TrackLogEntry> PortRecorder::Entries() const {
  std::vector<TrackLogEntry> entries;
  {
    std::lock_guard lock(record_->mutex);
    for (const Record::Noted& note : record_->notes) {
      if (note.is_write) {
        DecodeWrite(note.entry.time, note.written, entries);
      } else {
        entries.push_back(note.entry);
      }
    }
  }
  // A write's later packets may go out after things noted after the write began.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const TrackLogEntry& a, const TrackLogEntry& b) { return a.time < b.time; });
  return entries;
}

}  // namespace qarn2::engine
