#pragma once

// A decoder sheet written as a JMRI roster file, for "Datei" in the window and for
// `qarn2-cli export-jmri`. Plain C++ in and out; Qt's XML writer writes it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarn2::roster {

// Why the bytes are no decoder sheet; nothing is exported then.
struct SheetError {
  enum Kind {
    kNulByte,   // at `line`, `column`: binary data, no text
    kNoCvLine,  // no line begins with a CV number 1 or above
  };
  Kind kind = kNoCvLine;
  int line = 0;  // both from 1; 0 for kNoCvLine
  int column = 0;
};

// A CV line that did not make it into the roster as it stood, or why the roster has
// no address. Lines with "?" or without a value are only counted (RosterExport::
// left_out): a sheet has them for every CV the decoder keeps to itself.
struct SheetProblem {
  enum Kind {
    kValueTooLarge,     // `cv`'s line holds `value`, above 255; left out
    kCvOutOfRange,      // the line's CV number `cv` is above 1024; left out
    kDuplicateCv,       // `cv` again with `value`; left out, the first line (with
                        // `kept_value`) stands, as the tool's import does it
    kNoAddress,         // no dccAddress: `cv` (1, 17, 18 or 29) has no value
                        // (`value` -1) or one that gives no address
    kAccessoryDecoder,  // no dccAddress: CV 29 (`value`) says accessory decoder
  };
  Kind kind = kValueTooLarge;
  int line = 0;  // of the sheet, from 1; 0 for the address
  int cv = 0;
  int value = -1;
  int kept_value = -1;
};

struct RosterExport {
  // Set when the bytes are no decoder sheet; `xml` is empty then.
  std::optional<SheetError> error;
  // The roster file in UTF-8: the locomotive with its id, its address where the sheet
  // gives one (dccAddress and locoaddress), an empty decoder (JMRI requires the
  // element; model and family are not known here) and one CVvalue per CV, in rising
  // order. Nothing else: JMRI fills in the rest when it opens the entry.
  std::string xml;
  int cv_values = 0;
  int left_out = 0;  // CV lines with "?" or without a value
  std::vector<SheetProblem> problems;
  // The address written: CV 1, or from CV 17 and 18 when CV 29 bit 5 asks for the
  // long address.
  std::optional<int> address;
  bool long_address = false;
};

// `sheet` is a decoder sheet's text in Windows-1252 (any line ends), `id` the roster
// entry's name in UTF-8 (JMRI shows it in its roster list).
RosterExport ExportRoster(std::string_view sheet, const std::string& id);

}  // namespace qarn2::roster
