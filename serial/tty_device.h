#pragma once

#include <termios.h>

#include <functional>
#include <memory>

#include "serial/serial_device.h"

namespace qarn2::serial {

// The device back-end for a Linux tty (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, a
// pseudo-terminal): raw termios without flow control, exclusive open, writes drained
// to the driver in order on a writer thread, the ring input watched on a thread of its
// own. Every function returns 0 or errno.
std::unique_ptr<SerialDevice> MakeTtyDevice();

// How many characters the driver still holds to send (TIOCOUTQ): 0 or errno.
using TransmitQueueProbe = std::function<int(int fd, int& held)>;
// The same with another look at the transmit queue: a pseudo-terminal has none of
// its own, and a test plays the UART on its far side.
std::unique_ptr<SerialDevice> MakeTtyDevice(TransmitQueueProbe probe);

// Turns `t` into raw 8-bit transfer in the rate and format of `settings`: no flow
// control, receiver on, modem lines ignored and left as they are on close. 0, or
// EINVAL for a rate Linux has no constant for (14400, 56000, 128000, 256000) or data
// bits outside 5..8. One and a half stop bits become two.
int MakeRawTermios(const LineSettings& settings, termios& t);

}  // namespace qarn2::serial
