#pragma once

// The LGB 55045 programming interface as the far end of the serial line at 9600 bit/s
// 8N1: it takes the program's request messages and answers them from the same
// decoder model that the programming track uses.
//
// Messages (X is the XOR of the bytes before it):
//   0x10 0x86          greeting          -> 0x11 0xEB 0xFA
//   0x96 0x12 0x12     greeting seen     -> nothing
//   0x8C N 0x00 X      read CV N         -> 0x9C N V X
//   0x88 N V X         write V to CV N   -> 0x98 N S X, S = 0x01 stored, 0x00 refused
// N is the CV number's low byte (CV 1..255; the interface cannot name more). A read
// of N = 0 gets no reply; a write of N = 0, or of a read-only CV, is refused. A
// request whose check byte is wrong, and bytes that begin no message, are dropped.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "sim/decoder_model.h"
#include "sim/sim_time.h"

namespace qarn2::sim {

// Reply characters on their way back to the program: `text` has completely arrived
// at `time` (its stop bit included). A reply usually comes as one entry: the receive
// FIFO of the PC's port (or a USB adapter) hands such a short burst on in one piece
// once the line has gone quiet. A port without a FIFO, or a slow interface, hands it
// on a character at a time (LgbSettings::one_at_a_time).
struct TimedReply {
  SimTime time;
  std::string text;

  bool operator==(const TimedReply&) const = default;
};

// Faults a test can put into the interface's replies.
enum class LgbReplyFault {
  kNone,
  kCorruptCheck,  // the last character (the check byte) inverted
  kWrongCv,       // read and write replies name the next CV (N + 1), check byte to match
  kWrongKind,     // read and write replies start one too high (0x9D, 0x99), check to match
  kTruncated,     // only the first two characters of every reply
};

struct LgbSettings {
  // From the end of the request's last character to the start of the reply.
  SimTime greeting_delay = std::chrono::milliseconds(10);
  SimTime read_delay = std::chrono::milliseconds(50);
  SimTime write_delay = std::chrono::milliseconds(50);
  bool silent = false;  // no interface attached: nothing is answered or stored
  LgbReplyFault fault = LgbReplyFault::kNone;
  // Read and write replies cut to this many characters (-1: whole), as from an
  // interface that answers in short.
  int reply_limit = -1;
  // Every reply character reaches the program on its own, `character_gap` after the
  // one before it (beyond its own character time): a reply arriving slowly.
  bool one_at_a_time = false;
  SimTime character_gap{0};
};

class LgbInterfaceModel {
 public:
  static constexpr int kBitRate = 9600;
  // One character: start bit, 8 data bits, stop bit.
  static constexpr SimTime kCharacterTime = std::chrono::nanoseconds(10'000'000'000 / kBitRate);
  // A message left incomplete for longer than this is dropped.
  static constexpr SimTime kMessageTimeout = std::chrono::milliseconds(100);

  explicit LgbInterfaceModel(DecoderModel& decoder, LgbSettings settings = {});

  void SetSettings(const LgbSettings& settings) { settings_ = settings; }
  const LgbSettings& settings() const { return settings_; }

  // Characters from the program; `time` is when the last of them had arrived, and
  // times must not go backwards. A message may be split over several calls. Returns
  // the reply characters for the messages completed here, each with its arrival
  // time; replies follow each other on the line without overlapping.
  std::vector<TimedReply> OnCharacters(SimTime time, std::string_view received);

  // What the interface made of each message since the last call, for the track log.
  struct LogEntry {
    SimTime time;
    std::string text;  // "read CV 29 = 6", "bad check byte: 8C 1D 00 00 (dropped)"
  };
  std::vector<LogEntry> TakeLog();

 private:
  // Acts on one whole message; sets the reply (empty for none) and its delay and
  // returns the log text.
  std::string HandleMessage(const std::string& message, std::string& reply, SimTime& delay);
  void Send(SimTime request_end, SimTime delay, std::string reply, std::vector<TimedReply>& out);

  DecoderModel& decoder_;
  LgbSettings settings_;
  std::string pending_;  // start of a message still being received
  SimTime pending_time_{0};
  SimTime line_free_at_{0};  // when the last reply character has gone out
  std::vector<LogEntry> log_;
};

}  // namespace qarn2::sim
