#pragma once

#include <array>
#include <string>

#include "programming/sheet_lines.h"

namespace qarn2::curve {

// The speed table: entry N (1..28) is table[N - 1], the value of CV 66 + N, 0..255.
using SpeedTable = std::array<int, 28>;

// How a moved entry reshapes the table.
enum CurveMode : int {
  kSingle = 0,    // "Einzeln": only the moved entry
  kLine = 1,      // "Gerade": a straight line through the moved entry and the far end
  kArc = 2,       // "+/- Kreisbogen": half a sine wave over the chord from entry 1 to 28
  kParabola = 3,  // "+ Quadratlinie": the line of entries 1 and 2 plus a parabola
  kExponential = 4,  // "+ e- Funktion": that line scaled by an exponential
};

// A value held in a 6-byte real (sign, 8-bit exponent, 40-bit significand with its
// leading bit hidden): rounded to 40 significant bits, halves away from zero; a value
// below 2^-128 in magnitude becomes 0. Returns false (and leaves `value` alone) when it
// is too large for one (about 1.7e38), or not a number.
bool StoreInReal48(long double& value);

// The entry a result becomes: held in a 6-byte real, then 255 above 255, 0 below 0,
// else rounded to the nearest integer, an exact half to the even one.
int StoreEntry(long double y);

// Recomputes the table after entry k (1..28) was moved, in extended precision with the
// named intermediate quantities held in 6-byte reals. t1, t2, tk and t28 are the
// entries as they stand when it starts. Faults of modes 3 and 4 (square root or
// logarithm of a negative number, a division by zero, a result too large) end the
// recomputation: the entries stored so far stay, and entry k gets the base line's
// value at k.
void RecomputeCurve(SpeedTable& table, int mode, int k);

// Rewrites every sheet line for CV 67..94 as "CV, two blanks, the entry right-aligned
// in three characters, a blank, the old line's description" ("75  100 Trimm"). Other
// lines stay; no line is added.
void ApplySpeedTable(programming::SheetLines& sheet, const SpeedTable& table);

// The line ApplySpeedTable makes of `line` for CV `cv`.
std::string SpeedTableLine(int cv, int entry, const std::string& line);

}  // namespace qarn2::curve
