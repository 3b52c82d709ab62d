#pragma once

#include <QObject>
#include <QPoint>
#include <QWidget>

#include <vector>

namespace qarn2::ui {

// Keeps the CV box clear. The port panel, the reset question and the connection
// diagram stand beside whatever panel is open; where they would cover the open CV box
// (whose entry and result the user is working with), they stand aside while it is
// open, and go back to their places when it closes.
class PanelPlaces : public QObject {
 public:
  PanelPlaces(QWidget* cv_box, QObject* parent);
  // `panel` stands at `aside` instead of its place while the CV box is open.
  void KeepClear(QWidget* panel, QPoint aside);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Place();

  struct Kept {
    QWidget* panel;
    QPoint home;
    QPoint aside;
  };
  QWidget* cv_box_;
  std::vector<Kept> kept_;
};

}  // namespace qarn2::ui
