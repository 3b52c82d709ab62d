#include "encoding/packet_meaning.h"

#include <optional>
#include <string_view>

#include "encoding/hex_text.h"
#include "encoding/stream_decoder.h"

namespace qarn2::encoding {
namespace {

using Bytes = std::span<const std::uint8_t>;

std::string Hex(Bytes bytes) {
  return ToHex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string Number(int n) { return std::to_string(n); }
std::string OnOff(bool on) { return on ? "on" : "off"; }
std::string Direction(bool forward) { return forward ? "forward" : "reverse"; }

// "F5=1 F6=0 F7=0 F8=1": `count` functions from `first` on, in the low bits of `bits`.
std::string FunctionBits(int first, int count, unsigned bits) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += 'F' + Number(first + i) + ((bits >> i) & 1 ? "=1" : "=0");
  }
  return text;
}

// The CV access that direct mode and operations mode share: CCAA AAAAAAAA DDDDDDDD
// with CC in bits 3..2 of `first`, CV = A + 1. CC 01 verifies the byte, 11 writes it,
// 10 verifies or writes one bit (data 111K DBBB: K = 1 write, D the bit's value, BBB
// its number). Nothing for the reserved forms.
std::optional<std::string> CvAccess(std::uint8_t first, std::uint8_t address_low, std::uint8_t data) {
  const std::string cv = "CV " + Number(((first & 0x03) << 8 | address_low) + 1);
  switch ((first >> 2) & 0x03) {
    case 1:
      return "verify " + cv + " = " + Number(data);
    case 3:
      return "write " + cv + " = " + Number(data);
    case 2:
      if ((data & 0xE0) != 0xE0) break;
      return std::string((data & 0x10) != 0 ? "write " : "verify ") + cv + " bit " + Number(data & 0x07) +
             " = " + Number((data >> 3) & 1);
    default:
      break;
  }
  return std::nullopt;
}

// Service mode, 0111xxxx behind the long preamble.
std::string ServiceInstruction(Bytes data) {
  if (data.size() == 3) {
    // Direct mode: 0111 CCAA AAAAAAAA DDDDDDDD.
    const std::optional<std::string> access = CvAccess(data[0], data[1], data[2]);
    return "service: " + (access ? *access : "reserved instruction " + Hex(data));
  }
  if (data.size() == 2) {
    // Register and paged mode: 0111 CRRR DDDDDDDD, C = 1 write. Registers 1..4 are
    // CVs of the page the page register names; the others stand for fixed CVs.
    const int reg = (data[0] & 0x07) + 1;
    std::string text = std::string("service: ") + ((data[0] & 0x08) != 0 ? "write" : "verify") + " register " +
                       Number(reg);
    if (reg == 5) text += " (CV 29)";
    if (reg == 6) text += " (page register)";
    if (reg >= 7) text += " (CV " + Number(reg) + ")";
    return text + " = " + Number(data[1]);
  }
  return "service: packet " + Hex(data) + " not known";
}

// An instruction's text and how many bytes it took.
struct Reading {
  std::string text;
  std::size_t used = 1;
};

// 01DCSSSS, in both speed-step modes.
std::string SpeedAndDirection(std::uint8_t code) {
  const std::string direction = Direction((code & 0x20) != 0);
  const bool c = (code & 0x10) != 0;
  const int s = code & 0x0F;
  // 28 steps: CSSSS with C as the lowest bit; 0 and 1 stop, 2 and 3 emergency stop.
  const int code28 = s << 1 | (c ? 1 : 0);
  const std::string steps28 = code28 < 2 ? "stop" : code28 < 4 ? "emergency stop" : "speed " + Number(code28 - 3);
  // 14 steps: SSSS, 0 stop, 1 emergency stop; C is the headlight.
  const std::string steps14 = s == 0 ? "stop" : s == 1 ? "emergency stop" : "speed " + Number(s - 1);
  return steps28 + " " + direction + " (28 steps) or " + steps14 + " " + direction + " FL " + OnOff(c) +
         " (14 steps)";
}

Reading Incomplete(Bytes instruction) { return {"incomplete instruction " + Hex(instruction), instruction.size()}; }

// One instruction to a locomotive (multi-function) decoder, its first three bits
// saying what kind.
Reading LocoInstruction(Bytes in) {
  const std::uint8_t code = in[0];
  switch (code >> 5) {
    case 0:  // 000: decoder and consist control
      if (code == 0x00) return {"decoder reset"};
      if (code == 0x01) return {"hard reset"};
      if (code == 0x12 || code == 0x13) {
        if (in.size() < 2) return Incomplete(in);
        return {"consist address " + Number(in[1] & 0x7F) + (code == 0x13 ? " reversed" : ""), 2};
      }
      return {"decoder control " + HexByte(code)};
    case 1:  // 001: advanced operations; 0x3F is the speed in 128 steps, DSSSSSSS
      if (in.size() < 2) return Incomplete(in);
      if (code == 0x3F) {
        const int v = in[1] & 0x7F;
        const std::string what = v == 0 ? "stop" : v == 1 ? "emergency stop" : "speed " + Number(v - 1);
        return {what + " " + Direction((in[1] & 0x80) != 0) + " (128 steps)", 2};
      }
      return {"advanced operation " + Hex(in.first(2)), 2};
    case 2:
    case 3:
      return {SpeedAndDirection(code)};
    case 4:  // 100LFFFF: the headlight here only for decoders in 28- or 128-step mode
      return {"functions " + FunctionBits(1, 4, code) + ", FL=" + Number((code >> 4) & 1) + " with 28 steps"};
    case 5:  // 1011FFFF F5..F8, 1010FFFF F9..F12
      return {"functions " + FunctionBits((code & 0x10) != 0 ? 5 : 9, 4, code)};
    case 6:  // 110: feature expansion; DE and DF carry F13..F20 and F21..F28
      if (in.size() < 2) return Incomplete(in);
      if (code == 0xDE) return {"functions " + FunctionBits(13, 8, in[1]), 2};
      if (code == 0xDF) return {"functions " + FunctionBits(21, 8, in[1]), 2};
      return {"feature expansion " + Hex(in.first(2)), 2};
    default:  // 111: CV access on the main track
      if ((code & 0x10) == 0) {
        // Long form 1110CCAA AAAAAAAA DDDDDDDD, as in direct mode.
        if (in.size() < 3) return Incomplete(in);
        const std::optional<std::string> access = CvAccess(code, in[1], in[2]);
        return {access ? *access : "reserved CV access " + Hex(in.first(3)), 3};
      }
      // Short form 1111GGGG DDDDDDDD: 0010 is CV 23, 0011 CV 24.
      if (in.size() < 2) return Incomplete(in);
      if (code == 0xF2 || code == 0xF3) {
        return {"write CV " + Number(code == 0xF2 ? 23 : 24) + " = " + Number(in[1]), 2};
      }
      return {"short-form CV access " + Hex(in.first(2)), 2};
  }
}

// 10AAAAAA: the six low address bits; the second byte carries the three high ones
// inverted.
std::string Accessory(Bytes data) {
  const int address = (((data[1] >> 4) & 0x07) ^ 0x07) << 6 | (data[0] & 0x3F);
  if ((data[1] & 0x80) != 0) {
    // Basic: 10AAAAAA 1AAACDDD, C switches output DDD on or off; 511 is every decoder.
    const std::string who = address == 511 ? "all decoders" : "decoder " + Number(address);
    if (data.size() > 2) return "accessory: " + who + " instruction " + Hex(data.subspan(2));
    return "accessory: " + who + " output " + Number(data[1] & 0x07) + " " + OnOff((data[1] & 0x08) != 0);
  }
  // Extended: 10AAAAAA 0AAA0AA1 000XXXXX, the output address 11 bits long.
  if (data.size() == 3 && (data[1] & 0x09) == 0x01) {
    return "accessory: extended decoder " + Number(address << 2 | ((data[1] >> 1) & 0x03)) + " aspect " +
           Number(data[2]);
  }
  return "accessory: packet " + Hex(data) + " not known";
}

std::string Operations(Bytes data) {
  const std::uint8_t first = data[0];
  if (first == 0xFF) return "ops: idle address " + Hex(data);
  if (first >= 0x80 && first <= 0xBF) return Accessory(data);
  if (first >= 0xE8) return "ops: reserved address " + Hex(data);
  std::string who;
  Bytes instruction;
  if (first >= 0xC0) {
    // Long address 11AAAAAA AAAAAAAA (192..231 in the first byte).
    if (data.size() < 3) return "ops: long address without instruction " + Hex(data);
    who = "loco " + Number((first & 0x3F) << 8 | data[1]) + " (long)";
    instruction = data.subspan(2);
  } else {
    who = first == 0 ? "all locos" : "loco " + Number(first);
    instruction = data.subspan(1);
  }
  const Reading reading = LocoInstruction(instruction);
  std::string text = "ops: " + who + " " + reading.text;
  if (reading.used < instruction.size()) text += " + extra bytes " + Hex(instruction.subspan(reading.used));
  return text;
}

}  // namespace

std::string PacketMeaning(std::span<const std::uint8_t> bytes_with_check, std::size_t preamble) {
  if (bytes_with_check.size() < 3) return "packet too short";
  const Bytes data = bytes_with_check.first(bytes_with_check.size() - 1);
  std::uint8_t check = 0;
  for (std::uint8_t byte : data) check ^= byte;
  if (check != bytes_with_check.back()) return "check byte wrong (should be " + HexByte(check) + ")";

  if (data.size() == 2 && data[1] == 0x00 && (data[0] == 0x00 || data[0] == 0xFF)) {
    return data[0] == 0x00 ? "reset" : "idle";
  }
  if (preamble >= kServiceMinPreamble && (data[0] & 0xF0) == 0x70) return ServiceInstruction(data);
  return Operations(data);
}

}  // namespace qarn2::encoding
