#pragma once

#include <QScrollBar>

namespace qarn2::ui {

// A vertical bar of the speed table whose top end stands for the highest entry: the
// entry it shows is the mirror of its position (with the range 0..255, position 0 is
// entry 255 and position 255 entry 0). Screen readers and test robots are told the
// entry, not the position (accessible_widgets.h).
class EntryBar : public QScrollBar {
 public:
  explicit EntryBar(QWidget* parent);

  int Entry() const { return minimum() + maximum() - value(); }
  // Puts the bar where it shows `entry` (held to the range), as a drag to that place
  // would: the bar's change handler runs when the position changes.
  void ShowEntry(int entry);
};

}  // namespace qarn2::ui
