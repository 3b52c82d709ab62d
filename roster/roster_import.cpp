#include "roster/roster_import.h"

#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>
#include <unordered_set>

#include "programming/sheet_lines.h"
#include "roster/roster_format.h"
#include "roster/roster_text.h"
#include "sheet/code_page.h"

namespace qarn2::roster {
namespace {

// The reader's column is how many characters of the line it has taken, which is the
// column (from 1) of the last one: for most faults the end of the markup at fault.
int Column(const QXmlStreamReader& reader) { return std::max(1, static_cast<int>(reader.columnNumber())); }

RosterError ErrorAt(const QXmlStreamReader& reader, RosterError::Kind kind, std::string detail = {}) {
  return {kind, static_cast<int>(reader.lineNumber()), Column(reader), std::move(detail)};
}

// What the import takes from the first locomotive element.
struct Locomotive {
  std::map<int, int> cvs;  // CV to value, in rising CV order
  std::string title;       // Windows-1252
  std::string id;          // UTF-8, as it stands
};

class RosterReader {
 public:
  // `text` is decoded already: the reader takes it as it stands, whatever encoding
  // its declaration names.
  explicit RosterReader(const QString& text) : reader_(text) {}

  RosterImport Read() {
    RosterImport result;
    if (std::optional<RosterError> error = Walk()) {
      result.error = std::move(error);
      return result;
    }
    result.problems = std::move(problems_);
    if (locomotive_.cvs.empty()) {
      result.error = RosterError{RosterError::kNoCvValues, locomotive_line_, locomotive_column_, {}};
      return result;
    }
    result.sheet = "*dir\r\n" + locomotive_.title + "\r\n";
    for (const auto& [cv, value] : locomotive_.cvs) {
      result.sheet += programming::ReadAllLine(cv, value, "") + "\r\n";
    }
    result.cv_lines = static_cast<int>(locomotive_.cvs.size());
    result.id = std::move(locomotive_.id);
    return result;
  }

  // The reading stopped at a fault of the text before its end (not merely at its end).
  bool StoppedAtAFault() const { return stopped_at_a_fault_; }

 private:
  // Reads the whole document, so that a file cut off or broken after the values is
  // refused too. Depth 1 is the root, 2 a locomotive, 3 its children (values among
  // them), 4 what values holds.
  std::optional<RosterError> Walk() {
    int depth = 0;
    int locomotives = 0;
    bool in_first = false;    // inside the first locomotive
    bool in_further = false;  // inside one after it, which is left out as a whole
    bool in_values = false;   // inside a values element of the first locomotive
    int root_line = 0, root_column = 0;
    while (!reader_.atEnd()) {
      switch (reader_.readNext()) {
        case QXmlStreamReader::DTD:
          // The reader would expand declared entities; nested ones are the old way to
          // make a few kilobytes swell to gigabytes. JMRI declares none.
          if (!reader_.entityDeclarations().isEmpty() || reader_.text().contains(u"<!ENTITY")) {
            return Fault(RosterError::kEntityDeclaration);
          }
          break;
        case QXmlStreamReader::EntityReference:
          return Fault(RosterError::kEntityDeclaration);
        case QXmlStreamReader::StartElement: {
          ++depth;
          const QStringView name = reader_.name();
          const bool cv_value = name == QLatin1String(kCvValueElement);
          const bool indexed_cv_value = name == QLatin1String(kIndexedCvValueElement);
          if (depth == 1) {
            if (name != QLatin1String(kRootElement) || !reader_.namespaceUri().isEmpty()) {
              return Fault(RosterError::kNotARoster, reader_.qualifiedName().toString().toStdString());
            }
            root_line = static_cast<int>(reader_.lineNumber());
            root_column = Column(reader_);
          } else if (depth == 2 && name == QLatin1String(kLocomotiveElement)) {
            if (++locomotives == 1) {
              in_first = true;
              locomotive_line_ = static_cast<int>(reader_.lineNumber());
              locomotive_column_ = Column(reader_);
              TakeTitle();
            } else {
              in_further = true;
              Report({.kind = RosterProblem::kFurtherLocomotive, .name = Attribute("id")});
            }
          } else if (in_first && depth == 3 && name == QLatin1String(kValuesElement)) {
            in_values = true;
          } else if (in_values && depth == 4 && cv_value) {
            TakeCvValue();
          } else if (in_values && depth == 4 && indexed_cv_value) {
            Report({.kind = RosterProblem::kNotPlainCv, .name = Attribute("name")});
          } else if ((cv_value || indexed_cv_value) && !in_further) {
            // Whether it belongs to the locomotive cannot be told: left out, as
            // anything else the sheet cannot hold, but reported.
            Report({.kind = RosterProblem::kMisplacedCv, .name = Attribute("name")});
          }
          break;
        }
        case QXmlStreamReader::EndElement:
          if (depth == 3) in_values = false;
          if (depth == 2) in_first = in_further = false;
          --depth;
          break;
        default:
          break;
      }
    }
    if (reader_.hasError()) {
      // Running out of text is no fault where the text was cut before one.
      if (reader_.error() == QXmlStreamReader::PrematureEndOfDocumentError) {
        return ErrorAt(reader_, RosterError::kMalformed, reader_.errorString().toStdString());
      }
      return Fault(RosterError::kMalformed, reader_.errorString().toStdString());
    }
    if (locomotives == 0) return RosterError{RosterError::kNoLocomotive, root_line, root_column, {}};
    return std::nullopt;
  }

  RosterError Fault(RosterError::Kind kind, std::string detail = {}) {
    stopped_at_a_fault_ = true;
    return ErrorAt(reader_, kind, std::move(detail));
  }

  std::string Attribute(const char* name) const {
    return reader_.attributes().value(QLatin1String(name)).toString().toStdString();
  }

  void Report(RosterProblem problem) {
    problem.line = static_cast<int>(reader_.lineNumber());
    problems_.push_back(std::move(problem));
  }

  void TakeCvValue() {
    const QXmlStreamAttributes attributes = reader_.attributes();
    const QStringView name = attributes.value(QLatin1String("name"));
    const QStringView value_text = attributes.value(QLatin1String("value"));
    const std::optional<int> cv = PlainNumber(name);
    if (!cv) {
      Report({.kind = RosterProblem::kNotPlainCv, .name = name.toString().toStdString()});
      return;
    }
    if (*cv < kFirstCv || *cv > kLastCv) {
      Report({.kind = RosterProblem::kCvOutOfRange, .name = name.toString().toStdString(), .cv = *cv});
      return;
    }
    const std::optional<int> value = PlainNumber(value_text);
    if (!value || *value > kHighestValue) {
      Report({.kind = RosterProblem::kBadValue,
              .name = name.toString().toStdString(),
              .cv = *cv,
              .value = value_text.toString().toStdString()});
      return;
    }
    const auto [first, added] = locomotive_.cvs.emplace(*cv, *value);
    if (!added) {
      Report({.kind = RosterProblem::kDuplicateCv,
              .name = name.toString().toStdString(),
              .cv = *cv,
              .value = value_text.toString().toStdString(),
              .kept_value = first->second});
    }
  }

  // The title line: "id (roadName roadNumber)", each part only where the file has it.
  void TakeTitle() {
    locomotive_.id = Attribute("id");
    const std::string id = SheetText("id");
    std::string road = SheetText("roadName");
    const std::string number = SheetText("roadNumber");
    if (!road.empty() && !number.empty()) road += ' ';
    road += number;
    std::string title = id;
    if (!road.empty()) title += (title.empty() ? "(" : " (") + road + ")";
    // A line that begins with a digit is a CV line to every command of the program.
    if (!title.empty() && title[0] >= '0' && title[0] <= '9') title = "Lok " + title;
    locomotive_.title = std::move(title);
  }

  // An attribute of the locomotive as sheet text: Windows-1252, on one line. What the
  // code page lacks is reported.
  std::string SheetText(const char* field) {
    QString text = reader_.attributes().value(QLatin1String(field)).toString();
    for (QChar& c : text) {
      if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = u' ';  // a line end or tab from &#10;
    }
    std::vector<char32_t> replaced;
    std::string bytes = sheet::Utf8ToCp1252(text.toStdString(), replaced);
    if (!replaced.empty()) {
      // Each once, in order; a file may hold thousands.
      std::unordered_set<char32_t> seen;
      std::u32string named;
      int unnamed = 0;
      for (char32_t c : replaced) {
        if (!seen.insert(c).second) continue;
        if (named.size() < static_cast<std::size_t>(kMaxNamedCharacters)) {
          named += c;
        } else {
          ++unnamed;
        }
      }
      Report({.kind = RosterProblem::kReplacedCharacters,
              .field = field,
              .characters = QString::fromStdU32String(named).toStdString(),
              .unnamed_characters = unnamed});
    }
    return bytes;
  }

  QXmlStreamReader reader_;
  Locomotive locomotive_;
  int locomotive_line_ = 0, locomotive_column_ = 0;
  std::vector<RosterProblem> problems_;
  bool stopped_at_a_fault_ = false;
};

}  // namespace

RosterImport ImportRoster(std::string_view xml) {
  if (xml.size() > kMaxRosterSize) {
    RosterImport result;
    result.error = RosterError{RosterError::kTooLarge, 0, 0, {}};
    return result;
  }
  RosterText decoded = DecodeRoster(xml);
  // A fault in the markup lies within the decoded text, so before a decoding fault.
  std::optional<TextFault> fault = FindMarkupFault(decoded.text);
  if (!fault) fault = std::move(decoded.fault);
  if (fault) decoded.text.truncate(fault->at);
  RosterReader reader(decoded.text);
  RosterImport result = reader.Read();
  // The reader's own fault comes first where it found one before the text's end.
  if (fault && !reader.StoppedAtAFault()) {
    const auto [line, column] = LineAndColumn(decoded.text, fault->at);
    result = RosterImport{};
    result.error = RosterError{fault->kind, line, column, std::move(fault->detail)};
  }
  return result;
}

}  // namespace qarn2::roster
