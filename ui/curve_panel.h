#pragma once

#include <array>
#include <functional>
#include <string>

#include "curve/curve_editor.h"

class QGroupBox;
class QLabel;
class QObject;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QWidget;

namespace qarn2::ui {

// The speed curve panel `Kennlinienbox` ("Geschwindigkeitskennlinie", hidden at
// start): the bars `ScrollBar1` .. `ScrollBar28` for the entries of CV 67..94, their
// end labels, the value line `KennlWert`, the five curve choices and "übernehmen" /
// "abbrechen".
//
// A bar's position is 255 minus its entry: the top end (position 0) means 255.
// "+ e- Funktion" is never shown or hidden on its own: it comes and goes with the box.
class CurvePanel : public curve::CurveEditorView {
 public:
  static constexpr int kBars = 28;
  static constexpr int kModes = 5;

  // What the panel needs from the window.
  struct WindowHooks {
    std::function<void()> hide_all_panels;
    // Runs `start`, which sets off one of the window's handlers (checking a radio
    // button, moving a bar); that handler belongs to the caller, which gets its error.
    std::function<void(const std::function<void()>& start)> as_part_of_caller;
  };

  CurvePanel(QWidget* client, WindowHooks hooks);

  QGroupBox* Box() const { return box_; }
  // Bar N (1..28), left to right.
  QScrollBar* Bar(int n) const { return bars_.at(static_cast<std::size_t>(n - 1)); }
  // The number of the bar `object` is (1..28), or 0 when it is none of them.
  int BarNumber(const QObject* object) const;
  // The radio button of a curve mode (0 "Einzeln" .. 4 "+ e- Funktion").
  QRadioButton* ModeButton(int mode) const { return modes_.at(static_cast<std::size_t>(mode)); }
  QPushButton* ApplyButton() const { return apply_; }
  QPushButton* CancelButton() const { return cancel_; }

  // --- curve::CurveEditorView
  void HideAllPanels() override;
  void ShowCurvePanel() override;
  void HideCurvePanel() override;
  void SetBarPosition(int bar, int position) override;
  void ShowValue(const std::string& text) override;

 private:
  void BuildBars();
  void BuildChoicesAndButtons();

  QGroupBox* box_;
  std::array<QScrollBar*, kBars> bars_{};
  QLabel* first_label_ = nullptr;
  QLabel* last_label_ = nullptr;
  QLabel* value_ = nullptr;
  std::array<QRadioButton*, kModes> modes_{};
  QPushButton* apply_ = nullptr;
  QPushButton* cancel_ = nullptr;
  WindowHooks hooks_;
};

}  // namespace qarn2::ui
