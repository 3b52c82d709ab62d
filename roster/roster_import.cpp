#include "roster/roster_import.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>

#include "programming/sheet_lines.h"
#include "roster/roster_format.h"
#include "sheet/code_page.h"

namespace qarn2::roster {
namespace {

// A CV name or value as JMRI writes them: decimal digits only, no sign, no blanks.
// nullopt when it is anything else or too long for an int.
std::optional<int> PlainNumber(QStringView text) {
  if (text.isEmpty() || text.size() > 9) return std::nullopt;
  int number = 0;
  for (QChar c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    number = number * 10 + (c.unicode() - u'0');
  }
  return number;
}

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
  explicit RosterReader(std::string_view xml)
      : reader_(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size()))) {}

  RosterImport Read() {
    RosterImport result;
    if (std::optional<RosterError> error = Walk()) {
      result.error = std::move(error);
      return result;
    }
    result.problems = std::move(problems_);
    result.sheet = "*dir\r\n" + locomotive_.title + "\r\n";
    for (const auto& [cv, value] : locomotive_.cvs) {
      result.sheet += programming::ReadAllLine(cv, value, "") + "\r\n";
    }
    result.cv_lines = static_cast<int>(locomotive_.cvs.size());
    result.id = std::move(locomotive_.id);
    return result;
  }

 private:
  // Reads the whole document, so that a file cut off or broken after the values is
  // refused too. Depth 1 is the root, 2 a locomotive, 3 its children (values, and in
  // files of old JMRI versions the CVvalues themselves), 4 what values holds.
  std::optional<RosterError> Walk() {
    int depth = 0;
    int locomotives = 0;
    bool in_first = false;    // inside the first locomotive
    bool in_values = false;   // inside its first values element
    bool values_seen = false;
    int root_line = 0, root_column = 0;
    while (!reader_.atEnd()) {
      switch (reader_.readNext()) {
        case QXmlStreamReader::DTD:
          // The reader would expand declared entities; nested ones are the old way to
          // make a few kilobytes swell to gigabytes. JMRI declares none.
          if (!reader_.entityDeclarations().isEmpty() || reader_.text().contains(u"<!ENTITY")) {
            return ErrorAt(reader_, RosterError::kEntityDeclaration);
          }
          break;
        case QXmlStreamReader::EntityReference:
          return ErrorAt(reader_, RosterError::kEntityDeclaration);
        case QXmlStreamReader::StartElement: {
          ++depth;
          const QStringView name = reader_.name();
          if (depth == 1) {
            if (name != QLatin1String(kRootElement) || !reader_.namespaceUri().isEmpty()) {
              return ErrorAt(reader_, RosterError::kNotARoster, reader_.qualifiedName().toString().toStdString());
            }
            root_line = static_cast<int>(reader_.lineNumber());
            root_column = Column(reader_);
          } else if (depth == 2 && name == QLatin1String(kLocomotiveElement)) {
            if (++locomotives == 1) {
              in_first = true;
              TakeTitle();
            } else {
              Report({.kind = RosterProblem::kFurtherLocomotive, .name = Attribute("id")});
            }
          } else if (in_first && depth == 3 && name == QLatin1String(kValuesElement) && !values_seen) {
            in_values = values_seen = true;
          } else if ((in_first && depth == 3) || (in_values && depth == 4)) {
            if (name == QLatin1String(kCvValueElement)) {
              TakeCvValue();
            } else if (name == QLatin1String(kIndexedCvValueElement)) {
              Report({.kind = RosterProblem::kNotPlainCv, .name = Attribute("name")});
            }
          }
          break;
        }
        case QXmlStreamReader::EndElement:
          if (depth == 3) in_values = false;
          if (depth == 2) in_first = false;
          --depth;
          break;
        default:
          break;
      }
    }
    if (reader_.hasError()) {
      return ErrorAt(reader_, RosterError::kMalformed, reader_.errorString().toStdString());
    }
    if (locomotives == 0) return RosterError{RosterError::kNoLocomotive, root_line, root_column, {}};
    return std::nullopt;
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
      std::u32string lost;
      for (char32_t c : replaced) {
        if (lost.find(c) == std::u32string::npos) lost += c;
      }
      Report({.kind = RosterProblem::kReplacedCharacters,
              .field = field,
              .characters = QString::fromStdU32String(lost).toStdString()});
    }
    return bytes;
  }

  QXmlStreamReader reader_;
  Locomotive locomotive_;
  std::vector<RosterProblem> problems_;
};

}  // namespace

RosterImport ImportRoster(std::string_view xml) {
  if (xml.size() > kMaxRosterSize) {
    RosterImport result;
    result.error = RosterError{RosterError::kTooLarge, 0, 0, {}};
    return result;
  }
  return RosterReader(xml).Read();
}

}  // namespace qarn2::roster
