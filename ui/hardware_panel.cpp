#include "ui/hardware_panel.h"

#include <QGroupBox>
#include <QRadioButton>

namespace qarn2::ui {
namespace {

struct HardwareChoice {
  const char* name;
  const char* caption;
};

// In the order of HardwareKind 0..5.
constexpr std::array<HardwareChoice, 6> kChoices{{
    {"ButtonQARN", "QARN/ Tesmora"},
    {"ButtonBooster", "Nur Booster/ direkt"},
    {"ButtonLGB", "LGB-Interface"},
    {"ButtonLenz", "Lenz Interface"},
    {"ButtonPR1", "Digitrax PR1"},
    {"ButtonDCCEX", "DCC-EX (USB)"},
}};

// The choices offered, top to bottom: the DCC-EX station below the three of old; the
// two never offered below it, hidden.
constexpr std::array<int, 6> kRows{0, 1, 2, 4, 5, 3};

bool Offered(std::size_t kind) { return kind <= 2 || kind == 5; }

}  // namespace

HardwarePanel::HardwarePanel(QWidget* client) : box_(new QGroupBox("Programmierhardware", client)) {
  box_->setObjectName("Hardwarebox");
  box_->setGeometry(456, 152, 153, 169);
  for (std::size_t i = 0; i < kChoices.size(); ++i) {
    auto* button = new QRadioButton(kChoices[i].caption, box_);
    button->setObjectName(kChoices[i].name);
    button->setGeometry(8, 20 + 24 * kRows[i], 137, 17);
    if (!Offered(i)) button->hide();
    buttons_[i] = button;
  }
  box_->hide();
}

void HardwarePanel::Show() {
  box_->show();
  box_->raise();
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (Offered(i)) buttons_[i]->show();
  }
}

void HardwarePanel::Hide() {
  box_->hide();
  for (std::size_t i = 0; i < buttons_.size(); ++i) {
    if (Offered(i)) buttons_[i]->hide();
  }
}

bool HardwarePanel::Shown() const { return !box_->isHidden(); }

}  // namespace qarn2::ui
