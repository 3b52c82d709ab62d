#include "programming/programming_methods.h"

#include <cstdint>

#include "encoding/serial_encoder.h"
#include "link/dccex_station.h"
#include "programming/service_packets.h"

namespace qarn2::programming {
namespace {

using Burst = link::TrackLink::Burst;

// Copies per burst.
constexpr int kVerifyCopies = 5;
constexpr int kPresetCopies = 5;
constexpr int kPageWriteCopies = 5;
constexpr int kDirectWriteCopies = 11;
constexpr int kRegisterWriteCopies = 5;
constexpr int kPagedDataWriteCopies = 11;
constexpr int kPagedWriteResets = 10;
constexpr int kOldLenzRocoWriteResets = 5;

// Waits, in ticks of 10 ms.
constexpr int kBitGapTicks = 2;
constexpr int kPresetPauseTicks = 10;
constexpr int kReadEndTicks = 10;
constexpr int kBitwiseReadEndTicks = 11;
constexpr int kWriteEndTicks = 2;
// After a single verify: the next burst settles its acknowledge time anyway.
constexpr int kVerifyEndTicks = 2;
// The LGB interface's read reply, 0x9C N V X: up to this many ticks for all four
// characters (the value is the third).
constexpr int kLgbReadTicks = 200;
constexpr std::size_t kLgbReadReplyWhole = 4;
// PowerCycle of "roc": the track without power for this many ticks.
constexpr int kPowerOffTicks = 20;

constexpr int kLastRegister = 8;
constexpr int kLastCv = 1024;
// The LGB interface's messages name the CV in one byte.
constexpr int kLastLgbCv = 255;

// "   bestätigt" in Windows-1252.
const std::string kConfirmed = "   best\xE4tigt";
const std::string kFailed = "   Fehler ";

std::string Repeat(const std::string& text, int copies) {
  std::string out;
  out.reserve(text.size() * copies);
  for (int i = 0; i < copies; ++i) out += text;
  return out;
}

std::string Stream(const encoding::Packet& packet, int copies) {
  return Repeat(encoding::EncodeServicePacket(packet), copies);
}

// An LGB request: the bytes, then their XOR.
std::string LgbMessage(std::initializer_list<int> bytes) {
  std::string message;
  std::uint8_t check = 0;
  for (int b : bytes) {
    message += static_cast<char>(b & 0xFF);
    check ^= static_cast<std::uint8_t>(b & 0xFF);
  }
  message += static_cast<char>(check);
  return message;
}

}  // namespace

ServiceModeProgrammer::ServiceModeProgrammer(link::TrackLink& link,
                                             const encoding::FixedStreams& streams,
                                             std::string& programming_mode, int& cv_value,
                                             bool& abort_flag)
    : link_(link),
      streams_(streams),
      programming_mode_(programming_mode),
      cv_value_(cv_value),
      abort_flag_(abort_flag) {}

bool IsProgrammingMode(const std::string& mode) {
  for (const char* known : kProgrammingModes) {
    if (mode == known) return true;
  }
  return false;
}

int SheetLineAddress(const std::string& mode, int cv) {
  if (mode != "reg" && mode != "roc") return cv;
  switch (cv) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
    case 8:
      return cv;
    case 29:
      return 5;
    default:
      return 0;
  }
}

bool ServiceModeProgrammer::KnownMode() {
  if (IsProgrammingMode(programming_mode_)) return true;
  // A decoder file's mode line may name anything: nothing is sent for it, and the
  // outcome is a failure, never the previous command's.
  link_.AckResult = false;
  return false;
}

void ServiceModeProgrammer::ReadCv() {
  if (link_.HardwareKind == link::kDccEx) {
    StationReadCv();
    return;
  }
  if (!KnownMode()) return;
  link_.SetDTR(true);
  if (!InterfaceTakesMode()) return;
  if (programming_mode_ == "dir") {
    ReadDirectBits();
  } else if (programming_mode_ == "dio") {
    ReadDirectByte();
  } else if (programming_mode_ == "reg") {
    ReadRegister();
  } else if (programming_mode_ == "pag") {
    ReadPaged();
  } else if (programming_mode_ == "roc") {
    ReadOldLenzRoco();
  }
}

void ServiceModeProgrammer::WriteCv() {
  if (link_.HardwareKind == link::kDccEx) {
    StationWriteCv();
    return;
  }
  if (!KnownMode()) {
    ShowWriteOutcome();
    return;
  }
  link_.SetDTR(true);
  if (!InterfaceTakesMode()) {
    ShowWriteOutcome();
    return;
  }
  if (programming_mode_ == "dir" || programming_mode_ == "dio") {
    WriteDirectByte();
  } else if (programming_mode_ == "reg") {
    WriteRegister();
  } else if (programming_mode_ == "pag") {
    WritePaged();
  } else if (programming_mode_ == "roc") {
    WriteOldLenzRoco();
  }
}

// --- Reads.

void ServiceModeProgrammer::ReadDirectBits() {
  if (!CvWithin(1, LastDirectCv())) return;
  if (link_.HardwareKind == link::kLgbInterface) {
    LgbRead();
    return;
  }
  const int cv = link_.CvNumber;
  cv_value_ = 0;
  link_.SetRTS(true);
  // Only a 1 can be confirmed; a bit without acknowledge counts as 0.
  for (int bit = 0; bit < 8; ++bit) {
    if (abort_flag_) continue;
    Settle();
    if (abort_flag_) continue;  // "ENDE" while the last acknowledge time ran
    Send(DirectVerifyBit(cv, bit), kVerifyCopies, Burst::kVerify);
    link_.AwaitAcknowledge();
    if (link_.AckResult) cv_value_ += 1 << bit;
    Show("   Bit " + std::to_string(bit) + (link_.AckResult ? "=1 " : "=0 "));
    link_.WaitTicks(kBitGapTicks);
  }
  bool checked = false;
  if (!abort_flag_) {
    // A misread bit shows here: the assembled value is not confirmed.
    Show("teste " + std::to_string(cv_value_) + " ");
    Settle();
    if (!abort_flag_) {
      Send(DirectVerifyByte(cv, cv_value_), kVerifyCopies, Burst::kVerify);
      link_.AwaitAcknowledge();
      checked = true;
    }
  }
  // Stopped before the check, the bits read so far are no confirmed value.
  if (!checked) link_.AckResult = false;
  link_.SetRTS(false);
  link_.WaitTicks(kBitwiseReadEndTicks);
}

void ServiceModeProgrammer::ReadDirectByte() {
  if (!CvWithin(1, LastDirectCv())) return;
  if (link_.HardwareKind == link::kLgbInterface) {
    // The interface reads the byte itself; DCC characters would only confuse it.
    LgbRead();
    return;
  }
  const int cv = link_.CvNumber;
  StartScan();
  ScanCandidates([cv](int value) { return DirectVerifyByte(cv, value); });
}

void ServiceModeProgrammer::ReadRegister() {
  if (!CvWithin(1, kLastRegister)) return;
  const int reg = link_.CvNumber;
  StartScan();
  // The page preset first, so that older decoders count registers from page 1.
  SendPagePreset();
  ScanCandidates([reg](int value) { return RegisterVerify(reg, value); });
}

void ServiceModeProgrammer::ReadPaged() {
  if (!CvWithin(1, kLastCv)) return;
  const PagedLocation where = LocatePaged(link_.CvNumber);
  if (!WritePageRegister(where.page)) {
    // Register 1..4 would be a CV of another page, read as if it were this one.
    link_.AckResult = false;
    link_.WaitTicks(kReadEndTicks);
    return;
  }
  // The pause after the page write is part of letting its acknowledge pass.
  StartScan();
  ScanCandidates([where](int value) { return RegisterVerify(where.data_register, value); });
}

void ServiceModeProgrammer::ReadOldLenzRoco() {
  if (!CvWithin(1, kLastRegister)) return;
  const int reg = link_.CvNumber;
  cv_value_ = -1;
  link_.SetRTS(true);
  // These decoders take the preset only across a power-on.
  link_.WriteBurst(Repeat(streams_.PagePresetStream, kPresetCopies), Burst::kWrite);
  PowerCycle();
  link_.AwaitAcknowledge();
  link_.WaitTicks(kPresetPauseTicks);
  Settle();
  ScanCandidates([reg](int value) { return RegisterVerify(reg, value); });
}

void ServiceModeProgrammer::StartScan() {
  cv_value_ = -1;
  link_.SetRTS(true);
  Settle();
}

void ServiceModeProgrammer::ScanCandidates(
    const std::function<encoding::Packet(int value)>& verify_packet) {
  // AckFlag is cleared once before the scan: the first wait that finds it set ends it.
  // AbortFlag is looked at before every burst, so that nothing goes out after "ENDE"
  // (it may have come during the pause before the scan).
  while (!abort_flag_) {
    ++cv_value_;
    Show("teste " + std::to_string(cv_value_) + " ");
    Send(verify_packet(cv_value_), kVerifyCopies, Burst::kVerify);
    link_.AwaitAcknowledge();
    if (link_.AckResult || cv_value_ == 255) break;
  }
  link_.SetRTS(false);
  link_.WaitTicks(kReadEndTicks);
}

// --- Verify.

void ServiceModeProgrammer::VerifyCv() {
  if (link_.HardwareKind == link::kDccEx) {
    // The station verifies by itself (<V cv value>), whatever the mode.
    StationVerifyCv(cv_value_);
    return;
  }
  if (!KnownMode()) return;
  const int value = cv_value_;
  if (value < 0 || value > 255) {
    // No packet carries it, and no decoder holds it.
    link_.AckResult = false;
    return;
  }
  link_.SetDTR(true);
  if (!InterfaceTakesMode()) return;
  if (link_.HardwareKind == link::kLgbInterface) {
    if (!CvWithin(1, kLastLgbCv)) return;
    LgbRead();
    link_.AckResult = link_.AckResult && cv_value_ == value;
    cv_value_ = value;
    return;
  }
  const bool direct = programming_mode_ == "dir" || programming_mode_ == "dio";
  const bool paged = programming_mode_ == "pag";
  if (!CvWithin(1, direct || paged ? kLastCv : kLastRegister)) return;
  const int cv = link_.CvNumber;
  if (direct) {
    VerifyOnce(DirectVerifyByte(cv, value));
  } else if (paged) {
    const PagedLocation where = LocatePaged(cv);
    if (!WritePageRegister(where.page)) {
      // The data register would be a CV of another page.
      link_.AckResult = false;
      link_.WaitTicks(kVerifyEndTicks);
      return;
    }
    VerifyOnce(RegisterVerify(where.data_register, value));
  } else if (programming_mode_ == "reg") {
    link_.SetRTS(true);
    Settle();
    SendPagePreset();
    VerifyOnce(RegisterVerify(cv, value));
  } else {
    link_.SetRTS(true);
    link_.WriteBurst(Repeat(streams_.PagePresetStream, kPresetCopies), Burst::kWrite);
    PowerCycle();
    link_.AwaitAcknowledge();
    link_.WaitTicks(kPresetPauseTicks);
    VerifyOnce(RegisterVerify(cv, value));
  }
}

void ServiceModeProgrammer::VerifyOnce(const encoding::Packet& packet) {
  link_.SetRTS(true);
  Settle();
  bool sent = false;
  if (!abort_flag_) {
    Show("teste " + std::to_string(cv_value_) + " ");
    Send(packet, kVerifyCopies, Burst::kVerify);
    link_.AwaitAcknowledge();
    sent = true;
  }
  if (!sent) link_.AckResult = false;
  link_.SetRTS(false);
  link_.WaitTicks(kVerifyEndTicks);
}

// --- Writes.

void ServiceModeProgrammer::WriteDirectByte() {
  if (!CvWithin(1, LastDirectCv())) {
    ShowWriteOutcome();
    return;
  }
  link_.SetRTS(true);
  Settle();
  if (StoppedBeforeWrite()) return;
  if (link_.HardwareKind == link::kLgbInterface) {
    LgbSendWrite();
  } else {
    Send(DirectWriteByte(link_.CvNumber, cv_value_), kDirectWriteCopies, Burst::kWrite);
  }
  link_.AwaitAcknowledge();
  ShowWriteOutcome();
  link_.SetRTS(false);
  link_.WaitTicks(kWriteEndTicks);
}

void ServiceModeProgrammer::WriteRegister() {
  if (!CvWithin(1, kLastRegister)) {
    ShowWriteOutcome();
    return;
  }
  link_.SetRTS(true);
  Settle();
  // The page preset first, as for reading: after a paged access the decoder's page
  // register still names that page, and register 1 would be a CV on it (CV 1021
  // after page 256), written and acknowledged as if it were CV 1.
  SendPagePreset();
  if (StoppedBeforeWrite()) return;
  Send(RegisterWrite(link_.CvNumber, cv_value_), kRegisterWriteCopies, Burst::kWrite);
  link_.AwaitAcknowledge();
  ShowWriteOutcome();
  link_.SetRTS(false);
  link_.WaitTicks(kWriteEndTicks);
}

void ServiceModeProgrammer::WritePaged() {
  if (!CvWithin(1, kLastCv)) {
    ShowWriteOutcome();
    return;
  }
  const PagedLocation where = LocatePaged(link_.CvNumber);
  link_.SetRTS(true);
  // The page write and the data write each with their own acknowledge: a decoder that
  // acknowledges every copy, or late, confirms the page write several times, and none
  // of that may count for the data. Without the page taken, the data register would
  // be a CV of another page: nothing is written.
  if (!WritePageRegister(where.page)) {
    link_.AckResult = false;
    ShowWriteOutcome();
    link_.SetRTS(false);
    return;
  }
  if (StoppedBeforeWrite()) return;
  link_.WriteBurst(Repeat(streams_.LongResetStream, kPagedWriteResets) +
                       Stream(RegisterWrite(where.data_register, cv_value_), kPagedDataWriteCopies),
                   Burst::kWrite);
  link_.AwaitAcknowledge();
  ShowWriteOutcome();
  link_.SetRTS(false);
}

void ServiceModeProgrammer::WriteOldLenzRoco() {
  if (!CvWithin(1, kLastRegister)) {
    ShowWriteOutcome();
    return;
  }
  link_.SetRTS(true);
  PowerCycle();
  link_.WaitTicks(kPresetPauseTicks);
  Settle();
  if (StoppedBeforeWrite()) return;
  link_.WriteBurst(Stream(RegisterWrite(link_.CvNumber, cv_value_), kRegisterWriteCopies) +
                       Repeat(streams_.LongResetStream, kOldLenzRocoWriteResets),
                   Burst::kWrite);
  link_.AwaitAcknowledge();
  ShowWriteOutcome();
  link_.SetRTS(false);
}

// --- A DCC-EX station.

void ServiceModeProgrammer::StationReadCv() {
  if (!CvWithin(1, kLastCv) || abort_flag_) {
    link_.AckResult = false;
    return;
  }
  link_.SetDTR(true);
  const link::StationAnswer answer = link::StationRead(link_, link_.CvNumber);
  link_.AckResult = answer.outcome == link::StationAnswer::kValue;
  if (link_.AckResult) {
    cv_value_ = answer.value;
  } else {
    Show(link::StationProblemText(answer));
  }
}

void ServiceModeProgrammer::StationWriteCv() {
  link_.AckResult = false;
  if (CvWithin(1, kLastCv) && cv_value_ >= 0 && cv_value_ <= 255 && !abort_flag_) {
    link_.SetDTR(true);
    const link::StationAnswer answer = link::StationWrite(link_, link_.CvNumber, cv_value_);
    link_.AckResult = answer.outcome == link::StationAnswer::kValue;
    if (!link_.AckResult) Show(link::StationProblemText(answer));
  }
  ShowWriteOutcome();
}

void ServiceModeProgrammer::StationVerifyCv(int value) {
  link_.AckResult = false;
  if (!CvWithin(1, kLastCv) || value < 0 || value > 255 || abort_flag_) return;
  link_.SetDTR(true);
  const link::StationAnswer answer = link::StationVerify(link_, link_.CvNumber, value);
  if (answer.outcome == link::StationAnswer::kValue) {
    link_.AckResult = answer.value == value;
  } else {
    Show(link::StationProblemText(answer));
  }
}

// --- The LGB interface.

void ServiceModeProgrammer::LgbRead() {
  const int cv = link_.CvNumber;
  link_.SetRTS(true);
  link_.RxBuffer.clear();
  WriteText(LgbMessage({0x8C, cv, 0x00}));
  // A reply still arriving is waited for; one that never becomes whole gives no
  // value (judged half, it would have read as 0).
  link_.AwaitLgbReply(kLgbReadTicks, kLgbReadReplyWhole);
  // 9C N V X, all four: V and X may be 0; X is the XOR of the three before it.
  const std::string& reply = link_.RxBuffer;
  const auto at = [&reply](std::size_t i) { return static_cast<unsigned char>(reply[i]); };
  link_.AckResult = reply.size() >= kLgbReadReplyWhole && at(0) == 0x9C && at(1) == cv &&
                    (at(0) ^ at(1) ^ at(2)) == at(3);
  if (link_.AckResult) cv_value_ = at(2);
  // RTS stays raised: the interface keeps it for the whole session.
}

void ServiceModeProgrammer::LgbSendWrite() {
  link_.RxBuffer.clear();
  WriteText(LgbMessage({0x88, link_.CvNumber, cv_value_}));
}

// --- Helpers.

void ServiceModeProgrammer::Send(const encoding::Packet& packet, int copies, Burst kind) {
  link_.WriteBurst(Stream(packet, copies), kind);
}

void ServiceModeProgrammer::WriteText(const std::string& text) { link_.Port().WriteText(text); }

void ServiceModeProgrammer::Show(const std::string& text) {
  if (ShowProgress) ShowProgress(text);
}

void ServiceModeProgrammer::Settle() { link_.SettleAcknowledges(); }

void ServiceModeProgrammer::SendPagePreset() {
  link_.WriteBurst(Repeat(streams_.PagePresetStream, kPresetCopies), Burst::kWrite);
  link_.AwaitAcknowledge();  // its outcome says nothing about the CV
  link_.WaitTicks(kPresetPauseTicks);
  Settle();
}

bool ServiceModeProgrammer::WritePageRegister(int page) {
  Settle();
  if (abort_flag_) return false;
  Send(PageRegisterWrite(page), kPageWriteCopies, Burst::kWrite);
  link_.AwaitAcknowledge();
  const bool taken = link_.AckResult;
  Settle();
  return taken;
}

bool ServiceModeProgrammer::StoppedBeforeWrite() {
  if (!abort_flag_) return false;
  // "ENDE" (or another panel) during a wait before the write: it is not sent.
  ShowWriteOutcome();
  link_.SetRTS(false);
  return true;
}

void ServiceModeProgrammer::PowerCycle() {
  if (link_.HardwareKind == link::kLgbInterface) return;
  // What was written before (the page preset) goes out whole first.
  link_.PowerOffWhenDrained();
  link_.WaitTicks(kPowerOffTicks);
  // After "ENDE" (which dropped DTR) the track stays without power.
  if (!abort_flag_) link_.SetDTR(true);
}

void ServiceModeProgrammer::ShowWriteOutcome() { Show(link_.AckResult ? kConfirmed : kFailed); }

bool ServiceModeProgrammer::InterfaceTakesMode() {
  if (link_.HardwareKind != link::kLgbInterface || programming_mode_ == "dir" || programming_mode_ == "dio") {
    return true;
  }
  link_.AckResult = false;
  return false;
}

int ServiceModeProgrammer::LastDirectCv() const {
  return link_.HardwareKind == link::kLgbInterface ? kLastLgbCv : kLastCv;
}

bool ServiceModeProgrammer::CvWithin(int low, int high) {
  if (link_.CvNumber >= low && link_.CvNumber <= high) return true;
  link_.AckResult = false;
  return false;
}

}  // namespace qarn2::programming
