#pragma once

#include <array>
#include <string>

namespace qarn2::programming {

// The program's shared values that its commands hand each other. The track link holds
// the ones of the serial link (ticks, acknowledge, background stream, `CvNumber`).
struct ProgramState {
  // "dir", "dio", "reg", "pag" or "roc"; a decoder file may bring another text.
  std::string ProgrammingMode;
  // The value to write, or the value a read found (0..255; -1 or 255 after a failed scan).
  int CvValue = 0;
  // Stops a running scan or whole-sheet command; set whenever a panel is opened.
  bool AbortFlag = false;
  // Address (0..127) and speed steps (14 or 28) of the try-outs.
  int LocoAddress = 0;
  int SpeedSteps = 0;
  // The speed table, CV 67..94: entry k (1..28) is SpeedTable[k - 1].
  std::array<int, 28> SpeedTable{};
};

}  // namespace qarn2::programming
