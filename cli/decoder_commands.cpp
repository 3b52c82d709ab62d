#include "cli/decoder_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/command_report.h"
#include "cli/track_options.h"
#include "engine/engine.h"
#include "safefile/safe_file.h"
#include "sheet/code_page.h"
#include "sheet/decoder_file.h"
#include "sheet/file_bytes.h"
#include "encoding/fixed_streams.h"
#include "link/hardware_setup.h"
#include "programming/cv_commands.h"
#include "programming/program_state.h"
#include "programming/programming_methods.h"
#include "programming/sheet_lines.h"
#include "serial/com_error.h"

namespace qarn2::cli {
namespace {

// Track power with reset packets before the first command, as a decoder gets it in
// the window between the start-up and the user's first command, in ticks.
constexpr int kPowerUpTicks = 10;
// Between the reset question and "Ja", while the eight-reset bursts go out.
constexpr int kResetQuestionTicks = 10;
// An exception nothing expected, as the tool's entry point reports it.
constexpr int kExitInternal = 3;


const char kReadUsage[] = R"(  qarn2-cli read [--mode MODE] [--hardware HW] [--retries N] [--json] [TRACK OPTIONS] CV
      Reads CV (1..1024) as the CV box of the window does and prints
      "CV 29 = 6" (exit 0) or "CV 29 not readable" (exit 1).
)";
const char kWriteUsage[] = R"(  qarn2-cli write [--mode MODE] [--hardware HW] [--retries N] [--verify] [--json] [TRACK OPTIONS] CV VALUE
      Writes VALUE (0..255) into CV (1..1024) and prints "CV 29 = 6
      acknowledged" (exit 0) or "CV 29 = 6 not acknowledged" (exit 1). With
      --verify an acknowledged value is read back in the same mode: "CV 29 = 6
      acknowledged and read back", or "..., but read back as 4" (exit 1).
)";
const char kReadAllUsage[] = R"(  qarn2-cli read-all [--mode MODE] [--hardware HW] [--retries N] [--json] [--in-place] [TRACK OPTIONS] FILE
      Reads every CV that a line of the decoder file FILE names (a line that
      begins with its number) and prints the file with those lines rewritten:
      number, value ("?" when it could not be read), description. Other lines
      stay as they are; line ends become CR LF, and a NUL byte ends the text, as
      in the window (--in-place is refused then). --in-place writes the result
      back into FILE instead. Exit 1 when a CV could not be read.
)";
const char kWriteAllUsage[] = R"(  qarn2-cli write-all [--mode MODE] [--hardware HW] [--retries N] [--verify] [--json] [TRACK OPTIONS] FILE
      Writes every line of the decoder file FILE that has a CV number and a
      value into the decoder; a NUL byte ends the text, as in the window. Exit 1 when a write was not acknowledged (a value
      above 255 is not written and counts as such) or, with --verify, read
      back otherwise.
)";
const char kTriesHelp[] = R"(Tries and results (read, write, read-all, write-all, compare):
  --retries N          a CV not read / not acknowledged is tried again, up to N
                       (0..9, default 0) more times, each try as the mode
                       prescribes; the progress says which try it is.
  --verify             write, write-all: an acknowledged CV is read back in the
                       same mode (dir: bit by bit); another value is a failure
                       (exit 1) with both values named.
  --json               one JSON object on standard output instead of the text,
                       at every exit: "command" and "exit" (the exit status);
                       "error" (the message) when the command was refused or
                       failed; "mode", "hardware", "retries", "verify" once the
                       arguments are taken; "cvs" (each with "cv", "value",
                       "tries", "result" and, with --verify, "read_back" and
                       "read_back_tries") and "failures" once the track was
                       reached; read-all: "sheet". --help prints no object.
)";
const char kCompareUsage[] = R"(  qarn2-cli compare [--mode MODE] [--hardware HW] [--retries N] [--json] [TRACK OPTIONS] FILE
      Compares every line of the decoder file FILE that has a CV number and a
      value with the decoder, writing to neither: one verify of the value per
      CV (dir, dio: a byte verify; reg, roc, pag: the mode's register verify;
      lgb: a read); a CV not confirmed is read (--retries tries it again) and
      printed as "CV 5: Blatt 255, Decoder 100". Before the first CV a value
      the sheet does not hold is verified as well: a decoder that confirms it
      confirms anything, and the comparison ends there (exit 1).
      Ends with a count. Exit 0 when all agree, 1 when one differs or could not
      be read (or compared).
)";
const char kResetUsage[] = R"(  qarn2-cli reset [--hardware HW] [TRACK OPTIONS]
      Factory reset: CV 8 = 8 by register mode, three times, whatever the mode;
      no acknowledge is awaited. Prints "factory reset sent".
)";

// The arguments of one of these commands.
struct Arguments {
  TrackOptions track;
  std::string mode = "dir";
  bool mode_given = false;  // --mode was given: it wins over a file's mode line
  int hardware = link::kBoard;  // --hardware
  bool in_place = false;
  bool help = false;
  int retries = 0;
  bool verify = false;
  bool json = false;
  std::vector<std::string> operands;
};

// Returns the first problem with the arguments, empty when there is none.
std::string Parse(std::span<const std::string> args, bool in_place_allowed, Arguments& parsed) {
  std::vector<cmdline::LongOption> own = {{"mode", true}, {"hardware", true}, {"retries", true},
                                          {"verify", false}, {"json", false}};
  if (in_place_allowed) own.push_back({"in-place", false});
  CommandScan scan = ScanCommand(args, WithTrackOptions(own), [&](std::string_view name, const std::string& value) {
    std::string error;
    if (TakeTrackOption(name, value, parsed.track, error)) return error;
    if (name == "mode") {
      parsed.mode = value;
      parsed.mode_given = true;
      if (!programming::IsProgrammingMode(parsed.mode)) {
        return "--mode takes dir, dio, reg, pag or roc, not '" + parsed.mode + "'";
      }
    } else if (name == "hardware") {
      if (value == "board") {
        parsed.hardware = link::kBoard;
      } else if (value == "booster") {
        parsed.hardware = link::kBooster;
      } else if (value == "lgb") {
        parsed.hardware = link::kLgbInterface;
      } else if (value == "dccex") {
        parsed.hardware = link::kDccEx;
      } else {
        return "--hardware takes board, booster, lgb or dccex, not '" + value + "'";
      }
    } else if (name == "in-place") {
      parsed.in_place = true;
    } else if (name == "retries") {
      const std::optional<int> n = DecimalArgument(value, 0, 9);
      if (!n) return "--retries takes a number from 0 to 9, not '" + value + "'";
      parsed.retries = *n;
    } else if (name == "verify") {
      parsed.verify = true;
    } else if (name == "json") {
      parsed.json = true;
    }
    return std::string();
  });
  parsed.help = scan.help;
  parsed.operands = std::move(scan.operands);
  return scan.error;
}

// The engine's texts on standard error, one line each, in UTF-8. An entry prompt is
// held back until the tool types its entry behind it ("CV- Nr eingeben: 29"); the one
// the box shows when it waits for the next entry is never printed.
class ProgressView : public programming::CvCommandsView {
 public:
  explicit ProgressView(std::ostream& err) : err_(err) {}

  void SetCvPrompt(const std::string& text) override {
    PrintPendingPrompt();
    pending_prompt_ = last_prompt_ = text;
  }
  // The box clears its result field before each step: nothing to show.
  void SetCvResult(const std::string& text) override {
    if (Trimmed(text).empty()) return;
    PrintPendingPrompt();
    Print(text);
  }
  // What the tool types into the entry field.
  void Typed(const std::string& entry) {
    // Tried again, the box still shows the prompt it showed before.
    Print((pending_prompt_.empty() ? last_prompt_ : pending_prompt_) + " " + entry);
    pending_prompt_.clear();
  }

 private:
  void PrintPendingPrompt() {
    Print(pending_prompt_);
    pending_prompt_.clear();
  }
  // The texts carry blanks for the window's layout; trailing ones mean nothing here.
  static std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
  }
  void Print(std::string_view text) {
    text = Trimmed(text);
    if (!text.empty()) err_ << sheet::Cp1252ToUtf8(text) << '\n';
  }

  std::ostream& err_;
  std::string pending_prompt_;
  std::string last_prompt_;
};

// The engine as the tool drives it: its CV box "typed" into, its texts on standard
// error.
class CvTool {
 public:
  CvTool(engine::Engine& engine, const std::string& mode, std::ostream& err) : engine_(engine), view_(err) {
    engine_.SetViews(&view_, nullptr);
    engine_.State().ProgrammingMode = mode;
  }
  ~CvTool() { engine_.SetViews(nullptr, nullptr); }

  link::TrackLink& Link() { return engine_.Link(); }
  programming::ProgramState& State() { return engine_.State(); }
  programming::CvCommands& Commands() { return engine_.Cv(); }

  // Types `entry` into the CV box and presses Enter.
  void Enter(const std::string& entry) {
    view_.Typed(entry);
    Commands().EnterInCvBox(entry);
  }
  // The end of the session: what is on its way to the track goes out whole, then the
  // box closes ("ENDE") with the track without power.
  void End() {
    Link().PowerOffWhenDrained();
    Commands().EndCvBox();
  }

 private:
  engine::Engine& engine_;
  ProgressView view_;
};

// What the chosen hardware cannot do, as the window's menus refuse it; empty when
// the command can run. A bare booster has no acknowledge input, so nothing can be
// read through it; the LGB interface knows the direct modes only and cannot reset.
std::string HardwareRefuses(std::string_view command, const Arguments& parsed) {
  const bool reads = command == "read" || command == "read-all" || command == "compare" ||
                     command == "identify";
  if (parsed.hardware == link::kBooster && reads) {
    return "a bare booster gives no acknowledge: reading needs --hardware board or lgb";
  }
  if (parsed.hardware == link::kBooster && parsed.verify) {
    return "a bare booster gives no acknowledge: --verify reads back and needs --hardware board or lgb";
  }
  if (parsed.hardware == link::kDccEx && parsed.mode_given) {
    return "with --hardware dccex the station chooses how it programs: --mode does not apply";
  }
  if (parsed.hardware != link::kLgbInterface) return "";
  if (command == "reset") return "the LGB interface does no factory reset";
  if (parsed.mode != "dir" && parsed.mode != "dio") {
    return "the LGB interface reads and writes in mode dir or dio only, not " + parsed.mode;
  }
  return "";
}

const char* HardwareName(int hardware) {
  switch (hardware) {
    case link::kBooster:
      return "booster";
    case link::kLgbInterface:
      return "lgb";
    case link::kDccEx:
      return "dccex";
    default:
      return "board";
  }
}

// Opens the track as the window's start-up does, runs `body` on the engine, and
// reports port errors, the trace and the simulated decoder's file.
int OnTheTrack(std::string_view command, const Arguments& args, CommandReport& report, std::ostream& err,
               const std::function<int(CvTool&)>& body) {
  // A station's mode is its own.
  report.Describe(args.hardware == link::kDccEx ? "station" : args.mode, HardwareName(args.hardware), args.retries,
                  args.verify);
  if (const std::string refused = HardwareRefuses(command, args); !refused.empty()) {
    return report.Fail(kExitUsage, refused);
  }
  std::unique_ptr<engine::Engine> engine;
  try {
    engine = OpenEngine(args.track);
  } catch (const std::exception& e) {
    return report.Fail(kExitUsage, e.what());
  }
  report.Started();
  int status = kExitOk;
  try {
    link::TrackLink& link = engine->Link();
    link.HardwareKind = args.hardware;
    const auto progress = [&err](const std::string& text) { err << sheet::Cp1252ToUtf8(text) << '\n'; };
    if (!engine->SetUpHardware(args.hardware, progress)) {
      if (args.hardware == link::kDccEx) {
        err << "qarn2-cli: " << command << ": keine Verbindung zur DCC-EX-Zentrale (no banner, no answer to <s>)\n";
      } else {
        err << "qarn2-cli: " << command << ": keine Verbindung zu LGB55045 (the interface did not answer)\n";
      }
    }
    // The repeated resets start with a write (none with the LGB interface).
    link.RestartBackground();
    CvTool tool(*engine, args.mode, err);
    link.WaitTicks(kPowerUpTicks);
    status = body(tool);
  } catch (const serial::EComPort& e) {
    const std::string advice = engine->Advice(e);
    status = report.Fail(kExitPortError, std::string(e.what()) + (advice.empty() ? "" : "\n  " + advice));
  }
  if (args.track.trace) engine->PrintTrace(err);
  try {
    engine->SaveDecoder();
  } catch (const std::exception& e) {
    return report.Fail(kExitUsage, std::string("--sim-decoder: ") + e.what());
  }
  return status;
}

// Runs one of these commands: `body` gets the parsed arguments unless they are refused
// or ask for the usage. The report ends the run at every exit, an unexpected
// exception's included.
int RunCommand(std::string_view command, std::span<const std::string> args, bool in_place_allowed,
               const char* usage, std::ostream& out, std::ostream& err,
               const std::function<int(Arguments&, CommandReport&)>& body) {
  CommandReport report(command, args, out, err);
  int status = kExitOk;
  try {
    Arguments parsed;
    if (const std::string error = Parse(args, in_place_allowed, parsed); !error.empty()) {
      status = report.Fail(kExitUsage, error);
    } else if (parsed.help) {
      report.HelpShown();
      out << "Usage:\n" << usage << '\n' << ModeOptionHelp() << '\n' << TrackOptionsHelp();
    } else {
      report.SetJson(parsed.json);
      status = body(parsed, report);
    }
  } catch (const std::exception& e) {
    status = report.Fail(kExitInternal, std::string("internal error: ") + e.what());
  }
  return report.Finish(status);
}

// One CV through the CV box, tried up to 1 + `retries` times; the box is open.
programming::CvOutcome ReadOne(CvTool& engine, int cv, int retries, std::ostream& err) {
  programming::CvOutcome outcome;
  outcome.cv = cv;
  do {
    if (++outcome.tries > 1) err << "Versuch " << outcome.tries << " von " << retries + 1 << '\n';
    engine.Link().AckResult = false;
    engine.Enter(std::to_string(cv));
    outcome.ok = engine.Link().AckResult;
  } while (!outcome.ok && outcome.tries <= retries);
  if (outcome.ok) outcome.value = engine.State().CvValue;
  return outcome;
}

// The decoder file's text as the window's "Decoderdatei öffnen" takes it: a NUL byte
// ends it, line ends become CR LF. What a NUL cuts off is said on standard error, and
// --in-place, which would drop it from the file, is refused. nullopt with `error` set
// when the file cannot be taken.
std::optional<std::string> ReadSheet(std::string_view command, const std::string& path, bool in_place,
                                     std::ostream& err, std::string& error) {
  const std::optional<std::string> bytes = sheet::ReadFileBytes(path, error);
  if (!bytes) return std::nullopt;
  std::string text = sheet::DecoderText(*bytes);
  if (const std::size_t nul = bytes->find('\0'); nul != std::string::npos) {
    const std::string cut = "line " + std::to_string(sheet::SheetTextLines(text).size()) +
                            ": a NUL byte ends the sheet there, as the window reads it; the " +
                            std::to_string(bytes->size() - nul) + " bytes from it on are left out";
    if (in_place) {
      error = cut + ", and --in-place would drop them from the file";
      return std::nullopt;
    }
    err << "qarn2-cli: " << command << ": " << cut << '\n';
  }
  return text;
}

// A decoder file whose first line is a mode line ("*pag") is read and written in that
// mode unless --mode says otherwise, as the window does when it opens the file.
// Returns the problem with the mode line, empty when there is none.
std::string TakeModeLine(const std::string& text, Arguments& parsed) {
  // A DCC-EX station programs in its own way: the mode line means nothing to it.
  if (parsed.mode_given || parsed.hardware == link::kDccEx || text.empty() || text[0] != '*') return "";
  const programming::TextSheet sheet(text);
  const std::string mode = sheet.Line(0).substr(1, 3);
  if (!programming::IsProgrammingMode(mode)) {
    return "the file's mode line names '" + mode + "', which is no programming mode; give --mode";
  }
  parsed.mode = mode;
  return "";
}

}  // namespace

std::string DecoderCommandsUsage() {
  return std::string(kReadUsage) + kWriteUsage + kReadAllUsage + kWriteAllUsage + kCompareUsage + kResetUsage;
}

std::string ModeOptionHelp() {
  return R"(Programming mode (read, write, read-all, write-all, compare):
  --mode MODE          dir: direct mode, read bit by bit (the default); dio: direct
                       mode, byte by byte; reg: register mode; pag: paged mode;
                       roc: the old register method with power-on. reg and roc
                       take CV as a register number 1..8 (register 5 is the
                       decoder's CV 29, register 6 its page register); for
                       other numbers nothing is sent.
                       read-all, write-all and compare take the mode from the
                       file's mode line ("*pag" as its first line) when --mode
                       is not given.
Their progress (the texts of the window's CV box) goes to standard error.

Programming hardware (all five):
  --hardware HW        board: the interface board (the default); booster: a bare
                       booster, which gives no acknowledge, so read and read-all
                       are refused; lgb: the LGB interface at 9600 bit/s (modes dir
                       and dio, CV 1..255, no reset); dccex: a DCC-EX command
                       station on USB at 115200 bit/s, programming on its
                       programming track in the method it chooses (no --mode; a
                       file's mode line does not apply), e.g. --hardware dccex
                       --port COM1=/dev/ttyACM0. Opening its port restarts the
                       station: up to 5 s for its banner.

)" + std::string(kTriesHelp);
}

int RunRead(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return RunCommand("read", args, false, kReadUsage, out, err, [&](Arguments& parsed, CommandReport& report) {
    if (parsed.verify) return report.Fail(kExitUsage, "--verify is for write and write-all");
    if (parsed.operands.size() != 1) return report.Fail(kExitUsage, "needs one CV number");
    const std::string& cv_text = parsed.operands[0];
    const std::optional<int> cv = DecimalArgument(cv_text, 1, 1024);
    if (!cv) return report.Fail(kExitUsage, "CV takes a number from 1 to 1024, not '" + cv_text + "'");
    return OnTheTrack("read", parsed, report, err, [&](CvTool& engine) {
      engine.Commands().OpenCvBox(false);
      const programming::CvOutcome outcome = ReadOne(engine, *cv, parsed.retries, err);
      engine.End();
      report.Add(outcome, false);
      if (!report.Json()) {
        out << "CV " << *cv << (outcome.ok ? " = " + std::to_string(outcome.value) : std::string(" not readable"))
            << '\n';
      }
      return outcome.ok ? kExitOk : kExitNotConfirmed;
    });
  });
}

int RunWrite(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return RunCommand("write", args, false, kWriteUsage, out, err, [&](Arguments& parsed, CommandReport& report) {
    if (parsed.operands.size() != 2) return report.Fail(kExitUsage, "needs a CV number and a value");
    const std::string& cv_text = parsed.operands[0];
    const std::string& value_text = parsed.operands[1];
    const std::optional<int> cv = DecimalArgument(cv_text, 1, 1024);
    if (!cv) return report.Fail(kExitUsage, "CV takes a number from 1 to 1024, not '" + cv_text + "'");
    const std::optional<int> value = DecimalArgument(value_text, 0, 255);
    if (!value) return report.Fail(kExitUsage, "VALUE takes a number from 0 to 255, not '" + value_text + "'");
    return OnTheTrack("write", parsed, report, err, [&](CvTool& engine) {
      programming::CvOutcome outcome;
      outcome.cv = *cv;
      outcome.value = *value;
      engine.Commands().OpenCvBox(true);
      do {
        if (++outcome.tries > 1) err << "Versuch " << outcome.tries << " von " << parsed.retries + 1 << '\n';
        engine.Enter(cv_text);
        engine.Link().AckResult = false;
        engine.Enter(value_text);
        outcome.ok = engine.Link().AckResult;
      } while (!outcome.ok && outcome.tries <= parsed.retries);
      const bool acknowledged = outcome.ok;
      if (acknowledged && parsed.verify) {
        // An acknowledge says the decoder took the packet, not that it holds the value.
        engine.Commands().OpenCvBox(false);
        const programming::CvOutcome back = ReadOne(engine, *cv, parsed.retries, err);
        outcome.verified = true;
        outcome.read_back_tries = back.tries;
        if (back.ok) outcome.read_back = back.value;
        outcome.ok = outcome.read_back == *value;
      }
      engine.End();
      report.Add(outcome, true);
      if (!report.Json()) {
        out << "CV " << *cv << " = " << *value << (acknowledged ? " acknowledged" : " not acknowledged");
        if (outcome.verified) {
          if (outcome.ok) {
            out << " and read back";
          } else if (outcome.read_back) {
            out << ", but read back as " << *outcome.read_back;
          } else {
            out << ", but not readable back";
          }
        }
        out << '\n';
      }
      return outcome.ok ? kExitOk : kExitNotConfirmed;
    });
  });
}

int RunReadAll(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return RunCommand("read-all", args, true, kReadAllUsage, out, err, [&](Arguments& parsed, CommandReport& report) {
    if (parsed.verify) return report.Fail(kExitUsage, "--verify is for write and write-all");
    if (parsed.operands.size() != 1) return report.Fail(kExitUsage, "needs one decoder file");
    const std::string& path = parsed.operands[0];
    std::string error;
    const std::optional<std::string> text = ReadSheet("read-all", path, parsed.in_place, err, error);
    if (!text) return report.Fail(kExitUsage, error);
    if (error = TakeModeLine(*text, parsed); !error.empty()) return report.Fail(kExitUsage, error);
    // Where the result goes is settled before the decoder is read: a file the user may
    // not write is refused now, and a link put in its place meanwhile is not followed.
    const safefile::Target target = safefile::ResolveTarget(path);
    if (parsed.in_place && target.kind != safefile::Target::kRegularFile) {
      const std::string why = target.kind == safefile::Target::kRefused ? target.problem : "not a regular file";
      return report.Fail(kExitUsage, sheet::CannotCreateMessage(path) + " (" + why + ")");
    }
    return OnTheTrack("read-all", parsed, report, err, [&](CvTool& engine) {
      programming::TextSheet sheet(*text);
      programming::SheetRun run;
      run.retries = parsed.retries;
      run.report = [&](const programming::CvOutcome& outcome) { report.Add(outcome, false); };
      const std::optional<int> unread = engine.Commands().ReadAllCvs(sheet, run);
      engine.End();
      const std::string result = sheet.Text();
      // Reading may have taken long: the result is not lost when it cannot be written.
      const auto show = [&] {
        if (report.Json()) {
          report.SetSheet(result);
        } else {
          out << result;
        }
      };
      if (!parsed.in_place) {
        show();
      } else if (const std::string problem = safefile::WriteWhole(target, result); !problem.empty()) {
        show();
        return report.Fail(kExitUsage, sheet::CannotCreateMessage(path) + " (" + problem + "); the sheet went to " +
                                           (report.Json() ? "the JSON object" : "standard output"));
      }
      return unread.value_or(1) > 0 ? kExitNotConfirmed : kExitOk;
    });
  });
}

int RunWriteAll(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return RunCommand("write-all", args, false, kWriteAllUsage, out, err, [&](Arguments& parsed, CommandReport& report) {
    if (parsed.operands.size() != 1) return report.Fail(kExitUsage, "needs one decoder file");
    std::string error;
    const std::optional<std::string> text = ReadSheet("write-all", parsed.operands[0], false, err, error);
    if (!text) return report.Fail(kExitUsage, error);
    if (error = TakeModeLine(*text, parsed); !error.empty()) return report.Fail(kExitUsage, error);
    return OnTheTrack("write-all", parsed, report, err, [&](CvTool& engine) {
      programming::TextSheet sheet(*text);
      programming::SheetRun run;
      run.retries = parsed.retries;
      run.verify = parsed.verify;
      run.report = [&](const programming::CvOutcome& outcome) {
        report.Add(outcome, true);
        if (outcome.verified && !outcome.ok) {
          err << "CV " << outcome.cv << " = " << outcome.value << " acknowledged, but "
              << (outcome.read_back ? "read back as " + std::to_string(*outcome.read_back)
                                    : std::string("not readable back"))
              << '\n';
        }
      };
      const std::optional<int> failures = engine.Commands().WriteAllCvs(sheet, run);
      engine.End();
      return failures.value_or(1) > 0 ? kExitNotConfirmed : kExitOk;
    });
  });
}

namespace {

// A line of compare's output for a CV that is not the same; empty for one that is.
std::string ComparisonLine(const programming::CvComparison& line, const std::string& mode) {
  using Result = programming::CvComparison::Result;
  const std::string head = "CV " + std::to_string(line.cv) + ": Blatt " + std::to_string(line.sheet_value) + ", ";
  switch (line.result) {
    case Result::kSame:
      return "";
    case Result::kDiffers:
      return head + "Decoder " + std::to_string(*line.decoder_value);
    case Result::kNotReadable:
      return head + "Decoder not readable";
    case Result::kUnreachable:
      return head + "not reachable in " + mode;
  }
  return "";
}

}  // namespace

int RunCompare(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return RunCommand("compare", args, false, kCompareUsage, out, err, [&](Arguments& parsed, CommandReport& report) {
    if (parsed.verify) return report.Fail(kExitUsage, "--verify is for write and write-all");
    if (parsed.operands.size() != 1) return report.Fail(kExitUsage, "needs one decoder file");
    std::string error;
    const std::optional<std::string> text = ReadSheet("compare", parsed.operands[0], false, err, error);
    if (!text) return report.Fail(kExitUsage, error);
    if (error = TakeModeLine(*text, parsed); !error.empty()) return report.Fail(kExitUsage, error);
    return OnTheTrack("compare", parsed, report, err, [&](CvTool& engine) {
      const programming::TextSheet sheet(*text);
      const std::optional<programming::SheetComparison> comparison =
          engine.Commands().CompareAllCvs(sheet, parsed.retries);
      engine.End();
      if (!comparison) return kExitNotConfirmed;
      for (const programming::CvComparison& line : comparison->lines) {
        report.AddComparison(line);
        if (const std::string shown = ComparisonLine(line, parsed.mode); !shown.empty() && !report.Json()) {
          out << shown << '\n';
        }
      }
      if (comparison->acknowledges_anything) {
        return report.Fail(kExitNotConfirmed,
                           "the decoder confirms a value the sheet does not hold as well: it confirms anything, "
                           "so no CV was taken as the same");
      }
      const int differences = comparison->Differences();
      const int unread = comparison->Failures() - differences;
      if (!report.Json()) {
        out << comparison->lines.size() << " CVs compared: ";
        if (differences == 0 && unread == 0) {
          out << "all the same\n";
        } else {
          out << differences << " differ, " << unread << " not readable\n";
        }
      }
      return comparison->Failures() > 0 ? kExitNotConfirmed : kExitOk;
    });
  });
}

int RunReset(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return RunCommand("reset", args, false, kResetUsage, out, err, [&](Arguments& parsed, CommandReport& report) {
    if (parsed.retries || parsed.verify || parsed.json) {
      return report.Fail(kExitUsage, "--retries, --verify and --json are for reading and writing CVs");
    }
    if (!parsed.operands.empty()) {
      return report.Fail(kExitUsage, "takes no operands, not '" + parsed.operands[0] + "'");
    }
    return OnTheTrack("reset", parsed, report, err, [&](CvTool& engine) {
      engine.Commands().OfferFactoryReset();
      engine.Link().WaitTicks(kResetQuestionTicks);
      // "Ja"; the track goes without power at its end.
      if (!engine.Commands().ConfirmFactoryReset()) return kExitNotConfirmed;
      out << "factory reset sent\n";
      return kExitOk;
    });
  });
}

int RunReadIdentity(std::span<const std::string> args, const char* usage, std::ostream& out, std::ostream& err,
                    const std::function<void(std::optional<int>, std::optional<int>)>& name) {
  return RunCommand("identify", args, false, usage, out, err, [&](Arguments& parsed, CommandReport& report) {
    if (parsed.verify || parsed.json) return report.Fail(kExitUsage, "--verify and --json are not for identify");
    if (!parsed.operands.empty()) return report.Fail(kExitUsage, "takes no operands, not '" + parsed.operands[0] + "'");
    return OnTheTrack("identify", parsed, report, err, [&](CvTool& engine) {
      // Read as the CV box reads, one after the other in one session.
      engine.Commands().OpenCvBox(false);
      const programming::CvOutcome manufacturer = ReadOne(engine, 8, parsed.retries, err);
      const programming::CvOutcome version = ReadOne(engine, 7, parsed.retries, err);
      engine.End();
      name(manufacturer.ok ? std::optional<int>(manufacturer.value) : std::nullopt,
           version.ok ? std::optional<int>(version.value) : std::nullopt);
      return manufacturer.ok && version.ok ? kExitOk : kExitNotConfirmed;
    });
  });
}

}  // namespace qarn2::cli
