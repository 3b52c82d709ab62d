#pragma once

// A JMRI roster file made into a decoder sheet, for "Datei" in the window and for
// `qarn2-cli import-jmri`. Plain C++ in and out; Qt's XML reader does the parsing.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarn2::roster {

// Why the bytes are no roster file; nothing is imported then.
struct RosterError {
  enum Kind {
    kTooLarge,                  // more than kMaxRosterSize bytes; not parsed at all
    kMalformed,                 // not well-formed XML (or an encoding the reader lacks)
    kBadEncoding,               // bytes that are not the file's encoding (`detail`)
    kNulCharacter,              // a NUL, which XML allows nowhere
    kEntityDeclaration,         // a document type declaration that declares entities
    kAttributeListDeclaration,  // one that declares attribute lists
    kTooManyAttributes,         // an element with more than kMaxAttributes attributes
    kTooManyNamespaces,         // more than kMaxNamespaceDeclarations namespace declarations
    kNotARoster,                // the root element is not locomotive-config
    kNoLocomotive,              // no locomotive element in it
    kNoCvValues,                // no CV value of its locomotive can stand in a sheet
  };
  Kind kind = kMalformed;
  // Where the reading stopped, both counted from 1: the column is that of the last
  // character taken (for most faults the end of the markup at fault; for a bad byte,
  // a NUL and what is past a limit the character itself; for kNoLocomotive the root
  // element's tag, for kNoCvValues the locomotive's); 0 for kTooLarge.
  int line = 0;
  int column = 0;
  // kMalformed: the parser's own words (English); kBadEncoding: the encoding's name;
  // kNotARoster: the root element's name; otherwise empty.
  std::string detail{};
};

// Something in the roster that did not make it into the sheet as it stood. All texts
// are UTF-8, as they stand in the file.
struct RosterProblem {
  enum Kind {
    kNotPlainCv,           // `name` is no decimal CV number ("16.2.257", an
                           // indexedCVvalue, a missing name); left out
    kCvOutOfRange,         // `cv` is a number, but not 1..1024; left out
    kBadValue,             // `value` is no number 0..255; left out
    kDuplicateCv,          // `cv` again, with `value`; left out, the first (with
                           // `kept_value`) stands
    kReplacedCharacters,   // `field` (id, roadName, roadNumber) held `characters`
                           // that Windows-1252 lacks (each once, the first
                           // kMaxNamedCharacters of them; `unnamed_characters` more);
                           // each became '?' in the sheet
    kFurtherLocomotive,    // a locomotive after the first, with id `name`; left out
    kMisplacedCv,          // a CVvalue (or indexedCVvalue) named `name` that is not
                           // directly in the locomotive's <values>; left out
  };
  Kind kind = kNotPlainCv;
  int line = 0;  // of the element in the file, from 1
  std::string name{};
  int cv = 0;
  std::string value{};
  int kept_value = 0;
  std::string field{};
  std::string characters{};
  int unnamed_characters = 0;
};

// At most this many of the characters a field lacks are named.
inline constexpr int kMaxNamedCharacters = 20;

struct RosterImport {
  // Set when the bytes are no roster file, or one without a CV value to import;
  // `sheet` is empty then (`problems` says, for kNoCvValues, what was left out).
  std::optional<RosterError> error;
  // The decoder sheet in Windows-1252 with CR LF line ends, as a decoder file holds
  // it: the mode line "*dir", a title line (the roster's id, then its road name and
  // number in parentheses where it has them; behind "Lok " where it would begin with
  // a digit and so be a CV line), and one line per CV in rising order,
  // written as reading all CVs writes them ("29   34 "). The roster keeps no
  // description for a CV, so the lines have none.
  std::string sheet;
  int cv_lines = 0;
  // The locomotive's id as the file has it (UTF-8), for exporting it back under it.
  std::string id;
  std::vector<RosterProblem> problems;  // in the order of the file
};

// `xml` is the roster file's bytes, in the encoding its XML declaration names (UTF-8
// without one). A document type declaration is allowed as long as it declares no
// entities and no attribute lists; entities are never expanded. Time and memory grow
// with the file's length, whatever it holds.
RosterImport ImportRoster(std::string_view xml);

}  // namespace qarn2::roster
