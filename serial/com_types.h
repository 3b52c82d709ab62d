#pragma once

#include <cstdint>
#include <initializer_list>

namespace qarn2::serial {

// Line rate; each value is the rate in bit/s, brCustom takes `CustomBaudRate`.
enum TBaudRate {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
  br38400, br56000, br57600, br115200, br128000, br256000
};
// Bits per second of `rate`; `custom` for brCustom.
int BaudRateValue(TBaudRate rate, int custom);

enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

enum TComEvent {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};

// A set of TComEvent.
class TComEvents {
 public:
  constexpr TComEvents() = default;
  constexpr TComEvents(std::initializer_list<TComEvent> events) {
    for (TComEvent e : events) bits_ |= Bit(e);
  }
  static constexpr TComEvents All() { return FromBits(0x3FF); }
  static constexpr TComEvents FromBits(std::uint16_t bits) {
    TComEvents set;
    set.bits_ = bits & 0x3FF;
    return set;
  }
  constexpr bool Has(TComEvent e) const { return bits_ & Bit(e); }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr std::uint16_t Bits() const { return bits_; }
  constexpr TComEvents operator&(TComEvents other) const { return FromBits(bits_ & other.bits_); }
  constexpr TComEvents operator|(TComEvents other) const { return FromBits(bits_ | other.bits_); }
  constexpr bool operator==(const TComEvents&) const = default;

 private:
  static constexpr std::uint16_t Bit(TComEvent e) { return static_cast<std::uint16_t>(1u << e); }
  std::uint16_t bits_ = 0;
};

// The values of the settings objects, without their link to a port.
struct ParityValues {
  TParityBits Bits = prNone;
  bool Check = false;
  bool Replace = false;
  char ReplaceChar = 0;
  bool operator==(const ParityValues&) const = default;
};

struct FlowControlValues {
  bool OutCTSFlow = false;
  bool OutDSRFlow = false;
  TDTRFlowControl ControlDTR = dtrDisable;
  TRTSFlowControl ControlRTS = rtsDisable;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  bool DSRSensitivity = false;
  bool TxContinueOnXoff = false;
  char XonChar = 17;
  char XoffChar = 19;
  bool operator==(const FlowControlValues&) const = default;
};

// Milliseconds. With these defaults a read never waits and a write of n characters
// may take 1000 + 100 * n ms before it completes short.
struct TimeoutValues {
  std::int32_t ReadInterval = -1;
  std::int32_t ReadTotalMultiplier = 0;
  std::int32_t ReadTotalConstant = 0;
  std::int32_t WriteTotalMultiplier = 100;
  std::int32_t WriteTotalConstant = 1000;
  bool operator==(const TimeoutValues&) const = default;
};

// Everything a device needs to set up its line.
struct LineSettings {
  int baud_rate = 9600;  // bit/s
  int data_bits = 8;     // 5..8
  TParityBits parity = prNone;
  TStopBits stop_bits = sbOneStopBit;
  ParityValues parity_options;
  FlowControlValues flow;
  bool discard_null = false;
  int xon_limit = 256;   // characters, a quarter of the input queue
  int xoff_limit = 256;
  char event_char = 0;
  bool operator==(const LineSettings&) const = default;
};

// Modem input lines.
struct ModemLines {
  bool cts = false;
  bool dsr = false;
  bool ring = false;
  bool rlsd = false;
};

}  // namespace qarn2::serial
