#include "sim/lgb_interface_model.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>

#include "encoding/hex_text.h"

namespace qarn2::sim {
namespace {

constexpr std::uint8_t kGreeting = 0x10;
constexpr std::uint8_t kGreetingSeen = 0x96;
constexpr std::uint8_t kRead = 0x8C;
constexpr std::uint8_t kWrite = 0x88;
constexpr std::uint8_t kReadReply = 0x9C;
constexpr std::uint8_t kWriteReply = 0x98;

std::uint8_t Byte(const std::string& text, std::size_t index) {
  return static_cast<std::uint8_t>(text[index]);
}

// Length of the message that `first` begins; 0 when it begins none.
std::size_t MessageLength(std::uint8_t first) {
  switch (first) {
    case kGreeting:
      return 2;
    case kGreetingSeen:
      return 3;
    case kRead:
    case kWrite:
      return 4;
    default:
      return 0;
  }
}

std::string Hex(const std::string& text) {
  return encoding::ToHex(text);
}

// `bytes` followed by their XOR.
std::string WithCheck(std::initializer_list<std::uint8_t> bytes) {
  std::string text;
  std::uint8_t check = 0;
  for (std::uint8_t value : bytes) {
    text += static_cast<char>(value);
    check ^= value;
  }
  return text + static_cast<char>(check);
}

bool CheckByteRight(const std::string& message) {
  std::uint8_t check = 0;
  for (std::size_t i = 0; i + 1 < message.size(); ++i) check ^= Byte(message, i);
  return check == Byte(message, message.size() - 1);
}

}  // namespace

LgbInterfaceModel::LgbInterfaceModel(DecoderModel& decoder, LgbSettings settings)
    : decoder_(decoder), settings_(settings) {}

std::vector<LgbInterfaceModel::LogEntry> LgbInterfaceModel::TakeLog() {
  return std::exchange(log_, {});
}

std::vector<TimedReply> LgbInterfaceModel::OnCharacters(SimTime time, std::string_view received) {
  std::vector<TimedReply> out;
  if (settings_.silent || received.empty()) return out;
  if (!pending_.empty() && time - pending_time_ > kMessageTimeout) {
    log_.push_back({time, "incomplete message " + Hex(pending_) + " (dropped)"});
    pending_.clear();
  }
  pending_.append(received);
  pending_time_ = time;

  while (!pending_.empty()) {
    const std::size_t length = MessageLength(Byte(pending_, 0));
    if (length == 0) {
      log_.push_back({time, "unknown byte " + encoding::HexByte(Byte(pending_, 0)) + " (dropped)"});
      pending_.erase(0, 1);
      continue;
    }
    if (pending_.size() < length) break;
    const std::string message = pending_.substr(0, length);
    pending_.erase(0, length);

    std::string reply;
    SimTime delay{0};
    const std::string text = HandleMessage(message, reply, delay);
    log_.push_back({time, text});
    if (!reply.empty()) Send(time, delay, std::move(reply), out);
  }
  return out;
}

std::string LgbInterfaceModel::HandleMessage(const std::string& message, std::string& reply,
                                             SimTime& delay) {
  const std::uint8_t kind = Byte(message, 0);
  if (kind == kGreeting) {
    if (Byte(message, 1) != 0x86) return "unknown message " + Hex(message) + " (dropped)";
    reply = WithCheck({0x11, 0xEB});
    delay = settings_.greeting_delay;
    return "greeting";
  }
  if (kind == kGreetingSeen) {
    return message == "\x96\x12\x12" ? "greeting answer seen"
                                     : "unknown message " + Hex(message) + " (dropped)";
  }
  if (!CheckByteRight(message)) return "bad check byte: " + Hex(message) + " (dropped)";

  const std::uint8_t cv = Byte(message, 1);
  if (kind == kRead) {
    if (cv == 0) return "read CV 0: no such CV (no reply)";
    const std::uint8_t value = decoder_.Cv(cv);
    reply = WithCheck({kReadReply, cv, value});
    delay = settings_.read_delay;
    return "read CV " + std::to_string(cv) + " = " + std::to_string(value);
  }
  const std::uint8_t value = Byte(message, 2);
  const bool stored = cv != 0 && decoder_.StoreCv(cv, value);
  reply = WithCheck({kWriteReply, cv, static_cast<std::uint8_t>(stored ? 0x01 : 0x00)});
  delay = settings_.write_delay;
  return "write CV " + std::to_string(cv) + " = " + std::to_string(value) +
         (stored ? " (stored)" : " (refused)");
}

void LgbInterfaceModel::Send(SimTime request_end, SimTime delay, std::string reply,
                             std::vector<TimedReply>& out) {
  const bool request_reply = Byte(reply, 0) == kReadReply || Byte(reply, 0) == kWriteReply;
  switch (settings_.fault) {
    case LgbReplyFault::kNone:
      break;
    case LgbReplyFault::kCorruptCheck:
      reply.back() = static_cast<char>(~reply.back());
      break;
    case LgbReplyFault::kWrongCv:
      if (request_reply) {
        reply[1] = static_cast<char>(Byte(reply, 1) + 1);
        reply.back() = static_cast<char>(reply[0] ^ reply[1] ^ reply[2]);
      }
      break;
    case LgbReplyFault::kWrongKind:
      if (request_reply) {
        reply[0] = static_cast<char>(Byte(reply, 0) + 1);
        reply.back() = static_cast<char>(reply[0] ^ reply[1] ^ reply[2]);
      }
      break;
    case LgbReplyFault::kTruncated:
      reply.resize(2);
      break;
  }
  if (request_reply && settings_.reply_limit >= 0 &&
      reply.size() > static_cast<std::size_t>(settings_.reply_limit)) {
    reply.resize(static_cast<std::size_t>(settings_.reply_limit));
  }
  if (reply.empty()) return;
  const SimTime start = std::max(request_end + delay, line_free_at_);
  if (settings_.one_at_a_time) {
    SimTime arrival = start;
    for (char c : reply) {
      arrival += kCharacterTime;
      out.push_back({arrival, std::string(1, c)});
      arrival += settings_.character_gap;
    }
    line_free_at_ = arrival;
    return;
  }
  // The reply reaches the program in one piece once its last character is in.
  const SimTime arrival = start + kCharacterTime * static_cast<int>(reply.size());
  out.push_back({arrival, std::move(reply)});
  line_free_at_ = arrival;
}

}  // namespace qarn2::sim
