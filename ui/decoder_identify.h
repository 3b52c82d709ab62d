#pragma once

// "Decoder" / "Erkennen": CV 8 and CV 7 read through the CV box as "Einzelne CV" reads
// them, and what JMRI's decoder definitions say of them shown.

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace qarn2::engine {
class Engine;
}

namespace qarn2::ui {

class FileDialogs;

// The lines shown (German, UTF-8) for what CV 8 and CV 7 answered (nullopt: not
// read), with the definitions from the usual places: the manufacturer and the models
// of its families whose version range holds CV 7, or why there are none.
// `folder` is JMRI's folder when the command line names one (--jmri).
std::vector<std::string> IdentificationLines(std::optional<int> manufacturer, std::optional<int> version,
                                             const std::optional<std::string>& folder);

// Reads both CVs in the chosen mode and shows the lines through `dialogs`. Nothing
// happens while a CV command waits; a bare booster, which gives no acknowledge, is
// refused with a message as an exception.
void IdentifyDecoder(engine::Engine& engine, QWidget* window, FileDialogs& dialogs,
                     const std::optional<std::string>& folder);

}  // namespace qarn2::ui
