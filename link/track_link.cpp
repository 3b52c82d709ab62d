#include "link/track_link.h"

#include <algorithm>

namespace qarn2::link {
namespace {

// Ten DCC '1' bits as serial characters (19200 bit/s 8N1: five to a character).
const std::string kLeadIn = "UU";

// What the LGB interface sends once it is ready, and the answer it expects.
const std::string kLgbGreeting = "\x11\xEB\xFA";
const std::string kLgbGreetingAnswer = "\x96\x12\x12";
// The LGB interface confirms a write within this many ticks with 0x98 N S X. The
// first three characters say it all, but the wait is for all four: a check byte
// still on its way would be taken for the first character of the next reply.
constexpr int kLgbWriteReplyTicks = 20;
constexpr std::size_t kLgbWriteReplyWhole = 4;
constexpr std::size_t kLgbWriteReplyTelling = 3;
// A write is complete when the device holds none of its characters, but a UART's
// transmit FIFO (16 characters: 8.3 ms at 19200 bit/s) or a USB adapter's buffer may
// still: 40 to 50 ms let about 80 characters out.
constexpr int kFifoDrainTicks = 5;

}  // namespace

TrackLink::TrackLink(serial::TComPort& port, TimeBase& time) : port_(port), time_(time) {
  serial::CreateRequest(TxRequest);
  port_.OnRing = [this](serial::TCustomComPort&) { ComPort1Ring(); };
  port_.OnTxEmpty = [this](serial::TCustomComPort&) { ComPort1TxEmpty(); };
  port_.OnRxChar = [this](serial::TCustomComPort&, int count) { ComPort1RxChar(count); };
}

TrackLink::~TrackLink() {
  port_.OnRing = nullptr;
  port_.OnTxEmpty = nullptr;
  port_.OnRxChar = nullptr;
  serial::FreeRequest(TxRequest);
}

void TrackLink::ComPort1TxEmpty() { port_.WriteTextAsync(BackgroundStream, TxRequest); }

void TrackLink::ComPort1RxChar(int Count) {
  std::string text;
  port_.ReadText(text, Count);
  // NUL bytes too: the LGB interface's replies carry 0 as a value, a status or a check.
  RxBuffer += text;
  // The greeting stays in the buffer, so it is answered again at every later
  // receive event until someone clears the buffer.
  if (RxBuffer.size() >= 3 && RxBuffer.compare(0, 3, kLgbGreeting) == 0) {
    port_.WriteText(kLgbGreetingAnswer);
    LgbHelloSeen = true;
  }
}

void TrackLink::WaitTicks(int n) {
  TickCount = 0;
  do {
    time_.HandlePendingEvents();
  } while (TickCount < n);
}

void TrackLink::AwaitAcknowledge() {
  if (HardwareKind == kLgbInterface) {
    // A reply still arriving is waited for: judged half, it would be a refusal.
    AwaitLgbReply(kLgbWriteReplyTicks, kLgbWriteReplyWhole);
    const auto at = [this](std::size_t i) { return static_cast<unsigned char>(RxBuffer[i]); };
    AckResult = RxBuffer.size() >= kLgbWriteReplyTelling && at(0) == 0x98 && at(1) == (CvNumber & 0xFF) &&
                at(2) == 0x01;
    // A check byte that came must match.
    if (RxBuffer.size() >= kLgbWriteReplyWhole && (at(0) ^ at(1) ^ at(2)) != at(3)) AckResult = false;
    return;
  }
  TickCount = 0;
  if (last_burst_ == Burst::kWrite) {
    while (ticks_ < AcknowledgesEnd() && !AckFlag) time_.HandlePendingEvents();
  } else {
    while (TickCount <= 3 && !AckFlag) time_.HandlePendingEvents();
  }
  AckResult = AckFlag;
}

void TrackLink::WriteAhead(const std::string& text) { port_.WriteTextAhead(kLeadIn + text); }

void TrackLink::WriteBurst(const std::string& text, Burst kind) {
  burst_started_ = ticks_;
  first_ring_ = -1;
  // On the line within a FIFO's time, not behind up to kTransmitRefillAhead of resets.
  WriteAhead(text);
  burst_taken_ = ticks_;
  last_burst_ = kind;
}

long long TrackLink::AcknowledgesEnd() const {
  if (last_burst_ == Burst::kVerify) return burst_taken_ + 1 + kVerifyAcknowledgeTicks;
  const long long longest = burst_taken_ + 1 + kWriteAcknowledgeTicks;
  if (first_ring_ < 0) return longest;
  // The decoder took at most this long from a copy to its acknowledge (the burst may
  // have waited behind the background, which only makes it longer).
  const long long write_time = first_ring_ - burst_started_ + 1;
  return std::min(longest, burst_taken_ + write_time + kVerifyAcknowledgeTicks + 1);
}

void TrackLink::SettleAcknowledges() {
  // The LGB interface and the station answer each request themselves; nothing of
  // them comes late on RI.
  if (!SpeaksMessages()) {
    while (ticks_ < AcknowledgesEnd()) time_.HandlePendingEvents();
  }
  ClearAcknowledges();
}

void TrackLink::SetDTR(bool on) {
  if (HardwareKind != kDccEx) {
    port_.SetDTR(on);
    return;
  }
  // A station starts with its programming track off (until it has answered, nothing
  // is sent to it); the answer (<p1 PROG>) is not waited for.
  if (StationBanner.empty()) {
    station_power_ = false;
    return;
  }
  if (on == station_power_) return;
  station_power_ = on;
  port_.WriteText(on ? "<1 PROG>" : "<0 PROG>");
}

void TrackLink::AwaitReceived(int ticks, const std::function<bool()>& enough) {
  TickCount = 0;
  do {
    time_.HandlePendingEvents();
  } while (TickCount <= ticks && !enough());
}

void TrackLink::AwaitLgbReply(int ticks, std::size_t whole) {
  TickCount = 0;
  do {
    time_.HandlePendingEvents();
  } while (TickCount <= ticks && RxBuffer.size() < whole);
}

void TrackLink::RestartBackground() {
  if (!BackgroundStream.empty()) port_.WriteText(BackgroundStream);
}

void TrackLink::PowerOffWhenDrained() {
  // The background stream keeps the line busy meanwhile: the power goes in the
  // middle of a repeated packet, never in a command's own.
  WaitTicks(kFifoDrainTicks);
  SetDTR(false);
}

void TrackLink::PowerCycle() {
  if (SpeaksMessages()) return;
  SetDTR(false);
  WaitTicks(20);
  SetDTR(true);
}

void TrackLink::MovePort(const std::string& name, const std::function<void()>& hide_panel) {
  WaitTicks(40);
  port_.Close();
  port_.SetPort(name);
  if (hide_panel) hide_panel();
  port_.Open();
}

}  // namespace qarn2::link
