#include "ui/port_panel.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace qarn2::ui {
namespace {

QRadioButton* MakeButton(QGroupBox* box, const char* name, const char* text, int top) {
  auto* button = new QRadioButton(text, box);
  button->setObjectName(name);
  button->setGeometry(8, top, 97, 17);
  return button;
}

}  // namespace

PortPanel::PortPanel(QWidget* client) : box_(new QGroupBox("Port", client)) {
  box_->setObjectName("Portbox");
  box_->setGeometry(368, 72, 113, 89);
  com1_ = MakeButton(box_, "ButtonCOM1", "COM1", 16);
  com2_ = MakeButton(box_, "ButtonCOM2", "COM2", 40);
  printer_ = MakeButton(box_, "ButtonPrinter", "Printer Port", 64);
  printer_->hide();
  devices_ = new QPushButton("&Ger\xC3\xA4te...", box_);
  devices_->setObjectName("ButtonPortDevices");
  devices_->setAccessibleName("Serielle Ger\xC3\xA4te zuordnen");
  devices_->setGeometry(8, 62, 97, 23);
  box_->hide();
}

void PortPanel::Show() {
  box_->show();
  box_->raise();
  com1_->show();
  com2_->show();
}

void PortPanel::Hide() {
  box_->hide();
  com1_->hide();
  com2_->hide();
}

bool PortPanel::Shown() const { return !box_->isHidden(); }

}  // namespace qarn2::ui
