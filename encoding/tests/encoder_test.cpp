#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "encoding/bit_string.h"
#include "encoding/fixed_streams.h"
#include "encoding/serial_alphabet.h"
#include "encoding/serial_encoder.h"
#include "encoding/stream_decoder.h"
#include "encoding/stream_polish.h"

namespace qarn2::encoding {
namespace {

// "55 C6 78" -> the three characters.
SerialStream Chars(const std::string& hex) {
  std::istringstream in(hex);
  SerialStream out;
  unsigned value = 0;
  while (in >> std::hex >> value) out += static_cast<char>(value);
  return out;
}

std::string Hex(const SerialStream& stream) {
  std::string out;
  char buffer[4];
  for (unsigned char c : stream) {
    std::snprintf(buffer, sizeof buffer, out.empty() ? "%02X" : " %02X", c);
    out += buffer;
  }
  return out;
}

// "0 1111 0" -> "011110": blanks are only for reading.
BitString Bits(const std::string& text) {
  BitString out;
  for (char c : text) {
    if (c != ' ') out += c;
  }
  return out;
}

TEST(BitStringTest, LaysOutStartBitsCheckByteAndEndBit) {
  EXPECT_EQ(ByteToBits(0x74), "01110100");
  EXPECT_EQ(ByteToBits(0x05), "00000101");
  EXPECT_EQ(BuildBitString({0xFF, 0x00}), Bits("0 11111111 0 00000000 0 11111111 1"));
  EXPECT_EQ(BuildBitString({0x7F, 0x08}), Bits("0 01111111 0 00001000 0 01110111 1"));
  EXPECT_EQ(BuildBitString({0x74, 0x00, 0x05}),
            Bits("0 01110100 0 00000000 0 00000101 0 01110001 1"));
  // Zero bytes join their start bits into long runs of '0'.
  EXPECT_EQ(BuildBitString({0x00, 0x00}), std::string(27, '0') + "1");
  EXPECT_EQ(BuildBitString({0x00, 0x00, 0x00}), std::string(36, '0') + "1");
}

TEST(BitStringTest, RefusesPacketsOfOtherLengths) {
  for (const Packet& packet : {Packet{}, Packet{0x03}, Packet{0x74, 0x00, 0x05, 0x01}}) {
    EXPECT_THROW(BuildBitString(packet), std::invalid_argument);
    EXPECT_THROW(EncodeOperationsPacket(packet), std::invalid_argument);
    EXPECT_THROW(EncodeServicePacket(packet), std::invalid_argument);
  }
}

TEST(EncoderTest, WorkedExamples) {
  struct Case {
    Packet packet;
    const char* stream;
  };
  const Case cases[] = {
      {{0xFF, 0x00}, "55 55 78 55 C5 C6 C6 C6 C6 78 55 55"},
      {{0x03, 0x3F}, "55 55 C6 C6 C6 5C C6 78 55 C6 5C C5 78"},
      // An even first zero-run: one '1' joins the preamble (11 bits).
      {{0x7F, 0x08}, "55 55 E1 5C 55 C6 C6 78 C6 C6 56 78 55"},
      {{0x74, 0x00, 0x05}, "55 55 66 65 C6 C6 C6 C6 C6 C6 C6 C6 78 96 56 C6 5C"},
      // Check byte FF: the last run of nine '1' ends in "x" "U" "U" (two fillers),
      // and an even first zero-run gets 0xE1 after an 11-bit preamble.
      {{0x00, 0xFF}, "55 55 E1 C6 C6 C6 C6 56 55 78 55 55"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stream);
    EXPECT_EQ(Hex(EncodeOperationsPacket(c.packet)), c.stream);
    EXPECT_EQ(Hex(EncodeServicePacket(c.packet)), std::string("55 55 ") + c.stream);
  }
}

TEST(FixedStreamsTest, ExactCharactersAndTheirPackets) {
  const FixedStreams fixed = MakeFixedStreams();
  EXPECT_EQ(Hex(fixed.IdleStream), "55 55 56 55 C6 C6 C6 C6 C6 55 55");
  EXPECT_EQ(fixed.ResetStream, Chars("55 55") + std::string(13, '\xC6') + "x");
  EXPECT_EQ(fixed.LongResetStream, "U" + fixed.ResetStream);
  EXPECT_EQ(Hex(fixed.PagePresetStream), "55 55 55 55 C6 55 78 C6 C6 C6 C6 99 55 66");
  ASSERT_EQ(fixed.ResetBurst.size(), 8 * 17u);
  for (std::size_t copy = 0; copy < 8; ++copy) {
    EXPECT_EQ(fixed.ResetBurst.substr(copy * 17, 17), fixed.LongResetStream);
  }

  struct Expected {
    const SerialStream* stream;
    bool service;
    std::size_t packets;
    std::vector<std::uint8_t> bytes;
    std::size_t preamble;
  };
  const Expected expected[] = {
      {&fixed.IdleStream, false, 1, {0xFF, 0x00, 0xFF}, 10},
      {&fixed.ResetStream, false, 1, {0x00, 0x00, 0x00}, 10},
      {&fixed.LongResetStream, false, 1, {0x00, 0x00, 0x00}, 15},
      {&fixed.PagePresetStream, true, 1, {0x7D, 0x01, 0x7C}, 20},
      {&fixed.ResetBurst, false, 8, {0x00, 0x00, 0x00}, 15},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(Hex(*e.stream));
    const StreamDecode decoded = DecodeSerialStream(*e.stream, e.service);
    ASSERT_TRUE(decoded.ok()) << decoded.error->message;
    ASSERT_EQ(decoded.packets.size(), e.packets);
    for (const DecodedPacket& packet : decoded.packets) {
      EXPECT_EQ(packet.bytes, e.bytes);
      EXPECT_GE(packet.preamble, e.preamble);
    }
    EXPECT_EQ(decoded.packets.front().preamble, e.preamble);
  }
}

TEST(FixedStreamsTest, EncoderReproducesResetAndRegroupsIdle) {
  const FixedStreams fixed = MakeFixedStreams();
  EXPECT_EQ(EncodeOperationsPacket({0x00, 0x00}), fixed.ResetStream);
  // The idle packet comes out as a different grouping of the same bits.
  const SerialStream idle = EncodeOperationsPacket({0xFF, 0x00});
  EXPECT_NE(idle, fixed.IdleStream);
  const std::string idle_bits = ExpandStream(idle).value();
  const std::string fixed_bits = ExpandStream(fixed.IdleStream).value();
  const std::string packet = std::string(10, '1') + BuildBitString({0xFF, 0x00});
  EXPECT_EQ(idle_bits.substr(0, packet.size()), packet);
  EXPECT_EQ(fixed_bits.substr(0, packet.size()), packet);
}

// Each row of the run packing, the chain of single '0' bits and the rows that close
// it, on a bit string made to hit it. Most strings end in "0 1", which comes out as
// "x" after the row.
TEST(EncoderTest, RunPackingRows) {
  struct Row {
    const char* bits;
    const char* stream;  // after the preamble "55 55"
  };
  const Row rows[] = {
      {"0 1 0 1", "78 78"},
      {"0 1 00 1", "96 78"},
      {"0 11 0 1", "5C 78"},
      {"0 11 00 1", "78 E1 78"},
      {"0 111 0 1", "56 78"},
      {"0 111 00 1", "78 C5 78"},
      {"00 11111 0 1", "C6 55 78"},  // a lone "U" after an even zero-run
      {"0 11111 00 1", "5C 95 78"},
      {"0 111111 0 1", "78 55 78"},
      {"0 111111 00 1", "56 95 78"},
      {"0 1111111 0 1", "5C 55 78"},
      {"0 1111111 00 1", "78 55 E1 78"},
      {"0 11111111 0 1", "56 55 78"},
      {"0 11111111 00 1", "78 55 C5 78"},
      {"0 111111111", "78 55 55"},
      // Four '1' bits.
      {"0 1111", "78 55"},
      {"0 1111 00 1", "5C C5 78"},
      {"0 1111 000 1", "56 99 78"},
      {"0 1111 0 11111 0 1", "5C C5 55 78"},
      // The chain: O1 = 4, a single '0', then O2.
      {"0 1111 0 1 0 1", "5C 65 78"},
      {"0 1111 0 1 00 1", "5C C5 E1 78"},
      {"0 1111 0 11 0 1", "56 59 78"},
      {"0 1111 0 11 00 1", "5C C5 C5 78"},
      {"0 1111 0 11111 00 1", "56 59 95 78"},
      {"0 1111 0 111111 0 1", "56 71 55 78"},
      {"0 1111 0 111111 00 1", "5C C5 55 E1 78"},
      {"0 1111 0 1111111 0 1", "56 59 55 78"},
      {"0 1111 0 1111111 00 1", "5C C5 55 C5 78"},
      {"0 1111 0 111111111", "5C C5 55 55"},
      {"0 1111 0 111", "5C C5 55"},
      {"0 1111 0 1111", "5C C5 55"},
      {"0 1111 0 111 00 1", "5C 65 C5 78"},
      {"0 1111 0 111 000 1", "56 59 99 78"},
      {"0 1111 0 111 0 11111 0 1", "5C 65 C5 55 78"},
      {"0 1111 0 1111 00 1", "5C 65 95 78"},
      // The chain going on past O2.
      {"0 1111 0 111 0 1 0 1", "5C 65 65 78"},
      {"0 1111 0 111 0 11 0 1", "56 59 59 78"},
      {"0 1111 0 111 0 1111 0 111 0 111111111", "56 59 59 65 65 55 55"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bits);
    EXPECT_EQ(Hex(EncodeBitString(Bits(row.bits))), std::string("55 55 ") + row.stream);
  }
}

TEST(EncoderTest, RefusesMalformedBitStrings) {
  for (const char* bits : {"", "1", "0", "10", "0 2 1", "0 1 0"}) {
    EXPECT_THROW(EncodeBitString(Bits(bits)), std::invalid_argument) << bits;
  }
  EXPECT_THROW(EncodeBitString("0" + std::string(kMaxEncodedBits, '1')), std::invalid_argument);
}

// Between single '0' bits, a group holds at most three '1' bits; runs of four push one
// '1' on into the next group each, and these four packets run out of room before the
// end. No grouping of their bits into the alphabet exists (the exhaustive test proves
// it), so the encoder refuses them instead of making a wrong stream.
TEST(EncoderTest, RefusesThePacketsNoGroupingFits) {
  for (const Packet& packet : {Packet{0xEF, 0xEF, 0xF7}, Packet{0xEF, 0xF7, 0xEF},
                               Packet{0xF7, 0xEF, 0xEF}, Packet{0xF7, 0xF7, 0xF7}}) {
    EXPECT_THROW(EncodeOperationsPacket(packet), EncoderError);
    EXPECT_THROW(EncodeServicePacket(packet), EncoderError);
  }
}

// Every rewrite of the polish pass keeps the DCC bits: tried on every stream of a
// 0xF0, up to two pairs, and four more characters of the alphabet, behind the
// preamble. Allowed changes: one '1' joins the preamble, filler '1' bits at the end.
TEST(PolishTest, KeepsTheBitsOfEveryShortStream) {
  const std::uint8_t alphabet[] = {0x55, 0x56, 0x59, 0x65, 0x95, 0x5C, 0x71, 0xC5,
                                   0x78, 0xE1, 0xF0, 0xC6, 0x96, 0x99, 0x66};
  long changed = 0;
  for (int pairs = 0; pairs <= 2; ++pairs) {
    for (std::uint8_t x : alphabet) {
      for (std::uint8_t y : alphabet) {
        for (std::uint8_t z : alphabet) {
          for (int w = -1; w < 15; ++w) {
            WorkingStream stream{};
            for (std::uint8_t c : {0x55, 0x55, 0xF0}) stream.Append(c);
            for (int p = 0; p < pairs; ++p) stream.Append(0xC6);
            for (std::uint8_t c : {x, y, z}) stream.Append(c);
            if (w >= 0) stream.Append(alphabet[w]);
            const SerialStream before(stream.chars, stream.chars + stream.size);
            PolishStream(stream);
            const SerialStream after(stream.chars, stream.chars + stream.size);
            if (after != before) ++changed;
            const std::string bits_before = ExpandStream(before).value();
            const std::optional<std::string> bits_after = ExpandStream(after);
            ASSERT_TRUE(bits_after) << Hex(before) << " -> " << Hex(after);
            ASSERT_GE(bits_after->size(), bits_before.size()) << Hex(before) << " -> " << Hex(after);
            // The same bits, or with one more '1' in the preamble, then fillers.
            const bool same_start = bits_after->compare(0, bits_before.size(), bits_before) == 0;
            const std::string expected =
                (same_start ? bits_before : "1" + bits_before) +
                std::string(bits_after->size() - bits_before.size() - (same_start ? 0 : 1), '1');
            ASSERT_EQ(*bits_after, expected) << Hex(before) << " -> " << Hex(after);
          }
        }
      }
    }
  }
  EXPECT_GT(changed, 0);
}

}  // namespace
}  // namespace qarn2::encoding
