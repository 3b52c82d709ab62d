#pragma once

#include <cstddef>
#include <cstdint>

namespace qarn2::encoding {

// Working stream of the encoder: the characters made so far. 0xFF marks a character
// that a rewrite emptied; it stays in place until the stream is compacted.
struct WorkingStream {
  static constexpr std::size_t kCapacity = 64;
  static constexpr std::uint8_t kEmptied = 0xFF;

  std::uint8_t chars[kCapacity];
  std::size_t size = 0;

  void Append(std::uint8_t c) {
    if (size == kCapacity) ThrowFull();
    chars[size++] = c;
  }
  void Compact();

 private:
  [[noreturn]] static void ThrowFull();
};

// Merges the lone-'0' characters (0xF0, 260 us halves) that the grouping leaves where
// a zero-run had the wrong parity into their neighbours. The DCC bits stay the same,
// except that rewrites at the end may add filler '1' bits and a 0xF0 that follows the
// preamble moves one '1' into the preamble. Leaves no 0xFF behind.
void PolishStream(WorkingStream& stream);

}  // namespace qarn2::encoding
