#pragma once

#include <array>
#include <string>

class QButtonGroup;
class QGroupBox;
class QRadioButton;
class QWidget;

namespace qarn2::ui {

// One choice of the mode panel.
struct ModeChoice {
  const char* name;     // the radio button's name
  const char* mode;     // the ProgrammingMode text it stands for
  const char* caption;  // the button's text
};

inline constexpr std::array<ModeChoice, 5> kModeChoices{{
    {"ProgDir", "dir", "Direct Mode (dir) f\u00fcr alle modernen Decoder"},
    {"ProgDio", "dio", "Direct Mode ohme Bit- Manipulation"},
    {"ProgReg", "reg", "Register- Mode (alte Decoder mit nur 8 CVs)"},
    {"ProgPag", "pag", "Page Mode"},
    {"Progroc", "roc", "Lenz/ Roco alt (alte Lenz und Roco Decoder)"},
}};

// The mode panel: the frame `ProgmodeWahl` and five radio buttons that stand on the
// window itself, one under the other, so they form one group. Hidden at start.
class ModePanel {
 public:
  explicit ModePanel(QWidget* client);

  void Show();
  void Hide();
  bool Shown() const;
  // The button of the i-th choice of kModeChoices.
  QRadioButton* Button(std::size_t i) const { return buttons_[i]; }
  // The button whose mode is `mode`, or null.
  QRadioButton* ButtonFor(const std::string& mode) const;
  // Unchecks all five without running any handler.
  void UncheckAll();

 private:
  QGroupBox* frame_;
  QButtonGroup* group_;
  std::array<QRadioButton*, kModeChoices.size()> buttons_{};
};

}  // namespace qarn2::ui
