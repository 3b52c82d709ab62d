// The curve maths against the worked examples, a property check over random tables,
// and the 6-byte real the results pass through.

#include "curve/speed_curve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>

namespace qarn2::curve {
namespace {

SpeedTable Table(int t1, int t2 = 0, int t28 = 0) {
  SpeedTable t{};
  t[0] = t1;
  t[1] = t2;
  t[27] = t28;
  return t;
}

// Entry i (1..28) of a table moved to `value` at k and recomputed in `mode`.
SpeedTable Moved(SpeedTable t, int mode, int k, int value) {
  t[k - 1] = value;
  RecomputeCurve(t, mode, k);
  return t;
}

TEST(Real48Test, FortyBitsHalvesAwayFromZeroAndItsRange) {
  const long double ulp = ldexpl(1.0L, -39);  // at 1.0
  const struct {
    long double in;
    long double out;
  } cases[] = {
      {1.0L + ulp / 2, 1.0L + ulp},     {1.0L + ulp / 4, 1.0L},
      {-(1.0L + ulp / 2), -(1.0L + ulp)}, {2.5L, 2.5L},
      {1.0L / 3, 733007751851.0L / 2199023255552.0L},  // 2^41 / 3 rounded up, over 2^41
      {ldexpl(1.0L, -128), ldexpl(1.0L, -128)}, {ldexpl(1.0L, -129), 0.0L},
  };
  for (const auto& c : cases) {
    long double v = c.in;
    ASSERT_TRUE(StoreInReal48(v));
    EXPECT_EQ(v, c.out) << static_cast<double>(c.in);
  }
  long double largest = ldexpl(2.0L - ldexpl(1.0L, -39), 126);  // about 1.7e38
  EXPECT_TRUE(StoreInReal48(largest));
  for (long double too_large : {ldexpl(1.0L, 127), -ldexpl(1.0L, 127), std::numeric_limits<long double>::infinity()}) {
    EXPECT_FALSE(StoreInReal48(too_large));
  }
  // Just below a half, but within the 6-byte real's rounding: it becomes the half,
  // which then goes to the even neighbour.
  EXPECT_EQ(StoreEntry(2.5L - ldexpl(1.0L, -50)), 2);
  EXPECT_EQ(StoreEntry(3.5L), 4);
  EXPECT_EQ(StoreEntry(255.4L), 255);
  EXPECT_EQ(StoreEntry(255.6L), 255);
  EXPECT_EQ(StoreEntry(-0.4L), 0);
}

TEST(SpeedCurveTest, StraightLine) {
  // Through the far end: entry i = 255 (i - 1) / 27.
  SpeedTable t = Moved(Table(0), kLine, 28, 255);
  const std::map<int, int> through_the_end{{1, 0},    {2, 9},    {3, 19},   {4, 28},  {5, 38},
                                           {15, 132}, {26, 236}, {27, 246}, {28, 255}};
  for (const auto& [i, value] : through_the_end) EXPECT_EQ(t[i - 1], value) << i;
  t = Moved(Table(0, 0, 255), kLine, 1, 0);
  EXPECT_EQ(t[1], 9);
  EXPECT_EQ(t[26], 246);
  EXPECT_EQ(t[27], 255);
  // Continued past the moved entry and clamped.
  t = Moved(Table(0), kLine, 15, 200);
  EXPECT_EQ(t[15], 214);
  EXPECT_EQ(t[17], 243);
  for (int i = 19; i <= 28; ++i) EXPECT_EQ(t[i - 1], 255) << i;
  // Exact halves go to the even neighbour.
  t = Moved(Table(0), kLine, 15, 7);
  EXPECT_EQ(t[1], 0);  // 0.5
  EXPECT_EQ(t[3], 2);  // 1.5
  EXPECT_EQ(t[5], 2);  // 2.5
}

TEST(SpeedCurveTest, SineArc) {
  const int bow[] = {12, 23, 34, 45, 55, 64, 73, 80, 87, 92, 96, 98, 100};  // entries 2..14
  const SpeedTable t = Moved(Table(0), kArc, 14, 100);
  for (int i = 2; i <= 14; ++i) {
    EXPECT_EQ(t[i - 1], bow[i - 2]) << i;
    EXPECT_EQ(t[29 - i - 1], bow[i - 2]) << 29 - i;  // symmetric about 14.5
  }
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[27], 0);
  // The ends move nothing.
  for (int k : {1, 28}) {
    SpeedTable flat = Table(5, 17, 40);
    flat[9] = 77;
    EXPECT_EQ(Moved(flat, kArc, k, 30), [&] { SpeedTable f = flat; f[k - 1] = 30; return f; }()) << k;
  }
}

TEST(SpeedCurveTest, ParabolaAndItsFailure) {
  SpeedTable t = Moved(Table(10, 10), kParabola, 10, 5);  // G = -5: no square root
  EXPECT_EQ(t, [] { SpeedTable e = Table(10, 10); e[9] = 10; return e; }());
  t = Moved(Table(10, 10), kParabola, 10, 91);  // G = 81, R = 9
  for (int i = 3; i <= 16; ++i) EXPECT_EQ(t[i - 1], 10 + (i - 1) * (i - 1)) << i;
  for (int i = 17; i <= 28; ++i) EXPECT_EQ(t[i - 1], 255) << i;
}

TEST(SpeedCurveTest, ExponentialAndItsFailure) {
  SpeedTable t = Moved(Table(0, 0), kExponential, 10, 60);  // L = 0
  EXPECT_EQ(t, Table(0, 0));
  t = Moved(Table(10, 12), kExponential, 10, 60);
  const int rising[] = {16, 21, 25, 30, 36, 43, 51, 60, 70, 82, 94, 109, 126, 144, 165, 189, 215, 245};
  for (int i = 3; i <= 20; ++i) EXPECT_EQ(t[i - 1], rising[i - 3]) << i;
  for (int i = 21; i <= 28; ++i) EXPECT_EQ(t[i - 1], 255) << i;
  // No logarithm of a negative number: L = 10 - 260 * 2 / 27 = -9.3 goes into the
  // moved entry (as 0), nothing else changes.
  t = Moved(Table(10, 0), kExponential, 3, 255);
  EXPECT_EQ(t, [] { SpeedTable e = Table(10, 0); e[2] = 0; return e; }());
  // A result beyond the 6-byte real: with L = 1/27 at k = 3 the exponential grows by
  // e^4.4 an entry and the (negative) base line passes 1.7e38 at entry 21. The entries
  // stored before stay, the moved one gets L (0), the rest is not reached.
  SpeedTable steep = Table(27, 13);
  for (int i = 21; i <= 28; ++i) steep[i - 1] = 99;
  t = Moved(steep, kExponential, 3, 255);
  EXPECT_EQ(t[2], 0);
  for (int i = 4; i <= 20; ++i) EXPECT_EQ(t[i - 1], 0) << i;
  for (int i = 21; i <= 28; ++i) EXPECT_EQ(t[i - 1], 99) << i;
}

TEST(SpeedCurveTest, RandomMovesKeepTheRulesOfEachMode) {
  std::mt19937 random(4711);
  std::uniform_int_distribution<int> value(0, 255), entry(1, 28), mode(0, 4);
  for (int run = 0; run < 20000; ++run) {
    SpeedTable before{};
    for (int& e : before) e = value(random);
    const int m = mode(random);
    const int k = entry(random);
    before[k - 1] = value(random);
    SpeedTable after = before;
    RecomputeCurve(after, m, k);
    SCOPED_TRACE(testing::Message() << "mode " << m << " k " << k << " run " << run);
    for (int e : after) ASSERT_TRUE(e >= 0 && e <= 255);
    switch (m) {
      case kSingle:
        ASSERT_EQ(after, before);
        break;
      case kLine:
        ASSERT_EQ(after[k >= 15 ? 0 : 27], before[k >= 15 ? 0 : 27]);
        break;
      case kArc:
        ASSERT_EQ(after[0], before[0]);
        ASSERT_EQ(after[27], before[27]);
        break;
      default:  // parabola, exponential
        ASSERT_EQ(after[0], before[0]);
        if (k != 2) {
          ASSERT_EQ(after[1], before[1]);
        }
        if (k < 3) {
          for (int i = 3; i <= 28; ++i) ASSERT_EQ(after[i - 1], before[i - 1]);
        }
        break;
    }
  }
}

TEST(SpeedCurveTest, ApplyRewritesOnlyTheSpeedTableLines) {
  SpeedTable t{};
  for (int i = 0; i < 28; ++i) t[i] = 3 * i;
  t[8] = 100;
  programming::TextSheet sheet("*dir\r\n75    3 Trimm\r\n29 6 Konfiguration\r\n67\r\n94 255 (Stufe 28)\r\n068 x");
  ApplySpeedTable(sheet, t);
  EXPECT_EQ(sheet.Text(), "*dir\r\n75  100 Trimm\r\n29 6 Konfiguration\r\n67    0 \r\n94   81 (Stufe 28)\r\n68    3 x");
}

}  // namespace
}  // namespace qarn2::curve
