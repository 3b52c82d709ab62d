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
  int AckCount = 0;             // acknowledges seen on RI since cleared: two rings are
                                // never one
  bool AckResult = false;       // outcome of the last acknowledge wait
  std::string RxBuffer;         // characters received (NUL included) since cleared
  std::string BackgroundStream; // written again at every transmit-empty
  serial::TComRequest* TxRequest = nullptr;  // the record of every background write
  bool LgbHelloSeen = false;    // the LGB interface's greeting has arrived
  int HardwareKind = kBoard;    // a HardwareKindValue; the LGB interface changes the waits
  int CvNumber = 1;             // read here: its low byte in the LGB acknowledge
  std::string StationBanner;    // the DCC-EX station's banner; empty until it answered

  // The hardware takes messages and makes the track signal itself (the LGB interface,
  // a DCC-EX station): nothing of the program's own track signal may go to it.
  bool SpeaksMessages() const { return HardwareKind == kLgbInterface || HardwareKind == kDccEx; }

  // What a burst asks of the decoder, for how long its acknowledge may come.
  enum class Burst { kVerify, kWrite };
  // A verify's acknowledge comes as the matching packet ends; a write's when the
  // decoder has stored the value, which takes slow decoders up to 200 ms. Counted in
  // ticks from the moment the port has taken the burst (its tail is then still in the
  // UART's FIFO, 8.3 ms at most); one tick more for the phase of the timer. Once a
  // write's first acknowledge has come, the decoder has shown how long it takes: a
  // later copy of the burst is acknowledged no later than that after the burst.
  static constexpr int kVerifyAcknowledgeTicks = 3;
  static constexpr int kWriteAcknowledgeTicks = 25;

  // --- Handlers.
  void Timer1Timer() {
    ++TickCount;
    ++ticks_;
  }
  void ComPort1Ring() {
    ++AckCount;
    AckFlag = true;
    if (first_ring_ < 0) first_ring_ = ticks_;
  }
  void ComPort1TxEmpty();
  void ComPort1RxChar(int Count);

  // --- Waits and line control.
  // Returns after n ticks of the timer, handling events all the while (at least one).
  void WaitTicks(int n);
  // Writes `text` ahead of the queued background (see TComPort::WriteTextAhead) behind
  // a lead-in of ten '1' bits: a decoder that met a background packet cut short takes
  // up to 9 bits of what follows to end it (and discards it), and the first packet of
  // `text` keeps its whole preamble. Returns once the port has taken all of it.
  void WriteAhead(const std::string& text);
  // Writes a burst whose acknowledge is awaited, ahead of the background, and starts
  // its acknowledge time.
  void WriteBurst(const std::string& text, Burst kind);
  // Waits for the acknowledge of the burst just written, and sets AckResult: on RI
  // for 4 ticks after a verify, after a write until its acknowledge time is over; or
  // the LGB interface's whole write reply for 21 ticks.
  void AwaitAcknowledge();
  // Forgets every acknowledge seen so far.
  void ClearAcknowledges() {
    AckFlag = false;
    AckResult = false;
    AckCount = 0;
  }
  // Before a burst whose acknowledge is awaited: waits until the last burst has left
  // the line and its acknowledge time is over, then forgets every acknowledge seen. A
  // decoder that acknowledges every copy, or late, is thus never heard as confirming
  // the next burst.
  void SettleAcknowledges();
  // Waits for the LGB interface's reply: until `ticks` ticks have passed (and one
  // more begun) or RxBuffer holds `whole` characters, however they arrive.
  void AwaitLgbReply(int ticks, std::size_t whole);
  // The track without power for about 200 ms (nothing with the LGB interface).
  void PowerCycle();
  // DTR is the track power; with a DCC-EX station the programming track's power is
  // switched by its commands (<1 PROG>, <0 PROG>) instead, sent when it changes.
  void SetDTR(bool on);
  // Writes the background stream once, which sets its repetition going again where
  // nothing repeated it (after the LGB interface, or at the very start).
  void RestartBackground();
  // Lets the last write (all of it taken by the port) leave the port's transmit FIFO,
  // then drops DTR. Used where the program itself ends a session; "ENDE" drops DTR
  // at once, as the user asked.
  void PowerOffWhenDrained();
  // Nothing with a DCC-EX station: its port's lines stay as the set-up left them.
  void SetRTS(bool on) {
    if (HardwareKind != kDccEx) port_.SetRTS(on);
  }
  // Handles events until `enough` says so or `ticks` ticks have passed (and one more
  // begun); `enough` is asked after every step.
  void AwaitReceived(int ticks, const std::function<bool()>& enough);

  // The port panel's choice: waits 40 ticks, closes the port, names the new port,
  // calls `hide_panel`, opens the port again.
  void MovePort(const std::string& name, const std::function<void()>& hide_panel);

  serial::TComPort& Port() { return port_; }

 private:
  serial::TComPort& port_;
  TimeBase& time_;
  // The tick from which the last burst's acknowledge can no longer come.
  long long AcknowledgesEnd() const;

  long long ticks_ = 0;  // timer ticks since the start, never reset
  Burst last_burst_ = Burst::kVerify;
  long long burst_started_ = 0;  // ticks_ when the last burst was handed to the port
  long long burst_taken_ = 0;    // ... and when the port had taken all of it
  long long first_ring_ = -1;    // ticks_ at its first acknowledge (-1: none yet)
  bool station_power_ = false;   // the DCC-EX station's programming track power
};

}  // namespace qarn2::link
