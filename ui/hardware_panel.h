#pragma once

#include <array>

class QGroupBox;
class QRadioButton;
class QWidget;

namespace qarn2::ui {

// The hardware panel `Hardwarebox`: the product's board, a bare booster, the LGB
// interface and below them a DCC-EX station; the Lenz and PR1 choices exist but are
// never shown. Hidden at start.
class HardwarePanel {
 public:
  explicit HardwarePanel(QWidget* client);

  // Shows the panel with the buttons offered.
  void Show();
  void Hide();
  bool Shown() const;
  // The button of HardwareKind `kind` (0..5).
  QRadioButton* Button(int kind) const { return buttons_.at(static_cast<std::size_t>(kind)); }
  QRadioButton* Qarn() const { return buttons_[0]; }

 private:
  QGroupBox* box_;
  std::array<QRadioButton*, 6> buttons_{};
};

}  // namespace qarn2::ui
