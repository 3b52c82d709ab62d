#pragma once

// JMRI's decoder definitions, read where JMRI keeps them: its decoderIndex.xml (the
// manufacturer list with the numbers a decoder answers in CV 8) and its decoder-config
// files (one per decoder family: the family, its models and the variables, each named
// with the CVs it uses). Nothing is fetched: an include naming http://jmri.org/xml/...
// is taken from the local folder. Plain C++ in and out; Qt's XML reader parses.
//
//   <decoder-config xmlns:xi="http://www.w3.org/2001/XInclude" ...>
//     <decoder>
//       <family name="..." mfg="..." lowVersionID="1" highVersionID="9">
//         <model model="..." lowVersionID=".." highVersionID=".."/>  or <versionCV .../>
//       </family>
//       <variables>
//         <xi:include href="http://jmri.org/xml/decoders/nmra/shortAndLongAddress.xml"/>
//         <variable item="..." CV="29" mask="XXXXXXVX" default="6" readOnly="yes"
//                   include="model,model" exclude="model" label="...">
//           <enumVal>...</enumVal>  (decVal, hexVal, splitVal, speedTableVal, ...)
//           <label xml:lang="de">...</label>
//         </variable>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qarn2::decoderdefs {

// No definition file comes near this; a larger one is refused unread.
inline constexpr std::size_t kMaxDefinitionSize = 16 * 1024 * 1024;
// Includes deeper than this, or more than kMaxIncludes of them for one decoder file,
// are refused: real files nest two or three deep and include a few dozen parts.
inline constexpr int kMaxIncludeDepth = 16;
inline constexpr int kMaxIncludes = 2000;

// One variable of a family: what the decoder keeps in one or more CVs. Texts UTF-8.
struct Variable {
  std::string item;            // the name JMRI knows it by
  std::vector<int> cvs;        // in the definition's order; "17,18" and a long
                               // address give two
  std::string mask;            // "XXXXXXVX": V marks the bits the variable uses
  std::optional<int> default_value;
  bool read_only = false;
  std::string kind;            // the value element: decVal, enumVal, splitVal, ...
  std::string label;           // the plain label (attribute or <label> without language)
  std::string label_de;        // <label xml:lang="de">, where the definition has one
  std::vector<std::string> include;  // only for these models, where given
  std::vector<std::string> exclude;  // not for these models
};

struct Model {
  std::string name;
  std::optional<int> low_version;  // CV 7 range; none: any version
  std::optional<int> high_version;
};

struct Family {
  std::string name;
  std::string manufacturer;  // the mfg attribute, as the index names it
  std::optional<int> low_version;
  std::optional<int> high_version;
  std::vector<Model> models;
  std::vector<Variable> variables;  // empty unless read with variables
  std::string mode = "dir";         // how a sheet for it is programmed: from <programming>
  std::filesystem::path file;
};

struct Manufacturer {
  std::string name;
  int id = 0;  // what the decoder answers in CV 8
};

// A file that could not be read, or only in part. `line` 0 where the fault has no place
// in the file (it cannot be opened, it is too large).
struct DefinitionProblem {
  std::filesystem::path file;
  int line = 0;
  int column = 0;
  std::string message;  // English, as the tool's messages
};

// Where the definitions are: JMRI's xml folder (with decoderIndex.xml and decoders/)
// and the user's own decoder files.
struct DefinitionPlaces {
  std::optional<std::filesystem::path> jmri_xml;
  std::optional<std::filesystem::path> user_decoders;
};

// The xml folder of the JMRI folder `given` (its program folder or that xml folder).
// Without `given`: the first of ~/JMRI, /opt/JMRI, /usr/local/JMRI, /usr/share/jmri
// that has one, and ~/.jmri/decoders where it exists. `problem` says why `given` is no
// JMRI folder (the places are empty then).
DefinitionPlaces FindDefinitions(const std::optional<std::string>& given, std::string& problem);

struct DefinitionLibrary {
  DefinitionPlaces places;
  std::vector<Manufacturer> manufacturers;  // the index's list, in its order
  std::vector<Family> families;             // in file-name order; a file may hold several
  std::vector<DefinitionProblem> problems;
  int files_read = 0;
};

// Reads the index and every decoder file (*.xml directly in decoders/ and in the
// user's folder). With `with_variables` the variables too, includes followed;
// otherwise only families and models.
DefinitionLibrary LoadDefinitions(const DefinitionPlaces& places, bool with_variables);

// Reads one decoder file with its variables; its includes may lie within `roots`
// only. Families empty and `problems` set when it cannot be read.
std::vector<Family> ReadDecoderFile(const std::filesystem::path& file, const DefinitionPlaces& roots,
                                    std::vector<DefinitionProblem>& problems);

// Every name the index gives `id`, joined by " / " (the index gives some numbers to
// two makers); empty when it has none.
std::string ManufacturerNames(const DefinitionLibrary& library, int id);

// The models a decoder answering `manufacturer_id` in CV 8 and `version` in CV 7 may
// be: those of the families of a manufacturer with that id (any of the names the index
// gives it), where the family's and the model's version ranges hold `version` (any
// version without `version`).
struct ModelMatch {
  const Family* family = nullptr;
  const Model* model = nullptr;
};
std::vector<ModelMatch> MatchingModels(const DefinitionLibrary& library, int manufacturer_id,
                                       std::optional<int> version);

// Whether `version` (CV 7) lies within a range; a range not given matches any version.
bool VersionMatches(std::optional<int> low, std::optional<int> high, int version);

// The variables `model` of `family` uses: those without include naming other models,
// and not excluding it.
bool VariableApplies(const Variable& variable, const std::string& model);

}  // namespace qarn2::decoderdefs
