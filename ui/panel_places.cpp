#include "ui/panel_places.h"

#include <QEvent>

namespace qarn2::ui {

PanelPlaces::PanelPlaces(QWidget* cv_box, QObject* parent) : QObject(parent), cv_box_(cv_box) {
  cv_box_->installEventFilter(this);
}

void PanelPlaces::KeepClear(QWidget* panel, QPoint aside) {
  kept_.push_back({panel, panel->pos(), aside});
  panel->installEventFilter(this);
  Place();
}

bool PanelPlaces::eventFilter(QObject* /*watched*/, QEvent* event) {
  if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent) Place();
  return false;
}

void PanelPlaces::Place() {
  const bool open = !cv_box_->isHidden();
  for (const Kept& k : kept_) k.panel->move(open ? k.aside : k.home);
}

}  // namespace qarn2::ui
