#pragma once

namespace qarn2::link {

// The programming hardware behind the port (`HardwareKind`).
enum HardwareKindValue : int {
  kBoard = 0,          // the product's own interface board
  kBooster = 1,        // a bare booster: no acknowledge input
  kLgbInterface = 2,   // the LGB 55045 interface, spoken to at 9600 bit/s
  kLenzInterface = 3,  // never offered; behaves as the board
  kPr1 = 4,            // never offered; behaves as the board
  kDccEx = 5,          // a DCC-EX command station on USB, spoken to in its text
                       // commands at 115200 bit/s; it makes the track signal itself
};

}  // namespace qarn2::link
