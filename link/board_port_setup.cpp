#include "link/board_port_setup.h"

namespace qarn2::link {

void SetUpBoardPort(TrackLink& link, const encoding::FixedStreams& streams) {
  serial::TComPort& port = link.Port();
  port.SetBaudRate(serial::br19200);
  port.SetDataBits(serial::dbEight);
  port.SetStopBits(serial::sbOneStopBit);
  port.Parity().SetBits(serial::prNone);
  port.SetEvents({serial::evRxChar, serial::evTxEmpty, serial::evRing});
  port.FlowControl().SetControlDTR(serial::dtrDisable);
  port.FlowControl().SetControlRTS(serial::rtsDisable);
  port.Open();
  link.SetDTR(true);
  link.BackgroundStream = streams.LongResetStream;
  link.SetRTS(false);
}

}  // namespace qarn2::link
