#pragma once

#include <QLabel>

namespace qarn2::ui {

// A label whose text the program changes as it runs (the CV box's result line).
// Screen readers and test robots read it as exactly the text it shows: empty while it
// shows nothing, where Qt would read an empty label as the caption of its box
// (accessible_widgets.h).
class LiveLabel : public QLabel {
 public:
  LiveLabel(const QString& text, QWidget* parent);
};

}  // namespace qarn2::ui
