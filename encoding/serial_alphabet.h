#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qarn2::encoding {

// The characters the encoder writes. Sent at 19200 bit/s 8N1, each one reproduces a
// whole group of DCC bits: a '1' as 1 u space + 1 u mark, a '0' as k u space + k u
// mark (k = 2..5), u = 1/19200 s, so that every group adds up to the 10 u of a
// character (start bit + 8 data bits + stop bit).
namespace chars {
inline constexpr std::uint8_t kU = 0x55;    // 11111
inline constexpr std::uint8_t kV = 0x56;    // 0111
inline constexpr std::uint8_t kY = 0x59;    // 1011
inline constexpr std::uint8_t kE = 0x65;    // 1101  ('e')
inline constexpr std::uint8_t k95 = 0x95;   // 1110
inline constexpr std::uint8_t k5C = 0x5C;   // 011
inline constexpr std::uint8_t kQ = 0x71;    // 101   ('q')
inline constexpr std::uint8_t kC5 = 0xC5;   // 110
inline constexpr std::uint8_t kX = 0x78;    // 01    ('x')
inline constexpr std::uint8_t kE1 = 0xE1;   // 10
inline constexpr std::uint8_t kF0 = 0xF0;   // 0 with the longest halves (260 us)
inline constexpr std::uint8_t kC6 = 0xC6;   // 00
inline constexpr std::uint8_t k96 = 0x96;   // 010
inline constexpr std::uint8_t k99 = 0x99;   // 100
inline constexpr std::uint8_t kF = 0x66;    // 001   ('f')
}  // namespace chars

// Whether the encoder writes `character`. Every one of the 15 decodes to whole DCC
// bits with valid timing; 0x9C is the only other character that does.
bool IsInSerialAlphabet(unsigned char character);

// The DCC bits ('0'/'1') that `character` carries, or nothing if it is not one of
// the 15 characters of the alphabet.
std::optional<std::string_view> GroupOf(std::uint8_t character);

// The DCC bits of a whole stream, group after group. Nothing if any character is
// outside the alphabet.
std::optional<std::string> ExpandStream(std::string_view stream);

}  // namespace qarn2::encoding
