#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "encoding/bit_string.h"

namespace qarn2::encoding {

// Serial characters which, written back to back at 19200 bit/s 8N1, reproduce a DCC
// bit sequence on the transmit line. Every character is one of the 15 of the
// encoder's alphabet (see serial_alphabet.h).
using SerialStream = std::string;

// Raised where no grouping of the bits into the serial characters exists. Of all the
// 2- and 3-byte packets, four have none: EF EF F7, EF F7 EF, F7 EF EF and F7 F7 F7
// (runs of four '1' bits between single '0' bits, more than the groups can hold);
// no command of the program makes them. Anything else would be a fault of the
// encoder. Either way the caller gets no stream rather than a wrong one.
class EncoderError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The packet behind a 10-bit preamble (occasionally 11), followed by at most a few
// filler '1' bits. Throws std::invalid_argument unless the packet has 2 or 3 bytes,
// EncoderError for the packets that have no stream (above).
SerialStream EncodeOperationsPacket(const Packet& packet);

// "UU" + EncodeOperationsPacket(packet): the packet behind a 20-bit preamble.
SerialStream EncodeServicePacket(const Packet& packet);

// The general form of EncodeOperationsPacket: any text of '0' and '1' that starts
// with '0' and ends with '1', up to kMaxEncodedBits bits, behind a 10-bit preamble.
// Throws std::invalid_argument for any other text, EncoderError where no grouping of
// the bits into serial characters exists.
inline constexpr std::size_t kMaxEncodedBits = 48;
SerialStream EncodeBitString(const BitString& bits);

}  // namespace qarn2::encoding
