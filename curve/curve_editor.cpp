#include "curve/curve_editor.h"

namespace qarn2::curve {
namespace {

constexpr int kBars = 28;
constexpr int kTop = 255;  // a bar's position is 255 - its entry
constexpr int kFirstCv = 67;

}  // namespace

CurveEditor::CurveEditor(programming::ProgramState& state, programming::CvCommands& commands,
                         CurveEditorView& view)
    : state_(state), commands_(commands), view_(view) {}

std::string CurveEditor::ValueText(int bar) const {
  return "CV " + std::to_string(kFirstCv - 1 + bar) + "= " + std::to_string(state_.SpeedTable[bar - 1]);
}

void CurveEditor::Open(const programming::SheetLines& sheet) {
  state_.AbortFlag = true;
  view_.HideAllPanels();
  mode_ = kSingle;
  view_.ShowCurvePanel();
  commands_.ScanSheet(sheet);
  ShowSpeedTable();
}

void CurveEditor::ShowSpeedTable() {
  for (int bar = 1; bar <= kBars; ++bar) view_.SetBarPosition(bar, kTop - state_.SpeedTable[bar - 1]);
}

void CurveEditor::BarChanged(int bar, int position) {
  if (bar < 1 || bar > kBars) return;
  state_.SpeedTable[bar - 1] = kTop - position;
  view_.ShowValue(ValueText(bar));
  if (!busy_) Recompute(bar);
}

void CurveEditor::BarFocused(int bar) {
  if (bar >= 1 && bar <= kBars) view_.ShowValue(ValueText(bar));
}

void CurveEditor::Recompute(int k) {
  busy_ = true;
  RecomputeCurve(state_.SpeedTable, mode_, k);
  ShowSpeedTable();  // the bars' handlers only store the same values now
  view_.ShowValue(ValueText(k));
  busy_ = false;
}

void CurveEditor::Apply(programming::SheetLines& sheet) {
  ApplySpeedTable(sheet, state_.SpeedTable);
  view_.HideCurvePanel();
}

void CurveEditor::Cancel(const programming::SheetLines& sheet) {
  state_.SpeedTable.fill(0);
  view_.HideCurvePanel();
  commands_.ScanSheet(sheet);
}

}  // namespace qarn2::curve
