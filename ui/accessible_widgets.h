#pragma once

namespace qarn2::ui {

// Makes screen readers and test robots (AT-SPI on Linux) see the program's own widgets
// as what they are:
// - a speed table bar (EntryBar) is a slider whose value is its entry 0..255; a value
//   set from outside moves the bar, and the bar's handler runs as after a drag;
// - a ClickLabel is text or a picture with the action "Press", which does what a
//   click does (closes "Über QARN" or the connection diagram), while it is shown;
// - a ClickLabel or LiveLabel is read as the text it shows, also when that is empty
//   (Qt reads an empty label as the caption of the box around it).
// Every other widget keeps Qt's own interface. Install before the widgets are made;
// installing again changes nothing.
void InstallAccessibleWidgets();

}  // namespace qarn2::ui
