#pragma once

// A DCC-EX command station on a USB serial port (115200 bit/s 8N1), programming the
// decoder on its programming track through the station's text commands:
//   <s>                 -> <iDCC-EX V-... / ...>   the station's banner
//   <R cv>              -> <r cv value>            read; value -1: not readable
//   <W cv value>        -> <r cv value>            write; older firmware answers
//                          (or <w cv value>)       <w ...>; value -1: not confirmed
//   <B cv bit 0|1>      -> <r cv bit value>        write one bit; -1: not confirmed
//   <V cv value>        -> <v cv actual>           verify: the station checks the
//                                                  expected value first and reads the
//                                                  CV only when it does not match
//   <1 PROG>, <0 PROG>  -> <p1 PROG>, <p0 PROG>    programming track power
//   a command it does not know -> <X>
// Answers may carry a callback prefix ("<r1|2|29 6>"), which is passed over. Lines that
// answer nothing of ours (power broadcasts "<p1>", diagnostics "<* ... *>", text
// outside "<...>") are skipped while an answer is awaited.
//
// The station decides how it programs (it reads bit by bit and checks with a verify);
// the program's programming modes do not apply.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/track_link.h"

namespace qarn2::link {

// One whole "<...>" frame of the station: its letter and its numbers, callback
// prefix passed over. `numbers` is empty and `garbled` set when what follows the
// letter is not a list of integers.
struct StationFrame {
  char letter = 0;
  std::string text;  // the frame as it came, "<r 29 6>"
  std::vector<int> numbers;
  bool garbled = false;
};

// Takes the whole frames off the front of `buffer` (text outside frames is dropped)
// and leaves a frame still arriving in it. A diagnostic "<* ... *>" ends at "*>".
std::vector<StationFrame> TakeStationFrames(std::string& buffer);

// How long the station may take before it answers, in ticks of 10 ms. A read goes
// bit by bit with the station's own retries and takes several seconds on a slow
// decoder; a write waits for the decoder's acknowledge and the station's check.
inline constexpr int kStationBannerTicks = 500;        // after the opening's reset
inline constexpr int kStationStatusTicks = 100;        // <s> when no banner came
inline constexpr int kStationProgrammingTicks = 1000;  // <R>, <W>, <B>, <V>

// What the station answered to one command.
struct StationAnswer {
  // kRefused: the station answered <X>, it knows no such command.
  enum Outcome { kValue, kNotDone, kNoAnswer, kGarbled, kRefused };
  Outcome outcome = kNoAnswer;
  int value = -1;      // with kValue: the value read, written or verified
  std::string frame;   // the answer as it came (kValue, kNotDone, kGarbled); the
                       // command with kRefused
};

// The station's outcome texts for the CV box (Windows-1252, padded as the others).
std::string StationProblemText(const StationAnswer& answer);

// Waits for the station's banner: when the port was just opened (`restarted`), up to
// 5 s for the one a station prints once it has started again (opening its port resets
// most Arduino boards); then, if none came, once more after <s>, for a station that
// did not restart. `progress` hears what is waited for and the
// outcome (Windows-1252). Returns whether the banner came; link.StationBanner holds it
// without its brackets and letter ("DCC-EX V-5.0.7 / MEGA / ..."), empty when none
// came.
bool AwaitStationBanner(TrackLink& link, bool restarted, const std::function<void(const std::string&)>& progress);

// The station's commands. Each sends the command and waits for its answer; nothing is
// sent (kNoAnswer) when the station has not shown its banner since the set-up.
StationAnswer StationRead(TrackLink& link, int cv);
StationAnswer StationWrite(TrackLink& link, int cv, int value);
StationAnswer StationWriteBit(TrackLink& link, int cv, int bit, int value);
StationAnswer StationVerify(TrackLink& link, int cv, int value);

}  // namespace qarn2::link
