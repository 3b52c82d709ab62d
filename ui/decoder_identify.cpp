#include "ui/decoder_identify.h"

#include <stdexcept>

#include "decoderdefs/decoder_definitions.h"
#include "engine/engine.h"
#include "link/hardware_setup.h"
#include "ui/file_dialogs.h"

namespace qarn2::ui {

std::vector<std::string> IdentificationLines(std::optional<int> manufacturer, std::optional<int> version,
                                             const std::optional<std::string>& folder) {
  std::vector<std::string> lines;
  lines.push_back("CV 8 (Hersteller) = " + (manufacturer ? std::to_string(*manufacturer) : std::string("nicht lesbar")));
  lines.push_back("CV 7 (Version) = " + (version ? std::to_string(*version) : std::string("nicht lesbar")));
  std::string problem;
  const decoderdefs::DefinitionPlaces places = decoderdefs::FindDefinitions(folder, problem);
  if (!places.jmri_xml && !places.user_decoders) {
    lines.push_back("Keine JMRI-Decoderdefinitionen gefunden (gesucht in ~/JMRI, /opt/JMRI, /usr/local/JMRI, "
                    "/usr/share/jmri und ~/.jmri/decoders)");
    return lines;
  }
  if (!manufacturer) return lines;
  const decoderdefs::DefinitionLibrary library = decoderdefs::LoadDefinitions(places, false);
  const std::string named = decoderdefs::ManufacturerNames(library, *manufacturer);
  lines.push_back("Hersteller: " + (named.empty() ? std::string("unbekannt") : named));
  const std::vector<decoderdefs::ModelMatch> matches = decoderdefs::MatchingModels(library, *manufacturer, version);
  if (matches.empty()) {
    lines.push_back("Kein passendes Modell in den Definitionen");
    return lines;
  }
  lines.push_back("Passende Modelle:");
  for (const decoderdefs::ModelMatch& match : matches) {
    lines.push_back("  " + match.family->name + " / " + match.model->name);
  }
  return lines;
}

void IdentifyDecoder(engine::Engine& engine, QWidget* window, FileDialogs& dialogs,
                     const std::optional<std::string>& folder) {
  programming::CvCommands& commands = engine.Cv();
  if (commands.Busy()) return;
  link::TrackLink& link = engine.Link();
  if (link.HardwareKind == link::kBooster) {
    throw std::runtime_error("Ein Booster gibt keine Quittung: Erkennen braucht die Programmierplatine oder LGB");
  }
  // As "Einzelne CV" with 8, then 7, typed into the box; then "ENDE".
  commands.OpenCvBox(false);
  const auto read = [&](int cv) -> std::optional<int> {
    link.AckResult = false;
    commands.EnterInCvBox(std::to_string(cv));
    if (!link.AckResult) return std::nullopt;
    return engine.State().CvValue;
  };
  const std::optional<int> manufacturer = read(8);
  const std::optional<int> version = read(7);
  commands.EndCvBox();
  dialogs.ShowNotes(window, "Decoder erkennen", IdentificationLines(manufacturer, version, folder));
}

}  // namespace qarn2::ui
