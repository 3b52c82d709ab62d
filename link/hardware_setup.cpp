#include "link/hardware_setup.h"

#include <array>
#include <string>

#include "link/dccex_station.h"

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
constexpr std::array<std::string_view, 2> kSingleReadAndReset{kSingleRead, "Reset1"};
constexpr std::array<std::string_view, 4> kTryOutsAndModes{"Lokprobier", "Weicheprobier",
                                                           "Funktionsdecprobier", "Progmodew"};

using SetUp = HardwareChoice::SetUp;
const std::array<HardwareChoice, 6> kChoices{{
    {kBoard, kAllSix, kNothing, SetUp::kBoard, true},
    // A bare booster has no acknowledge input: nothing can be read.
    {kBooster, kAllButSingleRead, kOnlySingleRead, SetUp::kBoard, true},
    // The interface programs only: no track signal for the try-outs, no modes, no reset.
    {kLgbInterface, kOnlySingleRead, kAllButSingleRead, SetUp::kLgb, true},
    {kLenzInterface, kOnlySingleRead, kNothing, SetUp::kNone, false},
    {kPr1, kOnlySingleRead, kNothing, SetUp::kNone, false},
    // The station makes the track signal and chooses the programming method itself: no
    // try-outs, no modes; it reads, writes and resets.
    {kDccEx, kSingleReadAndReset, kTryOutsAndModes, SetUp::kDccEx, true},
}};

void ApplyLineSettings(serial::TComPort& port, serial::TBaudRate rate, serial::TComEvents events,
                       bool lines_raised = false) {
  // The events watched change only at an opening: a port still watching another
  // hardware's events (the LGB interface's have no ring) is opened anew.
  if (port.Connected() && port.OpenEvents() != events) port.Close();
  port.SetBaudRate(rate);
  port.SetDataBits(serial::dbEight);
  port.SetStopBits(serial::sbOneStopBit);
  port.Parity().SetBits(serial::prNone);
  port.SetEvents(events);
  port.FlowControl().SetControlDTR(lines_raised ? serial::dtrEnable : serial::dtrDisable);
  port.FlowControl().SetControlRTS(lines_raised ? serial::rtsEnable : serial::rtsDisable);
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

bool SetUpDccExPort(TrackLink& link, const std::function<void(const std::string&)>& progress) {
  // Nothing of the board's or the interface's may reach the station as text.
  link.BackgroundStream.clear();
  const serial::TComEvents events{serial::evRxChar};
  // A port left open for the station does not reset it again: no banner comes by itself.
  const bool restarts = !link.Port().Connected() || link.Port().OpenEvents() != events;
  ApplyLineSettings(link.Port(), serial::br115200, events, true);
  return AwaitStationBanner(link, restarts, progress);
}

}  // namespace qarn2::link
