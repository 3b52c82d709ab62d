#include "tryout/tryout_packets.h"

#include <algorithm>
#include <cstdint>

#include "encoding/serial_encoder.h"

namespace qarn2::tryout {
namespace {

constexpr int kHighest14Step = 14;
constexpr int kIdlesAfterEachPacket = 2;
constexpr int kStreamRounds = 2;
constexpr int kLastTurnout = 127;

encoding::Packet Make(int address, int instruction) {
  return {static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(instruction & 0xFF)};
}

int FunctionBits(const FunctionFlags& f, int first) {
  int bits = 0;
  for (int i = 0; i < 4; ++i) {
    if (f[first + i]) bits |= 1 << i;
  }
  return bits;
}

}  // namespace

encoding::Packet SpeedDirectionPacket(int address, const DriveState& drive) {
  int instruction = 0x40;
  if (drive.forward) instruction |= 0x20;
  if (drive.speed_steps == 28) {
    if (drive.speed_step > 0) {
      const int v = drive.speed_step + 3;
      instruction |= (v >> 1) | ((v & 1) << 4);
    }
  } else {
    if (drive.light) instruction |= 0x10;
    if (drive.speed_step > 0) instruction |= std::min(drive.speed_step, kHighest14Step) + 1;
  }
  return Make(address, instruction);
}

encoding::Packet FunctionGroupOne(int address, const DriveState& drive) {
  int instruction = 0x80 | FunctionBits(drive.functions, 1);
  if (drive.light && drive.speed_steps == 28) instruction |= 0x10;
  return Make(address, instruction);
}

encoding::Packet FunctionGroupF5F8(int address, const DriveState& drive) {
  return Make(address, 0xB0 | FunctionBits(drive.functions, 5));
}

encoding::Packet FunctionGroupF9F12(int address, const DriveState& drive) {
  return Make(address, 0xA0 | FunctionBits(drive.functions, 9));
}

std::string TryOutStream(int address, const DriveState& drive, const std::string& idle_stream) {
  const encoding::Packet packets[] = {SpeedDirectionPacket(address, drive), FunctionGroupOne(address, drive),
                                      FunctionGroupF5F8(address, drive), FunctionGroupF9F12(address, drive)};
  std::string round;
  for (const encoding::Packet& packet : packets) {
    round += encoding::EncodeOperationsPacket(packet);
    for (int i = 0; i < kIdlesAfterEachPacket; ++i) round += idle_stream;
  }
  std::string stream;
  for (int i = 0; i < kStreamRounds; ++i) stream += round;
  return stream;
}

std::optional<encoding::Packet> TurnoutPacket(int turnout, bool links) {
  if (turnout < 1 || turnout > kLastTurnout) return std::nullopt;
  const int m = turnout - 1;
  return Make(0x81 + m / 4, 0xF8 + 2 * (m % 4) + (links ? 1 : 0));
}

}  // namespace qarn2::tryout
