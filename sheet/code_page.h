#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qarn2::sheet {

// The program keeps its texts (the decoder sheet, the files, the engine's captions and
// results) as 8-bit Windows-1252; only the widgets and the terminal see Unicode. These
// convert between the two with the C library's iconv (UTF-8 to the code page through a
// table iconv made once, in time linear in the text).
//
// Every byte 0x00..0xFF has a character and comes back as itself: the five bytes the
// code page leaves unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the control
// characters U+0081, U+008D, U+008F, U+0090, U+009D, as on Windows.
//
// Both directions throw std::runtime_error if the system has no converter for the
// code page.

// How many bytes at the start of `text` are well-formed UTF-8: all of them, or up to
// the first byte that begins no character (overlong, a surrogate, beyond U+10FFFF, cut
// off).
std::size_t ValidUtf8Length(std::string_view text);

// Windows-1252 bytes to UTF-8.
std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252. A character the code page lacks becomes '?', and so does
// each byte of a malformed UTF-8 sequence.
std::string Utf8ToCp1252(std::string_view utf8);
// The same, and each character that became '?' is appended to `replaced`, in order,
// so that the caller can tell the user what was lost; a malformed byte is appended as
// U+FFFD.
std::string Utf8ToCp1252(std::string_view utf8, std::vector<char32_t>& replaced);

}  // namespace qarn2::sheet
