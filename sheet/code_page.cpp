#include "sheet/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace qarn2::sheet {
namespace {

const char* const kCodePage = "WINDOWS-1252";

// One iconv conversion, opened once per thread and used for every call there.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("No text conversion from ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `input`. At a sequence iconv cannot convert, `on_bad(rest, out)` appends
  // what stands for it and returns how many bytes of `rest` it used (at least one).
  template <typename OnBad>
  std::string Run(std::string_view input, OnBad on_bad) const {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.reserve(input.size() + input.size() / 2);
    char* in = const_cast<char*>(input.data());  // iconv does not write through it
    std::size_t in_left = input.size();
    std::array<char, 512> buffer;
    while (in_left > 0) {
      char* to = buffer.data();
      std::size_t to_left = buffer.size();
      const std::size_t result = iconv(cd_, &in, &in_left, &to, &to_left);
      const int error = errno;
      out.append(buffer.data(), static_cast<std::size_t>(to - buffer.data()));
      if (result != static_cast<std::size_t>(-1) || error == E2BIG) continue;
      // EILSEQ, or EINVAL for a sequence cut off at the end.
      const std::size_t used = on_bad(std::string_view(in, in_left), out);
      in += used;
      in_left -= used;
    }
    return out;
  }

 private:
  iconv_t cd_;
};

// The code point of the UTF-8 sequence `text` begins with and its length; length 0
// when it is malformed (overlong, a surrogate, beyond U+10FFFF, cut off).
std::pair<std::uint32_t, std::size_t> DecodeUtf8(std::string_view text) {
  struct LeadByte {
    std::uint8_t first, last;  // range of the lead byte
    std::size_t length;
    std::uint8_t bits;         // of the code point in the lead byte
    std::uint32_t lowest;      // anything below is overlong
  };
  static constexpr LeadByte kLeads[] = {
      {0xC2, 0xDF, 2, 0x1F, 0x80}, {0xE0, 0xEF, 3, 0x0F, 0x800}, {0xF0, 0xF4, 4, 0x07, 0x10000}};
  const auto lead = static_cast<std::uint8_t>(text[0]);
  const LeadByte* form = nullptr;
  for (const LeadByte& candidate : kLeads) {
    if (lead >= candidate.first && lead <= candidate.last) form = &candidate;
  }
  if (form == nullptr) return {0, 0};
  const std::size_t length = form->length;
  std::uint32_t code = lead & form->bits;
  const std::uint32_t lowest = form->lowest;
  if (text.size() < length) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<std::uint8_t>(text[i]);
    if ((next & 0xC0) != 0x80) return {0, 0};
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
  return {code, length};
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
  thread_local const Converter converter("UTF-8", kCodePage);
  return converter.Run(bytes, [](std::string_view rest, std::string& out) -> std::size_t {
    // Only the unassigned bytes are refused; each becomes the C1 control of its number,
    // which takes two bytes in UTF-8.
    const auto byte = static_cast<std::uint8_t>(rest[0]);
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
    return 1;
  });
}

namespace {

// The code page's characters above ASCII, each with its byte, in rising order: iconv's
// conversion of the bytes 0x80..0xFF (the five unassigned bytes as their control
// characters), made once. Converting through it takes one lookup per character, where
// iconv itself starts over at every character the code page lacks (seconds for a few
// ten thousand of them).
using HighCharacters = std::array<std::pair<std::uint32_t, std::uint8_t>, 0x80>;

const HighCharacters& HighCharactersOfTheCodePage() {
  static const HighCharacters table = [] {
    std::string high;
    for (int byte = 0x80; byte <= 0xFF; ++byte) high += static_cast<char>(byte);
    const std::string utf8 = Cp1252ToUtf8(high);
    HighCharacters characters;
    std::size_t at = 0;
    for (std::size_t i = 0; i < characters.size(); ++i) {
      const auto [code, length] = DecodeUtf8(std::string_view(utf8).substr(at));
      characters[i] = {code, static_cast<std::uint8_t>(0x80 + i)};
      at += length;
    }
    std::sort(characters.begin(), characters.end());
    return characters;
  }();
  return table;
}

}  // namespace

std::size_t ValidUtf8Length(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    if (static_cast<std::uint8_t>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    const std::size_t length = DecodeUtf8(text.substr(at)).second;
    if (length == 0) break;
    at += length;
  }
  return at;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::vector<char32_t> replaced;
  return Utf8ToCp1252(utf8, replaced);
}

std::string Utf8ToCp1252(std::string_view utf8, std::vector<char32_t>& replaced) {
  const HighCharacters& high = HighCharactersOfTheCodePage();
  std::string out;
  out.reserve(utf8.size());
  std::size_t at = 0;
  while (at < utf8.size()) {
    const auto lead = static_cast<std::uint8_t>(utf8[at]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++at;
      continue;
    }
    const auto [code, length] = DecodeUtf8(utf8.substr(at));
    if (length == 0) {
      // Each byte of a malformed sequence on its own.
      out += '?';
      replaced.push_back(U'\uFFFD');
      ++at;
      continue;
    }
    const auto found = std::lower_bound(high.begin(), high.end(), std::pair{code, std::uint8_t{0}});
    if (found != high.end() && found->first == code) {
      out += static_cast<char>(found->second);
    } else {
      out += '?';
      replaced.push_back(code);
    }
    at += length;
  }
  return out;
}

}  // namespace qarn2::sheet
