#include "curve/speed_curve.h"

#include <cfenv>
#include <cmath>
#include <cstdio>

namespace qarn2::curve {
namespace {

constexpr int kEntries = 28;
constexpr int kFirstCv = 67;
constexpr int kLastCv = 94;
constexpr int kHighest = 255;
// The 6-byte real: 40 significant bits; exponents as frexp counts them from -127 up to
// 127 (its biased exponent 1..255 is e + 128).
constexpr int kReal48Bits = 40;
constexpr int kReal48MinExponent = -127;
constexpr int kReal48MaxExponent = 127;

constexpr long double kOneBy27 = 1.0L / 27.0L;
constexpr long double kPiBy27 = 3.14159265358979323846264338327950288L / 27.0L;

// Entry i (1..28) of the table.
int& At(SpeedTable& table, int i) { return table[i - 1]; }

// A quantity held in a 6-byte real; false when it does not fit.
bool Hold(long double& value) { return StoreInReal48(value); }

// Stores a result into entry i; false when it is too large for a 6-byte real.
bool StoreResult(SpeedTable& table, int i, long double y) {
  if (!StoreInReal48(y)) return false;
  At(table, i) = StoreEntry(y);
  return true;
}

void Line(SpeedTable& table, int k) {
  const int t1 = At(table, 1);
  const int t28 = At(table, 28);
  const int tk = At(table, k);
  if (k >= 15) {
    for (int i = 2; i <= kEntries; ++i) {
      const long double y = t1 + static_cast<long double>((tk - t1) * (i - 1)) / (k - 1);
      StoreResult(table, i, y);
    }
  } else {
    for (int i = 1; i <= kEntries - 1; ++i) {
      const long double y =
          (static_cast<long double>(i - k) / (28 - k)) * static_cast<long double>(t28 - tk) + tk;
      StoreResult(table, i, y);
    }
  }
}

void Arc(SpeedTable& table, int k) {
  if (k < 2 || k > 27) return;
  const int t1 = At(table, 1);
  const int a = At(table, 28) - t1;
  long double q = static_cast<long double>(a * (k - 1)) * kOneBy27;
  Hold(q);
  long double h = (At(table, k) - q) - t1;
  Hold(h);
  for (int i = 2; i <= 27; ++i) {
    const long double y =
        (static_cast<long double>(a * (i - 1)) * kOneBy27 + h * sinl((i - 1) * kPiBy27)) + t1;
    StoreResult(table, i, y);
  }
}

// The base line of modes 3 and 4 at k: L = S (k - 1) / 27 + t1, S = 26 (t2 - t1).
long double BaseLine(int s, int t1, int k) {
  long double l = static_cast<long double>(s * (k - 1)) * kOneBy27 + t1;
  Hold(l);
  return l;
}

void Parabola(SpeedTable& table, int k) {
  const int t1 = At(table, 1);
  const int s = 26 * (At(table, 2) - t1);
  const long double l = BaseLine(s, t1, k);
  long double g = At(table, k) - l;
  Hold(g);
  if (g < 0) {  // no square root
    At(table, k) = StoreEntry(l);
    return;
  }
  long double r = sqrtl(g);
  Hold(r);
  if (k < 3) return;
  for (int i = 3; i <= kEntries; ++i) {
    const long double p = (r / (k - 1)) * (i - 1);
    const long double y = p * p + ((s * kOneBy27) * (i - 1) + t1);
    StoreResult(table, i, y);
  }
}

void Exponential(SpeedTable& table, int k) {
  const int t1 = At(table, 1);
  const int s = 26 * (At(table, 2) - t1);
  const long double l = BaseLine(s, t1, k);
  const auto fail = [&] { At(table, k) = StoreEntry(l); };
  const int tk = At(table, k);
  if (l == 0) return fail();  // division by zero
  const long double ratio = tk / l;
  if (ratio <= 0) return fail();  // no logarithm
  long double e = logl(ratio);
  if (!Hold(e)) return fail();
  if (k < 3) return;
  for (int i = 3; i <= kEntries; ++i) {
    const long double y = expl((e / (k - 1)) * (i - 1)) * (static_cast<long double>(s * (i - 1)) * kOneBy27 + t1);
    if (!StoreResult(table, i, y)) return fail();
  }
}

}  // namespace

bool StoreInReal48(long double& value) {
  if (std::isnan(value) || std::isinf(value)) return false;
  if (value == 0) return true;
  int exponent = 0;
  const long double fraction = frexpl(fabsl(value), &exponent);  // in [0.5, 1)
  long double significand = floorl(ldexpl(fraction, kReal48Bits) + 0.5L);  // halves away from zero
  if (significand == ldexpl(1.0L, kReal48Bits)) {
    significand = ldexpl(1.0L, kReal48Bits - 1);
    ++exponent;
  }
  if (exponent > kReal48MaxExponent) return false;
  if (exponent < kReal48MinExponent) {
    value = 0;
    return true;
  }
  const long double held = ldexpl(significand, exponent - kReal48Bits);
  value = value < 0 ? -held : held;
  return true;
}

int StoreEntry(long double y) {
  if (!StoreInReal48(y)) return y > 0 ? kHighest : 0;
  if (y > kHighest) return kHighest;
  if (y < 0) return 0;
  // The default rounding of the floating-point unit: to nearest, halves to even.
  return static_cast<int>(nearbyintl(y));
}

void RecomputeCurve(SpeedTable& table, int mode, int k) {
  if (k < 1 || k > kEntries) return;
  switch (mode) {
    case kLine:
      Line(table, k);
      break;
    case kArc:
      Arc(table, k);
      break;
    case kParabola:
      Parabola(table, k);
      break;
    case kExponential:
      Exponential(table, k);
      break;
    default:
      break;
  }
}

std::string SpeedTableLine(int cv, int entry, const std::string& line) {
  char fields[32];
  std::snprintf(fields, sizeof fields, "%d  %3d ", cv, entry);
  return fields + programming::LineDescription(line);
}

void ApplySpeedTable(programming::SheetLines& sheet, const SpeedTable& table) {
  const int count = sheet.LineCount();
  for (int i = 0; i < count; ++i) {
    const std::string line = sheet.Line(i);
    const int cv = programming::ParseCvNumber(line);
    if (cv < kFirstCv || cv > kLastCv) continue;
    sheet.ReplaceLine(i, SpeedTableLine(cv, table[cv - kFirstCv], line));
  }
}

}  // namespace qarn2::curve
