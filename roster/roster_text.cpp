#include "roster/roster_text.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <algorithm>

#include "roster/roster_format.h"
#include "sheet/code_page.h"

namespace qarn2::roster {
namespace {

using Encoding = QStringConverter::Encoding;

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// The encoding the XML declaration at the start of `head` names; empty without one.
// `declaration_end` is set to the index after its "?>".
QString DeclaredEncoding(QStringView head, qsizetype& declaration_end) {
  if (!head.startsWith(u"<?xml") || head.size() < 6 || !IsBlank(head[5])) return {};
  const qsizetype end = head.indexOf(u"?>");
  if (end < 0) return {};
  declaration_end = end + 2;
  const QStringView declaration = head.first(end);
  qsizetype at = declaration.indexOf(u"encoding");
  if (at < 0) return {};
  at += 8;
  const auto skip_blanks = [&] {
    while (at < declaration.size() && IsBlank(declaration[at])) ++at;
  };
  skip_blanks();
  if (at == declaration.size() || declaration[at] != u'=') return {};
  ++at;
  skip_blanks();
  if (at == declaration.size() || (declaration[at] != u'"' && declaration[at] != u'\'')) return {};
  const qsizetype close = declaration.indexOf(declaration[at], at + 1);
  if (close < 0) return {};
  return declaration.sliced(at + 1, close - at - 1).toString();
}

RosterText DecodeUtf8(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);  // the byte order mark
  const std::size_t valid = sheet::ValidUtf8Length(bytes);
  RosterText decoded{QString::fromUtf8(bytes.data(), static_cast<qsizetype>(valid)), std::nullopt};
  if (valid < bytes.size()) decoded.fault = TextFault{RosterError::kBadEncoding, decoded.text.size(), "UTF-8"};
  return decoded;
}

// With another decoder of Qt's; where the bytes stop being its encoding, it gives a
// replacement character. That is taken as the place (a file that has one of its own
// before is told a little early).
RosterText DecodeWith(QStringDecoder& decoder, std::string_view bytes, const QString& name) {
  RosterText decoded{decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size()))),
                     std::nullopt};
  if (decoder.hasError()) {
    const qsizetype at = std::max<qsizetype>(0, decoded.text.indexOf(QChar::ReplacementCharacter));
    decoded.text.truncate(at);
    decoded.fault = TextFault{RosterError::kBadEncoding, at, name.toStdString()};
  }
  return decoded;
}

// Where the text of an element, declaration or comment begins, the look goes through it
// to its end. Each step returns the index after what it went through, or -1 where the
// markup is not well-formed, is not closed or holds a fault (then in `fault_`).
class MarkupLook {
 public:
  explicit MarkupLook(QStringView text) : text_(text) {}

  std::optional<TextFault> Run() {
    const qsizetype nul = text_.indexOf(QChar(u'\0'));
    if (nul >= 0) text_ = text_.first(nul);
    for (qsizetype at = 0; at >= 0 && (at = text_.indexOf(u'<', at)) >= 0;) {
      const QStringView rest = text_.sliced(at);
      if (rest.startsWith(u"<!--")) {
        at = After(at + 4, u"-->");
      } else if (rest.startsWith(u"<![CDATA[")) {
        at = After(at + 9, u"]]>");
      } else if (rest.startsWith(u"<?")) {
        at = After(at + 2, u"?>");
      } else if (rest.startsWith(u"<!DOCTYPE")) {
        at = DocumentType(at + 9);
      } else if (rest.startsWith(u"</")) {
        at = After(at + 2, u">");
      } else {
        at = StartTag(at + 1);
      }
    }
    if (fault_) return fault_;
    if (nul >= 0) return TextFault{RosterError::kNulCharacter, nul};
    return std::nullopt;
  }

 private:
  qsizetype After(qsizetype from, QStringView end) const {
    const qsizetype at = text_.indexOf(end, from);
    return at < 0 ? -1 : at + end.size();
  }
  qsizetype SkipBlanks(qsizetype at) const {
    while (at < text_.size() && IsBlank(text_[at])) ++at;
    return at;
  }
  // `at` is on the opening quote.
  qsizetype Quoted(qsizetype at) const { return After(at + 1, text_.sliced(at, 1)); }

  // `at` is after the '<'. Only the attributes' number and names matter here.
  qsizetype StartTag(qsizetype at) {
    const auto ends_name = [](QChar c) { return IsBlank(c) || c == u'/' || c == u'>' || c == u'='; };
    qsizetype i = at;
    while (i < text_.size() && !ends_name(text_[i])) ++i;
    if (i == at) return -1;
    for (int attributes = 0;;) {
      i = SkipBlanks(i);
      if (i == text_.size()) return -1;
      if (text_[i] == u'>') return i + 1;
      if (text_[i] == u'/') return text_.sliced(i).startsWith(u"/>") ? i + 2 : -1;
      const qsizetype name_start = i;
      while (i < text_.size() && !ends_name(text_[i])) ++i;
      const QStringView name = text_.sliced(name_start, i - name_start);
      i = SkipBlanks(i);
      if (name.isEmpty() || i == text_.size() || text_[i] != u'=') return -1;
      i = SkipBlanks(i + 1);
      if (i == text_.size() || (text_[i] != u'"' && text_[i] != u'\'')) return -1;
      if (++attributes > kMaxAttributes) return Fault(RosterError::kTooManyAttributes, name_start);
      if ((name == u"xmlns" || name.startsWith(u"xmlns:")) && ++namespaces_ > kMaxNamespaceDeclarations) {
        return Fault(RosterError::kTooManyNamespaces, name_start);
      }
      i = Quoted(i);
      if (i < 0) return -1;
    }
  }

  // `at` is after "<!DOCTYPE": its name and identifiers, then the declarations in
  // brackets.
  qsizetype DocumentType(qsizetype at) {
    while (at >= 0 && at < text_.size()) {
      const QChar c = text_[at];
      if (c == u'>') return at + 1;
      if (c == u'"' || c == u'\'') {
        at = Quoted(at);
      } else if (c == u'[') {
        at = Declarations(at + 1);
      } else {
        ++at;
      }
    }
    return -1;
  }

  qsizetype Declarations(qsizetype at) {
    while (at >= 0 && at < text_.size()) {
      const QStringView rest = text_.sliced(at);
      if (rest.startsWith(u']')) return at + 1;
      if (rest.startsWith(u"<!--")) {
        at = After(at + 4, u"-->");
      } else if (rest.startsWith(u"<?")) {
        at = After(at + 2, u"?>");
      } else if (rest.startsWith(u"<!ATTLIST")) {
        return Fault(RosterError::kAttributeListDeclaration, at);
      } else if (rest.startsWith(u"<!")) {
        at = Declaration(at + 2);
      } else {
        ++at;
      }
    }
    return -1;
  }

  // One declaration, to its '>', with what it quotes.
  qsizetype Declaration(qsizetype at) {
    while (at >= 0 && at < text_.size()) {
      const QChar c = text_[at];
      if (c == u'>') return at + 1;
      at = c == u'"' || c == u'\'' ? Quoted(at) : at + 1;
    }
    return -1;
  }

  qsizetype Fault(RosterError::Kind kind, qsizetype at) {
    fault_ = TextFault{kind, at};
    return -1;
  }

  QStringView text_;
  int namespaces_ = 0;
  std::optional<TextFault> fault_;
};

}  // namespace

RosterText DecodeRoster(std::string_view bytes) {
  const QByteArrayView data(bytes.data(), static_cast<qsizetype>(bytes.size()));
  const Encoding shown = QStringConverter::encodingForData(data, u'<').value_or(Encoding::Utf8);
  // The declaration is ASCII, as far as it matters here, in whatever encoding it is.
  QStringDecoder head_decoder(shown);
  const QString head = head_decoder.decode(data.first(std::min<qsizetype>(data.size(), 512)));
  qsizetype declaration_end = 0;
  const QString declared = DeclaredEncoding(head, declaration_end);
  if (declared.isEmpty()) {
    if (shown == Encoding::Utf8) return DecodeUtf8(bytes);
    QStringDecoder decoder(shown, QStringConverter::Flag::Stateless);
    return DecodeWith(decoder, bytes, QString::fromLatin1(QStringConverter::nameForEncoding(shown)));
  }
  const QByteArray name = declared.toLatin1();
  if (QStringConverter::encodingForName(name.constData()) == Encoding::Utf8) return DecodeUtf8(bytes);
  QStringDecoder decoder(name.constData(), QStringConverter::Flag::Stateless);
  if (!decoder.isValid()) {
    // What the reader says of it.
    return {head.first(declaration_end), TextFault{RosterError::kMalformed, declaration_end - 1,
                                                   "Encoding " + declared.toStdString() + " is unsupported"}};
  }
  return DecodeWith(decoder, bytes, declared);
}

std::optional<TextFault> FindMarkupFault(QStringView text) { return MarkupLook(text).Run(); }

std::pair<int, int> LineAndColumn(QStringView text, qsizetype at) {
  int line = 1;
  qsizetype line_start = 0;
  for (qsizetype i = 0; i < at; ++i) {
    if (text[i] == u'\r' && i + 1 < at && text[i + 1] == u'\n') ++i;
    if (text[i] == u'\n' || text[i] == u'\r') {
      ++line;
      line_start = i + 1;
    }
  }
  return {line, static_cast<int>(at - line_start) + 1};
}

std::optional<int> PlainNumber(QStringView text) {
  if (text.isEmpty() || text.size() > 9) return std::nullopt;
  int number = 0;
  for (QChar c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    number = number * 10 + (c.unicode() - u'0');
  }
  return number;
}

}  // namespace qarn2::roster
