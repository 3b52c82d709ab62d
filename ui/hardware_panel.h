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
  QRadioButton* Qarn() const { return buttons_[0]; }
  QRadioButton* Booster() const { return buttons_[1]; }
  QRadioButton* Lgb() const { return buttons_[2]; }

 private:
  static constexpr int kOffered = 3;
  QGroupBox* box_;
  std::array<QRadioButton*, 5> buttons_{};
};

}  // namespace qarn2::ui
