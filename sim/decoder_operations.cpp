// Operations mode of the decoder model: the packets of NMRA S-9.2 for multi-function
// (locomotive) decoders and basic accessory decoders.

#include <string>

#include "sim/decoder_model.h"
#include "encoding/hex_text.h"

namespace qarn2::sim {
namespace {

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string Direction(bool forward) { return forward ? "forward" : "reverse"; }

// "F5=1 F6=0 F7=0 F8=1" for the low four bits of `bits`, functions `first`..first+3.
std::string FunctionBits(int first, std::uint8_t bits) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    if (!text.empty()) text += ' ';
    text += 'F';
    text += std::to_string(first + i);
    text += (bits >> i) & 1 ? "=1" : "=0";
  }
  return text;
}

}  // namespace

bool DecoderModel::UsesLongAddress() const { return (Cv(29) & 0x20) != 0; }

int DecoderModel::OwnAddress() const {
  if (UsesLongAddress()) return (Cv(17) & 0x3F) << 8 | Cv(18);
  return Cv(1) & 0x7F;
}

bool DecoderModel::IsOwnLocoAddress(int address, bool long_form) const {
  return long_form == UsesLongAddress() && address == OwnAddress();
}

bool DecoderModel::AccessoryOutputOn(int address, int output) const {
  const auto found = accessory_outputs_.find(address);
  return found != accessory_outputs_.end() && output >= 0 && output < 8 &&
         ((found->second >> output) & 1) != 0;
}

DecoderModel::Reaction DecoderModel::OnOperationsPacket(const Bytes& packet) {
  const std::uint8_t first = packet[0];
  if (first == 0xFF) {
    return {false, packet == Bytes{0xFF, 0x00} ? "idle" : "ops: idle address " + encoding::ToHex(packet)};
  }
  if (first >= 0x80 && first <= 0xBF) return {false, RunAccessory(packet)};
  if (first >= 0xE8) return {false, "ops: reserved address " + encoding::ToHex(packet)};

  const bool long_form = first >= 0xC0;
  if (long_form && packet.size() < 3)
    return {false, "ops: short long-address packet " + encoding::ToHex(packet)};
  const int address = long_form ? (first & 0x3F) << 8 | packet[1] : first;
  const Bytes instruction(packet.begin() + (long_form ? 2 : 1), packet.end());
  const bool ours = address == 0 || IsOwnLocoAddress(address, long_form);

  if (!ours && IsServicePacket(packet)) {
    // Most likely a service command that came after service mode had ended.
    return {false,
            "ignored: service packet outside service mode: " + RunService(packet, false).what};
  }
  std::string who = address == 0 ? "all locos"
                    : long_form  ? "loco " + std::to_string(address) + " (long)"
                                 : "loco " + std::to_string(address);
  std::string meaning = "ops: " + who + " " + RunLocoInstruction(instruction, ours);
  if (!ours) meaning += " (other address)";
  return {false, meaning};
}

// One instruction for a locomotive; the state changes only when `ours`. Speed packets
// are read in the decoder's own speed-step mode (CV 29 bit 1), whatever the sender
// had in mind: a 14-step decoder takes bit 4 as FL, a 28-step decoder as the
// intermediate step.
std::string DecoderModel::RunLocoInstruction(const Bytes& instruction, bool ours) {
  const std::uint8_t code = instruction[0];
  const bool steps28 = (Cv(29) & 0x02) != 0;
  switch (code >> 5) {
    case 0:
      if (code == 0x00) {
        if (ours) loco_ = LocoState{};
        return "decoder reset";
      }
      break;
    case 1:
      if (code == 0x3F && instruction.size() >= 2) {
        // 128 speed steps: DSSSSSSS, 0 stop, 1 emergency stop, 2..127 steps 1..126.
        const int speed = instruction[1] & 0x7F;
        const bool forward = (instruction[1] & 0x80) != 0;
        if (ours) {
          loco_.steps = 126;
          loco_.forward = forward;
          loco_.emergency_stop = speed == 1;
          loco_.speed_step = speed < 2 ? 0 : speed - 1;
        }
        const std::string what = speed == 0   ? "stop"
                                 : speed == 1 ? "emergency stop"
                                              : "speed " + std::to_string(speed - 1) + "/126";
        return what + " " + Direction(forward);
      }
      break;
    case 2:
    case 3: {
      // 01DCSSSS
      const bool forward = (code & 0x20) != 0;
      const bool c_bit = (code & 0x10) != 0;
      const int s = code & 0x0F;
      const int steps = steps28 ? 28 : 14;
      const int step = s < 2 ? 0 : steps28 ? (s << 1 | (c_bit ? 1 : 0)) - 3 : s - 1;
      if (ours) {
        loco_.steps = steps;
        loco_.forward = forward;
        loco_.emergency_stop = s == 1;
        loco_.speed_step = step;
        if (!steps28) loco_.fl = c_bit;
      }
      std::string text = s == 0   ? "stop"
                         : s == 1 ? "emergency stop"
                                  : "speed " + std::to_string(step) + "/" + std::to_string(steps);
      text += ' ';
      text += Direction(forward);
      if (!steps28) text += c_bit ? " FL on" : " FL off";
      return text;
    }
    case 4: {
      // 100DDDDD: F1..F4 in bits 0..3, FL in bit 4 only for 28/128-step decoders.
      if (ours) {
        for (int i = 0; i < 4; ++i) loco_.f[1 + i] = ((code >> i) & 1) != 0;
        if (steps28) loco_.fl = (code & 0x10) != 0;
      }
      std::string text = "group 1: ";
      if (steps28) text += "FL=" + std::to_string((code >> 4) & 1) + " ";
      return text + FunctionBits(1, code);
    }
    case 5: {
      // 101SDDDD: S = 1 F5..F8, S = 0 F9..F12.
      const int first = (code & 0x10) != 0 ? 5 : 9;
      if (ours) {
        for (int i = 0; i < 4; ++i) loco_.f[first + i] = ((code >> i) & 1) != 0;
      }
      return "group 2: " + FunctionBits(first, code);
    }
    default:
      break;
  }
  return "instruction " + encoding::ToHex(instruction) + " (not modelled)";
}

// Basic accessory packet 10AAAAAA 1AAACDDD: address bits 5..0 in the first byte, the
// complement of bits 8..6 in the second; C switches output DDD on or off. Outputs come
// in pairs (0/1, 2/3, ...) that drive the two sides of one turnout, so switching one on
// switches its partner off.
std::string DecoderModel::RunAccessory(const Bytes& packet) {
  if (packet.size() != 2 || (packet[1] & 0x80) == 0) {
    return "accessory packet " + encoding::ToHex(packet) + " (not modelled)";
  }
  const int address = ((~packet[1] >> 4) & 0x07) << 6 | (packet[0] & 0x3F);
  const int output = packet[1] & 0x07;
  const bool on = (packet[1] & 0x08) != 0;
  std::uint8_t& outputs = accessory_outputs_[address];
  if (on) {
    outputs = static_cast<std::uint8_t>((outputs | 1 << output) & ~(1 << (output ^ 1)));
  } else {
    outputs = static_cast<std::uint8_t>(outputs & ~(1 << output));
  }
  return "accessory " + std::to_string(address) + " output " + std::to_string(output) + " " +
         OnOff(on);
}

}  // namespace qarn2::sim
