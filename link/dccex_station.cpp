#include "link/dccex_station.h"

#include <algorithm>
#include <charconv>

namespace qarn2::link {
namespace {

// The numbers of a frame after its letter, "29 6" or "1|2|29 6" (the callback prefix
// up to the last '|' passed over). False when something else stands there.
bool ParseNumbers(std::string_view body, std::vector<int>& numbers) {
  if (const std::size_t bar = body.rfind('|'); bar != std::string_view::npos) body.remove_prefix(bar + 1);
  std::size_t at = 0;
  while (true) {
    while (at < body.size() && body[at] == ' ') ++at;
    if (at == body.size()) return !numbers.empty();
    int value = 0;
    const auto [end, error] = std::from_chars(body.data() + at, body.data() + body.size(), value);
    if (error != std::errc() || (end != body.data() + body.size() && *end != ' ')) return false;
    numbers.push_back(value);
    at = static_cast<std::size_t>(end - body.data());
  }
}

StationFrame FrameOf(std::string text) {
  StationFrame frame;
  frame.text = std::move(text);
  frame.letter = frame.text.size() > 2 ? frame.text[1] : 0;
  const std::string_view inner(frame.text.data() + 1, frame.text.size() - 2);
  if (frame.letter != 0 && !ParseNumbers(inner.substr(1), frame.numbers)) {
    frame.numbers.clear();
    frame.garbled = true;
  }
  return frame;
}

// The first word of a frame after its letter and any callback prefix: "29" of
// "<r 29 zz>".
std::string_view FirstWord(std::string_view frame) {
  frame = frame.substr(2, frame.size() - 3);
  if (const std::size_t bar = frame.rfind('|'); bar != std::string_view::npos) frame.remove_prefix(bar + 1);
  while (!frame.empty() && frame.front() == ' ') frame.remove_prefix(1);
  return frame.substr(0, frame.find(' '));
}

// Sends `command` and waits for the frame with one of `letters` whose numbers begin
// with `key` and carry one value more. A frame with such a letter that names the CV
// but is no such list is a garbled answer, and so is one that names nothing readable
// when no answer came in time; one naming another CV answers something earlier and
// is passed over.
StationAnswer Exchange(TrackLink& link, const std::string& command, std::string_view letters,
                       const std::vector<int>& key) {
  StationAnswer answer;
  if (link.StationBanner.empty()) return answer;
  link.RxBuffer.clear();
  link.Port().WriteText(command);
  const std::string cv = std::to_string(key.front());
  std::string unreadable;  // the last garbled frame of ours or of no one's
  bool done = false;
  link.AwaitReceived(kStationProgrammingTicks, [&] {
    for (const StationFrame& frame : TakeStationFrames(link.RxBuffer)) {
      if (!done && frame.text == "<X>") {
        // The station knows no such command (older firmware reads only with more
        // operands): waiting on would only run into the time limit.
        done = true;
        answer.outcome = StationAnswer::kRefused;
        answer.frame = command;
        continue;
      }
      if (done || letters.find(frame.letter) == std::string_view::npos) continue;
      const bool keyed = !frame.garbled && frame.numbers.size() >= key.size() &&
                         std::equal(key.begin(), key.end(), frame.numbers.begin());
      const bool ours_garbled = frame.garbled && FirstWord(frame.text) == cv;
      if (frame.garbled) unreadable = frame.text;
      if (!keyed && !ours_garbled) continue;
      done = true;
      answer.frame = frame.text;
      if (frame.garbled || frame.numbers.size() != key.size() + 1) {
        answer.outcome = StationAnswer::kGarbled;
      } else {
        answer.value = frame.numbers.back();
        answer.outcome = answer.value < 0 ? StationAnswer::kNotDone : StationAnswer::kValue;
      }
    }
    return done;
  });
  if (!done && !unreadable.empty()) {
    answer.outcome = StationAnswer::kGarbled;
    answer.frame = unreadable;
  }
  return answer;
}

bool TakeBanner(TrackLink& link) {
  for (const StationFrame& frame : TakeStationFrames(link.RxBuffer)) {
    if (frame.text.starts_with("<iDCC-EX")) link.StationBanner = frame.text.substr(2, frame.text.size() - 3);
  }
  return !link.StationBanner.empty();
}

}  // namespace

std::vector<StationFrame> TakeStationFrames(std::string& buffer) {
  std::vector<StationFrame> frames;
  std::size_t at = 0;
  while (true) {
    const std::size_t start = buffer.find('<', at);
    if (start == std::string::npos) {
      at = buffer.size();
      break;
    }
    const bool diagnostic = buffer.compare(start, 2, "<*") == 0;
    const std::size_t end = diagnostic ? buffer.find("*>", start + 2) : buffer.find('>', start + 1);
    if (end == std::string::npos) {
      at = start;
      break;
    }
    const std::size_t after = end + (diagnostic ? 2 : 1);
    // A '<' inside a frame starts a new one: what came before it was cut short.
    const std::size_t restart = buffer.find('<', start + 1);
    if (!diagnostic && restart < end) {
      at = restart;
      continue;
    }
    if (!diagnostic) frames.push_back(FrameOf(buffer.substr(start, after - start)));
    at = after;
  }
  buffer.erase(0, at);
  return frames;
}

std::string StationProblemText(const StationAnswer& answer) {
  switch (answer.outcome) {
    case StationAnswer::kValue:
      return "";
    case StationAnswer::kNotDone:
      return "   Zentrale: " + answer.frame + " (keine Best\xE4tigung vom Decoder) ";
    case StationAnswer::kNoAnswer:
      return "   keine Antwort der DCC-EX-Zentrale ";
    case StationAnswer::kGarbled:
      return "   unverst\xE4ndliche Antwort der Zentrale: " + answer.frame + " ";
    case StationAnswer::kRefused:
      return "   die Zentrale kennt den Befehl " + answer.frame + " nicht (<X>) ";
  }
  return "";
}

bool AwaitStationBanner(TrackLink& link, bool restarted, const std::function<void(const std::string&)>& progress) {
  link.StationBanner.clear();
  link.SetDTR(false);  // forgets the power state: the station starts with it off
  link.RxBuffer.clear();
  if (restarted) {
    if (progress) {
      progress("warte auf die DCC-EX-Zentrale: sie startet nach dem \xD6"
               "ffnen des Anschlusses neu (bis 5 s)");
    }
    link.AwaitReceived(kStationBannerTicks, [&] { return TakeBanner(link); });
  }
  if (link.StationBanner.empty()) {
    // A board that does not restart when its port opens prints no banner by itself.
    link.Port().WriteText("<s>");
    link.AwaitReceived(kStationStatusTicks, [&] { return TakeBanner(link); });
  }
  if (progress) {
    progress(link.StationBanner.empty() ? "keine Antwort der DCC-EX-Zentrale"
                                        : "DCC-EX-Zentrale bereit: " + link.StationBanner);
  }
  return !link.StationBanner.empty();
}

StationAnswer StationRead(TrackLink& link, int cv) {
  StationAnswer answer = Exchange(link, "<R " + std::to_string(cv) + ">", "r", {cv});
  if (answer.outcome == StationAnswer::kValue && answer.value > 255) answer.outcome = StationAnswer::kGarbled;
  return answer;
}

StationAnswer StationWrite(TrackLink& link, int cv, int value) {
  StationAnswer answer =
      Exchange(link, "<W " + std::to_string(cv) + " " + std::to_string(value) + ">", "rw", {cv});
  // A station confirms by naming the value written.
  if (answer.outcome == StationAnswer::kValue && answer.value != value) answer.outcome = StationAnswer::kGarbled;
  return answer;
}

StationAnswer StationWriteBit(TrackLink& link, int cv, int bit, int value) {
  StationAnswer answer = Exchange(
      link, "<B " + std::to_string(cv) + " " + std::to_string(bit) + " " + std::to_string(value) + ">", "rw",
      {cv, bit});
  if (answer.outcome == StationAnswer::kValue && answer.value != value) answer.outcome = StationAnswer::kGarbled;
  return answer;
}

StationAnswer StationVerify(TrackLink& link, int cv, int value) {
  StationAnswer answer =
      Exchange(link, "<V " + std::to_string(cv) + " " + std::to_string(value) + ">", "v", {cv});
  if (answer.outcome == StationAnswer::kValue && answer.value > 255) answer.outcome = StationAnswer::kGarbled;
  return answer;
}

}  // namespace qarn2::link
