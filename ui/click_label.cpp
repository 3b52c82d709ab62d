#include "ui/click_label.h"

#include <QMouseEvent>

namespace qarn2::ui {

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  // A press that ends outside the label is no click.
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick) {
    OnClick();
  }
}

}  // namespace qarn2::ui
