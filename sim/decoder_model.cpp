#include "sim/decoder_model.h"

#include <stdexcept>
#include <utility>

#include "encoding/hex_text.h"

namespace qarn2::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::array<std::uint8_t, DecoderModel::kCvCount>& Defaults() {
  static const auto defaults = [] {
    std::array<std::uint8_t, DecoderModel::kCvCount> cvs{};
    const auto set = [&cvs](int number, std::uint8_t value) { cvs[number - 1] = value; };
    set(1, 3);     // short address
    set(2, 2);     // start voltage
    set(3, 4);     // acceleration rate
    set(4, 3);     // deceleration rate
    set(5, 255);   // top speed
    set(6, 96);    // mid speed
    set(7, 21);    // version 2.1, read-only
    set(8, 13);    // manufacturer 13: public domain and do-it-yourself decoders, read-only
    set(17, 192);  // long address 3, used only when CV 29 bit 5 is set
    set(18, 3);
    set(29, 6);  // 28 speed steps, analog operation allowed, short address
    set(33, 1);  // function mapping: FL forward, FL reverse, F1, F2 to outputs 1..4
    set(34, 2);
    set(35, 4);
    set(36, 8);
    // A linear speed table from 9 up to 255 (CV 67..94).
    for (int step = 1; step <= 28; ++step) {
      set(66 + step, static_cast<std::uint8_t>((step * 255 + 14) / 28));
    }
    return cvs;
  }();
  return defaults;
}

void CheckCvNumber(int number) {
  if (number < 1 || number > DecoderModel::kCvCount) {
    throw std::out_of_range("no CV " + std::to_string(number) + " (1..1024)");
  }
}

bool IsReset(const Bytes& packet) {
  return packet.size() == 2 && packet[0] == 0x00 && packet[1] == 0x00;
}

}  // namespace

bool DecoderModel::IsServicePacket(const Bytes& packet) {
  return (packet.size() == 2 || packet.size() == 3) && (packet[0] & 0xF0) == 0x70;
}

DecoderModel::DecoderModel() : cvs_(Defaults()) {}

std::uint8_t DecoderModel::DefaultCv(int number) {
  CheckCvNumber(number);
  return Defaults()[number - 1];
}

void DecoderModel::SetTraits(const DecoderTraits& traits) {
  ack_policy_ = traits.ack_every_packet ? AckPolicy::kEveryRepeatAfterFirst : AckPolicy::kOncePerCommand;
  write_delay_ = traits.write_delay;
  ack_anything_ = traits.ack_anything;
  strict_preamble_ = traits.strict_preamble;
}

void DecoderModel::PowerOn(SimTime /*time*/) {
  powered_ = true;
  LeaveServiceMode();
  page_register_ = 1;
  loco_ = LocoState{};
}

void DecoderModel::PowerOff(SimTime /*time*/) {
  powered_ = false;
  busy_until_ = SimTime{0};
  LeaveServiceMode();
}

bool DecoderModel::InServiceMode(SimTime now) const {
  return service_mode_ && now - last_service_time_ <= kServiceModeHold;
}

std::uint8_t DecoderModel::Cv(int number) const {
  CheckCvNumber(number);
  return cvs_[number - 1];
}

void DecoderModel::SetCv(int number, std::uint8_t value) {
  CheckCvNumber(number);
  cvs_[number - 1] = value;
}

bool DecoderModel::StoreCv(int number, std::uint8_t value) {
  CheckCvNumber(number);
  if (number == 8 && value == 8) {
    FactoryReset();
    return true;
  }
  if (number == 7 || number == 8) return false;
  cvs_[number - 1] = value;
  return true;
}

void DecoderModel::FactoryReset() {
  cvs_ = Defaults();
  page_register_ = 1;
}

void DecoderModel::LeaveServiceMode() {
  service_mode_ = false;
  command_packet_.clear();
  command_copies_ = 0;
  resets_since_command_ = 0;
}

std::string DecoderModel::RefusedPreamble(const Bytes& packet, PacketFraming framing) const {
  if (!strict_preamble_) return "";
  const std::string bits = std::to_string(framing.preamble) + "-bit preamble";
  if (framing.after_idle && framing.preamble < kStrictPreambleAfterIdle) {
    return "ignored: " + bits + " after an idle line (a strict decoder wants " +
           std::to_string(kStrictPreambleAfterIdle) + ")";
  }
  if (service_mode_ && IsServicePacket(packet) && framing.preamble < kStrictServicePreamble) {
    return "ignored: service instruction behind a " + bits + " (a strict decoder wants " +
           std::to_string(kStrictServicePreamble) + ")";
  }
  return "";
}

DecoderModel::Reaction DecoderModel::OnPacket(SimTime end_time, const Bytes& bytes_with_check, PacketFraming framing) {
  if (!powered_) return {false, "ignored: no track power"};
  if (bytes_with_check.size() < 3) {
    return {false, "ignored: packet too short: " + encoding::ToHex(bytes_with_check)};
  }
  const Bytes packet(bytes_with_check.begin(), bytes_with_check.end() - 1);
  if (std::string refused = RefusedPreamble(packet, framing); !refused.empty()) {
    return {false, std::move(refused)};
  }

  std::string timed_out;
  if (service_mode_ && !InServiceMode(end_time)) {
    LeaveServiceMode();
    timed_out = " [service mode had ended: 20 ms without reset]";
  }

  if (IsReset(packet)) {
    if (service_mode_) {
      ++resets_since_command_;
    } else {
      service_mode_ = true;
      loco_ = LocoState{};  // a reset stops the locomotive, as after power-on
    }
    last_service_time_ = end_time;
    return {false, "reset" + timed_out};
  }
  if (service_mode_ && IsServicePacket(packet)) {
    last_service_time_ = end_time;
    return OnServicePacket(end_time, packet);
  }

  const bool was_in_service_mode = service_mode_;
  LeaveServiceMode();
  Reaction reaction = OnOperationsPacket(packet);
  if (was_in_service_mode) reaction.meaning += " [leaves service mode]";
  reaction.meaning += timed_out;
  return reaction;
}

DecoderModel::Reaction DecoderModel::OnServicePacket(SimTime end_time, const Bytes& packet) {
  if (end_time < busy_until_) {
    // Still writing: the packet goes by unseen, and counts as no copy.
    return {false, "service: " + RunService(packet, false).what + " (busy writing)"};
  }
  if (packet == command_packet_ && resets_since_command_ < kCommandBreakResets) {
    ++command_copies_;
  } else {
    command_packet_ = packet;
    command_copies_ = 1;
  }
  resets_since_command_ = 0;

  const bool act = command_copies_ == 2 ||
                   (command_copies_ > 2 && ack_policy_ == AckPolicy::kEveryRepeatAfterFirst);
  ServiceOutcome outcome = RunService(packet, act);
  Reaction reaction;
  if (act) {
    reaction.acknowledge =
        outcome.success && !(outcome.is_write && ack_policy_ == AckPolicy::kNeverAfterWrite);
    if (outcome.success && !reaction.acknowledge) outcome.result += ", no acknowledge";
    if (ack_anything_ && !reaction.acknowledge) {
      reaction.acknowledge = true;
      outcome.result += ", acknowledged all the same";
    }
    if (outcome.is_write && write_delay_ > SimTime{0}) {
      // The acknowledge says the write is done (or refused, for a read-only CV).
      busy_until_ = end_time + write_delay_;
      reaction.acknowledge_after = write_delay_;
    }
  } else {
    outcome.result = command_copies_ == 1 ? "first copy" : "repeat";
  }
  reaction.meaning = "service: " + outcome.what + " (" + outcome.result + ")";
  return reaction;
}

DecoderModel::ServiceOutcome DecoderModel::RunService(const Bytes& packet, bool act) {
  return packet.size() == 3 ? RunDirect(packet, act) : RunRegister(packet, act);
}

// Direct mode: 0111 CCAA AAAAAAAA DDDDDDDD, CV = A + 1.
DecoderModel::ServiceOutcome DecoderModel::RunDirect(const Bytes& packet, bool act) {
  const int cv = ((packet[0] & 0x03) << 8 | packet[1]) + 1;
  const std::uint8_t data = packet[2];
  const std::string cv_text = "CV " + std::to_string(cv);
  switch ((packet[0] >> 2) & 0x03) {
    case 1:
      return Verify("verify " + cv_text + " = " + std::to_string(data), cv, data);
    case 3:
      return Write("write " + cv_text + " = " + std::to_string(data), cv, data, act);
    case 2:
      // Bit manipulation: 111K DBBB, K = 1 write, D the bit's value, BBB its number.
      if ((data & 0xE0) == 0xE0) {
        const int bit = data & 0x07;
        const int value = (data >> 3) & 1;
        const bool write = (data & 0x10) != 0;
        const std::string what = std::string(write ? "write " : "verify ") + cv_text + " bit " +
                                 std::to_string(bit) + " = " + std::to_string(value);
        if (!write) {
          ServiceOutcome outcome{what, false, ((Cv(cv) >> bit) & 1) == value, ""};
          outcome.result = outcome.success ? "match" : "no match";
          return outcome;
        }
        const auto changed = static_cast<std::uint8_t>((Cv(cv) & ~(1 << bit)) | (value << bit));
        return Write(what, cv, changed, act);
      }
      break;
    default:
      break;
  }
  return {"reserved instruction " + encoding::ToHex(packet), false, false, "ignored"};
}

// Register (physical) and paged mode: 0111 CRRR DDDDDDDD. Data registers 1..4 go
// through the page register; with page 1, as after power-on or the page preset,
// they are CV 1..4, which is all a register-mode decoder knows.
DecoderModel::ServiceOutcome DecoderModel::RunRegister(const Bytes& packet, bool act) {
  const int reg = (packet[0] & 0x07) + 1;
  const bool write = (packet[0] & 0x08) != 0;
  const std::uint8_t data = packet[1];
  std::string what = std::string(write ? "write " : "verify ") + "register " + std::to_string(reg);
  if (reg == 6) {
    what += " (page register) = " + std::to_string(data);
    if (!write) {
      const bool match = page_register_ == data;
      return {what, false, match, match ? "match" : "no match"};
    }
    if (act) page_register_ = data;
    return {what, true, true, "stored"};
  }
  int cv = reg;  // registers 7 and 8
  if (reg <= 4) {
    const int page = page_register_ == 0 ? 256 : page_register_;
    cv = (page - 1) * 4 + reg;
  } else if (reg == 5) {
    cv = 29;
  }
  what += " (CV " + std::to_string(cv) + ") = " + std::to_string(data);
  return write ? Write(what, cv, data, act) : Verify(what, cv, data);
}

DecoderModel::ServiceOutcome DecoderModel::Verify(std::string what, int cv,
                                                  std::uint8_t value) const {
  const bool match = Cv(cv) == value;
  return {std::move(what), false, match, match ? "match" : "no match"};
}

DecoderModel::ServiceOutcome DecoderModel::Write(std::string what, int cv, std::uint8_t value,
                                                 bool act) {
  if (!act) return {std::move(what), true, false, ""};
  const bool factory_reset = cv == 8 && value == 8;
  const bool stored = StoreCv(cv, value);
  return {std::move(what), true, stored,
          factory_reset ? "factory reset"
          : stored      ? "stored"
                        : "refused: read-only"};
}

}  // namespace qarn2::sim
