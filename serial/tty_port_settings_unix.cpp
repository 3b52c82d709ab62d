// The settings a tty is given (raw 8-bit transfer in the port's format) and the ones
// it is left with: as it was found, also when a signal ends the program.

#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>
#include <optional>

#include "serial/tty_device_internal.h"
#include "signals/terminating_signals.h"

namespace qarn2::serial {
namespace {

// The termios speed constant for `rate` bit/s; nothing for rates Linux has no constant
// for (14400, 56000, 128000, 256000, ...).
std::optional<speed_t> SpeedConstant(int rate) {
  static constexpr struct {
    int rate;
    speed_t speed;
  } kSpeeds[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},
      {150, B150},         {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& entry : kSpeeds) {
    if (entry.rate == rate) return entry.speed;
  }
  return std::nullopt;
}


}  // namespace

int MakeRawTermios(const LineSettings& settings, termios& t) {
  const std::optional<speed_t> speed = SpeedConstant(settings.baud_rate);
  if (!speed) return EINVAL;
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (settings.data_bits < 5 || settings.data_bits > 8) return EINVAL;

  cfmakeraw(&t);
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
  if (settings.parity != prNone && settings.parity_options.Check) t.c_iflag |= INPCK;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  // HUPCL: when the program dies, the kernel drops DTR and RTS at the last close, so
  // a booster's relay never stays on over an idle transmit line (DC on the track).
  t.c_cflag |= CLOCAL | CREAD | HUPCL | kSizes[settings.data_bits - 5];
  switch (settings.parity) {
    case prNone: break;
    case prOdd: t.c_cflag |= PARENB | PARODD; break;
    case prEven: t.c_cflag |= PARENB; break;
    case prMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: return EINVAL;
  }
  // Linux has no 1.5 stop bits; two is the closer of the two it has for the receiver.
  if (settings.stop_bits != sbOneStopBit) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, *speed);
  cfsetospeed(&t, *speed);
  return 0;
}

// --- Ports left as they were found, also when a signal ends the program ------------
//
// Every open tty is noted with the settings it had; Close puts them back after
// dropping DTR and RTS. The terminating signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT) do
// the same for every port still open (async-signal-safe: ioctl and tcsetattr only)
// before the signal goes on to whatever handled it before, by default ending the
// program.

namespace tty {
namespace {

constexpr int kMaxOpenPorts = 16;
struct OpenPort {
  std::atomic<int> fd{-1};
  termios original{};
};
OpenPort open_ports[kMaxOpenPorts];

void ReleaseAllPorts() {
  for (OpenPort& port : open_ports) {
    const int fd = port.fd.load();
    if (fd >= 0) ReleaseLines(fd, port.original);
  }
}

}  // namespace

void ReleaseLines(int fd, const termios& original) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &lines);
  tcsetattr(fd, TCSANOW, &original);
}

bool NoteOpenPort(int fd, const termios& original) {
  signals::RunOnTerminatingSignal(ReleaseAllPorts);
  for (OpenPort& port : open_ports) {
    if (port.fd.load() >= 0) continue;
    port.original = original;
    int free_slot = -1;
    if (port.fd.compare_exchange_strong(free_slot, fd)) return true;
  }
  return false;
}

void ForgetOpenPort(int fd) {
  for (OpenPort& port : open_ports) {
    int noted = fd;
    if (port.fd.compare_exchange_strong(noted, -1)) return;
  }
}

}  // namespace tty
}  // namespace qarn2::serial
