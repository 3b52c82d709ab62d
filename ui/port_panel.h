#pragma once

class QGroupBox;
class QPushButton;
class QRadioButton;
class QWidget;

namespace qarn2::ui {

// The port panel `Portbox` with COM1 and COM2 ("Printer Port" is never shown) and,
// in the printer's place, "Geräte..." that opens the dialog of the serial devices.
// Hidden at start.
class PortPanel {
 public:
  explicit PortPanel(QWidget* client);

  void Show();
  void Hide();
  bool Shown() const;
  QRadioButton* Com1() const { return com1_; }
  QRadioButton* Com2() const { return com2_; }
  QPushButton* Devices() const { return devices_; }

 private:
  QGroupBox* box_;
  QRadioButton* com1_;
  QRadioButton* com2_;
  QRadioButton* printer_;
  QPushButton* devices_;
};

}  // namespace qarn2::ui
