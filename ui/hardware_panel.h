#pragma once

#include <array>

class QGroupBox;
class QRadioButton;
class QWidget;

namespace qarn2::ui {

// The hardware panel `Hardwarebox`: the product's board, a bare booster and the LGB
// interface; the Lenz and PR1 choices exist but are never shown. Hidden at start.
class HardwarePanel {
 public:
  explicit HardwarePanel(QWidget* client);

  // Shows the panel with its first three buttons.
  void Show();
  void Hide();
  bool Shown() const;
  // The button of HardwareKind `kind` (0..4).
  QRadioButton* Button(int kind) const { return buttons_.at(static_cast<std::size_t>(kind)); }
  QRadioButton* Qarn() const { return buttons_[0]; }

 private:
  static constexpr int kOffered = 3;
  QGroupBox* box_;
  std::array<QRadioButton*, 5> buttons_{};
};

}  // namespace qarn2::ui
