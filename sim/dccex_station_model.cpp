#include "sim/dccex_station_model.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace qarn2::sim {
namespace {

// The numbers after a command's letter, "29 6"; false when anything else stands there.
bool Numbers(std::string_view text, std::vector<int>& out) {
  std::size_t at = 0;
  while (at < text.size()) {
    if (text[at] == ' ') {
      ++at;
      continue;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), value);
    if (error != std::errc()) return false;
    out.push_back(value);
    at = static_cast<std::size_t>(end - text.data());
  }
  return true;
}

bool ValidCv(int cv) { return cv >= 1 && cv <= 1024; }

}  // namespace

DccExStationModel::DccExStationModel(DecoderModel& decoder, std::function<bool()> acknowledge_lost,
                                     DccExSettings settings)
    : decoder_(decoder), acknowledge_lost_(std::move(acknowledge_lost)), settings_(settings) {}

std::vector<DccExStationModel::LogEntry> DccExStationModel::TakeLog() { return std::exchange(log_, {}); }

std::vector<TimedReply> DccExStationModel::Restart(SimTime time) {
  pending_.clear();
  stray_ = 0;
  powered_ = false;
  booted_at_ = time + settings_.boot_delay;
  line_free_at_ = booted_at_;
  log_.push_back({time, "station restarts (port opened)"});
  std::vector<TimedReply> out;
  Send(booted_at_, "<* simulated station *>", out);
  Send(booted_at_, kBanner, out);
  return out;
}

std::vector<TimedReply> DccExStationModel::OnCharacters(SimTime time, std::string_view received) {
  std::vector<TimedReply> out;
  if (time < booted_at_) {
    log_.push_back({time, "received while booting (lost): " + std::string(received)});
    return out;
  }
  pending_.append(received);
  while (true) {
    const std::size_t start = pending_.find('<');
    // What stands outside "<...>" is ignored, as the station does; the log counts it
    // once the next command begins.
    stray_ += start == std::string::npos ? pending_.size() : start;
    if (start == std::string::npos) {
      pending_.clear();
      break;
    }
    if (stray_ > 0) {
      std::string text = "to the station: ";
      text += std::to_string(stray_);
      text += " stray characters (ignored)";
      log_.push_back({time, std::move(text)});
      stray_ = 0;
    }
    const std::size_t end = pending_.find('>', start);
    if (end == std::string::npos) {
      pending_.erase(0, start);
      break;
    }
    const std::string command = pending_.substr(start, end + 1 - start);
    pending_.erase(0, end + 1);
    std::string answer;
    SimTime delay{0};
    const std::string meaning = Handle(command, answer, delay);
    log_.push_back({time, "to the station: " + command + " (" + meaning + ")"});
    if (!answer.empty()) Send(time + delay, std::move(answer), out);
  }
  return out;
}

std::string DccExStationModel::Read(int cv, char letter, std::string& answer, SimTime& delay) {
  delay = settings_.read_delay;
  const bool lost = acknowledge_lost_ && acknowledge_lost_();
  const int value = lost ? -1 : decoder_.Cv(cv);
  answer = std::string("<") + letter + " " + std::to_string(cv) + " " + std::to_string(value) + ">";
  return lost ? "no acknowledge: CV " + std::to_string(cv) + " not read"
              : "read CV " + std::to_string(cv) + " = " + std::to_string(value);
}

std::string DccExStationModel::Handle(const std::string& command, std::string& answer, SimTime& delay) {
  const std::string_view inner(command.data() + 1, command.size() - 2);
  if (inner == "s") {
    answer = kBanner;
    return "status";
  }
  if (inner == "1 PROG" || inner == "0 PROG") {
    powered_ = inner[0] == '1';
    answer = powered_ ? "<p1 PROG>" : "<p0 PROG>";
    return powered_ ? "programming track on" : "programming track off";
  }
  std::vector<int> n;
  const char letter = inner.empty() ? 0 : inner[0];
  if (!Numbers(inner.substr(std::min<std::size_t>(1, inner.size())), n)) n.clear();
  if (letter == 'R' && n.size() == 1 && ValidCv(n[0])) return Read(n[0], 'r', answer, delay);
  if (letter == 'V' && n.size() == 2 && ValidCv(n[0]) && n[1] >= 0 && n[1] <= 255) {
    if (decoder_.Cv(n[0]) == n[1] && !(acknowledge_lost_ && acknowledge_lost_())) {
      delay = settings_.verify_delay;
      answer = "<v " + std::to_string(n[0]) + " " + std::to_string(n[1]) + ">";
      return "verified CV " + std::to_string(n[0]) + " = " + std::to_string(n[1]);
    }
    return Read(n[0], 'v', answer, delay);
  }
  const bool write = letter == 'W' && n.size() == 2 && n[1] >= 0 && n[1] <= 255;
  const bool bit = letter == 'B' && n.size() == 3 && n[1] >= 0 && n[1] <= 7 && (n[2] == 0 || n[2] == 1);
  if ((write || bit) && ValidCv(n[0])) {
    delay = settings_.write_delay + decoder_.write_delay();
    const int old = decoder_.Cv(n[0]);
    const int value = write ? n[1] : (n[2] ? old | (1 << n[1]) : old & ~(1 << n[1]));
    const bool stored = decoder_.StoreCv(n[0], static_cast<std::uint8_t>(value));
    const bool confirmed = stored && !(acknowledge_lost_ && acknowledge_lost_());
    const std::string shown = std::to_string(confirmed ? (write ? n[1] : n[2]) : -1);
    answer = "<r " + std::to_string(n[0]) + (bit ? " " + std::to_string(n[1]) : "") + " " + shown + ">";
    return "write CV " + std::to_string(n[0]) + " = " + std::to_string(value) +
           (!stored ? ": refused" : confirmed ? ": stored" : ": stored, acknowledge lost");
  }
  answer = "<X>";
  return "not understood";
}

void DccExStationModel::Send(SimTime ready, std::string text, std::vector<TimedReply>& out) {
  text += '\n';
  const SimTime start = std::max(ready, line_free_at_);
  const SimTime arrival = start + kCharacterTime * static_cast<int>(text.size());
  out.push_back({arrival, std::move(text)});
  line_free_at_ = arrival;
}

}  // namespace qarn2::sim
