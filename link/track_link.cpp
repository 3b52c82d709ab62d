#include "link/track_link.h"

namespace qarn2::link {
namespace {

// What the LGB interface sends once it is ready, and the answer it expects.
const std::string kLgbGreeting = "\x11\xEB\xFA";
const std::string kLgbGreetingAnswer = "\x96\x12\x12";
// The LGB interface confirms a write within this many ticks, with 0x98 N S ...: the
// first three characters say it all.
constexpr int kLgbWriteReplyTicks = 20;
constexpr std::size_t kLgbWriteReplyWhole = 3;
// PowerOffWhenDrained: the longest background stream takes under half a second; a
// transmit FIFO of 16 characters drains in 8.3 ms at 19200 bit/s and a USB adapter's
// buffer soon after.
constexpr int kLastWriteTicks = 50;
constexpr int kFifoDrainTicks = 3;

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

void TrackLink::ComPort1TxEmpty() {
  ++tx_empty_count_;
  port_.WriteTextAsync(BackgroundStream, TxRequest);
}

void TrackLink::ComPort1RxChar(int Count) {
  std::string text;
  port_.ReadText(text, Count);
  for (char c : text) {
    if (c != '\0') RxBuffer += c;
  }
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
    AckResult = RxBuffer.size() >= kLgbWriteReplyWhole && static_cast<unsigned char>(RxBuffer[0]) == 0x98 &&
                static_cast<unsigned char>(RxBuffer[1]) == (CvNumber & 0xFF) && RxBuffer[2] == 0x01;
    return;
  }
  TickCount = 0;
  while (TickCount <= 3 && !AckFlag) time_.HandlePendingEvents();
  AckResult = AckFlag;
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
  BackgroundStream.clear();
  const int tx_empty_before = tx_empty_count_;
  TickCount = 0;
  while (tx_empty_count_ == tx_empty_before && TickCount < kLastWriteTicks) time_.HandlePendingEvents();
  WaitTicks(kFifoDrainTicks);
  SetDTR(false);
}

void TrackLink::PowerCycle() {
  if (HardwareKind == kLgbInterface) return;
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
