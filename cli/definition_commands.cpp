#include "cli/definition_commands.h"

#include <QString>

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/decoder_commands.h"
#include "decoderdefs/decoder_definitions.h"
#include "decoderdefs/definition_sheet.h"
#include "safefile/safe_file.h"
#include "sheet/decoder_file.h"

namespace qarn2::cli {
namespace {

using decoderdefs::DefinitionLibrary;
using decoderdefs::DefinitionPlaces;
using decoderdefs::DefinitionProblem;

const char kDefinitionsUsage[] = R"(  qarn2-cli definitions [--jmri DIR]
      Lists JMRI's decoder definitions: the manufacturers, their families and
      models, with counts, and the files that could not be read and why. DIR is
      JMRI's program folder or its xml folder; without --jmri the first of
      ~/JMRI, /opt/JMRI, /usr/local/JMRI and /usr/share/jmri that holds them,
      and the user's own in ~/.jmri/decoders. Includes naming
      http://jmri.org/xml/... are taken from the local folder, never fetched;
      includes outside it, include loops, entity declarations and files over
      16 MiB are refused, with file and line. Exit 1 when no definitions are
      found, 2 when DIR is no JMRI folder.
)";
const char kIdentifyUsage[] = R"(  qarn2-cli identify [--mode MODE] [--hardware HW] [--retries N] [--jmri DIR] [TRACK OPTIONS]
      Reads CV 8 (manufacturer) and CV 7 (version) as read does, names the
      manufacturer from JMRI's decoderIndex.xml and lists the models whose
      family is that manufacturer's and whose version range holds CV 7.
      Without definitions it prints the numbers only. Exit 1 when a CV could
      not be read.
)";
const char kSheetUsage[] = R"(  qarn2-cli sheet-from-definition --model NAME [--family NAME] [--jmri DIR] [--lang de|en] [--out FILE] [--lossy]
      Makes a decoder sheet from the definition of model NAME: the mode line,
      a title line (manufacturer and model), one line per CV the model uses,
      with the definition's default ("?" where it gives none, and always for
      read-only CVs and CV 7 and 8, so that writing the sheet leaves them) and the
      variables' labels as description (--lang de, the default: German where
      the definition has it, else English; several on one CV joined by "; ").
      A split value (the long address in CV 17/18) gets a line per CV.
      --family picks among models of the same name. Prints the sheet
      (Windows-1252, CR LF) or writes it into FILE. Characters Windows-1252
      lacks are named on standard error, and nothing is written (exit 1)
      unless --lossy is given: then they become '?'.
)";

int Fail(std::ostream& err, std::string_view command, const std::string& message, int status = kExitUsage) {
  err << "qarn2-cli: " << command << ": " << message << '\n';
  return status;
}

std::string ProblemText(const DefinitionProblem& problem) {
  std::string text = problem.file.string();
  if (problem.line > 0) {
    text += ':';
    text += std::to_string(problem.line);
    text += ':';
    text += std::to_string(problem.column);
  }
  text += ": ";
  text += problem.message;
  return text;
}

// --jmri DIR taken out of `args` (before "--"); the rest left for the command.
std::vector<std::string> TakeJmri(std::span<const std::string> args, std::optional<std::string>& jmri,
                                  std::string& error) {
  std::vector<std::string> rest;
  bool options = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options && arg == "--") options = false;
    if (options && arg == "--jmri") {
      if (i + 1 == args.size()) {
        error = "--jmri needs a folder";
        return {};
      }
      jmri = args[++i];
    } else if (options && arg.rfind("--jmri=", 0) == 0) {
      jmri = arg.substr(7);
    } else {
      rest.push_back(arg);
    }
  }
  return rest;
}

// Where the definitions are; nullopt (said on `err`) when --jmri is no JMRI folder.
std::optional<DefinitionPlaces> Places(const std::optional<std::string>& jmri, std::string_view command,
                                       std::ostream& err) {
  std::string problem;
  DefinitionPlaces places = decoderdefs::FindDefinitions(jmri, problem);
  if (!problem.empty()) {
    Fail(err, command, problem);
    return std::nullopt;
  }
  return places;
}

const char kNoDefinitions[] =
    "no JMRI decoder definitions found (looked in ~/JMRI, /opt/JMRI, /usr/local/JMRI, /usr/share/jmri and "
    "~/.jmri/decoders; give --jmri DIR)";

bool Found(const DefinitionPlaces& places) { return places.jmri_xml || places.user_decoders; }

std::string ManufacturerOf(const DefinitionLibrary& library, const std::string& name) {
  for (const decoderdefs::Manufacturer& m : library.manufacturers) {
    if (m.name == name) return name + " (" + std::to_string(m.id) + ")";
  }
  return name;
}

}  // namespace

std::string DefinitionUsage() { return std::string(kDefinitionsUsage) + kIdentifyUsage + kSheetUsage; }

int RunDefinitions(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  constexpr std::string_view kCommand = "definitions";
  std::optional<std::string> jmri;
  CommandScan scan = ScanCommand(args, std::vector<cmdline::LongOption>{{"jmri", true}},
                                 [&](std::string_view, const std::string& value) {
                                   jmri = value;
                                   return std::string();
                                 });
  if (!scan.error.empty()) return Fail(err, kCommand, scan.error);
  if (scan.help) {
    out << "Usage:\n" << kDefinitionsUsage;
    return kExitOk;
  }
  if (!scan.operands.empty()) return Fail(err, kCommand, "takes no operands, not '" + scan.operands[0] + "'");
  const std::optional<DefinitionPlaces> places = Places(jmri, kCommand, err);
  if (!places) return kExitUsage;
  if (!Found(*places)) return Fail(err, kCommand, kNoDefinitions, kExitDataError);
  // Read whole, includes and all, so that what a sheet would miss is listed too.
  const DefinitionLibrary library = decoderdefs::LoadDefinitions(*places, true);

  std::map<std::string, std::vector<const decoderdefs::Family*>> by_manufacturer;
  int models = 0;
  for (const decoderdefs::Family& family : library.families) {
    by_manufacturer[family.manufacturer].push_back(&family);
    models += static_cast<int>(family.models.size());
  }
  if (places->jmri_xml) out << "JMRI folder: " << places->jmri_xml->string() << '\n';
  if (places->user_decoders) out << "own definitions: " << places->user_decoders->string() << '\n';
  out << library.manufacturers.size() << " manufacturers in the index, " << library.files_read
      << (library.files_read == 1 ? " decoder file read: " : " decoder files read: ") << by_manufacturer.size()
      << (by_manufacturer.size() == 1 ? " manufacturer, " : " manufacturers, ") << library.families.size()
      << (library.families.size() == 1 ? " family, " : " families, ") << models << (models == 1 ? " model\n" : " models\n");
  for (const auto& [manufacturer, families] : by_manufacturer) {
    out << ManufacturerOf(library, manufacturer) << ": " << families.size()
        << (families.size() == 1 ? " family\n" : " families\n");
    for (const decoderdefs::Family* family : families) {
      out << "  " << family->name << " (" << family->file.filename().string() << "): ";
      for (std::size_t m = 0; m < family->models.size(); ++m) out << (m ? ", " : "") << family->models[m].name;
      out << '\n';
    }
  }
  if (!library.problems.empty()) {
    out << library.problems.size() << (library.problems.size() == 1 ? " file" : " files")
        << " could not be read:\n";
    for (const DefinitionProblem& problem : library.problems) out << "  " << ProblemText(problem) << '\n';
  }
  return library.files_read > 0
             ? kExitOk
             : Fail(err, kCommand, "no decoder file could be read", kExitDataError);
}

int RunIdentify(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  constexpr std::string_view kCommand = "identify";
  std::optional<std::string> jmri;
  std::string error;
  const std::vector<std::string> rest = TakeJmri(args, jmri, error);
  if (!error.empty()) return Fail(err, kCommand, error);
  // A bad --jmri is refused before the track is touched.
  std::optional<DefinitionPlaces> places;
  const bool help = std::find(rest.begin(), rest.end(), "--help") != rest.end() ||
                    std::find(rest.begin(), rest.end(), "-h") != rest.end();
  if (!help) {
    places = Places(jmri, kCommand, err);
    if (!places) return kExitUsage;
  }
  return RunReadIdentity(rest, kIdentifyUsage, out, err, [&](std::optional<int> cv8, std::optional<int> cv7) {
    out << "CV 8 = " << (cv8 ? std::to_string(*cv8) : std::string("not readable")) << " (manufacturer)\n";
    out << "CV 7 = " << (cv7 ? std::to_string(*cv7) : std::string("not readable")) << " (version)\n";
    if (!places || !Found(*places)) {
      err << "qarn2-cli: " << kCommand << ": " << kNoDefinitions << '\n';
      return;
    }
    if (!cv8) return;
    const DefinitionLibrary library = decoderdefs::LoadDefinitions(*places, false);
    for (const DefinitionProblem& problem : library.problems) {
      err << "qarn2-cli: " << kCommand << ": " << ProblemText(problem) << '\n';
    }
    const std::string manufacturer = decoderdefs::ManufacturerNames(library, *cv8);
    out << "manufacturer: "
        << (!manufacturer.empty() ? manufacturer
                                  : std::string("unknown (") + std::to_string(*cv8) + " is not in decoderIndex.xml)")
        << '\n';
    const std::vector<decoderdefs::ModelMatch> matches = decoderdefs::MatchingModels(library, *cv8, cv7);
    out << matches.size() << (matches.size() == 1 ? " model" : " models") << " for this manufacturer"
        << (cv7 ? std::string(" and version ") + std::to_string(*cv7) : std::string()) << (matches.empty() ? "" : ":") << '\n';
    for (const decoderdefs::ModelMatch& match : matches) {
      out << "  " << match.family->name << " / " << match.model->name << " ("
          << match.family->file.filename().string() << ")\n";
    }
  });
}

int RunSheetFromDefinition(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  constexpr std::string_view kCommand = "sheet-from-definition";
  std::optional<std::string> jmri, model_name, family_name, out_path;
  decoderdefs::LabelLanguage language = decoderdefs::LabelLanguage::kGerman;
  bool lossy = false;
  const std::vector<cmdline::LongOption> options = {{"jmri", true},  {"model", true}, {"family", true},
                                                    {"lang", true},  {"out", true},   {"lossy", false}};
  CommandScan scan = ScanCommand(args, options, [&](std::string_view name, const std::string& value) -> std::string {
    if (name == "jmri") jmri = value;
    if (name == "model") model_name = value;
    if (name == "family") family_name = value;
    if (name == "out") out_path = value;
    if (name == "lossy") lossy = true;
    if (name == "lang") {
      if (value != "de" && value != "en") return "--lang takes de or en, not '" + value + "'";
      language = value == "de" ? decoderdefs::LabelLanguage::kGerman : decoderdefs::LabelLanguage::kEnglish;
    }
    return "";
  });
  if (!scan.error.empty()) return Fail(err, kCommand, scan.error);
  if (scan.help) {
    out << "Usage:\n" << kSheetUsage;
    return kExitOk;
  }
  if (!scan.operands.empty()) return Fail(err, kCommand, "takes no operands, not '" + scan.operands[0] + "'");
  if (!model_name || model_name->empty()) return Fail(err, kCommand, "needs --model NAME");
  safefile::Target target;
  if (out_path) {
    target = safefile::ResolveTarget(*out_path);
    if (target.kind == safefile::Target::kRefused) {
      return Fail(err, kCommand, sheet::CannotCreateMessage(*out_path) + " (" + target.problem + ")");
    }
  }
  const std::optional<DefinitionPlaces> places = Places(jmri, kCommand, err);
  if (!places) return kExitUsage;
  if (!Found(*places)) return Fail(err, kCommand, kNoDefinitions, kExitDataError);

  // The models are found from the families alone; only the chosen file is read whole.
  const DefinitionLibrary index = decoderdefs::LoadDefinitions(*places, false);
  std::vector<decoderdefs::ModelMatch> found;
  for (const decoderdefs::Family& family : index.families) {
    if (family_name && family.name != *family_name) continue;
    for (const decoderdefs::Model& model : family.models) {
      if (model.name == *model_name) found.push_back({&family, &model});
    }
  }
  if (found.empty()) {
    // The model may stand in a file that could not be read: say which ones failed.
    for (const DefinitionProblem& problem : index.problems) {
      err << "qarn2-cli: " << kCommand << ": " << ProblemText(problem) << '\n';
    }
    return Fail(err, kCommand,
                "no model '" + *model_name + "'" + (family_name ? std::string(" in family '") + *family_name + "'" : std::string()) +
                    " in the definitions (qarn2-cli definitions lists them)");
  }
  if (found.size() > 1) {
    err << "qarn2-cli: " << kCommand << ": model '" << *model_name << "' is in " << found.size()
        << " families; give --family:\n";
    for (const decoderdefs::ModelMatch& match : found) {
      err << "  " << match.family->name << " (" << match.family->file.filename().string() << ")\n";
    }
    return kExitUsage;
  }
  std::vector<DefinitionProblem> problems;
  const std::vector<decoderdefs::Family> families =
      decoderdefs::ReadDecoderFile(found.front().family->file, *places, problems);
  for (const DefinitionProblem& problem : problems) err << "qarn2-cli: " << kCommand << ": " << ProblemText(problem) << '\n';
  const decoderdefs::Family* family = nullptr;
  for (const decoderdefs::Family& f : families) {
    if (f.name == found.front().family->name) family = &f;
  }
  if (!family) return Fail(err, kCommand, "the definition of '" + *model_name + "' could not be read");
  const decoderdefs::DefinitionSheet made =
      decoderdefs::SheetFromDefinition(*family, *found.front().model, family->manufacturer, language);
  if (made.left_out > 0) {
    err << "qarn2-cli: " << kCommand << ": " << made.left_out
        << (made.left_out == 1 ? " variable" : " variables") << " on indexed CVs or CVs above 1024 left out\n";
  }
  if (!made.replaced.empty()) {
    std::u32string named(made.replaced.begin(), made.replaced.end());
    err << "qarn2-cli: " << kCommand << ": labels hold characters that Windows-1252 lacks ("
        << QString::fromStdU32String(named).toStdString() << "), each '?' in the sheet\n";
    if (!lossy) {
      return Fail(err, kCommand, "nothing written: --lossy writes the sheet with '?' for those characters",
                  kExitDataError);
    }
  }
  if (!out_path) {
    out << made.sheet;
  } else if (const std::string problem = safefile::WriteWhole(target, made.sheet); !problem.empty()) {
    return Fail(err, kCommand, sheet::CannotCreateMessage(*out_path) + " (" + problem + ")");
  }
  err << "qarn2-cli: " << kCommand << ": " << made.cv_lines << " CV lines for " << family->manufacturer << " "
      << *model_name << '\n';
  return kExitOk;
}

}  // namespace qarn2::cli
