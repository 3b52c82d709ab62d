#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qarn2::sim {

// "7C" for 0x7C.
inline std::string HexByte(std::uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

// "74 1C 06": bytes in hexadecimal, separated by blanks, for the logs.
inline std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t value : bytes) {
    if (!text.empty()) text += ' ';
    text += HexByte(value);
  }
  return text;
}

}  // namespace qarn2::sim
