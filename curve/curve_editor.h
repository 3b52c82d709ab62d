#pragma once

#include <string>

#include "curve/speed_curve.h"
#include "programming/cv_commands.h"
#include "programming/program_state.h"

namespace qarn2::curve {

// What the editor shows. The window implements it with `Kennlinienbox`; every method
// does nothing unless overridden.
class CurveEditorView {
 public:
  virtual ~CurveEditorView() = default;
  // The window's HideAllPanels, which also hides this panel.
  virtual void HideAllPanels() {}
  // Checks "Einzeln" (its handler only sets the mode to 0 again) and shows the panel.
  virtual void ShowCurvePanel() {}
  virtual void HideCurvePanel() {}
  // Sets bar N (1..28) to `position` (0..255, 0 at the top). A position that differs
  // from the bar's runs its change handler (BarChanged) as part of the caller.
  virtual void SetBarPosition(int /*bar*/, int /*position*/) {}
  // KennlWert: "CV 80= 123".
  virtual void ShowValue(const std::string& /*text*/) {}
};

// The speed table editor: 28 bars, one per entry of CV 67..94 (position = 255 - entry),
// reshaped by the chosen curve whenever a bar moves, written into the sheet on
// "übernehmen". It never talks to the decoder.
class CurveEditor {
 public:
  // `commands` runs ScanSheet (speed table and menu items); the table is the program's
  // shared SpeedTable.
  CurveEditor(programming::ProgramState& state, programming::CvCommands& commands, CurveEditorView& view);

  // "Kennlinie": panels hidden, "Einzeln", the panel shown, the table loaded from the
  // sheet and shown on the bars.
  void Open(const programming::SheetLines& sheet);
  // Bar N (1..28) moved to `position`, by the user or by the editor itself.
  void BarChanged(int bar, int position);
  // Bar N took the keyboard focus.
  void BarFocused(int bar);
  // One of the five radio buttons: only the mode changes.
  void ChooseMode(int mode) { mode_ = mode; }
  // "übernehmen": the table into the sheet, the panel hidden.
  void Apply(programming::SheetLines& sheet);
  // "abbrechen": the table emptied, the panel hidden, the table reloaded from the sheet.
  void Cancel(const programming::SheetLines& sheet);

  int Mode() const { return mode_; }
  bool Busy() const { return busy_; }

 private:
  // Puts every entry on its bar, 1 to 28.
  void ShowSpeedTable();
  void Recompute(int k);
  std::string ValueText(int bar) const;

  programming::ProgramState& state_;
  programming::CvCommands& commands_;
  CurveEditorView& view_;
  int mode_ = kSingle;  // CurveMode
  bool busy_ = false;   // CurveBusy
};

}  // namespace qarn2::curve
