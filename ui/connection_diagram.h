#pragma once

#include <QPixmap>

namespace qarn2::ui {

// The picture of the wiring between the PC's serial connector and a booster:
// 351 x 235 pixels.
QPixmap DrawConnectionDiagram();

// What the picture shows, in words, for those who cannot see it.
QString ConnectionDiagramInWords();

}  // namespace qarn2::ui
