#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qarn2::encoding {

// The address and instruction bytes of one DCC packet, without the check byte:
// 2 bytes (operations packets, two-byte service packets) or 3 bytes (direct-mode
// service packets).
using Packet = std::vector<std::uint8_t>;

// One character '0' or '1' per DCC bit, in the order the bits go onto the track.
using BitString = std::string;

// The 8 bits of `value`, most significant first ("01110100" for 0x74).
std::string ByteToBits(std::uint8_t value);

// Start bit, byte, start bit, byte, [start bit, byte,] start bit, check byte (XOR of
// all bytes), end bit. No preamble. 28 characters for 2 bytes, 37 for 3 bytes.
// Throws std::invalid_argument for any other packet length.
BitString BuildBitString(const Packet& packet);

}  // namespace qarn2::encoding
