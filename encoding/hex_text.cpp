#include "encoding/hex_text.h"

namespace qarn2::encoding {
namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

bool ParseHexBytesInto(std::string_view text, std::vector<std::uint8_t>* bytes,
                       std::string* bad_token) {
  bytes->clear();
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsBlank(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    const std::string_view token = text.substr(i, end - i);
    // A byte has two digits at most; a longer token is refused before it is added up.
    int value = 0;
    bool good = token.size() <= 2;
    for (std::size_t d = 0; good && d < token.size(); ++d) {
      const int digit = DigitValue(token[d]);
      good = digit >= 0;
      value = value * 16 + digit;
    }
    if (!good) {
      *bad_token = std::string(token);
      return false;
    }
    bytes->push_back(static_cast<std::uint8_t>(value));
    i = end;
  }
  return true;
}

HexParse ParseHexBytes(std::string_view text) {
  HexParse result;
  ParseHexBytesInto(text, &result.bytes, &result.bad_token);
  return result;
}

void AppendHex(std::string_view bytes, std::string* out) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out->push_back(' ');
    const auto byte = static_cast<unsigned char>(bytes[i]);
    out->push_back(kDigits[byte >> 4]);
    out->push_back(kDigits[byte & 0x0F]);
  }
}

std::string ToHex(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  AppendHex(bytes, &out);
  return out;
}

std::string HexByte(std::uint8_t value) { return {kDigits[value >> 4], kDigits[value & 0x0F]}; }

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  return ToHex(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace qarn2::encoding
