#include "serial/com_types.h"

namespace qarn2::serial {

int BaudRateValue(TBaudRate rate, int custom) {
  static constexpr int kRates[] = {0,     110,   300,   600,    1200,   2400,   4800,   9600,
                                   14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return rate == brCustom ? custom : kRates[rate];
}

}  // namespace qarn2::serial
