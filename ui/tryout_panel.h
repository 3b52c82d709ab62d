#pragma once

#include <array>
#include <functional>
#include <string>

#include "tryout/tryout_commands.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QWidget;

namespace qarn2::ui {

// The try-out panel `Steuerbox` ("Decoder ausprobieren", hidden at start), shared by
// the locomotive, turnout and function decoder try-outs: the address entry, the
// speed-step buttons, the function boxes F1..F12 and FL, the regulator with its
// labels, the turnout box with "links" and "rechts", and "Ende".
//
// F9..F12 and "Ende" are never shown or hidden one by one: they come and go with the
// box. The check boxes and the regulator keep their states between openings.
class TryOutPanel : public tryout::TryOutView {
 public:
  // What the panel needs from the window.
  struct WindowHooks {
    std::function<void()> hide_all_panels;
    // Runs `start`, which sets off one of the window's handlers (checking a radio
    // button, moving the regulator); that handler belongs to the caller, which gets
    // its error.
    std::function<void(const std::function<void()>& start)> as_part_of_caller;
  };

  TryOutPanel(QWidget* client, WindowHooks hooks);

  QGroupBox* Box() const { return box_; }
  QLineEdit* AddressEntry() const { return entry_; }
  // The address entry's text as the engine takes it.
  std::string AddressText() const;
  // "14", "28" and "128 Speedsteps"; null for any other number.
  QRadioButton* SpeedButton(int steps) const;
  QScrollBar* Regulator() const { return regulator_; }
  QCheckBox* LightBox() const { return light_; }
  // "F1" .. "F12" (n = 1..12).
  QCheckBox* FunctionBox(int n) const { return functions_.at(static_cast<std::size_t>(n - 1)); }
  // "links" (true) or "rechts".
  QRadioButton* TurnoutButton(bool links) const { return links ? links_ : rechts_; }
  QPushButton* EndButton() const { return end_; }

  // --- tryout::TryOutView
  void HideAllPanels() override;
  void ShowTryOutPanel(tryout::TryOutKind kind, const std::string& address_label) override;
  void CheckSpeedButton14() override;
  void SetAddressEntry(const std::string& text) override;
  void ClearAddressEntry() override;
  void SetTurnoutCaption(const std::string& text) override;
  bool TurnoutBoxShown() const override;
  void SetRegulatorRange(int minimum, int maximum) override;
  void ShowRegulatorPosition(const std::string& text) override;
  void HideTryOutPanel() override;

 private:
  void BuildAddressAndSpeedControls();
  void BuildFunctionBoxes();
  void BuildRegulator();
  void BuildTurnoutBox();
  // What only the locomotive try-out shows: the speed-step buttons and the regulator
  // with its two labels.
  std::array<QWidget*, 6> DriveControls() const;

  QGroupBox* box_;
  QLabel* address_label_ = nullptr;
  QLineEdit* entry_ = nullptr;
  QRadioButton* steps14_ = nullptr;
  QRadioButton* steps28_ = nullptr;
  QRadioButton* steps128_ = nullptr;
  std::array<QCheckBox*, 12> functions_{};
  QCheckBox* light_ = nullptr;
  QLabel* position_ = nullptr;
  QScrollBar* regulator_ = nullptr;
  QLabel* direction_scale_ = nullptr;
  QGroupBox* turnout_box_ = nullptr;
  QRadioButton* links_ = nullptr;
  QRadioButton* rechts_ = nullptr;
  QPushButton* end_ = nullptr;
  WindowHooks hooks_;
};

}  // namespace qarn2::ui
