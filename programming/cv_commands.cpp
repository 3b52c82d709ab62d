#include "programming/cv_commands.h"

#include <algorithm>

#include "encoding/serial_encoder.h"
#include "link/dccex_station.h"
#include "programming/service_packets.h"

namespace qarn2::programming {
namespace {

constexpr int kFirstCv = 1;
constexpr int kLastCv = 1024;
constexpr int kHighestValue = 255;
constexpr int kHighestShortAddress = 127;
// The pause after each CV of "write all", in ticks.
constexpr int kWriteAllPauseTicks = 2;
// The factory reset: CV 8 := 8, three times, then the track without power after 5 ticks.
constexpr int kFactoryResetCopies = 3;
constexpr int kFactoryResetEndTicks = 5;

const std::string kReadCaption = "CV- Wert lesen";
const std::string kWriteCaption = "CV- Variable schreiben";
const std::string kCvPrompt = "CV- Nr eingeben:";
const std::string kValuePrompt = "CV- Wert eingeben:";

bool InRange(const std::optional<int>& n, int low, int high) { return n && *n >= low && *n <= high; }

}  // namespace

class CvCommands::BusyScope {
 public:
  explicit BusyScope(CvCommands& commands) : commands_(commands) {
    commands_.busy_ = true;
    commands_.view_->CommandRunning(true);
  }
  ~BusyScope() {
    commands_.busy_ = false;
    commands_.view_->CommandRunning(false);
  }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  CvCommands& commands_;
};

CvCommands::CvCommands(link::TrackLink& link, const encoding::FixedStreams& streams,
                       ProgramState& state, CvCommandsView& view)
    : link_(link),
      streams_(streams),
      state_(state),
      view_(&view),
      programmer_(link, streams, state.ProgrammingMode, state.CvValue,
                  state.AbortFlag) {
  programmer_.ShowProgress = [this](const std::string& text) { view_->SetCvResult(text); };
}

void CvCommands::ResetsAsBackground() {
  // A try-out left by another command leaves its locomotive stream repeating; between
  // the verify bursts it would keep the decoder out of service mode.
  if (!link_.SpeaksMessages()) link_.BackgroundStream = streams_.LongResetStream;
}

void CvCommands::RaiseTrackPowerWithReset() {
  if (link_.SpeaksMessages()) return;
  ResetsAsBackground();
  link_.SetDTR(true);
  link_.Port().WriteText(streams_.LongResetStream);
}

// --- The CV box.

void CvCommands::OpenCvBox(bool writing) {
  state_.AbortFlag = true;
  view_->HideAllPanels();
  writing_ = writing;
  if (writing) awaiting_value_ = false;
  view_->ShowCvBox(writing ? kWriteCaption : kReadCaption, true);
  view_->SetCvPrompt(kCvPrompt);
  view_->SetCvResult("");
  RaiseTrackPowerWithReset();
}

void CvCommands::EnterInCvBox(const std::string& entry) {
  if (busy_) {
    // Refused: nothing is sent, and the running command goes on (it shows its own
    // outcome when it ends).
    view_->SetCvResult("Bitte warten, der Befehl l\xE4uft noch");
    return;
  }
  state_.AbortFlag = false;
  view_->SetCvResult("");
  const std::optional<int> number = ParseInteger(entry);
  if (!writing_) {
    if (!InRange(number, kFirstCv, kLastCv)) {
      view_->ClearCvEntry();
      return;
    }
    link_.CvNumber = *number;
    ReadCvAndShow();
    return;
  }
  if (!awaiting_value_) {
    if (!InRange(number, kFirstCv, kLastCv)) {
      view_->ClearCvEntry();
      return;
    }
    link_.CvNumber = *number;
    awaiting_value_ = true;
    view_->SetCvBoxCaption("CV Nr " + std::to_string(*number) + " schreiben");
    view_->SetCvPrompt(kValuePrompt);
    view_->ClearCvEntry();
    return;
  }
  if (!InRange(number, 0, kHighestValue)) {
    view_->ClearCvEntry();
    return;
  }
  state_.CvValue = *number;
  WriteCvAndShow();
  awaiting_value_ = false;
  view_->SetCvBoxCaption(kWriteCaption);
  view_->SetCvPrompt(kCvPrompt);
  view_->ClearCvEntry();
}

void CvCommands::EndCvBox() {
  state_.AbortFlag = true;
  view_->HideCvBox();
  link_.SetDTR(false);
}

void CvCommands::TakeLocoAddress(int value) {
  // A short address is 0..127; as the try-outs' address byte a larger value would
  // make accessory packets (10xxxxxx) or reserved ones instead.
  if (value >= 0 && value <= kHighestShortAddress) state_.LocoAddress = value;
}

void CvCommands::ReadCvAndShow() {
  BusyScope busy(*this);
  ResetsAsBackground();
  state_.CvValue = 0;
  programmer_.ReadCv();
  if (link_.AckResult) {
    view_->SetCvResult("CV Nr " + std::to_string(link_.CvNumber) + " = " +
                      std::to_string(state_.CvValue));
    if (link_.CvNumber == 1) TakeLocoAddress(state_.CvValue);
  } else {
    view_->SetCvResult("    nicht lesbar");
  }
}

void CvCommands::WriteCvAndShow() {
  BusyScope busy(*this);
  ResetsAsBackground();
  if (link_.CvNumber == 1) TakeLocoAddress(state_.CvValue);
  programmer_.WriteCv();
  if (link_.AckResult) {
    view_->SetCvResult("CV Nr " + std::to_string(link_.CvNumber) + "=" +
                      std::to_string(state_.CvValue) + " best\xE4tigt");
  } else {
    view_->SetCvResult("CV " + std::to_string(link_.CvNumber) + " keine Best\xE4tigung");
  }
}

// --- The whole sheet.

void CvCommands::StartSheetCommand(bool writing, const std::string& caption) {
  RaiseTrackPowerWithReset();
  state_.AbortFlag = true;
  view_->HideAllPanels();
  writing_ = writing;
  state_.AbortFlag = false;
  view_->ShowCvBox(caption, false);
  view_->SetCvResult("");
}

namespace {

// In "Alle CVs" a line whose CV the mode cannot reach.
std::string UnreachableText(int cv, const std::string& mode) {
  return "   CV " + std::to_string(cv) + " in " + mode + " nicht erreichbar";
}

std::string TryText(int tries, const SheetRun& run) {
  if (tries <= 1) return "";
  return ", Versuch " + std::to_string(tries) + " von " + std::to_string(run.retries + 1);
}

}  // namespace

bool CvCommands::ReadTrying(int cv, int address, const std::string& purpose, const SheetRun& run, int& tries) {
  do {
    ++tries;
    view_->SetCvPrompt("lese CV " + std::to_string(cv) + purpose + TryText(tries, run));
    link_.CvNumber = address;
    programmer_.ReadCv();
  } while (!link_.AckResult && tries <= run.retries && !state_.AbortFlag);
  return link_.AckResult;
}

std::optional<int> CvCommands::ReadAllCvs(SheetLines& sheet, const SheetRun& run) {
  if (busy_) return std::nullopt;
  BusyScope busy(*this);
  StartSheetCommand(false, "Decoder auslesen");
  int errors = 0;
  // The number of lines is taken once; each line is read when its turn comes.
  const int count = sheet.LineCount();
  for (int i = 0; i < count && !state_.AbortFlag; ++i) {
    const std::string line = sheet.Line(i);
    const int cv = ParseCvNumber(line);
    if (cv <= 0) continue;
    CvOutcome outcome;
    outcome.cv = cv;
    const int address = SheetAddress(cv);
    outcome.unreachable = address == 0;
    const bool read = !outcome.unreachable && ReadTrying(cv, address, "", run, outcome.tries);
    if (outcome.unreachable) view_->SetCvResult(UnreachableText(cv, state_.ProgrammingMode));
    if (!read) ++errors;
    outcome.ok = read;
    if (read) outcome.value = state_.CvValue;
    if (run.report) run.report(outcome);
    // The user may have edited the sheet meanwhile: a line that no longer holds what
    // was read is not ours to rewrite. Stopped by "ENDE", a CV not read keeps the
    // value the sheet had.
    if (sheet.Line(i) != line) {
      if (read) ++errors;
      continue;
    }
    if (!read && state_.AbortFlag) continue;
    sheet.ReplaceLine(i, ReadAllLine(cv, read ? std::optional<int>(state_.CvValue) : std::nullopt,
                                     LineDescription(line)));
  }
  view_->SetCvResult(std::to_string(errors) + " Fehler beim Auslesen");
  ScanSheet(sheet);
  return errors;
}

std::optional<int> CvCommands::WriteAllCvs(SheetLines& sheet, const SheetRun& run) {
  if (busy_) return std::nullopt;
  BusyScope busy(*this);
  StartSheetCommand(true, "Decoder programmieren");
  int failures = 0;
  const int count = sheet.LineCount();
  for (int i = 0; i < count && !state_.AbortFlag; ++i) {
    const std::string line = sheet.Line(i);
    const int cv = ParseCvNumber(line);
    const int value = ParseCvValue(line);
    if (cv <= 0 || value < 0) continue;
    const int address = SheetAddress(cv);
    link_.CvNumber = address;
    view_->SetCvPrompt("schreibe CV " + std::to_string(cv) + " = " + std::to_string(value));
    view_->SetCvResult("");
    CvOutcome outcome;
    outcome.cv = cv;
    outcome.value = value;
    outcome.unreachable = address == 0;
    if (value > kHighestValue || outcome.unreachable) {
      // Its packet would carry the low byte, a value nobody asked for; or the mode
      // reaches no such CV (register 5 of "5 255" would be CV 29): not written.
      link_.AckResult = false;
      view_->SetCvResult(outcome.unreachable ? UnreachableText(cv, state_.ProgrammingMode) : "   Fehler ");
      ++failures;
      if (run.report) run.report(outcome);
      continue;
    }
    bool confirmed = false;
    do {
      ++outcome.tries;
      if (outcome.tries > 1) {
        view_->SetCvPrompt("schreibe CV " + std::to_string(cv) + " = " + std::to_string(value) +
                           TryText(outcome.tries, run));
      }
      link_.CvNumber = address;
      state_.CvValue = value;
      programmer_.WriteCv();
      confirmed = link_.AckResult;
      link_.WaitTicks(kWriteAllPauseTicks);
    } while (!confirmed && outcome.tries <= run.retries && !state_.AbortFlag);
    if (confirmed && run.verify && !state_.AbortFlag) {
      // Read back in the same mode ("dir" bit by bit): an acknowledge says the decoder
      // took a packet, not that it holds the value.
      // The read back is tried as often as the write.
      outcome.verified = true;
      if (ReadTrying(cv, address, " zur Kontrolle", run, outcome.read_back_tries)) {
        outcome.read_back = state_.CvValue;
      }
      confirmed = outcome.read_back == value;
      state_.CvValue = value;
      link_.AckResult = confirmed;
    }
    outcome.ok = confirmed;
    if (!confirmed) ++failures;
    if (run.report) run.report(outcome);
  }
  view_->SetCvResult(failures > 0 ? std::to_string(failures) + " mal keine Best\xE4tigung"
                                 : "0 Fehler beim Schreiben");
  return failures;
}

int SheetComparison::Differences() const {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const CvComparison& line) {
    return line.result == CvComparison::Result::kDiffers;
  }));
}

int SheetComparison::Failures() const {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const CvComparison& line) {
    return line.result != CvComparison::Result::kSame;
  }));
}

namespace {

// A value the decoder cannot hold when it holds `value`.
int OtherValue(int value) { return value ^ 0xFF; }

}  // namespace

std::string ComparisonText(const CvComparison& line, const std::string& mode) {
  const std::string head = "CV " + std::to_string(line.cv) + ": Blatt " + std::to_string(line.sheet_value);
  switch (line.result) {
    case CvComparison::Result::kDiffers:
      return head + ", Decoder " + std::to_string(*line.decoder_value);
    case CvComparison::Result::kNotReadable:
      return head + ", Decoder nicht lesbar";
    case CvComparison::Result::kUnreachable:
      return head + ", in " + mode + " nicht erreichbar";
    case CvComparison::Result::kSame:
      break;
  }
  return "";
}

std::string ComparisonEndText(const SheetComparison& comparison) {
  if (comparison.acknowledges_anything) return "Decoder best\xE4tigt jeden Wert: kein Vergleich m\xF6glich";
  const int differences = comparison.Differences();
  const int unread = comparison.Failures() - differences;
  std::string text = differences == 1 ? "1 Unterschied" : std::to_string(differences) + " Unterschiede";
  text += " zum Blatt";
  if (unread > 0) text += ", " + std::to_string(unread) + " CV nicht lesbar";
  return comparison.stopped ? "abgebrochen: " + text : text;
}

bool CvCommands::VerifyValue(int cv, int address, int value) {
  view_->SetCvPrompt("vergleiche CV " + std::to_string(cv) + " = " + std::to_string(value));
  link_.CvNumber = address;
  state_.CvValue = value;
  programmer_.VerifyCv();
  return link_.AckResult;
}

std::optional<SheetComparison> CvCommands::CompareAllCvs(const SheetLines& sheet, int retries) {
  if (busy_) return std::nullopt;
  BusyScope busy(*this);
  StartSheetCommand(false, "Decoder vergleichen");
  SheetComparison comparison;
  // The LGB interface reads every CV: nothing is taken on the decoder's word there.
  const bool verifies = link_.HardwareKind != link::kLgbInterface;
  bool checked = !verifies;
  SheetRun read_run;
  read_run.retries = retries;
  const int count = sheet.LineCount();
  for (int i = 0; i < count && !state_.AbortFlag; ++i) {
    const std::string line = sheet.Line(i);
    const int cv = ParseCvNumber(line);
    const int value = ParseCvValue(line);
    if (cv <= 0 || value < 0) continue;
    CvComparison compared;
    compared.cv = cv;
    compared.sheet_value = value;
    const int address = SheetAddress(cv);
    if (address == 0) {
      compared.result = CvComparison::Result::kUnreachable;
    } else {
      if (!checked && value <= kHighestValue) {
        // Once, before the first line: is a value the sheet does not hold confirmed?
        checked = true;
        if (VerifyValue(cv, address, OtherValue(value))) {
          comparison.acknowledges_anything = true;
          break;
        }
      }
      if (value <= kHighestValue && VerifyValue(cv, address, value)) {
        compared.result = CvComparison::Result::kSame;
      } else if (ReadTrying(cv, address, "", read_run, compared.reads)) {
        compared.decoder_value = state_.CvValue;
        // A verify whose acknowledge was lost: the read says it is the same.
        compared.result = state_.CvValue == value ? CvComparison::Result::kSame : CvComparison::Result::kDiffers;
      } else {
        // Stopped by "ENDE", the line was not compared at all.
        if (state_.AbortFlag) break;
        compared.result = CvComparison::Result::kNotReadable;
      }
    }
    comparison.lines.push_back(compared);
    if (compared.result != CvComparison::Result::kSame) {
      view_->SetCvResult("   " + ComparisonText(compared, state_.ProgrammingMode));
    }
  }
  comparison.stopped = state_.AbortFlag;
  view_->SetCvResult(ComparisonEndText(comparison));
  return comparison;
}

void CvCommands::ScanSheet(const SheetLines& sheet) {
  const SheetScan scan = ScanSheetLines(sheet, state_.SpeedTable);
  view_->SetMenuItemEnabled("schreibealleCVs", scan.any_value);
  view_->SetMenuItemEnabled("Kennlinie", scan.any_speed_line);
}

// --- Factory reset.

int CvCommands::SheetAddress(int cv) const {
  // A DCC-EX station reaches every CV in the method it chooses; a mode line means nothing.
  return link_.HardwareKind == link::kDccEx ? cv : SheetLineAddress(state_.ProgrammingMode, cv);
}

void CvCommands::OfferFactoryReset() {
  if (link_.HardwareKind == link::kDccEx) {
    // The station makes its own track signal: nothing runs while the question stands.
    view_->ShowResetBox(true);
    return;
  }
  // The question stays while other commands run; its resets must not wait on them.
  link_.SetDTR(true);
  link_.BackgroundStream = streams_.ResetBurst;
  // Written once so that the resets run while the question stands, even when nothing
  // was sent since the start: a decoder takes the reset packet only after resets.
  link_.Port().WriteText(link_.BackgroundStream);
  view_->ShowResetBox(true);
}

bool CvCommands::ConfirmFactoryReset() {
  if (busy_) return false;
  BusyScope busy(*this);
  view_->ShowResetBox(false);
  if (link_.HardwareKind == link::kDccEx) {
    // CV 8 := 8 as the station writes it. A decoder that resets may not confirm: the
    // outcome is shown, the reset counts as sent all the same.
    link_.SetDTR(true);
    const link::StationAnswer answer = link::StationWrite(link_, 8, 8);
    if (answer.outcome != link::StationAnswer::kValue) view_->SetCvResult(link::StationProblemText(answer));
    link_.SetDTR(false);
    return true;
  }
  if (link_.BackgroundStream != streams_.ResetBurst) {
    // A try-out opened while the question stood took the track: its packets keep a
    // decoder out of service mode. The resets come back first.
    link_.BackgroundStream = streams_.ResetBurst;
    link_.Port().WriteText(streams_.ResetBurst);
  }
  const std::string stream = encoding::EncodeServicePacket(RegisterWrite(8, 8));
  std::string burst;
  for (int i = 0; i < kFactoryResetCopies; ++i) burst += stream;
  // Its acknowledges (unawaited) must not count for a command after it.
  link_.WriteBurst(burst, link::TrackLink::Burst::kWrite);
  link_.WaitTicks(kFactoryResetEndTicks);
  link_.SetDTR(false);
  return true;
}

void CvCommands::DeclineFactoryReset() { view_->ShowResetBox(false); }

}  // namespace qarn2::programming
