#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "programming/cv_commands.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qarn2::ui {

// The CV box `GroupCVRW` (hidden at start) with its prompt `CVLabel1`, the entry field
// `CVedit`, the result line `CVResult` and the button `CVRWEnde`, and what else the CV
// commands show in the window. The engine's texts are Windows-1252.
class CvBox : public programming::CvCommandsView {
 public:
  // What the CV commands change outside the box.
  struct WindowHooks {
    std::function<void()> hide_all_panels;
    std::function<void(std::string_view item, bool enabled)> set_menu_item_enabled;
    std::function<void(bool shown)> show_reset_box;
    std::function<void(bool running)> command_running;
    // The write box has taken the CV number and waits for the value.
    std::function<bool()> entry_takes_value;
  };

  CvBox(QWidget* client, WindowHooks hooks);

  QGroupBox* Box() const { return box_; }
  QLineEdit* Entry() const { return entry_; }
  QPushButton* EndButton() const { return end_; }
  // The entry field's text as the engine takes it.
  std::string EntryText() const;
  // A CV command has ended: its outcome, as the result line shows it, becomes the
  // description of the entry field and of the box, which screen readers announce for
  // the control that has the focus. Progress texts on the way are not announced.
  void AnnounceResult();

  // --- programming::CvCommandsView
  void HideAllPanels() override;
  void ShowCvBox(const std::string& caption, bool with_entry) override;
  void HideCvBox() override;
  void SetCvBoxCaption(const std::string& text) override;
  void SetCvPrompt(const std::string& text) override;
  void SetCvResult(const std::string& text) override;
  void ClearCvEntry() override;
  void SetMenuItemEnabled(std::string_view name, bool enabled) override;
  void ShowResetBox(bool shown) override;
  void CommandRunning(bool running) override;

 private:
  // "CV-Nummer" or, at the write box's value step, "CV-Wert".
  void NameEntry();

  QGroupBox* box_;
  QLabel* prompt_;
  QLineEdit* entry_;
  QLabel* result_;
  QPushButton* end_;
  WindowHooks hooks_;
};

}  // namespace qarn2::ui
