#pragma once

// A decoder sheet made from a decoder definition: for "Decoderblatt aus Definition..."
// in the window and `qarn2-cli sheet-from-definition`.

#include <string>
#include <vector>

#include "decoderdefs/decoder_definitions.h"

namespace qarn2::decoderdefs {

enum class LabelLanguage { kGerman, kEnglish };

struct DefinitionSheet {
  // Windows-1252 with CR LF line ends, as a decoder file holds it: the mode line
  // ("*dir", or what the family's <programming> allows), a title line (manufacturer
  // and model), and one line per CV the model uses in rising order, as reading all
  // CVs writes them: the default where the definition gives one ("?" otherwise), the
  // variables' labels as description, several on one CV joined by "; ".
  std::string sheet;
  int cv_lines = 0;
  // Characters of the labels or names that Windows-1252 lacks, each once in order;
  // each became '?' in the sheet.
  std::vector<char32_t> replaced;
  // Variables whose CVs no sheet line can name (an indexed CV, a CV above 1024).
  int left_out = 0;
};

// `language`: German labels where the definition has them, else the plain label (the
// variable's item where it has none); English: the plain label.
DefinitionSheet SheetFromDefinition(const Family& family, const Model& model, const std::string& manufacturer,
                                    LabelLanguage language);

}  // namespace qarn2::decoderdefs
