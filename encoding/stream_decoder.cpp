#include "encoding/stream_decoder.h"

#include "encoding/hex_text.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace qarn2::encoding {
namespace {

// Microseconds with one decimal, halves rounded away from zero (156.25 -> "156.3").
std::string FormatUs(double us) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", std::round(us * 10.0) / 10.0);
  return text;
}


bool Within(double value, double low, double high) {
  return value >= low && value <= high;
}

// A stretch of one level after joining neighbouring runs of that level.
struct Stretch {
  bool mark = false;
  double duration_us = 0.0;
  std::size_t first_run = 0;
  std::size_t char_index = 0;
};

// Joins runs[*next], runs[*next + 1], ... while they have the same level.
Stretch NextStretch(std::span<const LineRun> runs, std::size_t* next) {
  Stretch stretch;
  stretch.mark = runs[*next].mark;
  stretch.first_run = *next;
  stretch.char_index = runs[*next].char_index;
  while (*next < runs.size() && runs[*next].mark == stretch.mark) {
    stretch.duration_us += runs[*next].duration_us;
    ++*next;
  }
  return stretch;
}

std::optional<BitErrorKind> JudgeHalvesOf(double space_us, double mark_us, char* value) {
  if (std::fabs(space_us - mark_us) > kMaxHalfDifferenceUs) {
    return BitErrorKind::kUnequalHalves;
  }
  if (Within(space_us, kOneHalfMinUs, kOneHalfMaxUs) &&
      Within(mark_us, kOneHalfMinUs, kOneHalfMaxUs)) {
    *value = '1';
    return std::nullopt;
  }
  if (Within(space_us, kZeroHalfMinUs, kZeroHalfMaxUs) &&
      Within(mark_us, kZeroHalfMinUs, kZeroHalfMaxUs)) {
    *value = '0';
    return std::nullopt;
  }
  return BitErrorKind::kHalfOutsideWindows;
}

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "bit 11 (character 3)": both counted from 1.
std::string WhereOnLine(std::size_t bit_index, std::size_t char_index) {
  return "bit " + std::to_string(bit_index + 1) + " (character " +
         std::to_string(char_index + 1) + ")";
}

std::string DescribeValidCharacter(const std::vector<DccBit>& bits,
                                   std::size_t char_index) {
  std::string values;
  std::string halves;
  for (const DccBit& bit : bits) {
    if (bit.char_index < char_index) continue;
    if (bit.char_index > char_index) break;
    values += bit.value;
    if (!halves.empty()) halves += ", ";
    halves += FormatUs(bit.space_us);
  }
  return "its timing is valid DCC, bits " + values + " with halves of " + halves +
         " us";
}

// The error of a character outside the alphabet. Every character with faulty timing
// is outside it, so this also carries the timing faults of a stream.
StreamError CharacterError(std::string_view stream, const DccBits& dcc,
                           std::size_t char_index) {
  const auto character = static_cast<unsigned char>(stream[char_index]);
  const bool timing_fault = dcc.error && dcc.error->char_index == char_index;
  StreamError error;
  error.kind = StreamErrorKind::kOutsideAlphabet;
  error.char_index = char_index;
  error.message = "character " + HexByte(character) + " at position " +
                  std::to_string(char_index + 1) + " is outside the alphabet: " +
                  (timing_fault ? DescribeBitError(*dcc.error)
                                : DescribeValidCharacter(dcc.bits, char_index));
  return error;
}

StreamError PacketStreamError(const PacketError& packet_error, const DccBits& dcc,
                              std::size_t min_preamble) {
  StreamError error;
  error.char_index = dcc.bits[packet_error.start_bit].char_index;
  const std::string where = WhereOnLine(packet_error.start_bit, error.char_index);
  switch (packet_error.kind) {
    case PacketErrorKind::kShortPreamble:
      error.kind = StreamErrorKind::kShortPreamble;
      error.message = "preamble of " + Plural(packet_error.preamble, "bit", "bits") +
                      " before the packet at " + where + ", at least " +
                      std::to_string(min_preamble) + " needed";
      break;
    case PacketErrorKind::kEndsInsidePacket:
      error.kind = StreamErrorKind::kEndsInsidePacket;
      error.message = "stream ends inside the packet that starts at " + where +
                      ", after " + Plural(packet_error.byte_count, "byte", "bytes");
      break;
    case PacketErrorKind::kTooFewBytes:
      error.kind = StreamErrorKind::kTooFewBytes;
      error.message = "packet at " + where + " has " +
                      Plural(packet_error.byte_count, "byte", "bytes") +
                      ", at least 2 needed";
      break;
  }
  return error;
}

StreamError WrongCheckError(const DecodedPacket& packet, const DccBits& dcc) {
  StreamError error;
  error.kind = StreamErrorKind::kWrongCheckByte;
  error.char_index = dcc.bits[packet.start_bit].char_index;
  const std::string bytes = ToHex(packet.bytes);
  std::uint8_t sum = 0;
  for (std::uint8_t byte : packet.bytes) sum ^= byte;
  error.message =
      "packet " + bytes + " at " + WhereOnLine(packet.start_bit, error.char_index) +
      " has a wrong check byte (XOR of all bytes is " + HexByte(sum) + ", not 00)";
  return error;
}

}  // namespace

std::vector<LineRun> LineRunsOf(std::string_view stream, double bit_time_us) {
  std::vector<LineRun> runs;
  runs.reserve(stream.size() * 6);
  for (std::size_t index = 0; index < stream.size(); ++index) {
    // Start bit (space), data bits 0..7, stop bit (mark): 10 bit times.
    const unsigned frame = (static_cast<unsigned char>(stream[index]) << 1) | (1u << 9);
    unsigned slot = 0;
    while (slot < 10) {
      const bool mark = ((frame >> slot) & 1u) != 0;
      unsigned length = 1;
      while (slot + length < 10 && (((frame >> (slot + length)) & 1u) != 0) == mark) {
        ++length;
      }
      runs.push_back({mark, length * bit_time_us, index});
      slot += length;
    }
  }
  return runs;
}

BitString DccBits::Text() const {
  BitString text;
  text.reserve(bits.size());
  for (const DccBit& bit : bits) text += bit.value;
  return text;
}

std::optional<BitErrorKind> JudgeHalves(double space_us, double mark_us, char& value) {
  return JudgeHalvesOf(space_us, mark_us, &value);
}

DccBits DccBitsOf(std::span<const LineRun> runs) {
  DccBits result;
  result.bits.reserve(runs.size() / 2 + 1);
  std::size_t next = 0;
  if (!runs.empty() && runs.front().mark) NextStretch(runs, &next);  // idle line
  while (next < runs.size()) {
    const Stretch space = NextStretch(runs, &next);  // level alternates: a space
    if (next == runs.size()) {
      result.error = BitError{BitErrorKind::kSpaceWithoutMark, space.first_run,
                              space.char_index, space.duration_us, 0.0};
      break;
    }
    const Stretch mark = NextStretch(runs, &next);
    char value = '1';
    if (auto fault = JudgeHalvesOf(space.duration_us, mark.duration_us, &value)) {
      result.error = BitError{*fault, space.first_run, space.char_index,
                              space.duration_us, mark.duration_us};
      break;
    }
    result.bits.push_back(
        {value, space.duration_us, mark.duration_us, space.char_index});
  }
  return result;
}

std::string DescribeBitError(const BitError& error) {
  const std::string space = FormatUs(error.space_us) + " us space";
  const std::string mark = FormatUs(error.mark_us) + " us mark";
  switch (error.kind) {
    case BitErrorKind::kUnequalHalves:
      return "halves of a bit unequal (" + space + ", " + mark + ")";
    case BitErrorKind::kHalfOutsideWindows:
      return "half-bit outside the DCC windows (" + space + ", " + mark +
             "; '1' needs 52..64 us, '0' 90..10000 us)";
    case BitErrorKind::kSpaceWithoutMark:
      return "line ends after a space half without its mark half (" + space + ")";
  }
  return "unknown bit error";
}

PacketDecode PacketsOf(std::string_view bits, std::size_t min_preamble) {
  for (char c : bits) {
    if (c != '0' && c != '1') {
      throw std::invalid_argument("PacketsOf: bits must be '0' or '1'");
    }
  }
  PacketDecode result;
  std::size_t ones = 0;
  std::size_t i = 0;
  while (i < bits.size()) {
    if (bits[i] == '1') {
      ++ones;
      ++i;
      continue;
    }
    DecodedPacket packet;
    packet.start_bit = i;
    packet.preamble = ones;
    if (ones < min_preamble) {
      result.error = PacketError{PacketErrorKind::kShortPreamble, i, ones, 0};
      return result;
    }
    ++i;  // the packet start bit
    for (;;) {
      // The bits stop inside a byte, or right after it before the bit that says
      // whether another byte follows.
      const bool whole_byte = bits.size() - i >= 8;
      if (whole_byte) {
        std::uint8_t byte = 0;
        for (int b = 0; b < 8; ++b) {
          byte = static_cast<std::uint8_t>((byte << 1) | (bits[i + b] == '1'));
        }
        packet.bytes.push_back(byte);
        i += 8;
      }
      if (!whole_byte || i == bits.size()) {
        result.error = PacketError{PacketErrorKind::kEndsInsidePacket, packet.start_bit,
                                   ones, packet.bytes.size()};
        return result;
      }
      const bool end_bit = bits[i] == '1';
      ++i;
      if (end_bit) break;
    }
    if (packet.bytes.size() < 2) {
      result.error = PacketError{PacketErrorKind::kTooFewBytes, packet.start_bit, ones,
                                 packet.bytes.size()};
      return result;
    }
    std::uint8_t sum = 0;
    for (std::uint8_t byte : packet.bytes) sum ^= byte;
    packet.check_right = sum == 0;
    result.packets.push_back(std::move(packet));
    ones = 0;
  }
  result.trailing_ones = ones;
  return result;
}

StreamDecode DecodeSerialStream(std::string_view stream, bool service) {
  const std::size_t min_preamble =
      service ? kServiceMinPreamble : kOperationsMinPreamble;
  const std::vector<LineRun> runs = LineRunsOf(stream);
  const DccBits dcc = DccBitsOf(runs);

  StreamDecode result;
  result.bits = dcc.Text();

  // The first character outside the alphabet. Timing faults only occur in such
  // characters, so the bits before it are sound; packets are judged on those alone.
  std::size_t bad_char = stream.size();
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (!IsInSerialAlphabet(static_cast<unsigned char>(stream[i]))) {
      bad_char = i;
      break;
    }
  }
  std::size_t usable_bits = 0;
  while (usable_bits < dcc.bits.size() && dcc.bits[usable_bits].char_index < bad_char) {
    ++usable_bits;
  }

  PacketDecode packets =
      PacketsOf(std::string_view(result.bits).substr(0, usable_bits), min_preamble);
  result.packets = std::move(packets.packets);
  result.trailing_ones = packets.trailing_ones;

  // Complete packets lie before any structural error, which lies before bad_char.
  for (const DecodedPacket& packet : result.packets) {
    if (!packet.check_right) {
      result.error = WrongCheckError(packet, dcc);
      return result;
    }
  }
  const bool cut_by_bad_char =
      bad_char < stream.size() && packets.error &&
      packets.error->kind == PacketErrorKind::kEndsInsidePacket;
  if (packets.error && !cut_by_bad_char) {
    result.error = PacketStreamError(*packets.error, dcc, min_preamble);
  } else if (bad_char < stream.size()) {
    result.error = CharacterError(stream, dcc, bad_char);
  }
  return result;
}

}  // namespace qarn2::encoding
