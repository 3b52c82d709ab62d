#pragma once

// The reverse of the serial character encoder: serial characters, as they leave the
// port at 19200 bit/s 8N1, are turned back into line levels, DCC half-bits with their
// durations, DCC bits and finally packets, judged the way a decoder on the track
// judges them. Each level is usable on its own, so that tests and the simulated
// programming track can feed in crafted line timing.
//
// Indices in the structures below count from 0. The messages meant for people
// (`Describe...`, `StreamError::message`) count character positions and bits from 1.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/bit_string.h"
#include "encoding/serial_alphabet.h"

namespace qarn2::encoding {

// One serial bit at 19200 bit/s, in microseconds (about 52.08).
inline constexpr double kSerialBitTimeUs = 1e6 / 19200.0;

// Acceptance windows of a DCC half-bit, in microseconds, both ends included.
inline constexpr double kOneHalfMinUs = 52.0;
inline constexpr double kOneHalfMaxUs = 64.0;
inline constexpr double kZeroHalfMinUs = 90.0;
inline constexpr double kZeroHalfMaxUs = 10000.0;
// The two halves of one bit may differ by at most this much.
inline constexpr double kMaxHalfDifferenceUs = 1.0;

// Shortest preamble a decoder accepts, in '1' bits.
inline constexpr std::size_t kOperationsMinPreamble = 10;
inline constexpr std::size_t kServiceMinPreamble = 20;

// ---------------------------------------------------------------------------------
// Line levels

// A stretch of constant level on the transmit line. Mark is the idle level (a serial
// '1', the stop bit); space is the start bit level.
struct LineRun {
  bool mark = false;
  double duration_us = 0.0;
  std::size_t char_index = 0;  // character in which the run starts
};

// The runs of constant level that `stream` produces when its characters are written
// back to back: per character a start bit (space), 8 data bits least significant
// first (1 = mark) and a stop bit (mark). The line idles at mark before the first
// character, so the first run is always a space run; the idle time itself is not a
// run. Every character ends at mark and the next one starts at space, so no run
// crosses a character boundary. An empty stream gives no runs.
std::vector<LineRun> LineRunsOf(std::string_view stream,
                                double bit_time_us = kSerialBitTimeUs);

// ---------------------------------------------------------------------------------
// DCC bits

struct DccBit {
  char value = '1';  // '0' or '1'
  double space_us = 0.0;
  double mark_us = 0.0;
  std::size_t char_index = 0;  // character of the bit's space half
};

enum class BitErrorKind {
  kUnequalHalves,       // |space - mark| > kMaxHalfDifferenceUs
  kHalfOutsideWindows,  // equal enough, but not both inside one window
  kSpaceWithoutMark,    // the runs end on a space run
};

struct BitError {
  BitErrorKind kind = BitErrorKind::kUnequalHalves;
  std::size_t run_index = 0;  // index of the bit's space run in the runs given
  std::size_t char_index = 0;
  double space_us = 0.0;
  double mark_us = 0.0;  // 0 for kSpaceWithoutMark
};

struct DccBits {
  std::vector<DccBit> bits;       // the bits decoded before the first error
  std::optional<BitError> error;  // decoding stops at the first one

  BitString Text() const;  // the bits as '0'/'1' text
};

// One bit from its space half and the mark half after it: sets `value` to '1' or '0',
// or says what is wrong (unequal halves, a half outside both windows).
std::optional<BitErrorKind> JudgeHalves(double space_us, double mark_us, char& value);

// Pairs every space run with the mark run after it into one DCC bit: both halves
// within 52..64 us gives '1', both within 90..10000 us gives '0'. Neighbouring runs
// of the same level are one stretch of line and are joined first; a mark run at the
// very beginning is the idle line and is skipped.
DccBits DccBitsOf(std::span<const LineRun> runs);

// "halves of a bit unequal (52.1 us space, 156.3 us mark)" and the like.
std::string DescribeBitError(const BitError& error);

// ---------------------------------------------------------------------------------
// Packets

struct DecodedPacket {
  std::size_t start_bit = 0;        // index of the packet start bit
  std::size_t preamble = 0;         // '1' bits right before it
  std::vector<std::uint8_t> bytes;  // all bytes, the check byte last
  bool check_right = false;         // XOR of all bytes is 0
};

enum class PacketErrorKind {
  kShortPreamble,     // fewer '1' bits before a start bit than required
  kEndsInsidePacket,  // the bits stop after a start bit but before the end bit
  kTooFewBytes,       // an end bit after fewer than 2 bytes
};

struct PacketError {
  PacketErrorKind kind = PacketErrorKind::kShortPreamble;
  std::size_t start_bit = 0;   // start bit of the packet concerned
  std::size_t preamble = 0;    // its preamble length
  std::size_t byte_count = 0;  // complete bytes read before the error
};

struct PacketDecode {
  std::vector<DecodedPacket> packets;  // the packets complete before the first error
  std::size_t trailing_ones = 0;       // '1' bits after the last end bit (or all of
                                       // them when there is no packet)
  std::optional<PacketError> error;
};

// Splits '0'/'1' text into packets. A packet is a preamble of '1' bits (the end bit
// of the packet before does not count), a '0' start bit, then bytes of 8 bits, each
// followed by a '0' (another byte follows) or a '1' (the end bit). Stops at the first
// error. Throws std::invalid_argument for characters other than '0' and '1'.
PacketDecode PacketsOf(std::string_view bits, std::size_t min_preamble);

// ---------------------------------------------------------------------------------
// Whole streams

// At 19200 bit/s every character with faulty timing (unequal halves; a half outside
// the windows cannot come from whole characters) is outside the alphabet, so timing
// faults are reported as kOutsideAlphabet, with the timing in the message.
enum class StreamErrorKind {
  kOutsideAlphabet,
  kShortPreamble,
  kEndsInsidePacket,
  kTooFewBytes,
  kWrongCheckByte,
};

struct StreamError {
  StreamErrorKind kind = StreamErrorKind::kOutsideAlphabet;
  std::size_t char_index = 0;  // character where the fault shows first
  std::string message;         // one line, no trailing newline
};

struct StreamDecode {
  BitString bits;                      // every DCC bit the line timing gave
  std::vector<DecodedPacket> packets;  // packets complete before a structural error
  std::size_t trailing_ones = 0;
  std::optional<StreamError> error;  // the first error in line order

  bool ok() const { return !error.has_value(); }
};

// Decodes a whole stream at 19200 bit/s, requiring a preamble of 10 bits (20 when
// `service`). Errors: a character outside the alphabet (the message also says what
// is wrong with its timing), any error of PacketsOf, and a packet whose check byte
// is wrong. Of several errors the one earliest on the line is reported;
// a packet cut short by a bad character counts as that character's error.
StreamDecode DecodeSerialStream(std::string_view stream, bool service);

}  // namespace qarn2::encoding
