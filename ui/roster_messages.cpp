#include "ui/roster_messages.h"

#include "roster/roster_format.h"

namespace qarn2::ui {
namespace {

std::string Quoted(const std::string& text) { return "\u201E" + text + "\u201C"; }

std::string At(int line) { return "Zeile " + std::to_string(line) + ": "; }

}  // namespace

std::string RosterErrorMessage(const std::string& path, const roster::RosterError& error) {
  const std::string file = "Datei " + path;
  const std::string where =
      "Zeile " + std::to_string(error.line) + ", Spalte " + std::to_string(error.column);
  switch (error.kind) {
    case roster::RosterError::kTooLarge:
      return file + " ist zu gro\u00DF f\u00FCr eine Rosterdatei (mehr als " +
             std::to_string(roster::kMaxRosterSize / (1024 * 1024)) + " MiB)";
    case roster::RosterError::kMalformed:
      return file + " ist kein g\u00FCltiges XML: " + where + " (" + error.detail + ")";
    case roster::RosterError::kBadEncoding:
      return file + " ist kein g\u00FCltiges " + error.detail + ": " + where;
    case roster::RosterError::kNulCharacter:
      return file + " enth\u00E4lt ein NUL-Zeichen (" + where + ") und ist keine XML-Datei";
    case roster::RosterError::kEntityDeclaration:
      return file + " deklariert Entities und wird nicht gelesen (" + where + ")";
    case roster::RosterError::kAttributeListDeclaration:
      return file + " deklariert Attributlisten und wird nicht gelesen (" + where + ")";
    case roster::RosterError::kTooManyAttributes:
      return file + " hat ein Element mit mehr als " + std::to_string(roster::kMaxAttributes) +
             " Attributen und wird nicht gelesen (" + where + ")";
    case roster::RosterError::kTooManyNamespaces:
      return file + " deklariert mehr als " + std::to_string(roster::kMaxNamespaceDeclarations) +
             " Namensr\u00E4ume und wird nicht gelesen (" + where + ")";
    case roster::RosterError::kNotARoster:
      return file + " ist keine JMRI-Rosterdatei: ihr Wurzelelement ist <" + error.detail + ">";
    case roster::RosterError::kNoLocomotive:
      return file + " enth\u00E4lt keine Lok (" + where + ")";
    case roster::RosterError::kNoCvValues:
      return file + " enth\u00E4lt keinen CV-Wert, der sich importieren l\u00E4sst (Lok in " + where + ")";
  }
  return file + " ist keine JMRI-Rosterdatei";
}

std::vector<std::string> ImportNotes(const roster::RosterImport& imported) {
  std::vector<std::string> notes;
  for (const roster::RosterProblem& p : imported.problems) {
    switch (p.kind) {
      case roster::RosterProblem::kNotPlainCv:
        notes.push_back(At(p.line) + "CV " + Quoted(p.name) +
                        " ist keine einfache CV-Nummer (eine indizierte CV?), ausgelassen");
        break;
      case roster::RosterProblem::kCvOutOfRange:
        notes.push_back(At(p.line) + "CV " + std::to_string(p.cv) + " liegt nicht in 1..1024, ausgelassen");
        break;
      case roster::RosterProblem::kBadValue:
        notes.push_back(At(p.line) + "CV " + std::to_string(p.cv) + " hat den Wert " + Quoted(p.value) +
                        ", nicht 0..255, ausgelassen");
        break;
      case roster::RosterProblem::kDuplicateCv:
        notes.push_back(At(p.line) + "CV " + std::to_string(p.cv) + " noch einmal, mit " + p.value +
                        "; ausgelassen, der erste Wert " + std::to_string(p.kept_value) + " gilt");
        break;
      case roster::RosterProblem::kReplacedCharacters:
        notes.push_back(At(p.line) + p.field + " enth\u00E4lt Zeichen, die das Blatt nicht kennt (" +
                        p.characters +
                        (p.unnamed_characters > 0 ? " und " + std::to_string(p.unnamed_characters) + " weitere" : "") +
                        "); sie stehen dort als \u201E?\u201C");
        break;
      case roster::RosterProblem::kFurtherLocomotive:
        notes.push_back(At(p.line) + "weitere Lok " + Quoted(p.name) + " ausgelassen");
        break;
      case roster::RosterProblem::kMisplacedCv:
        notes.push_back(At(p.line) + "CV " + Quoted(p.name) + " steht nicht direkt in <values> der Lok, ausgelassen");
        break;
    }
  }
  return notes;
}

std::string SheetErrorMessage(const roster::SheetError& error) {
  if (error.kind == roster::SheetError::kNulByte) {
    return "Das Blatt enth\u00E4lt ein NUL-Zeichen (Zeile " + std::to_string(error.line) + ", Spalte " +
           std::to_string(error.column) + ") und wird nicht exportiert";
  }
  return "Das Blatt hat keine CV-Zeile: nichts zu exportieren";
}

std::vector<std::string> ExportNotes(const roster::RosterExport& exported, const std::string& path) {
  std::vector<std::string> notes = {std::to_string(exported.cv_values) +
                                    (exported.cv_values == 1 ? " CV-Wert nach " : " CV-Werte nach ") + path +
                                    " geschrieben"};
  for (const roster::SheetProblem& p : exported.problems) {
    const std::string cv = "CV " + std::to_string(p.cv);
    switch (p.kind) {
      case roster::SheetProblem::kValueTooLarge:
        notes.push_back(At(p.line) + cv + " = " + std::to_string(p.value) + " liegt \u00FCber 255, ausgelassen");
        break;
      case roster::SheetProblem::kCvOutOfRange:
        notes.push_back(At(p.line) + cv + " liegt \u00FCber 1024, ausgelassen");
        break;
      case roster::SheetProblem::kDuplicateCv:
        notes.push_back(At(p.line) + cv + " noch einmal, mit " + std::to_string(p.value) +
                        "; ausgelassen, der erste Wert " + std::to_string(p.kept_value) + " gilt");
        break;
      case roster::SheetProblem::kNoAddress:
        notes.push_back("keine Adresse: " + cv + " hat keinen Wert, der eine ergibt");
        break;
      case roster::SheetProblem::kAccessoryDecoder:
        notes.push_back("keine Adresse: CV 29 = " + std::to_string(p.value) + " sagt Zubeh\u00F6rdecoder");
        break;
    }
  }
  if (exported.left_out > 0) {
    notes.push_back(std::to_string(exported.left_out) + " CV-Zeilen mit \u201E?\u201C oder ohne Wert ausgelassen");
  }
  return notes;
}

}  // namespace qarn2::ui
