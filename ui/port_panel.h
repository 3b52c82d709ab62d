#pragma once

class QGroupBox;
class QRadioButton;
class QWidget;

namespace qarn2::ui {

// The port panel `Portbox` with COM1 and COM2 ("Printer Port" is never shown).
// Hidden at start.
class PortPanel {
 public:
  explicit PortPanel(QWidget* client);

  void Show();
  void Hide();
  bool Shown() const;
  QRadioButton* Com1() const { return com1_; }
  QRadioButton* Com2() const { return com2_; }

 private:
  QGroupBox* box_;
  QRadioButton* com1_;
  QRadioButton* com2_;
  QRadioButton* printer_;
};

}  // namespace qarn2::ui
