#include "ui/live_label.h"

namespace qarn2::ui {

LiveLabel::LiveLabel(const QString& text, QWidget* parent) {
  // Given its parent and text only once it is a LiveLabel, for its accessible interface
  // (see EntryBar): setting a label's text tells Qt's accessibility of the change.
  setParent(parent);
  setText(text);
}

}  // namespace qarn2::ui
