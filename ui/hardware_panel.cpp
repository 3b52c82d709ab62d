#include "ui/hardware_panel.h"

#include <QGroupBox>
#include <QRadioButton>

namespace qarn2::ui {
namespace {

struct HardwareChoice {
  const char* name;
  const char* caption;
};

// In the order of HardwareKind 0..4.
constexpr std::array<HardwareChoice, 5> kChoices{{
    {"ButtonQARN", "QARN/ Tesmora"},
    {"ButtonBooster", "Nur Booster/ direkt"},
    {"ButtonLGB", "LGB-Interface"},
    {"ButtonLenz", "Lenz Interface"},
    {"ButtonPR1", "Digitrax PR1"},
}};

}  // namespace

HardwarePanel::HardwarePanel(QWidget* client) : box_(new QGroupBox("Programmierhardware", client)) {
  box_->setObjectName("Hardwarebox");
  box_->setGeometry(456, 152, 153, 145);
  for (std::size_t i = 0; i < kChoices.size(); ++i) {
    auto* button = new QRadioButton(kChoices[i].caption, box_);
    button->setObjectName(kChoices[i].name);
    button->setGeometry(8, 20 + 24 * static_cast<int>(i), 137, 17);
    if (i >= kOffered) button->hide();
    buttons_[i] = button;
  }
  box_->hide();
}

void HardwarePanel::Show() {
  box_->show();
  box_->raise();
  for (int i = 0; i < kOffered; ++i) buttons_[i]->show();
}

void HardwarePanel::Hide() {
  box_->hide();
  for (int i = 0; i < kOffered; ++i) buttons_[i]->hide();
}

bool HardwarePanel::Shown() const { return !box_->isHidden(); }

}  // namespace qarn2::ui
