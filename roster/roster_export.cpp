#include "roster/roster_export.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamWriter>

#include <map>
#include <set>

#include "programming/sheet_lines.h"
#include "roster/roster_format.h"

namespace qarn2::roster {
namespace {

// CV 29: bit 5 chooses the long address of CV 17/18, bit 7 makes an accessory decoder.
constexpr int kConfigurationCv = 29;
constexpr int kLongAddressBit = 0x20;
constexpr int kAccessoryBit = 0x80;
constexpr int kShortAddressCv = 1;
constexpr int kLongAddressHighCv = 17;
constexpr int kLongAddressLowCv = 18;
constexpr int kHighestShortAddress = 127;
// CV 17 holds 192 plus the address's high 6 bits, up to 231 for 10239.
constexpr int kLongAddressHighBase = 192;
constexpr int kLongAddressHighTop = 231;

// Where the first NUL stands, as a line and a column counted from 1.
std::optional<SheetError> FindNul(std::string_view text) {
  const std::size_t at = text.find('\0');
  if (at == std::string_view::npos) return std::nullopt;
  int line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < at; ++i) {
    // CR LF, CR alone and LF alone each end a line (i + 1 is at most the NUL's place).
    if (text[i] == '\n' || (text[i] == '\r' && text[i + 1] != '\n')) {
      ++line;
      line_start = i + 1;
    }
  }
  return SheetError{SheetError::kNulByte, line, static_cast<int>(at - line_start) + 1};
}

struct SheetValues {
  std::map<int, int> cvs;  // CV to value, rising
  std::set<int> named;     // every CV a line names, with or without a value
  bool any_cv_line = false;
  int left_out = 0;
  std::vector<SheetProblem> problems;
};

SheetValues CollectValues(std::string_view text) {
  SheetValues values;
  const programming::TextSheet sheet(text);
  for (int i = 0; i < sheet.LineCount(); ++i) {
    const std::string line = sheet.Line(i);
    const int cv = programming::ParseCvNumber(line);
    if (cv <= 0) continue;  // no CV line, or CV 0, which no command uses
    values.any_cv_line = true;
    values.named.insert(cv);
    const int value = programming::ParseCvValue(line);
    if (cv > kLastCv) {
      values.problems.push_back({.kind = SheetProblem::kCvOutOfRange, .line = i + 1, .cv = cv, .value = value});
    } else if (value < 0) {
      ++values.left_out;
    } else if (value > kHighestValue) {
      values.problems.push_back({.kind = SheetProblem::kValueTooLarge, .line = i + 1, .cv = cv, .value = value});
    } else if (const auto [first, added] = values.cvs.emplace(cv, value); !added) {
      values.problems.push_back(
          {.kind = SheetProblem::kDuplicateCv, .line = i + 1, .cv = cv, .value = value, .kept_value = first->second});
    }
  }
  return values;
}

// The locomotive's address as JMRI keeps it, from CV 1 or CV 17/18 as CV 29 says.
// Without one, the reason goes to `values.problems`.
void FindAddress(SheetValues& values, RosterExport& result) {
  const auto value_of = [&](int cv) {
    const auto it = values.cvs.find(cv);
    return it == values.cvs.end() ? -1 : it->second;
  };
  const auto no_address = [&](int cv) {
    values.problems.push_back({.kind = SheetProblem::kNoAddress, .cv = cv, .value = value_of(cv)});
  };
  const int configuration = value_of(kConfigurationCv);
  if (configuration < 0 && values.named.count(kConfigurationCv) > 0) {
    return no_address(kConfigurationCv);  // a CV 29 line, but its value is not known
  }
  if (configuration >= 0 && (configuration & kAccessoryBit) != 0) {
    values.problems.push_back({.kind = SheetProblem::kAccessoryDecoder, .cv = kConfigurationCv, .value = configuration});
    return;
  }
  if (configuration >= 0 && (configuration & kLongAddressBit) != 0) {
    const int high = value_of(kLongAddressHighCv);
    const int low = value_of(kLongAddressLowCv);
    if (high < kLongAddressHighBase || high > kLongAddressHighTop) return no_address(kLongAddressHighCv);
    if (low < 0) return no_address(kLongAddressLowCv);
    const int address = (high - kLongAddressHighBase) * 256 + low;
    if (address == 0) return no_address(kLongAddressLowCv);
    result.address = address;
    result.long_address = true;
    return;
  }
  const int address = value_of(kShortAddressCv);
  if (address < 1 || address > kHighestShortAddress) return no_address(kShortAddressCv);
  result.address = address;
}

// The id as an XML attribute can hold it: control characters (a tab, a line end) as
// blanks.
QString IdText(const std::string& id) {
  QString text = QString::fromStdString(id);
  for (QChar& c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = u' ';
  }
  return text;
}

QByteArray WriteRoster(const RosterExport& result, const std::map<int, int>& cvs, const std::string& id) {
  QByteArray xml;
  QXmlStreamWriter writer(&xml);
  writer.setAutoFormatting(true);
  writer.setAutoFormattingIndent(2);
  writer.writeStartDocument();
  writer.writeProcessingInstruction(QStringLiteral("xml-stylesheet"), QLatin1String(kStylesheet));
  writer.writeStartElement(QLatin1String(kRootElement));
  writer.writeNamespace(QLatin1String(kSchemaInstanceNamespace), QStringLiteral("xsi"));
  writer.writeAttribute(QLatin1String(kSchemaInstanceNamespace), QStringLiteral("noNamespaceSchemaLocation"),
                        QLatin1String(kSchemaLocation));

  writer.writeStartElement(QLatin1String(kLocomotiveElement));
  writer.writeAttribute(QStringLiteral("id"), IdText(id));
  const QString address = result.address ? QString::number(*result.address) : QString();
  if (result.address) writer.writeAttribute(QStringLiteral("dccAddress"), address);
  // Required, with both attributes; JMRI writes empty ones for a decoder it does not know.
  writer.writeEmptyElement(QStringLiteral("decoder"));
  writer.writeAttribute(QStringLiteral("model"), QString());
  writer.writeAttribute(QStringLiteral("family"), QString());
  if (result.address) {
    writer.writeStartElement(QStringLiteral("locoaddress"));
    writer.writeEmptyElement(QStringLiteral("dcclocoaddress"));
    writer.writeAttribute(QStringLiteral("number"), address);
    writer.writeAttribute(QStringLiteral("longaddress"), QLatin1String(result.long_address ? "yes" : "no"));
    writer.writeTextElement(QStringLiteral("number"), address);
    writer.writeTextElement(QStringLiteral("protocol"), QLatin1String(result.long_address ? "dcc_long" : "dcc_short"));
    writer.writeEndElement();
  }
  writer.writeStartElement(QLatin1String(kValuesElement));
  // JMRI complains about a roster entry without it when it loads the variables.
  writer.writeEmptyElement(QStringLiteral("decoderDef"));
  for (const auto& [cv, value] : cvs) {
    writer.writeEmptyElement(QLatin1String(kCvValueElement));
    writer.writeAttribute(QStringLiteral("name"), QString::number(cv));
    writer.writeAttribute(QStringLiteral("value"), QString::number(value));
  }
  writer.writeEndDocument();  // closes every element still open
  return xml;
}

}  // namespace

RosterExport ExportRoster(std::string_view sheet, const std::string& id) {
  RosterExport result;
  if (std::optional<SheetError> nul = FindNul(sheet)) {
    result.error = nul;
    return result;
  }
  SheetValues values = CollectValues(sheet);
  if (!values.any_cv_line) {
    result.error = SheetError{SheetError::kNoCvLine, 0, 0};
    return result;
  }
  FindAddress(values, result);
  result.cv_values = static_cast<int>(values.cvs.size());
  result.left_out = values.left_out;
  result.problems = std::move(values.problems);
  result.xml = WriteRoster(result, values.cvs, id).toStdString();
  return result;
}

}  // namespace qarn2::roster
