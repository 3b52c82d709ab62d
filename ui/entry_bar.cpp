#include "ui/entry_bar.h"

#include <algorithm>

namespace qarn2::ui {

EntryBar::EntryBar(QWidget* parent) : QScrollBar(Qt::Vertical) {
  // Put into its parent only once it is an EntryBar: Qt looks up a widget's accessible
  // interface as soon as it tells of a change to the widget (a new parent among them),
  // and while QScrollBar's constructor runs it would find a plain scroll bar and keep
  // that interface for good.
  setParent(parent);
}

void EntryBar::ShowEntry(int entry) {
  setValue(minimum() + maximum() - std::clamp(entry, minimum(), maximum()));
}

}  // namespace qarn2::ui
