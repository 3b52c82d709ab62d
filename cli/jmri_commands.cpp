#include "cli/jmri_commands.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "roster/roster_export.h"
#include "roster/roster_format.h"
#include "roster/roster_import.h"
#include "safefile/safe_file.h"
#include "sheet/decoder_file.h"
#include "sheet/file_bytes.h"

namespace qarn2::cli {
namespace {

using roster::RosterError;
using roster::RosterProblem;
using roster::SheetError;
using roster::SheetProblem;

const char kImportUsage[] = R"(  qarn2-cli import-jmri ROSTER.xml [--out FILE] [--lossy]
      Makes a JMRI roster file (one locomotive's file from JMRI's roster
      folder) into a decoder sheet: the mode line "*dir", a title line (the
      roster's id, road name and number), then one line per CV value of CV
      1..1024 in rising order, as read-all writes them ("29   34 "). Prints
      the sheet (Windows-1252, CR LF) or writes it into FILE, which must not
      be ROSTER.xml itself (exit 2). What is left out (indexed CVs, values
      outside 0..255, a CV given twice: the first stands, a CVvalue not
      directly in the locomotive's <values>) is reported on standard error.
      Characters Windows-1252 lacks are named there too, and nothing is
      written (exit 1) unless --lossy is given: then they become '?'. Exit 2
      when ROSTER.xml is no roster file, with the line and column where that
      shows, or its locomotive has no CV value to import; files with a NUL,
      entity or attribute-list declarations, an element with more than 64
      attributes or more than 16 namespace declarations are refused unread.
)";
const char kExportUsage[] = R"(  qarn2-cli export-jmri SHEET [--id NAME] [--out FILE]
      Writes the decoder file SHEET as a JMRI roster file (UTF-8): one CVvalue
      per CV line with a value 0..255, the address from CV 1 (from CV 17/18
      when CV 29 bit 5 asks for the long address), the roster id NAME (by
      default SHEET's file name without folder and extension). Prints the XML
      or writes it into FILE, which must not be SHEET itself (exit 2). Lines
      with "?" or without a value are left out and counted on standard error,
      as is anything else left out; then how many CV values were written, and
      where. Exit 2 when SHEET is no decoder sheet (a NUL byte, or no line
      with a CV number).
)";

int Fail(std::ostream& err, std::string_view command, const std::string& message) {
  err << "qarn2-cli: " << command << ": " << message << '\n';
  return kExitUsage;
}

void Note(std::ostream& err, std::string_view command, int line, const std::string& message) {
  err << "qarn2-cli: " << command << ": ";
  if (line > 0) err << "line " << line << ": ";
  err << message << '\n';
}

struct JmriArguments {
  bool help = false;
  bool lossy = false;  // import-jmri: characters the sheet cannot hold may become '?'
  std::optional<std::string> out;
  std::optional<std::string> id;
  std::vector<std::string> operands;
};

// Returns the first problem with the arguments, empty when there is none. --id is for
// exporting, --lossy for importing.
std::string Parse(std::span<const std::string> args, bool exporting, JmriArguments& parsed) {
  const std::vector<cmdline::LongOption> options = {{"out", true}, {exporting ? "id" : "lossy", exporting}};
  CommandScan scan = ScanCommand(args, options, [&](std::string_view name, const std::string& value) -> std::string {
    if (name == "out") parsed.out = value;
    if (name == "lossy") parsed.lossy = true;
    if (name == "id") {
      // JMRI names the entry by it: it must not be empty.
      if (value.empty()) return "--id needs a name";
      parsed.id = value;
    }
    return "";
  });
  parsed.help = scan.help;
  parsed.operands = std::move(scan.operands);
  return scan.error;
}

// Where --out goes, settled before the work (without --out, an unused empty target);
// nullopt, with the message given, when it cannot be written or is the file `input`
// itself, under whatever name.
std::optional<safefile::Target> OutTarget(const JmriArguments& parsed, const std::string& input,
                                          std::string_view command, std::ostream& err) {
  if (!parsed.out) return safefile::Target{};
  safefile::Target target = safefile::ResolveTarget(*parsed.out);
  if (target.kind == safefile::Target::kRefused) {
    Fail(err, command, sheet::CannotCreateMessage(*parsed.out) + " (" + target.problem + ")");
    return std::nullopt;
  }
  if (safefile::IsSameFile(input, target)) {
    Fail(err, command, "--out '" + *parsed.out + "' is the input file '" + input + "' itself; the output would replace it");
    return std::nullopt;
  }
  return target;
}

// The result onto standard output, or whole into --out.
int Deliver(const JmriArguments& parsed, const safefile::Target& target, const std::string& bytes,
            std::string_view command, std::ostream& out, std::ostream& err) {
  if (!parsed.out) {
    out << bytes;
    return kExitOk;
  }
  if (const std::string problem = safefile::WriteWhole(target, bytes); !problem.empty()) {
    return Fail(err, command, sheet::CannotCreateMessage(*parsed.out) + " (" + problem + ")");
  }
  return kExitOk;
}

std::string Where(int line, int column) { return "line " + std::to_string(line) + ", column " + std::to_string(column); }

std::string Place(int line, int column) { return Where(line, column) + ": "; }

std::string RosterErrorText(const RosterError& error) {
  switch (error.kind) {
    case RosterError::kTooLarge:
      return "larger than " + std::to_string(roster::kMaxRosterSize / (1024 * 1024)) + " MiB";
    case RosterError::kMalformed:
      return Place(error.line, error.column) + error.detail;
    case RosterError::kBadEncoding:
      return Place(error.line, error.column) + "bytes that are not valid " + error.detail;
    case RosterError::kNulCharacter:
      return Place(error.line, error.column) + "a NUL character, which XML allows nowhere";
    case RosterError::kEntityDeclaration:
      return Place(error.line, error.column) + "it declares entities, which are refused (JMRI writes none)";
    case RosterError::kAttributeListDeclaration:
      return Place(error.line, error.column) + "it declares attribute lists, which are refused (JMRI writes none)";
    case RosterError::kTooManyAttributes:
      return Place(error.line, error.column) + "an element with more than " + std::to_string(roster::kMaxAttributes) +
             " attributes, which no roster file has";
    case RosterError::kTooManyNamespaces:
      return Place(error.line, error.column) + "more than " + std::to_string(roster::kMaxNamespaceDeclarations) +
             " namespace declarations, which no roster file has";
    case RosterError::kNotARoster:
      return Place(error.line, error.column) + "its root element is <" + error.detail + ">, not <" +
             roster::kRootElement + ">" +
             (error.detail == "roster-config"
                  ? " (this is JMRI's roster index; take the locomotive's own file from the roster folder)"
                  : "");
    case RosterError::kNoLocomotive:
      return Place(error.line, error.column) + "no <" + roster::kLocomotiveElement + "> in it";
    case RosterError::kNoCvValues:
      break;  // a roster file, said otherwise
  }
  return "";
}

std::string RosterProblemText(const RosterProblem& problem) {
  const std::string cv = "CV " + std::to_string(problem.cv);
  switch (problem.kind) {
    case RosterProblem::kNotPlainCv:
      return "CV \"" + problem.name + "\" is no plain CV number (an indexed CV?); left out";
    case RosterProblem::kCvOutOfRange:
      return "CV " + problem.name + " is outside 1.." + std::to_string(roster::kLastCv) + "; left out";
    case RosterProblem::kBadValue:
      return cv + " has the value \"" + problem.value + "\", not 0.." + std::to_string(roster::kHighestValue) +
             "; left out";
    case RosterProblem::kDuplicateCv:
      return cv + " again, with " + problem.value + "; left out, the first value " +
             std::to_string(problem.kept_value) + " stands";
    case RosterProblem::kReplacedCharacters:
      return "the " + problem.field + " holds characters that Windows-1252 lacks (" + problem.characters +
             (problem.unnamed_characters > 0 ? " and " + std::to_string(problem.unnamed_characters) + " more" : "") +
             "), each '?' in the sheet";
    case RosterProblem::kFurtherLocomotive:
      return "a further locomotive \"" + problem.name + "\" left out; only the first is imported";
    case RosterProblem::kMisplacedCv:
      return "CV \"" + problem.name + "\" does not stand directly in the locomotive's <" + roster::kValuesElement +
             ">; left out";
  }
  return "";
}

std::string SheetProblemText(const SheetProblem& problem) {
  const std::string cv = "CV " + std::to_string(problem.cv);
  switch (problem.kind) {
    case SheetProblem::kValueTooLarge:
      return cv + " = " + std::to_string(problem.value) + " is above " + std::to_string(roster::kHighestValue) +
             "; left out";
    case SheetProblem::kCvOutOfRange:
      return cv + " is above " + std::to_string(roster::kLastCv) + "; left out";
    case SheetProblem::kDuplicateCv:
      return cv + " again, with " + std::to_string(problem.value) + "; left out, the first value " +
             std::to_string(problem.kept_value) + " stands";
    case SheetProblem::kNoAddress:
      return "no dccAddress: " + cv +
             (problem.value < 0 ? " has no value" : " = " + std::to_string(problem.value) + " gives no address");
    case SheetProblem::kAccessoryDecoder:
      return "no dccAddress: " + cv + " = " + std::to_string(problem.value) + " marks an accessory decoder";
  }
  return "";
}

}  // namespace

std::string JmriUsage() { return std::string(kImportUsage) + kExportUsage; }

int RunImportJmri(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  constexpr std::string_view kCommand = "import-jmri";
  JmriArguments parsed;
  if (const std::string error = Parse(args, false, parsed); !error.empty()) return Fail(err, kCommand, error);
  if (parsed.help) {
    out << "Usage:\n" << kImportUsage;
    return kExitOk;
  }
  if (parsed.operands.size() != 1) return Fail(err, kCommand, "needs one roster file");
  const std::string& path = parsed.operands[0];
  const std::optional<safefile::Target> target = OutTarget(parsed, path, kCommand, err);
  if (!target) return kExitUsage;
  std::string error;
  const std::optional<std::string> xml = sheet::ReadFileBytes(path, error);
  if (!xml) return Fail(err, kCommand, error);

  const roster::RosterImport imported = roster::ImportRoster(*xml);
  bool lossy = false;
  for (const RosterProblem& problem : imported.problems) {
    Note(err, kCommand, problem.line, RosterProblemText(problem));
    lossy = lossy || problem.kind == RosterProblem::kReplacedCharacters;
  }
  if (imported.error && imported.error->kind == RosterError::kNoCvValues) {
    return Fail(err, kCommand,
                "'" + path + "' has no CV value to import (its locomotive at " +
                    Where(imported.error->line, imported.error->column) + ")");
  }
  if (imported.error) {
    return Fail(err, kCommand, "'" + path + "' is no roster file: " + RosterErrorText(*imported.error));
  }
  if (lossy && !parsed.lossy) {
    Note(err, kCommand, 0, "nothing written: --lossy writes the sheet with '?' for those characters");
    return kExitDataError;
  }
  return Deliver(parsed, *target, imported.sheet, kCommand, out, err);
}

int RunExportJmri(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  constexpr std::string_view kCommand = "export-jmri";
  JmriArguments parsed;
  if (const std::string error = Parse(args, true, parsed); !error.empty()) return Fail(err, kCommand, error);
  if (parsed.help) {
    out << "Usage:\n" << kExportUsage;
    return kExitOk;
  }
  if (parsed.operands.size() != 1) return Fail(err, kCommand, "needs one decoder file");
  const std::string& path = parsed.operands[0];
  const std::optional<safefile::Target> target = OutTarget(parsed, path, kCommand, err);
  if (!target) return kExitUsage;
  std::string error;
  const std::optional<std::string> text = sheet::ReadFileBytes(path, error);
  if (!text) return Fail(err, kCommand, error);

  const std::string id = parsed.id.value_or(std::filesystem::path(path).stem().string());
  const roster::RosterExport exported = roster::ExportRoster(*text, id);
  if (exported.error) {
    const SheetError& e = *exported.error;
    return Fail(err, kCommand,
                "'" + path + "' is no decoder sheet: " +
                    (e.kind == SheetError::kNulByte ? Place(e.line, e.column) + "a NUL byte, no text"
                                                    : "no line begins with a CV number"));
  }
  if (exported.left_out > 0) {
    Note(err, kCommand, 0,
         std::to_string(exported.left_out) + (exported.left_out == 1 ? " CV line" : " CV lines") +
             " with \"?\" or without a value left out");
  }
  for (const SheetProblem& problem : exported.problems) {
    Note(err, kCommand, problem.line, SheetProblemText(problem));
  }
  const int status = Deliver(parsed, *target, exported.xml, kCommand, out, err);
  if (status == kExitOk) {
    const bool to_output = !parsed.out || target->kind == safefile::Target::kStandardOutput;
    Note(err, kCommand, 0,
         std::to_string(exported.cv_values) + (exported.cv_values == 1 ? " CV value" : " CV values") +
             " written to " + (to_output ? "standard output" : target->resolved));
  }
  return status;
}

}  // namespace qarn2::cli
