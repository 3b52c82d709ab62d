#include "cli/testing/conformance_matrix.h"

#include <cstdio>
#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "cli/command_line.h"
#include "programming/programming_methods.h"
#include "sim/decoder_file.h"
#include "sim/decoder_model.h"
#include "testsupport/test_files.h"

namespace qarn2::cli::testing {
namespace {

using Cvs = std::map<int, int>;

// The decoder at the start of every run (the CVs not named keep their defaults; 7 and
// 8 are read-only). CV 3 = 129 is what a bit taken from the burst before turns into
// 131, CV 2 = 0 what a lost NUL makes unreadable.
const char kDecoder[] = "1 3\r\n2 0\r\n3 129\r\n5 200\r\n6 90\r\n29 6\r\n";
// The sheet of read-all and write-all: every line names a CV. In reg and roc lines 5
// and 6 name CVs those modes cannot reach (their registers 5 and 6 are CV 29 and the
// page register); CV 7 is read-only.
const char kSheet[] =
    "Matrix-Lok\r\n1 4 Adresse\r\n2 0 Anfahrspannung\r\n3 131 Beschleunigung\r\n"
    "5 255 (H\xF6" "chstgeschwindigkeit)\r\n6 77 Mittengeschwindigkeit\r\n7 5 Version\r\n29 38 Konfiguration\r\n";
const Cvs kSheetValues = {{1, 4}, {2, 0}, {3, 131}, {5, 255}, {6, 77}, {7, 5}, {29, 38}};
constexpr int kReadOnlyCv = 7;

// What the decoder stored during a run, from the track log (--trace).
struct Store {
  int cv = 0;            // 0: the page register
  int value = 0;
  bool factory_reset = false;
};

// One meaning of the track log: "write CV 3 = 131 (stored)", "write register 5 (CV 29) =
// 6 (stored)", "write register 6 (page register) = 1 (stored)", "... (factory reset)".
std::optional<Store> StoreIn(const std::string& line) {
  const std::size_t write = line.find("write ");
  if (write == std::string::npos) return std::nullopt;
  std::string rest = line.substr(write + 6);
  Store store;
  int number = 0;
  int consumed = 0;
  if (std::sscanf(rest.c_str(), "CV %d%n", &number, &consumed) == 1) {
    store.cv = number;
  } else if (rest.rfind("register ", 0) == 0 && rest.find(" (page register)") == 10) {
    store.cv = 0;
    consumed = 26;
  } else if (std::sscanf(rest.c_str(), "register %*d (CV %d)%n", &number, &consumed) == 1) {
    store.cv = number;
  } else {
    return std::nullopt;
  }
  rest = rest.substr(static_cast<std::size_t>(consumed));
  if (std::sscanf(rest.c_str(), " = %d%n", &store.value, &consumed) != 1) return std::nullopt;
  rest = rest.substr(static_cast<std::size_t>(consumed));
  store.factory_reset = rest.rfind(" (factory reset)", 0) == 0;
  if (!store.factory_reset && rest.rfind(" (stored", 0) != 0) return std::nullopt;
  return store;
}

std::vector<Store> StoresIn(const std::string& trace) {
  std::vector<Store> stores;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (const std::optional<Store> store = StoreIn(line)) stores.push_back(*store);
  }
  return stores;
}

Cvs DecoderCvs(const std::string& file_text) {
  sim::DecoderModel decoder;
  sim::LoadCvsFromText(file_text, decoder);
  Cvs cvs;
  for (int cv = 1; cv <= 64; ++cv) cvs[cv] = decoder.Cv(cv);
  return cvs;
}

int PageOf(int cv) { return ((cv - 1) / 4 + 1) & 0xFF; }

// One cell's runs and what they found.
class Cell {
 public:
  explicit Cell(MatrixCell& cell) : cell_(cell), folder_("qarn2_matrix") {}

  struct Run {
    int status = -1;
    std::string out, err;
    Cvs before, after;
    std::vector<Store> stores;
    QJsonObject json;
    bool refused = false;  // as the hardware cannot do it
  };

  // `qarn2-cli COMMAND ARGS... --json --trace` on the cell's hardware, mode and traits,
  // on a fresh decoder.
  Run Tool(const std::string& command, const std::vector<std::string>& args, bool json = true) {
    const std::string decoder = folder_.File("decoder.DEC");
    testsupport::Put(decoder, kDecoder);
    testsupport::Put(folder_.File("sheet.DEC"), kSheet);
    std::vector<std::string> argv = {command,       "--virtual-time", "--trace", "--sim-decoder", decoder,
                                     "--hardware", cell_.hardware};
    if (command != "reset") argv.insert(argv.end(), {"--mode", cell_.mode});
    if (json) argv.push_back("--json");
    if (cell_.traits != "default") {
      std::istringstream traits(cell_.traits);
      for (std::string trait; traits >> trait;) argv.insert(argv.end(), {"--sim-trait", trait});
    }
    argv.insert(argv.end(), args.begin(), args.end());
    Run run;
    run.before = DecoderCvs(kDecoder);
    std::istringstream in;
    std::ostringstream out, err;
    run.status = RunCommandLine(argv, in, out, err);
    ++cell_.runs;
    run.out = out.str();
    run.err = err.str();
    run.after = DecoderCvs(testsupport::Get(decoder));
    run.stores = StoresIn(run.err);
    if (HardwareRefuses(command, args)) {
      // Nothing sent, nothing changed, and nothing to judge.
      if (run.status != kExitUsage) Wrong(command + ": not refused (exit " + std::to_string(run.status) + ")");
      if (!run.stores.empty() || run.after != run.before) Wrong(command + ": refused, but the decoder changed");
      if (cell_.verdict == MatrixCell::kTrue) cell_.verdict = MatrixCell::kRefused;
      run.refused = true;
      return run;
    }
    if (json && run.status != kExitUsage) {
      run.json = QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
      if (run.json.isEmpty() && run.status != 3) Wrong(command + ": no JSON report");
    }
    if (run.status == 3) Wrong(command + ": port error: " + run.err.substr(0, 200));
    return run;
  }

  std::string SheetPath() const { return folder_.File("sheet.DEC"); }

  void Wrong(const std::string& what) { Note(MatrixCell::kWrong, what); }
  void Failed(const std::string& what) { Note(MatrixCell::kHonestFailure, what); }

  // Nothing stored but `asked` (CV -> value; the page register as CV 0 with any of
  // the values given for it).
  void OnlyAsked(const Run& run, const std::multimap<int, int>& asked, bool factory_reset = false) {
    for (const Store& s : run.stores) {
      if (s.factory_reset) {
        if (!factory_reset) Wrong("factory reset nobody asked for");
        continue;
      }
      bool ok = false;
      for (auto [it, end] = asked.equal_range(s.cv); it != end; ++it) ok = ok || it->second == s.value;
      if (!ok) {
        Wrong((s.cv == 0 ? std::string("page register") : "CV " + std::to_string(s.cv)) + " := " +
              std::to_string(s.value) + " stored, not asked for");
      }
    }
  }

  // A confirmed write of `value` into `cv`: stored in this run, and held at the end.
  void ConfirmedIsStored(const Run& run, int cv, int value) {
    bool stored = false;
    for (const Store& s : run.stores) stored = stored || (s.cv == cv && s.value == value);
    if (!stored || run.after.at(cv) != value) {
      Wrong("CV " + std::to_string(cv) + " = " + std::to_string(value) + " confirmed, but the decoder holds " +
            std::to_string(run.after.at(cv)));
    }
  }

  void ReadIsTrue(const Run& run, int cv, int value) {
    if (run.before.at(cv) != value) {
      Wrong("CV " + std::to_string(cv) + " read as " + std::to_string(value) + ", the decoder holds " +
            std::to_string(run.before.at(cv)));
    }
  }

 private:
  // What the tool refuses on the cell's hardware: reading through a bare booster, and
  // with the LGB interface any mode but dir and dio, and the factory reset.
  bool HardwareRefuses(const std::string& command, const std::vector<std::string>& args) const {
    const bool verify = std::find(args.begin(), args.end(), "--verify") != args.end();
    if (cell_.hardware == "booster") return command == "read" || command == "read-all" || command == "compare" || verify;
    if (cell_.hardware != "lgb") return false;
    return command == "reset" || (cell_.mode != "dir" && cell_.mode != "dio");
  }

  void Note(MatrixCell::Verdict verdict, const std::string& what) {
    if (verdict > cell_.verdict || cell_.verdict == MatrixCell::kRefused) cell_.verdict = verdict;
    if (!cell_.detail.empty()) cell_.detail += "; ";
    cell_.detail += what;
  }

  MatrixCell& cell_;
  testsupport::TempFolder folder_;
};

// The page register's values a method may store on its own: the preset's 1, and in
// paged mode the page of each CV asked for.
void AllowPages(std::multimap<int, int>& asked, const std::vector<int>& cvs) {
  asked.insert({0, 1});
  for (int cv : cvs) asked.insert({0, PageOf(cv)});
}

QJsonArray CvReports(const Cell::Run& run) { return run.json["cvs"].toArray(); }

// Every read CV of a JSON report is the decoder's value and one the mode reaches; a CV
// that `should_read` but was not is an honest failure.
void JudgeReads(Cell& cell, const Cell::Run& run, const std::function<bool(int cv)>& reachable,
                bool should_read) {
  for (const QJsonValue& entry : CvReports(run)) {
    const QJsonObject report = entry.toObject();
    const int cv = report["cv"].toInt();
    if (report["result"].toString() == "read") {
      cell.ReadIsTrue(run, cv, report["value"].toInt());
      if (!reachable(cv)) cell.Wrong("CV " + std::to_string(cv) + " read, though the mode cannot reach it");
    } else if (should_read && reachable(cv)) {
      cell.Failed("CV " + std::to_string(cv) + " nicht lesbar");
    }
  }
}

// Every confirmed CV of a JSON report is stored; read-back values are the decoder's.
void JudgeWrites(Cell& cell, const Cell::Run& run, const std::function<bool(int cv)>& should_confirm) {
  for (const QJsonValue& entry : CvReports(run)) {
    const QJsonObject report = entry.toObject();
    const int cv = report["cv"].toInt();
    const int value = report["value"].toInt();
    const QString result = report["result"].toString();
    if (report.contains("read_back") && !report["read_back"].isNull()) {
      // Whatever was read back must be what the decoder holds.
      if (report["read_back"].toInt() != run.after.at(cv)) {
        cell.Wrong("CV " + std::to_string(cv) + " read back as " + std::to_string(report["read_back"].toInt()) +
                   ", the decoder holds " + std::to_string(run.after.at(cv)));
      }
    }
    if (result == "read back otherwise" && report["read_back"].isNull()) {
      cell.Wrong("CV " + std::to_string(cv) + " read back otherwise, but no value read back");
    }
    if (result == "acknowledged" || result == "acknowledged and read back") {
      cell.ConfirmedIsStored(run, cv, value);
    } else if (should_confirm(cv)) {
      cell.Failed("CV " + std::to_string(cv) + ": " + result.toStdString());
    }
  }
}

// compare: a CV taken as the same holds the sheet's value, one that differs holds the
// value named; one the mode reaches but that was not compared is an honest failure.
void JudgeComparison(Cell& cell, const Cell::Run& run, const std::function<bool(int cv)>& reachable) {
  std::set<int> reported;
  for (const QJsonValue& entry : CvReports(run)) {
    const QJsonObject report = entry.toObject();
    const int cv = report["cv"].toInt();
    reported.insert(cv);
    const int holds = run.before.at(cv);
    const QString result = report["result"].toString();
    const std::string name = "CV " + std::to_string(cv);
    if (result == "same" && holds != report["sheet"].toInt()) {
      cell.Wrong(name + " taken as the sheet's " + std::to_string(report["sheet"].toInt()) + ", the decoder holds " +
                 std::to_string(holds));
    } else if (result == "differs" && (report["decoder"].toInt() != holds || holds == report["sheet"].toInt())) {
      cell.Wrong(name + " reported as " + std::to_string(report["decoder"].toInt()) + ", the decoder holds " +
                 std::to_string(holds));
    } else if (result != "same" && result != "differs" && reachable(cv)) {
      cell.Failed(name + ": " + result.toStdString());
    }
  }
  for (const auto& [cv, value] : kSheetValues) {
    if (reachable(cv) && reported.count(cv) == 0) cell.Failed("CV " + std::to_string(cv) + " not compared");
  }
}

bool Reaches(const std::string& mode, const std::string& hardware, int cv) {
  return programming::SheetLineAddress(mode, cv) != 0 && (hardware != "lgb" || cv <= 255);
}

void RunCell(MatrixCell& out) {
  Cell cell(out);
  const std::string& hw = out.hardware;
  const std::string& mode = out.mode;
  const std::string& command = out.command;
  const bool booster = hw == "booster";
  const auto reachable = [&](int cv) { return Reaches(mode, hw, cv); };
  const auto confirmable = [&](int cv) { return reachable(cv) && cv != kReadOnlyCv; };
  std::vector<int> sheet_cvs;
  for (const auto& [cv, value] : kSheetValues) sheet_cvs.push_back(cv);

  if (command == "reset") {
    const Cell::Run run = cell.Tool("reset", {}, false);
    if (run.refused) return;
    if (run.status != kExitOk) {
      cell.Failed("reset: exit " + std::to_string(run.status));
      return;
    }
    cell.OnlyAsked(run, {}, true);
    for (const auto& [cv, value] : run.after) {
      if (value != sim::DecoderModel::DefaultCv(cv)) {
        cell.Wrong("factory reset sent, but CV " + std::to_string(cv) + " = " + std::to_string(value));
        break;
      }
    }
  } else if (command == "read") {
    for (const int cv : {3, 2}) {
      const Cell::Run run = cell.Tool("read", {std::to_string(cv)});
      std::multimap<int, int> asked;
      AllowPages(asked, {cv});
      cell.OnlyAsked(run, asked);
      JudgeReads(cell, run, reachable, true);
    }
  } else if (command == "write") {
    // A CV the decoder stores, and its read-only version CV.
    for (const auto& [cv, value] : {std::pair{3, 131}, std::pair{kReadOnlyCv, 5}}) {
      const Cell::Run run = cell.Tool("write", {std::to_string(cv), std::to_string(value)});
      std::multimap<int, int> asked = {{cv, value}};
      AllowPages(asked, {cv});
      cell.OnlyAsked(run, asked);
      JudgeWrites(cell, run, confirmable);
    }
  } else if (command == "--verify") {
    const Cell::Run run = cell.Tool("write", {"--verify", "1", "4"});
    std::multimap<int, int> asked = {{1, 4}};
    AllowPages(asked, {1});
    cell.OnlyAsked(run, asked);
    JudgeWrites(cell, run, confirmable);
  } else if (command == "compare") {
    const Cell::Run run = cell.Tool("compare", {cell.SheetPath()});
    if (run.refused) return;
    std::multimap<int, int> asked;
    AllowPages(asked, sheet_cvs);
    cell.OnlyAsked(run, asked);
    JudgeComparison(cell, run, reachable);
  } else if (command == "read-all" || command == "write-all" || command == "--retries") {
    const bool retries = command == "--retries";
    std::vector<std::string> loss;
    if (retries) loss = {"--retries", "2", "--sim-ack-loss", "0.3", "--sim-seed", "5"};
    if (command == "read-all" || (retries && !booster)) {
      std::vector<std::string> args = loss;
      args.push_back(cell.SheetPath());
      const Cell::Run run = cell.Tool("read-all", args);
      std::multimap<int, int> asked;
      AllowPages(asked, sheet_cvs);
      cell.OnlyAsked(run, asked);
      JudgeReads(cell, run, reachable, true);
    }
    if (command == "write-all" || retries) {
      std::vector<std::string> args = loss;
      if (retries && !booster) args.push_back("--verify");
      args.push_back(cell.SheetPath());
      const Cell::Run run = cell.Tool("write-all", args);
      std::multimap<int, int> asked;
      for (const auto& [cv, value] : kSheetValues) {
        if (reachable(cv)) asked.insert({cv, value});
      }
      AllowPages(asked, sheet_cvs);
      cell.OnlyAsked(run, asked);
      JudgeWrites(cell, run, confirmable);
    }
  }
}

}  // namespace

std::vector<std::string> MatrixTraitSets() {
  return {"default",      "ack-every-packet", "write-delay=200", "ack-pulse=5", "ack-pulse=7",
          "strict-preamble", "ack-every-packet write-delay=200 ack-pulse=7 strict-preamble"};
}

std::vector<MatrixCell> RunMatrixRow(const std::string& traits, const std::function<void(const MatrixCell&)>& done) {
  std::vector<MatrixCell> cells;
  for (const char* hardware : kMatrixHardware) {
    for (const char* mode : programming::kProgrammingModes) {
      for (const char* command : kMatrixCommands) {
        MatrixCell cell;
        cell.traits = traits;
        cell.hardware = hardware;
        cell.mode = mode;
        cell.command = command;
        RunCell(cell);
        if (done) done(cell);
        cells.push_back(std::move(cell));
      }
    }
  }
  return cells;
}

const char* VerdictName(MatrixCell::Verdict verdict) {
  switch (verdict) {
    case MatrixCell::kTrue:
      return "true";
    case MatrixCell::kHonestFailure:
      return "honest failure";
    case MatrixCell::kRefused:
      return "refused";
    case MatrixCell::kWrong:
      return "WRONG";
  }
  return "?";
}

}  // namespace qarn2::cli::testing
