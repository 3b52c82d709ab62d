#include "decoderdefs/definition_sheet.h"

#include <algorithm>
#include <map>
#include <optional>

#include "programming/sheet_lines.h"
#include "sheet/code_page.h"

namespace qarn2::decoderdefs {
namespace {

constexpr int kFirstCv = 1;
constexpr int kLastCv = 1024;

struct CvLine {
  std::vector<std::string> labels;  // UTF-8, each once
  int value = 0;
  bool has_value = false;
  bool read_only = false;  // a variable on it is read-only: the sheet gives no value
};

// CV 7 (version) and CV 8 (manufacturer) are read-only by the standard, and many
// decoders take a write to CV 8 as the order to reset themselves: a sheet made from a
// definition never holds a value for them, whatever the definition says.
bool NeverWritten(int cv) { return cv == 7 || cv == 8; }

// The bits a mask such as "XXXVVVXX" gives the variable (bit 7 first); nullopt for a
// mask written otherwise.
std::optional<int> MaskBits(const std::string& mask) {
  if (mask.empty()) return 0xFF;
  if (mask.size() != 8) return std::nullopt;
  int bits = 0;
  for (char c : mask) {
    if (c != 'X' && c != 'V' && c != 'x' && c != 'v') return std::nullopt;
    bits = (bits << 1) | (c == 'V' || c == 'v' ? 1 : 0);
  }
  return bits;
}

std::string LabelOf(const Variable& variable, LabelLanguage language) {
  if (language == LabelLanguage::kGerman && !variable.label_de.empty()) return variable.label_de;
  if (!variable.label.empty()) return variable.label;
  return variable.item;
}

// UTF-8 to sheet text on one line; what the code page lacks is collected.
std::string SheetText(std::string text, std::vector<char32_t>& replaced) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  std::vector<char32_t> lacking;
  std::string bytes = sheet::Utf8ToCp1252(text, lacking);
  for (char32_t c : lacking) {
    if (std::find(replaced.begin(), replaced.end(), c) == replaced.end()) replaced.push_back(c);
  }
  return bytes;
}

}  // namespace

DefinitionSheet SheetFromDefinition(const Family& family, const Model& model, const std::string& manufacturer,
                                    LabelLanguage language) {
  DefinitionSheet result;
  std::map<int, CvLine> lines;
  for (const Variable& variable : family.variables) {
    if (!VariableApplies(variable, model.name)) continue;
    if (variable.cvs.empty() || std::any_of(variable.cvs.begin(), variable.cvs.end(),
                                            [](int cv) { return cv < kFirstCv || cv > kLastCv; })) {
      ++result.left_out;
      continue;
    }
    const std::string label = LabelOf(variable, language);
    for (int cv : variable.cvs) {
      lines[cv].read_only |= variable.read_only;
      std::vector<std::string>& labels = lines[cv].labels;
      if (!label.empty() && std::find(labels.begin(), labels.end(), label) == labels.end()) labels.push_back(label);
    }
    // A default of a value spread over several CVs is no CV's value.
    if (variable.cvs.size() != 1 || !variable.default_value) continue;
    const std::optional<int> bits = MaskBits(variable.mask);
    if (!bits || *bits == 0) continue;
    int shift = 0;
    while (!((*bits >> shift) & 1)) ++shift;
    const int field = (*variable.default_value << shift) & *bits;
    if ((*variable.default_value << shift) != field) continue;  // does not fit its bits
    CvLine& line = lines[variable.cvs.front()];
    line.value = (line.value & ~*bits) | field;
    line.has_value = true;
  }

  std::string title = SheetText(manufacturer.empty() ? family.manufacturer : manufacturer, result.replaced);
  const std::string model_name = SheetText(model.name, result.replaced);
  if (!model_name.empty()) title += (title.empty() ? "" : " ") + model_name;
  // A line that begins with a digit is a CV line to every command of the program.
  if (title.empty() || (title[0] >= '0' && title[0] <= '9')) title = "Decoder " + title;
  result.sheet = "*" + family.mode + "\r\n" + title + "\r\n";
  for (const auto& [cv, line] : lines) {
    std::string description;
    for (const std::string& label : line.labels) {
      if (!description.empty()) description += "; ";
      description += label;
    }
    // "?" is read by "Alle CVs" and left alone by writing the sheet.
    const bool has_value = line.has_value && !line.read_only && !NeverWritten(cv);
    result.sheet += programming::ReadAllLine(cv, has_value ? std::optional<int>(line.value) : std::nullopt,
                                             SheetText(description, result.replaced)) +
                    "\r\n";
  }
  result.cv_lines = static_cast<int>(lines.size());
  return result;
}

}  // namespace qarn2::decoderdefs
