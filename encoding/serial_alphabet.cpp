#include "encoding/serial_alphabet.h"

#include <array>

namespace qarn2::encoding {
namespace {

struct AlphabetEntry {
  std::uint8_t character;
  std::string_view group;
};

constexpr std::array<AlphabetEntry, 15> kAlphabet{{
    {chars::kU, "11111"}, {chars::kV, "0111"}, {chars::kY, "1011"},
    {chars::kE, "1101"},  {chars::k95, "1110"}, {chars::k5C, "011"},
    {chars::kQ, "101"},   {chars::kC5, "110"},  {chars::kX, "01"},
    {chars::kE1, "10"},   {chars::kF0, "0"},    {chars::kC6, "00"},
    {chars::k96, "010"},  {chars::k99, "100"},  {chars::kF, "001"},
}};

// Indexed by character; empty for characters outside the alphabet.
constexpr std::array<std::string_view, 256> MakeGroupTable() {
  std::array<std::string_view, 256> table{};
  for (const AlphabetEntry& entry : kAlphabet) table[entry.character] = entry.group;
  return table;
}

constexpr std::array<std::string_view, 256> kGroupOf = MakeGroupTable();

}  // namespace

bool IsInSerialAlphabet(unsigned char character) { return !kGroupOf[character].empty(); }

std::optional<std::string_view> GroupOf(std::uint8_t character) {
  if (kGroupOf[character].empty()) return std::nullopt;
  return kGroupOf[character];
}

std::optional<std::string> ExpandStream(std::string_view stream) {
  std::string bits;
  bits.reserve(stream.size() * 4);
  for (char c : stream) {
    std::optional<std::string_view> group = GroupOf(static_cast<std::uint8_t>(c));
    if (!group) return std::nullopt;
    bits += *group;
  }
  return bits;
}

}  // namespace qarn2::encoding
