#pragma once

#include <QLabel>

#include <functional>

namespace qarn2::ui {

// A label (text or picture) that reports a click of the left mouse button.
class ClickLabel : public QLabel {
 public:
  explicit ClickLabel(QWidget* parent) : QLabel(parent) {}
  std::function<void()> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace qarn2::ui
