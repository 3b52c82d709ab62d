// Every 2-byte and every 3-byte packet, in operations and in service form, against the
// line-timing decoder: only characters of the alphabet, every half-bit inside the
// window a decoder accepts, and exactly the packet's bits behind a full preamble.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "encoding/bit_string.h"
#include "encoding/serial_encoder.h"
#include "encoding/stream_decoder.h"

namespace qarn2::encoding {
namespace {

// What one character puts on the line, as the timing decoder sees it. A character
// starts with a space and ends with a mark, so no half-bit crosses from one character
// into the next and a stream decodes character by character.
struct CharacterOnLine {
  bool usable = false;  // whole DCC bits, every half inside its window, in the alphabet
  std::string bits;
};

std::array<CharacterOnLine, 256> MakeLineTable() {
  std::array<CharacterOnLine, 256> table;
  for (int c = 0; c < 256; ++c) {
    const std::string one(1, static_cast<char>(c));
    const DccBits decoded = DccBitsOf(LineRunsOf(one));
    table[c].usable = !decoded.error && IsInSerialAlphabet(static_cast<unsigned char>(c));
    table[c].bits = decoded.Text();
  }
  return table;
}

const std::array<CharacterOnLine, 256>& LineTable() {
  static const std::array<CharacterOnLine, 256> table = MakeLineTable();
  return table;
}

std::string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// Empty when `stream` carries `packet_bits` as it must, else what is wrong.
std::string CheckStream(const SerialStream& stream, const BitString& packet_bits,
                        std::size_t min_preamble, bool two_bytes) {
  std::string bits;
  for (unsigned char c : stream) {
    if (!LineTable()[c].usable) return "unusable character " + HexOf(std::string(1, c));
    if (two_bytes && c == 0xF0) return "0xF0 left in a 2-byte packet";
    bits += LineTable()[c].bits;
  }
  const std::size_t preamble = std::min(bits.find('0'), bits.size());
  if (preamble != min_preamble && preamble != min_preamble + 1) {
    return "preamble of " + std::to_string(preamble);
  }
  if (bits.compare(preamble, packet_bits.size(), packet_bits) != 0) return "wrong bits";
  const std::size_t fillers = bits.size() - preamble - packet_bits.size();
  if (bits.find('0', preamble + packet_bits.size()) != std::string::npos) return "'0' after the end bit";
  if (two_bytes && fillers > 4) return std::to_string(fillers) + " filler bits";
  return {};
}

// Whether the bits, behind a preamble of 10 or 11, can be cut into groups that the
// usable characters carry, with '1' fillers at the end: the search the encoder
// would have to win.
bool AnyGroupingFits(const BitString& packet_bits) {
  const std::string text = "1" + packet_bits;  // the optional eleventh preamble bit
  std::vector<bool> reachable(text.size() + 5, false);
  reachable[0] = reachable[1] = true;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (!reachable[at]) continue;
    for (const CharacterOnLine& c : LineTable()) {
      if (!c.usable) continue;
      bool fits = true;
      for (std::size_t k = 0; k < c.bits.size() && fits; ++k) {
        const char wanted = at + k < text.size() ? text[at + k] : '1';
        fits = c.bits[k] == wanted;
      }
      if (fits) reachable[std::min(at + c.bits.size(), text.size())] = true;
    }
  }
  return reachable[text.size()];
}

struct SweepResult {
  std::atomic<long> checked{0};
  std::mutex mutex;
  std::vector<std::string> failures;  // the first few
  std::vector<std::string> refused;   // packets the encoder refused

  void Fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    if (failures.size() < 20) failures.push_back(what);
  }
};

void CheckPacket(const Packet& packet, SweepResult& result) {
  const std::string name(packet.begin(), packet.end());
  const BitString bits = BuildBitString(packet);
  const bool two_bytes = packet.size() == 2;
  SerialStream operations, service;
  try {
    operations = EncodeOperationsPacket(packet);
  } catch (const EncoderError&) {
    std::lock_guard<std::mutex> lock(result.mutex);
    result.refused.push_back(HexOf(name));
    return;
  }
  service = EncodeServicePacket(packet);
  if (service != "UU" + operations) result.Fail(HexOf(name) + ": service stream is not UU + operations stream");
  if (std::string why = CheckStream(operations, bits, 10, two_bytes); !why.empty()) {
    result.Fail(HexOf(name) + " operations: " + why + " in " + HexOf(operations));
  }
  if (std::string why = CheckStream(service, bits, 20, two_bytes); !why.empty()) {
    result.Fail(HexOf(name) + " service: " + why + " in " + HexOf(service));
  }
  ++result.checked;
}

// Runs CheckPacket on every value of [0, count) on all cores.
void Sweep(int bytes, long count, SweepResult& result) {
  const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; ++w) {
    threads.emplace_back([=, &result] {
      Packet packet(bytes);
      for (long value = w; value < count; value += workers) {
        for (int i = 0; i < bytes; ++i) packet[i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
        CheckPacket(packet, result);
      }
    });
  }
  for (std::thread& t : threads) t.join();
}

void ExpectClean(SweepResult& result) {
  for (const std::string& failure : result.failures) ADD_FAILURE() << failure;
}

TEST(ExhaustiveTest, EveryTwoBytePacket) {
  LineTable();
  SweepResult result;
  Sweep(2, 1L << 16, result);
  ExpectClean(result);
  EXPECT_EQ(result.checked, 1L << 16);
  EXPECT_TRUE(result.refused.empty());

  // The whole decoder agrees: packet, check byte, preamble.
  for (long value = 0; value < (1L << 16); ++value) {
    const Packet packet{static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    const StreamDecode decoded = DecodeSerialStream(EncodeServicePacket(packet), true);
    ASSERT_TRUE(decoded.ok()) << value << ": " << decoded.error->message;
    ASSERT_EQ(decoded.packets.size(), 1u);
    ASSERT_EQ(decoded.packets[0].bytes,
              (std::vector<std::uint8_t>{packet[0], packet[1],
                                         static_cast<std::uint8_t>(packet[0] ^ packet[1])}));
  }
}

TEST(ExhaustiveTest, EveryThreeBytePacket) {
  LineTable();
  SweepResult result;
  Sweep(3, 1L << 24, result);
  ExpectClean(result);
  EXPECT_EQ(result.checked, (1L << 24) - 4);

  // The packets the encoder refuses are exactly those no grouping fits.
  std::sort(result.refused.begin(), result.refused.end());
  EXPECT_EQ(result.refused,
            (std::vector<std::string>{"EF EF F7", "EF F7 EF", "F7 EF EF", "F7 F7 F7"}));
  for (const std::string& hex : result.refused) {
    Packet packet;
    for (std::size_t i = 0; i < hex.size(); i += 3) packet.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    EXPECT_FALSE(AnyGroupingFits(BuildBitString(packet))) << hex;
  }
  // The search itself finds groupings where they exist.
  EXPECT_TRUE(AnyGroupingFits(BuildBitString({0x74, 0x00, 0x05})));
  EXPECT_TRUE(AnyGroupingFits(BuildBitString({0xEF, 0xEF, 0xEF})));

  // A sample through the whole decoder.
  for (long value = 0; value < (1L << 24); value += 4099) {
    const Packet packet{static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                        static_cast<std::uint8_t>(value)};
    SerialStream stream;
    try {
      stream = EncodeServicePacket(packet);
    } catch (const EncoderError&) {
      continue;
    }
    const StreamDecode decoded = DecodeSerialStream(stream, true);
    ASSERT_TRUE(decoded.ok()) << value << ": " << decoded.error->message;
    ASSERT_EQ(decoded.packets.size(), 1u);
    EXPECT_TRUE(decoded.packets[0].check_right);
  }
}

}  // namespace
}  // namespace qarn2::encoding
