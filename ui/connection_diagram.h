#pragma once

#include <QPixmap>

namespace qarn2::ui {

// The picture of the wiring between the PC's serial connector and a booster:
// 351 x 235 pixels.
QPixmap DrawConnectionDiagram();

// What the picture shows, in words, for those who cannot see it.
QString ConnectionDiagramInWords();

// The picture for a DCC-EX station instead: the USB cable from the PC to the station
// and the decoder on the station's programming track output; the same size.
QPixmap DrawStationDiagram();
QString StationDiagramInWords();

}  // namespace qarn2::ui
