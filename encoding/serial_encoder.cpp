#include "encoding/serial_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string>

#include "encoding/hex_text.h"
#include "encoding/serial_alphabet.h"
#include "encoding/stream_polish.h"

namespace qarn2::encoding {
namespace {

using namespace chars;

// Lengths of the runs of equal bits of a bit string: zeros, ones, zeros, ... The
// string starts with a '0' (start bit) and ends with a '1' (end bit).
struct BitRuns {
  static constexpr int kMax = 64;  // up to 48 bits make up to 48 runs; the rest stay 0
  std::array<std::uint8_t, kMax> length{};
  int count = 0;
  int bits = 0;
};

// `value` holds the bits left-aligned: its most significant bit is the first one.
BitRuns RunsOf(std::uint64_t value, int bits) {
  BitRuns runs;
  runs.bits = bits;
  bool ones = false;
  for (int left = bits; left > 0; ones = !ones) {
    const int run = std::min(left, ones ? std::countl_one(value) : std::countl_zero(value));
    runs.length[runs.count++] = static_cast<std::uint8_t>(run);
    value = run < 64 ? value << run : 0;
    left -= run;
  }
  return runs;
}

BitRuns RunsOf(const Packet& packet) {
  if (packet.size() != 2 && packet.size() != 3) BuildBitString(packet);  // throws
  std::uint64_t value = 0;
  std::uint8_t check = 0;
  for (std::uint8_t byte : packet) {
    value = value << 9 | byte;  // start bit '0', then the byte
    check ^= byte;
  }
  value = (value << 9 | check) << 1 | 1;  // the check byte and the end bit
  const int bits = 9 * static_cast<int>(packet.size()) + 10;
  return RunsOf(value << (64 - bits), bits);
}

BitRuns RunsOf(const BitString& text) {
  std::uint64_t value = 0;
  for (char bit : text) value = value << 1 | (bit == '1');
  const int bits = static_cast<int>(text.size());
  return RunsOf(value << (64 - bits), bits);
}

// A group of DCC bits "1^ones_before 0 1^ones_after" (at most three '1' bits in all)
// as one character.
std::uint8_t GroupAroundZero(int ones_before, int ones_after) {
  static constexpr std::uint8_t kTable[4][4] = {
      {kF0, kX, k5C, kV},
      {kE1, kQ, kY, 0},
      {kC5, kE, 0, 0},
      {k95, 0, 0, 0},
  };
  const std::uint8_t c = kTable[ones_before][ones_after];
  if (c == 0) throw EncoderError("no character for this group");
  return c;
}

// Turns one packet's bit string into characters, left to right: at each step it looks
// at the runs ahead of Position (Z0 zeros, O1 ones, Z1 zeros, O2 ones, ...), sends the
// leading zeros in pairs and packs the following ones-run with the one '0' left in
// front of it. A zero-run is sent in pairs (0xC6) and wants an odd count left over to
// lead its next group, or an even count when the next ones-run is a lone "U"; the
// characters that cover a ones-run therefore take one '0' of the next zero-run when
// that fixes its parity (P). Where no grouping keeps the parity, a lone 0xF0 is left
// for the polish pass.
class PacketEncoder {
 public:
  explicit PacketEncoder(const BitRuns& runs) : runs_(runs) {}

  // `extra_preamble` "U" characters go in front of the stream's own two.
  SerialStream Encode(int extra_preamble);

 private:
  // The runs from Position on: Z0, O1, Z1, O2, ...; 0 past the end of the text.
  int Run(int i) const {
    if (i == 0) return leading_zeros_;
    return base_ + i < BitRuns::kMax ? runs_.length[base_ + i] : 0;
  }
  int Z(int k) const { return Run(2 * k); }
  int O(int k) const { return Run(2 * k - 1); }
  bool E(int k) const { return Z(k) > 0 && Z(k) % 2 == 0; }
  bool F(int k) const { return k <= 4 && f_[k]; }
  // The characters covering the ones-run Ok must also take one '0' of Zk.
  bool P(int k) const { return E(k) != F(k + 1); }

  void MeasureRuns();
  void Advance(int bits);
  void SendLeadingZeros();
  void PackOnesRun();
  void PackFourOnes();
  void PackChain();
  void SearchChain();
  enum class Closing { kAtEndOfRun, kTakingTwoZeros, kTakingOneZero };
  static constexpr int kCarryOrder[] = {2, 1, 3};
  bool PlanChain(int j, int carried, int close_at, Closing closing, int max_carry);
  void PushPlan(std::uint8_t c);
  void PushPlanU(int count);
  void Emit(std::uint8_t c) {
    stream_.Append(c);
    lone_zero_sent_ |= c == kF0;
  }
  void EmitU(int count) {
    for (int i = 0; i < count; ++i) Emit(kU);
  }
  void End() { position_ = runs_.bits; }

  BitRuns runs_;
  int position_ = 0;  // 0-based index of the first bit not yet encoded
  int run_ = 0;       // run holding `position_`
  int offset_ = 0;    // bits of that run already encoded
  int base_ = 0;           // index in `runs_` of the run that Z0 stands for
  int leading_zeros_ = 0;  // Z0
  bool leading_zeros_done_ = false;  // all of Z0 sent, no '0' leads the next group
  std::array<bool, 5> f_{};  // F1..F4 at [1]..[4]
  WorkingStream stream_;
  bool lone_zero_sent_ = false;  // a 0xF0 for the polish pass to merge
  // Plan being built by the chain search.
  std::array<std::uint8_t, 24> plan_{};
  int plan_size_ = 0;
  int plan_bits_ = 0;
  bool plan_ends_ = false;
};

void PacketEncoder::MeasureRuns() {
  if (run_ % 2 == 1) {  // at the start of a ones-run: no leading zeros
    if (offset_ != 0) throw EncoderError("encoding stopped inside a run of '1' bits");
    base_ = run_ - 1;
    leading_zeros_ = 0;
  } else {
    base_ = run_;
    leading_zeros_ = runs_.length[run_] - offset_;
  }
  // F looks ahead as far as O4; F5 is taken as false.
  bool next = false;
  for (int j = 4; j >= 1; --j) next = f_[j] = O(j) == 5 && E(j) == next;
}

void PacketEncoder::Advance(int bits) {
  position_ += bits;
  offset_ += bits;
  while (run_ < runs_.count && offset_ >= runs_.length[run_]) {
    offset_ -= runs_.length[run_];
    ++run_;
  }
}

SerialStream PacketEncoder::Encode(int extra_preamble) {
  Emit(kU);
  Emit(kU);
  while (position_ < runs_.bits - 1) {
    MeasureRuns();
    SendLeadingZeros();
    PackOnesRun();
  }
  if (position_ != runs_.bits) throw EncoderError("the end bit was left unencoded");
  if (lone_zero_sent_) PolishStream(stream_);  // it only ever rewrites around a 0xF0
  SerialStream result(extra_preamble, static_cast<char>(kU));
  result.append(reinterpret_cast<const char*>(stream_.chars), stream_.size);
  return result;
}

// Sends the zeros at Position. Leaves exactly one to lead the next group, or none
// when the next ones-run is a lone "U" (F1). With no zeros at all, the step before
// took them for a lone "U" (it only does so for a run of five), even where F1, which
// now looks one run further ahead, no longer says so: the "U" is sent all the same.
void PacketEncoder::SendLeadingZeros() {
  const int zeros = Z(0);
  leading_zeros_done_ = F(1) || zeros == 0;
  int sent = 0;
  if (leading_zeros_done_) {
    if (zeros % 2 == 1) Emit(kF0);
    for (int i = 0; i < zeros / 2; ++i) Emit(kC6);
    sent = zeros;
  } else if (zeros >= 2) {
    int pairs = zeros / 2;
    if (zeros % 2 == 0) {
      Emit(kF0);
      --pairs;
    }
    for (int i = 0; i < pairs; ++i) Emit(kC6);
    sent = zeros - 1;
  }
  // The runs ahead stay as they are; only Z0 shrinks.
  Advance(sent);
  leading_zeros_ = zeros - sent;
}

// Packs the ones-run O1 together with the '0' in front of it (if any) and, where P
// holds, one '0' of Z1.
void PacketEncoder::PackOnesRun() {
  const bool p = P(1);
  switch (O(1)) {
    case 1:
      if (p) { Emit(k96); Advance(3); } else { Emit(kX); Advance(2); }
      break;
    case 2:
      if (p) { Emit(kX); Emit(kE1); Advance(4); } else { Emit(k5C); Advance(3); }
      break;
    case 3:
      if (p) { Emit(kX); Emit(kC5); Advance(5); } else { Emit(kV); Advance(4); }
      break;
    case 4:
      PackFourOnes();
      break;
    case 5:
      if (leading_zeros_done_) { Emit(kU); Advance(5); } else { Emit(k5C); Emit(k95); Advance(7); }
      break;
    case 6:
      if (p) { Emit(kV); Emit(k95); Advance(8); } else { Emit(kX); Emit(kU); Advance(7); }
      break;
    case 7:
      if (p) { Emit(kX); Emit(kU); Emit(kE1); Advance(9); } else { Emit(k5C); Emit(kU); Advance(8); }
      break;
    case 8:
      if (p) { Emit(kX); Emit(kU); Emit(kC5); Advance(10); } else { Emit(kV); Emit(kU); Advance(9); }
      break;
    case 9:  // the last run: the check byte FF and the end bit, two filler '1' bits
      Emit(kX); EmitU(2); End();
      break;
    default:
      throw EncoderError("no grouping for a run of " + std::to_string(O(1)) + " '1' bits");
  }
}

// Four '1' bits cannot share a group with their leading '0': they are split over
// two groups, the second of which must find a '0' after them.
void PacketEncoder::PackFourOnes() {
  if (Z(1) == 0) {  // end of text: one filler '1'
    Emit(kX); Emit(kU); End();
  } else if (Z(1) >= 2 || F(2)) {
    if (P(1)) { Emit(k5C); Emit(kC5); Advance(6); } else { Emit(kV); Emit(k99); Advance(7); }
  } else {
    PackChain();
  }
}

// O1 = 4 followed by a single '0' and more ones: the groups straddle each single '0'
// in turn ("Y" 1011, "e" 1101, 0x95 1110, "q" 101, 0xC5 110, 0xE1 10) until the
// groups can close at the end of a ones-run.
void PacketEncoder::PackChain() {
  const bool p2 = P(2);
  switch (O(2)) {
    case 1:
      if (p2) { Emit(k5C); Emit(kC5); Emit(kE1); Advance(8); } else { Emit(k5C); Emit(kE); Advance(7); }
      return;
    case 2:
      if (p2) { Emit(k5C); Emit(kC5); Emit(kC5); Advance(9); } else { Emit(kV); Emit(kY); Advance(8); }
      return;
    case 5:  // not a lone "U" (F2 fails), so P2 holds
      Emit(kV); Emit(kY); Emit(k95); Advance(12);
      return;
    case 6:
      if (p2) { Emit(k5C); Emit(kC5); Emit(kU); Emit(kE1); Advance(13); }
      else { Emit(kV); Emit(kQ); Emit(kU); Advance(12); }
      return;
    case 7:
      if (p2) { Emit(k5C); Emit(kC5); Emit(kU); Emit(kC5); Advance(14); }
      else { Emit(kV); Emit(kY); Emit(kU); Advance(13); }
      return;
    case 9:
      Emit(k5C); Emit(kC5); EmitU(2); End();
      return;
    case 3:
    case 4:
      if (Z(2) == 0) { Emit(k5C); Emit(kC5); Emit(kU); End(); return; }
      if (O(2) == 3 && (Z(2) >= 2 || F(3))) {
        if (p2) { Emit(k5C); Emit(kE); Emit(kC5); Advance(10); }
        else { Emit(kV); Emit(kY); Emit(k99); Advance(11); }
        return;
      }
      if (O(2) == 4 && Z(2) >= 2) { Emit(k5C); Emit(kE); Emit(k95); Advance(11); return; }
      break;
    default:
      break;
  }
  SearchChain();
}

// The longer chains: O2 = 3 or 4 followed by a single '0', and O2 = 8. Searched:
// the grouping that closes at the earliest ones-run wins; groups carry preferably
// two '1' bits into the next single '0', then one, and three only where nothing
// else closes; the chain closes where the zero-run after it keeps the parity P
// wants, and only where no such place exists does it close with the other parity
// (the polish pass then mends the lone '0').
void PacketEncoder::SearchChain() {
  for (int max_carry = 2; max_carry <= 3; ++max_carry) {
    for (bool keep_parity : {true, false}) {
      for (int close_at = 2; O(close_at) > 0; ++close_at) {
        for (Closing closing : {Closing::kAtEndOfRun, Closing::kTakingTwoZeros,
                                Closing::kTakingOneZero}) {
          if (keep_parity && Z(close_at) > 0 &&
              (closing == Closing::kTakingOneZero) != P(close_at)) {
            continue;
          }
          for (int carry : kCarryOrder) {
            if (carry > max_carry) continue;
            plan_size_ = 0;
            plan_[plan_size_++] = GroupAroundZero(0, 4 - carry);
            plan_bits_ = 1 + 4 + 1;  // leading '0', O1, the single '0' of Z1
            plan_ends_ = false;
            if (PlanChain(2, carry, close_at, closing, max_carry)) {
              for (int c = 0; c < plan_size_; ++c) Emit(plan_[c]);
              if (plan_ends_) End(); else Advance(plan_bits_);
              return;
            }
          }
        }
      }
    }
  }
  throw EncoderError("no grouping of the bits into serial characters gets past this chain of single '0' bits");
}

void PacketEncoder::PushPlan(std::uint8_t c) {
  if (plan_size_ == static_cast<int>(plan_.size())) throw EncoderError("chain too long");
  plan_[plan_size_++] = c;
}

void PacketEncoder::PushPlanU(int count) {
  for (int i = 0; i < count; ++i) PushPlan(kU);
}

// Plans the groups from the ones-run Oj on, where `carried` '1' bits (1..3) of the
// run before already stand in front of the single '0' Z(j-1), closing at O(close_at).
bool PacketEncoder::PlanChain(int j, int carried, int close_at, Closing closing, int max_carry) {
  const int ones = O(j);
  const int room = 3 - carried;  // '1' bits that may follow the '0' in its group
  if (Z(j) == 0) {  // the last run: the last "U" is filled up with '1' bits
    if (j != close_at) return false;
    const int after = std::min(room, ones);
    PushPlan(GroupAroundZero(carried, after));
    PushPlanU((ones - after + 4) / 5);
    plan_ends_ = true;
    return true;
  }
  const int saved_size = plan_size_;
  const int saved_bits = plan_bits_;
  // Puts `ones` - `rest` bits as the group of the single '0' plus whole "U"s.
  const auto place = [&](int rest) {
    if (rest > ones || (ones - rest) % 5 > room) return false;
    PushPlan(GroupAroundZero(carried, (ones - rest) % 5));
    PushPlanU((ones - rest) / 5);
    plan_bits_ += ones;
    return true;
  };
  if (j == close_at) {
    switch (closing) {
      case Closing::kAtEndOfRun:
        return place(0);
      case Closing::kTakingTwoZeros:
        if (Z(j) < 2 || !place(1)) return false;
        PushPlan(k99);
        plan_bits_ += 2;
        return true;
      case Closing::kTakingOneZero:
        // With a single '0' taken, the next ones-run has none left: it must be a "U".
        if (Z(j) == 1 && !F(j + 1)) return false;
        for (int carry : kCarryOrder) {
          if (carry > max_carry || !place(carry)) continue;
          PushPlan(GroupAroundZero(carry, 0));
          plan_bits_ += 1;
          return true;
        }
        return false;
    }
  }
  if (Z(j) != 1) return false;
  for (int carry : kCarryOrder) {
    if (carry > max_carry || !place(carry)) continue;
    plan_bits_ += 1;
    if (PlanChain(j + 1, carry, close_at, closing, max_carry)) return true;
    plan_size_ = saved_size;
    plan_bits_ = saved_bits;
  }
  return false;
}

}  // namespace

namespace {

SerialStream EncodePacket(const Packet& packet, int extra_preamble) {
  const BitRuns runs = RunsOf(packet);
  try {
    return PacketEncoder(runs).Encode(extra_preamble);
  } catch (const EncoderError& error) {
    throw EncoderError("packet " + ToHex(packet) + ": " + error.what());
  }
}

}  // namespace

SerialStream EncodeOperationsPacket(const Packet& packet) { return EncodePacket(packet, 0); }

SerialStream EncodeServicePacket(const Packet& packet) { return EncodePacket(packet, 2); }

SerialStream EncodeBitString(const BitString& bits) {
  const bool well_formed = bits.size() >= 2 && bits.size() <= kMaxEncodedBits &&
                           bits.front() == '0' && bits.back() == '1' &&
                           bits.find_first_not_of("01") == BitString::npos;
  if (!well_formed) {
    throw std::invalid_argument("not a bit string of '0' and '1' that starts with '0', ends with '1' and has at most " +
                                std::to_string(kMaxEncodedBits) + " bits");
  }
  return PacketEncoder(RunsOf(bits)).Encode(0);
}

}  // namespace qarn2::encoding
