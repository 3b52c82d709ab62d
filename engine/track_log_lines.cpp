#include "engine/track_log_lines.h"

#include <optional>
#include <utility>

namespace qarn2::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::TrackLogEntry;

bool CheckByteRight(const Bytes& bytes) {
  std::uint8_t check = 0;
  for (std::uint8_t byte : bytes) check ^= byte;
  return bytes.size() >= 3 && check == 0;
}

bool Is(const Bytes& bytes, std::uint8_t first) {
  return bytes.size() == 3 && bytes[0] == first && bytes[1] == 0x00 && bytes[2] == first;
}

// A locomotive's packet that the try-out repeats, one instruction and nothing more:
// its address (the long form above 0xFFFF) and the kind of instruction in the lowest
// byte, which the next packet of the same kind to the same address replaces. Nothing
// for any other packet.
std::optional<std::uint32_t> RefreshedKind(const Bytes& bytes) {
  const std::size_t size = bytes.size() - 1;  // without the check byte
  const std::uint8_t first = bytes[0];
  std::size_t address_bytes = 0;
  if (first >= 0x01 && first <= 0x7F) address_bytes = 1;
  if (first >= 0xC0 && first <= 0xE7) address_bytes = 2;
  if (address_bytes == 0 || size <= address_bytes) return std::nullopt;
  const std::uint8_t code = bytes[address_bytes];
  std::uint32_t kind = 0;
  std::size_t length = 1;
  if ((code & 0xC0) == 0x40 || code == 0x3F) {  // speed and direction: 14/28 steps, 128 steps
    kind = 0x40;
    length = code == 0x3F ? 2 : 1;
  } else if ((code & 0xE0) == 0x80) {  // FL, F1-F4
    kind = 0x80;
  } else if ((code & 0xE0) == 0xA0) {  // F5-F8, F9-F12
    kind = code & 0xF0;
  } else if (code == 0xDE || code == 0xDF) {  // F13-F20, F21-F28
    kind = code;
    length = 2;
  } else {
    return std::nullopt;
  }
  if (size != address_bytes + length) return std::nullopt;
  const std::uint32_t address = address_bytes == 1 ? first : 0x10000u | (first & 0x3Fu) << 8 | bytes[1];
  return address << 8 | kind;
}

bool Continues(const TrackLogLine& line, const TrackLogEntry& entry) {
  return line.background && line.entry->kind == entry.kind && line.entry->bytes == entry.bytes &&
         line.entry->text == entry.text;
}

}  // namespace

std::string FormatLogLine(const TrackLogLine& line) {
  std::string text = sim::FormatLogEntry(*line.entry);
  if (line.count > 1) text += " \u00D7" + std::to_string(line.count);
  return text;
}

bool TrackLogCollapser::IsBackground(const TrackLogEntry& entry) {
  if (entry.kind == TrackLogEntry::kPower) last_sent_.clear();
  if (entry.kind != TrackLogEntry::kPacket || !CheckByteRight(entry.bytes)) return false;
  if (Is(entry.bytes, 0x00)) {
    last_sent_.clear();
    return entry.text == "reset";
  }
  if (Is(entry.bytes, 0xFF)) return entry.text == "idle";
  if (entry.text.rfind("ops: loco ", 0) != 0) return false;
  const std::optional<std::uint32_t> kind = RefreshedKind(entry.bytes);
  if (!kind) return false;
  Bytes& last = last_sent_[*kind];
  const bool repeated = last == entry.bytes;
  last = entry.bytes;
  // As the decoder took it, with no note ("[leaves service mode]").
  return repeated && entry.text.find('[') == std::string::npos;
}

void TrackLogCollapser::Add(TrackLogEntry entry, std::deque<TrackLogLine>& lines) {
  const bool background = IsBackground(entry);
  if (background && run_open_ && !lines.empty() && Continues(lines.back(), entry)) {
    ++lines.back().count;
    return;
  }
  lines.push_back({std::make_shared<const TrackLogEntry>(std::move(entry)), 1, background});
  run_open_ = true;
}

std::deque<TrackLogLine> CollapseLog(std::vector<TrackLogEntry> entries) {
  std::deque<TrackLogLine> lines;
  TrackLogCollapser collapser;
  for (TrackLogEntry& entry : entries) collapser.Add(std::move(entry), lines);
  return lines;
}

}  // namespace qarn2::engine
