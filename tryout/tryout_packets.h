#pragma once

#include <array>
#include <optional>
#include <string>

#include "encoding/bit_string.h"

namespace qarn2::tryout {

// F1..F12 of a decoder: functions[n] for n = 1..12 (functions[0] is unused).
using FunctionFlags = std::array<bool, 13>;

// What the locomotive try-out drives: the speed-step mode (14 or 28), the speed step
// (0 = stop, up to 28), the direction, the headlight FL and F1..F12.
struct DriveState {
  int speed_steps = 14;
  int speed_step = 0;
  bool forward = false;
  bool light = false;
  FunctionFlags functions{};
};

// The operations-mode packets (address byte and instruction byte, without the check
// byte) for the short address `address` (0..127).
//
// Speed and direction: 01DUSSSS. With 14 steps bit 4 carries the headlight and SSSS
// is the step + 1 (0000 = stop); a step above 14 is sent as 14, since the byte holds
// no more. With 28 steps bit 4 and SSSS are the 28-step code (step + 3, halved into
// SSSS, its lowest bit into bit 4).
encoding::Packet SpeedDirectionPacket(int address, const DriveState& drive);
// Function group one, 100LFFFF: F1..F4, and the headlight only with 28 steps.
encoding::Packet FunctionGroupOne(int address, const DriveState& drive);
// Function group two: 1011FFFF for F5..F8, 1010FFFF for F9..F12.
encoding::Packet FunctionGroupF5F8(int address, const DriveState& drive);
encoding::Packet FunctionGroupF9F12(int address, const DriveState& drive);

// The stream of the try-outs: the four packets, each followed by two idle packets,
// twice over (24 parts), each packet encoded on its own for operations mode.
std::string TryOutStream(int address, const DriveState& drive, const std::string& idle_stream);

// The basic accessory packet that switches turnout `turnout` (1..127: decoder
// (turnout - 1) / 4 + 1, output pair (turnout - 1) mod 4) to "links" (output 1 of the
// pair) or "rechts" (output 0), output on. Nothing for a turnout outside 1..127.
std::optional<encoding::Packet> TurnoutPacket(int turnout, bool links);

}  // namespace qarn2::tryout
