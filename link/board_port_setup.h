#pragma once

#include "encoding/fixed_streams.h"
#include "link/track_link.h"

namespace qarn2::link {

// The port set-up for the product's own board: 19200 bit/s 8N1, the events received
// characters, transmit empty and ring, DTR and RTS not driven by the driver, Open
// (nothing if already open; the settings take effect at once, the events at the next
// opening), track power on, the long reset stream as background stream, RTS off.
// Nothing is written: the repetition starts with the next write.
void SetUpBoardPort(TrackLink& link, const encoding::FixedStreams& streams);

}  // namespace qarn2::link
