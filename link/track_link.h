#pragma once

#include <functional>
#include <string>

#include "link/hardware_kind.h"
#include "link/time_base.h"
#include "serial/com_port.h"

namespace qarn2::link {

// The layer between the commands and the serial port when it drives the track: the
// tick counter and the waits counted in it, the decoder's acknowledge, the received
// characters, the background stream repeated whenever the transmit queue runs empty,
// and the choice of port. Everything runs on the user-interface thread; the port's
// notifications and the timer reach it only while events are handled.
class TrackLink {
 public:
  // Binds the port's notifications (ring, transmit-empty, received characters).
  TrackLink(serial::TComPort& port, TimeBase& time);
  ~TrackLink();
  TrackLink(const TrackLink&) = delete;
  TrackLink& operator=(const TrackLink&) = delete;

  // --- Shared state (as the program names it).
  int TickCount = 0;            // timer ticks since the last wait began
  bool AckFlag = false;         // the decoder's acknowledge was seen on RI
  int AckCount = 0;             // acknowledges seen on RI and not yet taken (see
                                // TakeAcknowledge): two rings are never one
  bool AckResult = false;       // outcome of the last acknowledge wait
  std::string RxBuffer;         // characters received (never NUL) since cleared
  std::string BackgroundStream; // written again at every transmit-empty
  serial::TComRequest* TxRequest = nullptr;  // the record of every background write
  bool LgbHelloSeen = false;    // the LGB interface's greeting has arrived
  int HardwareKind = kBoard;    // a HardwareKindValue; the LGB interface changes the waits
  int CvNumber = 1;             // read here: its low byte in the LGB acknowledge

  // --- Handlers.
  void Timer1Timer() { ++TickCount; }
  void ComPort1Ring() {
    ++AckCount;
    AckFlag = true;
  }
  void ComPort1TxEmpty();
  void ComPort1RxChar(int Count);

  // --- Waits and line control.
  // Returns after n ticks of the timer, handling events all the while (at least one).
  void WaitTicks(int n);
  // Waits for the acknowledge of the burst just written: on RI for 4 ticks, or the
  // LGB interface's whole write reply for 21 ticks; sets AckResult.
  void AwaitAcknowledge();
  // Forgets every acknowledge seen so far (before a burst whose own is awaited).
  void ClearAcknowledges() {
    AckFlag = false;
    AckResult = false;
    AckCount = 0;
  }
  // Takes the first acknowledge seen (that of an earlier packet of the same burst):
  // AckFlag then says whether a later one has come as well.
  void TakeAcknowledge() {
    if (AckCount > 0) --AckCount;
    AckFlag = AckCount > 0;
    AckResult = false;
  }
  // Waits for the LGB interface's reply: until `ticks` ticks have passed (and one
  // more begun) or RxBuffer holds `whole` characters, however they arrive.
  void AwaitLgbReply(int ticks, std::size_t whole);
  // The track without power for about 200 ms (nothing with the LGB interface).
  void PowerCycle();
  void SetDTR(bool on) { port_.SetDTR(on); }
  // Writes the background stream once, which sets its repetition going again where
  // nothing repeated it (after the LGB interface, or at the very start).
  void RestartBackground();
  // Lets the last write (all of it taken by the port) leave the port's transmit FIFO,
  // then drops DTR. Used where the program itself ends a session; "ENDE" drops DTR
  // at once, as the user asked.
  void PowerOffWhenDrained();
  void SetRTS(bool on) { port_.SetRTS(on); }

  // The port panel's choice: waits 40 ticks, closes the port, names the new port,
  // calls `hide_panel`, opens the port again.
  void MovePort(const std::string& name, const std::function<void()>& hide_panel);

  serial::TComPort& Port() { return port_; }

 private:
  serial::TComPort& port_;
  TimeBase& time_;
};

}  // namespace qarn2::link
