#include "encoding/stream_polish.h"

#include <array>

#include "encoding/serial_alphabet.h"
#include "encoding/serial_encoder.h"

namespace qarn2::encoding {

void WorkingStream::ThrowFull() { throw EncoderError("working stream overflow"); }

void WorkingStream::Compact() {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (chars[i] != kEmptied) chars[kept++] = chars[i];
  }
  size = kept;
}

namespace {

using namespace chars;

// A rewrite of the first scan, for a 0xF0 followed by n pairs 0xC6 and then the
// characters X, Y, Z, W. What happens to the 0xF0 itself:
enum class Lead : std::uint8_t {
  kDrop,    // emptied; its '0' moves into X's group
  kToPair,  // becomes 0xC6, taking one '0' of the group after it
  kPrime,   // becomes 0xC6 and the last pair becomes `prime` (with no pairs, the
            // 0xF0 becomes `prime`)
};

constexpr std::int16_t kAny = -1;   // in `match`: anything, or nothing at all
constexpr std::int16_t kKeep = -1;  // in `result`: left as it is
constexpr std::int16_t kGone = WorkingStream::kEmptied;

struct Rewrite {
  std::array<std::int16_t, 4> match;   // X, Y, Z, W
  Lead lead;
  std::uint8_t prime;
  std::array<std::int16_t, 4> result;  // new X, Y, Z, W
};

// Tried in this order; the first that matches is applied.
constexpr Rewrite kRewrites[] = {
    {{kF0, kAny, kAny, kAny}, Lead::kToPair, 0, {kGone, kKeep, kKeep, kKeep}},
    {{kX, kAny, kAny, kAny}, Lead::kDrop, 0, {kF, kKeep, kKeep, kKeep}},
    {{k96, kAny, kAny, kAny}, Lead::kToPair, 0, {kE1, kKeep, kKeep, kKeep}},
    {{k5C, kX, kAny, kAny}, Lead::kDrop, 0, {kC6, kE, kKeep, kKeep}},
    {{k5C, kF, kAny, kAny}, Lead::kToPair, 0, {kC5, kX, kKeep, kKeep}},
    {{k5C, kC5, kAny, kAny}, Lead::kDrop, 0, {kF, k95, kKeep, kKeep}},
    {{k5C, kC6, kAny, kAny}, Lead::kDrop, 0, {kF, k99, kKeep, kKeep}},
    {{k5C, k96, kAny, kAny}, Lead::kPrime, kF, {kE1, kE1, kKeep, kKeep}},
    {{k5C, k5C, kAny, kAny}, Lead::kDrop, 0, {kF, kY, kKeep, kKeep}},
    {{k5C, kV, kX, kAny}, Lead::kDrop, 0, {kC6, kE, kE, kKeep}},
    {{k5C, k95, kX, kAny}, Lead::kDrop, 0, {kC6, kU, kF, kKeep}},
    {{k5C, kE, kX, kAny}, Lead::kDrop, 0, {kF, k95, kQ, kKeep}},
    {{kV, kF, kAny, kAny}, Lead::kToPair, 0, {k95, kX, kKeep, kKeep}},
    {{kV, k99, kX, kAny}, Lead::kDrop, 0, {kF, k95, kF, kKeep}},
    {{kV, k5C, k5C, kAny}, Lead::kDrop, 0, {kF, kE, kY, kKeep}},
    {{kV, k5C, kX, kAny}, Lead::kToPair, 0, {k95, kE, kGone, kKeep}},
    {{kV, kX, kAny, kAny}, Lead::kDrop, 0, {kF, kE, kKeep, kKeep}},
    {{kV, k96, kX, kAny}, Lead::kDrop, 0, {kF, kE, kF, kKeep}},
    {{kV, k96, kAny, kAny}, Lead::kToPair, 0, {k95, kE1, kKeep, kKeep}},
    {{kV, kC6, kX, kAny}, Lead::kToPair, 0, {k95, kGone, kF, kKeep}},
    {{kV, kC6, kC6, kX}, Lead::kToPair, 0, {k95, kKeep, kGone, kF}},
    {{kV, kV, kX, kAny}, Lead::kDrop, 0, {kF, kE, kE, kKeep}},
    {{kU, kX, kAny, kAny}, Lead::kDrop, 0, {kV, kE, kKeep, kKeep}},
    {{kU, k96, kAny, kAny}, Lead::kPrime, k5C, {k95, kE1, kKeep, kKeep}},
    {{kU, k5C, kX, kAny}, Lead::kDrop, 0, {k5C, k95, kE, kKeep}},
    {{kU, kC6, kX, kAny}, Lead::kDrop, 0, {k5C, k95, kF, kKeep}},
};

// Rewrites near the end of the stream, tried only when none of the above matched.
// `last` says which of X (0), Y (1) or Z (2) must be the stream's last character;
// `append_u` adds one 'U' (five filler '1' bits at most) behind the stream.
struct EndRewrite {
  int last;
  Rewrite rewrite;
  bool append_u;
};

constexpr EndRewrite kEndRewrites[] = {
    {0, {{k5C, kAny, kAny, kAny}, Lead::kToPair, 0, {kU, kKeep, kKeep, kKeep}}, false},
    {0, {{kV, kAny, kAny, kAny}, Lead::kToPair, 0, {kU, kKeep, kKeep, kKeep}}, false},
    {0, {{kU, kAny, kAny, kAny}, Lead::kDrop, 0, {kX, kKeep, kKeep, kKeep}}, true},
    {1, {{kV, kX, kAny, kAny}, Lead::kToPair, 0, {k95, kU, kKeep, kKeep}}, false},
    {1, {{kV, kV, kAny, kAny}, Lead::kToPair, 0, {k95, kU, kKeep, kKeep}}, false},
    {1, {{kV, k5C, kAny, kAny}, Lead::kToPair, 0, {k95, kU, kKeep, kKeep}}, false},
    {1, {{kV, kU, kAny, kAny}, Lead::kToPair, 0, {kU, kU, kKeep, kKeep}}, false},
    {1, {{kV, kY, kAny, kAny}, Lead::kPrime, kF, {k95, kU, kKeep, kKeep}}, false},
    {1, {{k5C, kV, kAny, kAny}, Lead::kToPair, 0, {kC5, kU, kKeep, kKeep}}, false},
    {1, {{k5C, kE, kAny, kAny}, Lead::kPrime, kF, {k95, kU, kKeep, kKeep}}, false},
    {1, {{k5C, kU, kAny, kAny}, Lead::kDrop, 0, {kF, kU, kKeep, kKeep}}, true},
    {1, {{kU, k5C, kAny, kAny}, Lead::kPrime, k5C, {k95, kU, kKeep, kKeep}}, false},
    {1, {{kU, kV, kAny, kAny}, Lead::kPrime, k5C, {k95, kU, kKeep, kKeep}}, false},
    {2, {{kV, kC6, k5C, kAny}, Lead::kDrop, 0, {kF, kC5, kC6, kKeep}}, true},
    {2, {{kV, kC6, kV, kAny}, Lead::kToPair, 0, {k95, kC6, kU, kKeep}}, false},
};

bool Matches(const WorkingStream& s, std::size_t x, const Rewrite& rewrite) {
  for (std::size_t k = 0; k < rewrite.match.size(); ++k) {
    if (rewrite.match[k] == kAny) continue;
    if (x + k >= s.size || s.chars[x + k] != rewrite.match[k]) return false;
  }
  return true;
}

// `f0` is the 0xF0, `x` the position of X (after f0 and its pairs).
void Apply(WorkingStream& s, std::size_t f0, std::size_t x, const Rewrite& rewrite) {
  switch (rewrite.lead) {
    case Lead::kDrop:
      s.chars[f0] = kGone;
      break;
    case Lead::kToPair:
      s.chars[f0] = kC6;
      break;
    case Lead::kPrime:
      if (x - f0 > 1) {
        s.chars[f0] = kC6;
        s.chars[x - 1] = rewrite.prime;
      } else {
        s.chars[f0] = rewrite.prime;
      }
      break;
  }
  for (std::size_t k = 0; k < rewrite.result.size() && x + k < s.size; ++k) {
    if (rewrite.result[k] != kKeep) s.chars[x + k] = static_cast<std::uint8_t>(rewrite.result[k]);
  }
}

void MergeWithPairsAndNeighbours(WorkingStream& s) {
  std::size_t i = 0;
  while (i < s.size) {
    if (s.chars[i] != kF0) {
      ++i;
      continue;
    }
    std::size_t x = i + 1;
    while (x < s.size && s.chars[x] == kC6) ++x;
    if (x >= s.size) break;
    bool done = false;
    for (const Rewrite& rewrite : kRewrites) {
      if (Matches(s, x, rewrite)) {
        Apply(s, i, x, rewrite);
        done = true;
        break;
      }
    }
    if (!done) {
      for (const EndRewrite& end : kEndRewrites) {
        if (x + end.last + 1 == s.size && Matches(s, x, end.rewrite)) {
          Apply(s, i, x, end.rewrite);
          if (end.append_u) s.Append(kU);
          break;
        }
      }
    }
    i = x + 1;
  }
}

// A 0xF0 that is still there joins the group of a neighbour.
void MergeWithNeighbour(WorkingStream& s) {
  for (std::size_t i = 0; i < s.size; ++i) {
    if (s.chars[i] != kF0) continue;
    const bool has_next = i + 1 < s.size;
    if (i > 0 && s.chars[i - 1] == kX) {  // 01 + 0
      s.chars[i - 1] = k96;
      s.chars[i] = kGone;
    } else if (i > 0 && s.chars[i - 1] == kE1) {  // 10 + 0
      s.chars[i - 1] = k99;
      s.chars[i] = kGone;
    } else if (has_next && s.chars[i + 1] == kX) {  // 0 + 01
      s.chars[i] = kF;
      s.chars[i + 1] = kGone;
    } else if (has_next && s.chars[i + 1] == kE1) {  // 0 + 10
      s.chars[i] = k96;
      s.chars[i + 1] = kGone;
    }
  }
}

// 0 11111 0 becomes 0111 110.
void MergeAroundU(WorkingStream& s) {
  for (std::size_t i = 0; i + 2 < s.size; ++i) {
    if (s.chars[i] == kF0 && s.chars[i + 1] == kU && s.chars[i + 2] == kF0) {
      s.chars[i] = kV;
      s.chars[i + 1] = kC5;
      s.chars[i + 2] = kGone;
    }
  }
}

bool EndsWith(const WorkingStream& s, std::size_t i, std::initializer_list<std::uint8_t> tail) {
  if (i + tail.size() != s.size) return false;
  for (std::uint8_t c : tail) {
    if (s.chars[i++] != c) return false;
  }
  return true;
}

void MergeAfterLastScans(WorkingStream& s) {
  for (std::size_t i = 0; i < s.size; ++i) {
    if (s.chars[i] != kF0) continue;
    if (i > 0 && s.chars[i - 1] == kE) {  // 1101 + 0 = 110 10
      s.chars[i - 1] = kC5;
      s.chars[i] = kE1;
    } else if (i > 0 && s.chars[i - 1] == kY) {  // 1011 + 0 = 101 10
      s.chars[i - 1] = kQ;
      s.chars[i] = kE1;
    } else if (EndsWith(s, i, {kF0, kV, kC6, kX})) {  // 0 0111 00 01 = 00 1110 001
      s.chars[i] = kC6;
      s.chars[i + 1] = k95;
      s.chars[i + 2] = kF;
      s.chars[i + 3] = kGone;
    } else if (EndsWith(s, i, {kF0, kC6, kC6, k5C, kU})) {  // three filler '1' added
      s.chars[i] = kC6;
      s.chars[i + 3] = kU;
    }
  }
}

}  // namespace

void PolishStream(WorkingStream& s) {
  MergeWithPairsAndNeighbours(s);
  MergeWithNeighbour(s);
  MergeAroundU(s);
  s.Compact();
  // The packet's first '0' after the two preamble characters: a '1' joins the
  // preamble and the '0' gets 208 us halves.
  if (s.size >= 3 && s.chars[2] == kF0) s.chars[2] = kE1;
  MergeAfterLastScans(s);
  s.Compact();
}

}  // namespace qarn2::encoding
