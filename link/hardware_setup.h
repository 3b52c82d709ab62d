#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "encoding/fixed_streams.h"
#include "link/hardware_kind.h"
#include "link/track_link.h"

namespace qarn2::link {

// What a choice of hardware switches in the menus: the items it enables and the ones
// it disables (by their names), and which port set-up it runs.
struct HardwareChoice {
  enum class SetUp { kNone, kBoard, kLgb, kDccEx };
  int kind;
  std::span<const std::string_view> enabled;
  std::span<const std::string_view> disabled;
  SetUp set_up;
  // Waits 40 ticks before it takes effect (the choices the user is offered).
  bool waits;
};
const HardwareChoice& ChoiceOf(int kind);

// The port set-up for the product's own board: 19200 bit/s 8N1, the events received
// characters, transmit empty and ring, DTR and RTS not driven by the driver, Open
// (nothing if already open with these events; the settings take effect at once; a
// port open with other events is closed and opened again), track power on, the long
// reset stream as background stream, RTS off.
// Nothing is written: the repetition starts with the next write.
void SetUpBoardPort(TrackLink& link, const encoding::FixedStreams& streams);

// The port set-up for the LGB interface: 9600 bit/s 8N1 with its events, Open, nothing
// repeated any more, RTS and DTR on, the receive buffer emptied; then the greeting up
// to three times, 10 ticks apart, until the interface has answered. Returns whether
// it has (LgbHelloSeen).
bool SetUpLgbPort(TrackLink& link);

// The port set-up for a DCC-EX station: 115200 bit/s 8N1 with received characters,
// Open, nothing repeated, DTR and RTS raised once and left so (a station on a native
// USB port talks only while DTR is raised; raising it resets most Arduino boards, so
// it is never dropped and raised again as track power), the receive buffer emptied;
// then its banner (AwaitStationBanner). Returns whether the station answered.
bool SetUpDccExPort(TrackLink& link, const std::function<void(const std::string&)>& progress);

}  // namespace qarn2::link
