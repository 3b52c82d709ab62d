#include "decoderdefs/decoder_definitions.h"

#include <QString>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "roster/roster_import.h"
#include "roster/roster_text.h"
#include "safefile/safe_file.h"

namespace qarn2::decoderdefs {
namespace fs = std::filesystem;
namespace {

constexpr char kXIncludeNamespace[] = "http://www.w3.org/2001/XInclude";
// Where JMRI's own includes point; the same tree lies in its local xml folder.
constexpr const char* kJmriXmlAddresses[] = {"http://jmri.org/xml/", "https://jmri.org/xml/",
                                             "http://www.jmri.org/xml/", "https://www.jmri.org/xml/"};

std::string Utf8(QStringView text) { return text.toString().toStdString(); }

// A decimal number as the definitions write them ("03", " 7 "); nullopt otherwise.
std::optional<int> Number(QStringView text) { return roster::PlainNumber(text.trimmed()); }

std::vector<std::string> CommaList(QStringView text) {
  std::vector<std::string> items;
  for (QStringView part : text.split(u',')) {
    part = part.trimmed();
    if (!part.isEmpty()) items.push_back(Utf8(part));
  }
  return items;
}

// The CVs of a CV attribute: "29", "17,18", "17, 18"; empty when any part is no plain
// number (an indexed CV such as "16.2.257").
std::vector<int> CvList(QStringView text) {
  std::vector<int> cvs;
  for (QStringView part : text.split(u',')) {
    const std::optional<int> cv = Number(part);
    if (!cv) return {};
    cvs.push_back(*cv);
  }
  return cvs;
}

bool Within(const fs::path& path, const fs::path& root) {
  const fs::path relative = path.lexically_relative(root);
  return !relative.empty() && *relative.begin() != "..";
}

fs::path Canonical(const fs::path& path) {
  std::error_code ignored;
  fs::path canonical = fs::weakly_canonical(path, ignored);
  return canonical.empty() ? path.lexically_normal() : canonical;
}

std::string MarkupFaultText(const roster::TextFault& fault) {
  switch (fault.kind) {
    case roster::RosterError::kBadEncoding:
      return "bytes that are not valid " + fault.detail;
    case roster::RosterError::kNulCharacter:
      return "a NUL character, which XML allows nowhere";
    case roster::RosterError::kAttributeListDeclaration:
      return "it declares attribute lists, which are refused (JMRI writes none)";
    case roster::RosterError::kTooManyAttributes:
      return "an element with too many attributes, which no definition has";
    case roster::RosterError::kTooManyNamespaces:
      return "too many namespace declarations, which no definition has";
    default:
      return fault.detail.empty() ? "not readable as XML" : fault.detail;
  }
}

// Reads one decoder file and what it includes into `families`. Includes are followed
// inside <variables> (and where <decoder> itself names one); those in panes only lay
// out JMRI's window and are left alone.
class DecoderFileReader {
 public:
  DecoderFileReader(const DefinitionPlaces& roots, std::vector<DefinitionProblem>& problems)
      : problems_(problems) {
    if (roots.jmri_xml) {
      jmri_xml_ = Canonical(*roots.jmri_xml);
      allowed_.push_back(jmri_xml_);
    }
    if (roots.user_decoders) allowed_.push_back(Canonical(*roots.user_decoders));
  }

  // False when the file itself could not be read (a problem says why).
  bool Read(const fs::path& file, bool with_variables, std::vector<Family>& families) {
    with_variables_ = with_variables;
    families_ = &families;
    top_file_ = file;
    const std::size_t first = families.size();
    const bool ok = Walk(Canonical(file), file, 0);
    // Each family of the file has all of the file's variables, and its way of programming.
    const std::string mode = SheetMode();
    for (std::size_t f = first; f < families.size(); ++f) {
      families[f].variables = variables_;
      families[f].mode = mode;
    }
    return ok;
  }

 private:
  void Problem(const fs::path& file, int line, int column, std::string message) {
    problems_.push_back({file, line, column, std::move(message)});
  }

  // Where an include stands, for a file it names that cannot be read.
  struct IncludedAt {
    fs::path from;
    int line = 0;
    int column = 0;
    std::string href;
  };

  bool Walk(const fs::path& canonical, const fs::path& shown, int depth, const IncludedAt* at = nullptr) {
    std::string error;
    const std::optional<std::string> bytes = safefile::ReadRegularFile(shown.string(), error, kMaxDefinitionSize);
    if (!bytes) {
      if (at) {
        Problem(at->from, at->line, at->column, "the include '" + at->href + "' cannot be read (" + error + ")");
      } else {
        Problem(shown, 0, 0, "cannot be read (" + error + ")");
      }
      return false;
    }
    roster::RosterText decoded = roster::DecodeRoster(*bytes);
    std::optional<roster::TextFault> fault = roster::FindMarkupFault(decoded.text);
    if (!fault) fault = std::move(decoded.fault);
    if (fault) {
      const auto [line, column] = roster::LineAndColumn(decoded.text, fault->at);
      Problem(shown, line, column, MarkupFaultText(*fault));
      return false;
    }
    open_.push_back(canonical);
    const bool ok = Parse(decoded.text, shown, depth);
    open_.pop_back();
    return ok;
  }

  bool Parse(const QString& text, const fs::path& shown, int depth) {
    QXmlStreamReader reader(text);
    std::vector<QString> path;  // the open elements' local names
    Variable* variable = nullptr;
    std::size_t variable_depth = 0;
    const auto inside = [&](const char* name) {
      return std::any_of(path.begin(), path.end(), [&](const QString& n) { return n == QLatin1String(name); });
    };
    const auto fail = [&](const std::string& message) {
      Problem(shown, static_cast<int>(reader.lineNumber()), std::max(1, static_cast<int>(reader.columnNumber())),
              message);
      return false;
    };
    while (!reader.atEnd()) {
      const QXmlStreamReader::TokenType token = reader.readNext();
      if (token == QXmlStreamReader::DTD) {
        if (!reader.entityDeclarations().isEmpty() || reader.text().contains(u"<!ENTITY")) {
          return fail("it declares entities, which are refused (JMRI writes none)");
        }
      } else if (token == QXmlStreamReader::EntityReference) {
        return fail("it declares entities, which are refused (JMRI writes none)");
      } else if (token == QXmlStreamReader::EndElement) {
        if (variable && path.size() + 1 == variable_depth) variable = nullptr;
        path.pop_back();
      } else if (token == QXmlStreamReader::StartElement) {
        const QString name = reader.name().toString();
        // Families and models stand before the variables (and the panes after them,
        // most of a file): without variables the rest is not read.
        if (!with_variables_ && depth == 0 && name == u"variables") return true;
        const QXmlStreamAttributes attributes = reader.attributes();
        const auto attribute = [&](const char* a) { return attributes.value(QLatin1String(a)); };
        if (reader.namespaceUri() == QLatin1String(kXIncludeNamespace) && name == u"include") {
          // Not inside a variable: what it brings would be variables of their own.
          const bool wanted = with_variables_ && !variable &&
                              (inside("variables") || (!path.empty() && path.back() == u"decoder"));
          if (wanted && !Include(Utf8(attribute("href")), shown, static_cast<int>(reader.lineNumber()),
                                 static_cast<int>(reader.columnNumber()), depth)) {
            return false;
          }
          reader.skipCurrentElement();  // its fallback, if any
          continue;
        }
        if (variable && name == u"label" && path.size() + 1 == variable_depth) {
          const QString lang = attributes.value(QLatin1String("xml:lang")).toString();
          const std::string label =
              Utf8(reader.readElementText(QXmlStreamReader::IncludeChildElements).simplified());
          if (lang == u"de" || lang.startsWith(u"de-") || lang.startsWith(u"de_")) {
            if (variable->label_de.empty()) variable->label_de = label;
          } else if (lang.isEmpty() && variable->label.empty()) {
            variable->label = label;
          }
          continue;  // its end element is taken
        }
        path.push_back(name);
        if (depth == 0 && name == u"family" && path.size() >= 2 && path[path.size() - 2] == u"decoder") {
          Family family;
          family.name = Utf8(attribute("name"));
          family.manufacturer = Utf8(attribute("mfg"));
          family.low_version = Number(attribute("lowVersionID"));
          family.high_version = Number(attribute("highVersionID"));
          family.file = top_file_;
          families_->push_back(std::move(family));
        } else if (depth == 0 && name == u"model" && inside("family") && !families_->empty()) {
          Model model;
          model.name = Utf8(attribute("model"));
          model.low_version = Number(attribute("lowVersionID"));
          model.high_version = Number(attribute("highVersionID"));
          families_->back().models.push_back(std::move(model));
        } else if (depth == 0 && name == u"versionCV" && inside("model") && !families_->empty() &&
                   !families_->back().models.empty()) {
          Model& model = families_->back().models.back();
          model.low_version = Number(attribute("lowVersionID"));
          model.high_version = Number(attribute("highVersionID"));
        } else if (depth == 0 && name == u"programming" && path.size() >= 2 &&
                   path[path.size() - 2] == u"decoder") {
          programming_ = {Utf8(attribute("direct")), Utf8(attribute("paged")), Utf8(attribute("register"))};
        } else if (name == u"variable" && !variable && with_variables_ && !inside("pane")) {
          Variable v;
          v.item = Utf8(attribute("item"));
          v.cvs = CvList(attribute("CV"));
          v.mask = Utf8(attribute("mask"));
          v.default_value = Number(attribute("default"));
          v.read_only = attribute("readOnly") == u"yes";
          v.label = Utf8(attribute("label").toString().simplified());
          v.include = CommaList(attribute("include"));
          v.exclude = CommaList(attribute("exclude"));
          variables_.push_back(std::move(v));
          variable = &variables_.back();
          variable_depth = path.size() + 1;  // its children
        } else if (variable && path.size() == variable_depth && name.endsWith(u"Val")) {
          TakeValueKind(*variable, name, attributes);
        }
      }
    }
    if (reader.hasError()) return fail(reader.errorString().toStdString());
    return true;
  }

  // The value element tells what the variable's CVs are where the CV attribute names one.
  static void TakeValueKind(Variable& v, const QString& kind, const QXmlStreamAttributes& attributes) {
    v.kind = Utf8(kind);
    if (v.cvs.size() != 1) return;
    const int cv = v.cvs.front();
    if (kind == u"longAddressVal") {
      v.cvs.push_back(cv + 1);
    } else if (kind == u"speedTableVal") {
      const int entries = Number(attributes.value(QLatin1String("entries"))).value_or(28);
      for (int e = 1; e < std::min(entries, 128); ++e) v.cvs.push_back(cv + e);
    } else if (kind.startsWith(u"split")) {
      // Older files give the second CV as highCV.
      if (const std::optional<int> high = Number(attributes.value(QLatin1String("highCV"))); high && *high != cv) {
        v.cvs.push_back(*high);
      }
    }
  }

  bool Include(const std::string& href, const fs::path& from, int line, int column, int depth) {
    const auto refuse = [&](const std::string& message) {
      Problem(from, line, column, message);
      return false;
    };
    if (href.empty()) return refuse("an include without href");
    if (depth + 1 > kMaxIncludeDepth) return refuse("includes nested deeper than " + std::to_string(kMaxIncludeDepth));
    if (++includes_ > kMaxIncludes) return refuse("more than " + std::to_string(kMaxIncludes) + " includes");
    fs::path target;
    bool jmri_address = false;
    for (const char* address : kJmriXmlAddresses) {
      if (href.rfind(address, 0) == 0) {
        if (jmri_xml_.empty()) return refuse("the include '" + href + "' needs a JMRI folder, and none was found");
        target = jmri_xml_ / href.substr(std::string_view(address).size());
        jmri_address = true;
        break;
      }
    }
    if (!jmri_address) {
      if (href.find("://") != std::string::npos || href.rfind("file:", 0) == 0) {
        return refuse("the include '" + href + "' lies outside the JMRI folder; it is not fetched");
      }
      target = fs::path(href).is_absolute() ? fs::path(href) : from.parent_path() / href;
    }
    const fs::path canonical = Canonical(target);
    if (std::none_of(allowed_.begin(), allowed_.end(), [&](const fs::path& root) { return Within(canonical, root); })) {
      return refuse("the include '" + href + "' lies outside the JMRI folder; refused");
    }
    if (std::find(open_.begin(), open_.end(), canonical) != open_.end()) {
      return refuse("the include '" + href + "' includes a file that includes it (an include loop)");
    }
    const IncludedAt at{from, line, column, href};
    return Walk(canonical, target, depth + 1, &at);
  }

  // The sheet's mode line from <programming direct="yes|no|byteOnly|bitOnly" paged=..
  // register=..>: direct mode where the decoder takes it, else paged, else register.
  std::string SheetMode() const {
    const auto no = [](const std::string& s) { return s == "no"; };
    if (programming_.direct == "byteOnly") return "dio";
    if (!no(programming_.direct)) return "dir";
    if (!no(programming_.paged)) return "pag";
    if (!no(programming_.reg)) return "reg";
    return "dir";
  }

  struct Programming {
    std::string direct, paged, reg;
  };
  Programming programming_;
  std::vector<Variable> variables_;

  std::vector<DefinitionProblem>& problems_;
  fs::path jmri_xml_;
  std::vector<fs::path> allowed_;
  std::vector<fs::path> open_;  // the files being read, the includer first
  fs::path top_file_;
  std::vector<Family>* families_ = nullptr;
  bool with_variables_ = false;
  int includes_ = 0;
};

std::optional<fs::path> XmlFolderOf(const fs::path& folder) {
  std::error_code ignored;
  for (const fs::path& candidate : {folder, folder / "xml"}) {
    if (fs::is_directory(candidate / "decoders", ignored) || fs::is_regular_file(candidate / "decoderIndex.xml", ignored)) {
      return candidate;
    }
  }
  return std::nullopt;
}

std::vector<fs::path> XmlFilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->path().extension() == ".xml" && it->is_regular_file(ignored)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void ReadIndex(const fs::path& file, DefinitionLibrary& library) {
  std::string error;
  const std::optional<std::string> bytes = safefile::ReadRegularFile(file.string(), error, kMaxDefinitionSize);
  if (!bytes) {
    library.problems.push_back({file, 0, 0, "cannot be read (" + error + ")"});
    return;
  }
  roster::RosterText decoded = roster::DecodeRoster(*bytes);
  std::optional<roster::TextFault> fault = roster::FindMarkupFault(decoded.text);
  if (!fault) fault = std::move(decoded.fault);
  if (fault) {
    const auto [line, column] = roster::LineAndColumn(decoded.text, fault->at);
    library.problems.push_back({file, line, column, MarkupFaultText(*fault)});
    return;
  }
  QXmlStreamReader reader(decoded.text);
  while (!reader.atEnd()) {
    const QXmlStreamReader::TokenType token = reader.readNext();
    if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference) {
      if (token == QXmlStreamReader::EntityReference || !reader.entityDeclarations().isEmpty() ||
          reader.text().contains(u"<!ENTITY")) {
        library.problems.push_back({file, static_cast<int>(reader.lineNumber()), static_cast<int>(reader.columnNumber()),
                                    "it declares entities, which are refused (JMRI writes none)"});
        library.manufacturers.clear();
        return;
      }
    }
    if (token == QXmlStreamReader::StartElement && reader.name() == u"manufacturer") {
      const std::optional<int> id = Number(reader.attributes().value(QLatin1String("mfgID")));
      if (id) library.manufacturers.push_back({Utf8(reader.attributes().value(QLatin1String("mfg"))), *id});
    }
    // The family list repeats what the decoder files say; they are read themselves.
    if (token == QXmlStreamReader::StartElement && reader.name() == u"familyList") reader.skipCurrentElement();
  }
  if (reader.hasError()) {
    library.problems.push_back({file, static_cast<int>(reader.lineNumber()),
                                std::max(1, static_cast<int>(reader.columnNumber())),
                                reader.errorString().toStdString()});
  }
}

}  // namespace

DefinitionPlaces FindDefinitions(const std::optional<std::string>& given, std::string& problem) {
  DefinitionPlaces places;
  std::error_code ignored;
  if (given) {
    if (!fs::is_directory(*given, ignored)) {
      problem = "'" + *given + "' is no folder";
    } else if (std::optional<fs::path> xml = XmlFolderOf(*given)) {
      places.jmri_xml = *xml;
    } else {
      problem = "'" + *given + "' is no JMRI folder (neither it nor its xml folder has decoders/ or decoderIndex.xml)";
    }
    return places;
  }
  const char* home = std::getenv("HOME");
  std::vector<fs::path> usual;
  if (home && *home) usual.push_back(fs::path(home) / "JMRI");
  for (const char* folder : {"/opt/JMRI", "/usr/local/JMRI", "/usr/share/jmri"}) usual.emplace_back(folder);
  for (const fs::path& folder : usual) {
    if (std::optional<fs::path> xml = XmlFolderOf(folder)) {
      places.jmri_xml = *xml;
      break;
    }
  }
  if (home && *home && fs::is_directory(fs::path(home) / ".jmri" / "decoders", ignored)) {
    places.user_decoders = fs::path(home) / ".jmri" / "decoders";
  }
  return places;
}

std::vector<Family> ReadDecoderFile(const fs::path& file, const DefinitionPlaces& roots,
                                    std::vector<DefinitionProblem>& problems) {
  std::vector<Family> families;
  DecoderFileReader reader(roots, problems);
  if (!reader.Read(file, true, families)) families.clear();
  return families;
}

DefinitionLibrary LoadDefinitions(const DefinitionPlaces& places, bool with_variables) {
  DefinitionLibrary library;
  library.places = places;
  std::vector<fs::path> files;
  if (places.jmri_xml) {
    std::error_code ignored;
    if (fs::exists(*places.jmri_xml / "decoderIndex.xml", ignored)) ReadIndex(*places.jmri_xml / "decoderIndex.xml", library);
    files = XmlFilesIn(*places.jmri_xml / "decoders");
  }
  if (places.user_decoders) {
    for (fs::path& file : XmlFilesIn(*places.user_decoders)) files.push_back(std::move(file));
  }
  for (const fs::path& file : files) {
    std::vector<Family> families;
    DecoderFileReader reader(places, library.problems);
    const bool ok = reader.Read(file, with_variables, families);
    if (!ok) continue;
    ++library.files_read;
    for (Family& family : families) library.families.push_back(std::move(family));
  }
  return library;
}

std::string ManufacturerNames(const DefinitionLibrary& library, int id) {
  std::string names;
  for (const Manufacturer& m : library.manufacturers) {
    if (m.id == id) names += (names.empty() ? "" : " / ") + m.name;
  }
  return names;
}

std::vector<ModelMatch> MatchingModels(const DefinitionLibrary& library, int manufacturer_id,
                                       std::optional<int> version) {
  std::vector<ModelMatch> matches;
  for (const Family& family : library.families) {
    const bool ours = std::any_of(library.manufacturers.begin(), library.manufacturers.end(), [&](const Manufacturer& m) {
      return m.id == manufacturer_id && m.name == family.manufacturer;
    });
    if (!ours) continue;
    if (version && !VersionMatches(family.low_version, family.high_version, *version)) continue;
    for (const Model& model : family.models) {
      if (version && !VersionMatches(model.low_version, model.high_version, *version)) continue;
      matches.push_back({&family, &model});
    }
  }
  return matches;
}

bool VersionMatches(std::optional<int> low, std::optional<int> high, int version) {
  return (!low || version >= *low) && (!high || version <= *high);
}

bool VariableApplies(const Variable& variable, const std::string& model) {
  if (!variable.include.empty() &&
      std::find(variable.include.begin(), variable.include.end(), model) == variable.include.end()) {
    return false;
  }
  return std::find(variable.exclude.begin(), variable.exclude.end(), model) == variable.exclude.end();
}

}  // namespace qarn2::decoderdefs
