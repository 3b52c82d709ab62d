#pragma once

#include <string>

namespace qarn2::ui {

// The program's shared values that the window's commands hand each other. The track
// link holds the ones of the serial link (ticks, acknowledge, background stream).
struct ProgramState {
  // "dir", "dio", "reg", "pag" or "roc"; a decoder file may bring another text.
  std::string ProgrammingMode;
  // Stops a running scan or whole-sheet command; set whenever a panel is opened.
  bool AbortFlag = false;
  // Address (0..127) and speed steps (14 or 28) of the try-outs.
  int LocoAddress = 0;
  int SpeedSteps = 0;
};

}  // namespace qarn2::ui
