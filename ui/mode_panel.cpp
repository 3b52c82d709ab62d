#include "ui/mode_panel.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>

namespace qarn2::ui {
namespace {

// The frame's caption stands centred between blanks: 31 before, 29 after.
QString FrameCaption() {
  return QString(31, ' ') + "Programmier- Mode" + QString(29, ' ');
}

}  // namespace

ModePanel::ModePanel(QWidget* client) : frame_(new QGroupBox(FrameCaption(), client)) {
  frame_->setObjectName("ProgmodeWahl");
  frame_->setGeometry(192, 112, 289, 161);
  frame_->setAccessibleName(frame_->title().trimmed());
  frame_->hide();
  // One group of their own: left to themselves, buttons on the window would count every
  // radio button of the panels (which stand in boxes of their own) as theirs for the
  // keyboard: the arrow keys would move into those, and Tab would pass them by.
  group_ = new QButtonGroup(client);
  for (std::size_t i = 0; i < kModeChoices.size(); ++i) {
    auto* button = new QRadioButton(QString::fromUtf8(kModeChoices[i].caption), client);
    button->setObjectName(kModeChoices[i].name);
    button->setGeometry(200, 136 + 24 * static_cast<int>(i), 273, 17);
    button->hide();
    group_->addButton(button);
    buttons_[i] = button;
  }
}

void ModePanel::Show() {
  frame_->show();
  frame_->raise();
  for (QRadioButton* button : buttons_) {
    button->show();
    button->raise();
  }
}

void ModePanel::Hide() {
  frame_->hide();
  for (QRadioButton* button : buttons_) button->hide();
}

bool ModePanel::Shown() const { return !frame_->isHidden(); }

QRadioButton* ModePanel::ButtonFor(const std::string& mode) const {
  for (std::size_t i = 0; i < kModeChoices.size(); ++i) {
    if (mode == kModeChoices[i].mode) return buttons_[i];
  }
  return nullptr;
}

void ModePanel::UncheckAll() {
  // An exclusive group never lets its last checked button go; unchecking sends no
  // `toggled(true)`, so no handler runs.
  group_->setExclusive(false);
  for (QRadioButton* button : buttons_) button->setChecked(false);
  group_->setExclusive(true);
}

}  // namespace qarn2::ui
