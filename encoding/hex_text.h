#pragma once

// Bytes written and read as hexadecimal text: "55 55 C6".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qarn2::encoding {

struct HexParse {
  std::vector<std::uint8_t> bytes;
  std::string bad_token;  // the first token that is not a byte; empty when all are

  bool ok() const { return bad_token.empty(); }
};

// Tokens of 1 or 2 hex digits (either case), separated by blanks or tabs. Parsing
// stops at the first bad token. An empty or blank text gives no bytes.
HexParse ParseHexBytes(std::string_view text);

// Same as above, appending to `bytes` (cleared first) to save allocations in loops.
// Returns false and sets `bad_token` on a bad token.
bool ParseHexBytesInto(std::string_view text, std::vector<std::uint8_t>* bytes,
                       std::string* bad_token);

// Appends "55 55 C6": upper case pairs separated by single blanks.
void AppendHex(std::string_view bytes, std::string* out);

std::string ToHex(std::string_view bytes);
std::string ToHex(const std::vector<std::uint8_t>& bytes);
// "7C" for 0x7C.
std::string HexByte(std::uint8_t value);

}  // namespace qarn2::encoding
