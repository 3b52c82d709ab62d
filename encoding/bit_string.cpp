#include "encoding/bit_string.h"

#include <stdexcept>

namespace qarn2::encoding {

std::string ByteToBits(std::uint8_t value) {
  std::string bits(8, '0');
  for (int i = 0; i < 8; ++i) {
    if (value & (0x80 >> i)) bits[i] = '1';
  }
  return bits;
}

BitString BuildBitString(const Packet& packet) {
  if (packet.size() != 2 && packet.size() != 3) {
    throw std::invalid_argument("a DCC packet has 2 or 3 bytes before its check byte, not " +
                                std::to_string(packet.size()));
  }
  std::uint8_t check = 0;
  BitString bits;
  bits.reserve(37);
  for (std::uint8_t byte : packet) {
    bits += '0';
    bits += ByteToBits(byte);
    check ^= byte;
  }
  bits += '0';
  bits += ByteToBits(check);
  bits += '1';
  return bits;
}

}  // namespace qarn2::encoding
