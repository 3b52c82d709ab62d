#include "link/hardware_setup.h"

#include <array>
#include <string>

namespace qarn2::link {
namespace {

constexpr int kGreetingTries = 3;
constexpr int kGreetingWaitTicks = 10;
const std::string kLgbGreeting("\x10\x86", 2);

// The menu items the hardware choices switch.
constexpr std::string_view kSingleRead = "leseCV";
constexpr std::array<std::string_view, 6> kAllSix{kSingleRead,     "Lokprobier", "Weicheprobier",
                                                  "Funktionsdecprobier", "Progmodew", "Reset1"};
constexpr std::array<std::string_view, 5> kAllButSingleRead{"Lokprobier", "Weicheprobier",
                                                            "Funktionsdecprobier", "Progmodew", "Reset1"};
constexpr std::array<std::string_view, 1> kOnlySingleRead{kSingleRead};
constexpr std::array<std::string_view, 0> kNothing{};

using SetUp = HardwareChoice::SetUp;
const std::array<HardwareChoice, 5> kChoices{{
    {kBoard, kAllSix, kNothing, SetUp::kBoard, true},
    // A bare booster has no acknowledge input: nothing can be read.
    {kBooster, kAllButSingleRead, kOnlySingleRead, SetUp::kBoard, true},
    // The interface programs only: no track signal for the try-outs, no modes, no reset.
    {kLgbInterface, kOnlySingleRead, kAllButSingleRead, SetUp::kLgb, true},
    {kLenzInterface, kOnlySingleRead, kNothing, SetUp::kNone, false},
    {kPr1, kOnlySingleRead, kNothing, SetUp::kNone, false},
}};

void ApplyLineSettings(serial::TComPort& port, serial::TBaudRate rate, serial::TComEvents events) {
  // The events watched change only at an opening: a port still watching another
  // hardware's events (the LGB interface's have no ring) is opened anew.
  if (port.Connected() && port.OpenEvents() != events) port.Close();
  port.SetBaudRate(rate);
  port.SetDataBits(serial::dbEight);
  port.SetStopBits(serial::sbOneStopBit);
  port.Parity().SetBits(serial::prNone);
  port.SetEvents(events);
  port.FlowControl().SetControlDTR(serial::dtrDisable);
  port.FlowControl().SetControlRTS(serial::rtsDisable);
  port.Open();
}

}  // namespace

const HardwareChoice& ChoiceOf(int kind) {
  for (const HardwareChoice& choice : kChoices) {
    if (choice.kind == kind) return choice;
  }
  return kChoices[0];
}

void SetUpBoardPort(TrackLink& link, const encoding::FixedStreams& streams) {
  ApplyLineSettings(link.Port(), serial::br19200, {serial::evRxChar, serial::evTxEmpty, serial::evRing});
  link.SetDTR(true);
  link.BackgroundStream = streams.LongResetStream;
  link.SetRTS(false);
}

bool SetUpLgbPort(TrackLink& link) {
  ApplyLineSettings(link.Port(), serial::br9600,
                    {serial::evRxChar, serial::evRxFlag, serial::evRLSD, serial::evRx80Full});
  link.BackgroundStream.clear();
  link.SetRTS(true);
  link.SetDTR(true);
  link.RxBuffer.clear();
  link.LgbHelloSeen = false;
  for (int i = 0; i < kGreetingTries && !link.LgbHelloSeen; ++i) {
    link.Port().WriteText(kLgbGreeting);
    link.WaitTicks(kGreetingWaitTicks);
  }
  return link.LgbHelloSeen;
}

}  // namespace qarn2::link
