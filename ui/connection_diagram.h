#pragma once

#include <QPixmap>

namespace qarn2::ui {

// The picture of the wiring between the PC's serial connector and a booster:
// 351 x 235 pixels.
QPixmap DrawConnectionDiagram();

}  // namespace qarn2::ui
