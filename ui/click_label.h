#pragma once

#include <QLabel>

#include <functional>

namespace qarn2::ui {

// A label (text or picture) that reports a click of the left mouse button. It takes
// the keyboard focus too (Tab, or a click), and then Space or Enter count as a click,
// so that a keyboard user can close what it shows.
class ClickLabel : public QLabel {
 public:
  explicit ClickLabel(QWidget* parent);
  std::function<void()> OnClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Draws the focus frame around the label while it has the focus.
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace qarn2::ui
