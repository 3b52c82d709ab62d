#pragma once

// The simulated decoder's memory kept in a decoder file: the CVs are taken from the
// file's CV lines at start and written back into the same file at the end.
//
// A decoder file is 8-bit text with CR LF line ends (CR or LF alone are read as line
// ends too; a NUL ends the text). A CV line begins with the CV number's digits; its
// value is found by dropping as many characters as the number has digits in its
// plain decimal form, then the blanks after them, and taking the digits that follow.
// Other lines (a first line "*pag" naming the programming mode, titles, remarks) have
// no CV.
//
// Writing back (TextWithCvs), line by line:
//  - lines without a CV of the decoder (1..1024) stay byte for byte;
//  - a CV line that already shows the decoder's value stays byte for byte;
//  - a CV line with another value gets the new value in place of the old digits,
//    right-aligned where the old value ended when the blanks before it leave room;
//  - a CV line without a value, or one whose odd form would not read back right,
//    is written as reading all CVs writes it: the number left-aligned in 4 columns
//    (5 from 1000 on), the value right-aligned in 3 and a blank, then the line's
//    description (from its first character with a code of 64 or more);
//  - CVs that differ from their default and have no line are appended in that form,
//    in CV order and without description, before the final line end if the text
//    has one.
// Every line keeps its own line end (CR LF, CR or LF), so a line the decoder did not
// change comes back byte for byte; added lines end with CR LF.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/decoder_model.h"

namespace qarn2::sim {

class DecoderFileError : public std::runtime_error {
 public:
  DecoderFileError(std::filesystem::path file, const std::string& message)
      : std::runtime_error(message), file_(std::move(file)) {}
  const std::filesystem::path& file() const { return file_; }

 private:
  std::filesystem::path file_;
};

// Sets every CV that a CV line names with a value of 0..255 (a later line wins);
// all other CVs keep what they hold. Returns the number of lines taken.
int LoadCvsFromText(std::string_view text, DecoderModel& decoder);

// `text` brought up to date with the decoder's CVs, by the rules above.
std::string TextWithCvs(std::string_view text, const DecoderModel& decoder);

// The file's characters. Throws DecoderFileError naming the file when it cannot be
// read (also no regular file, larger than 16 MiB) or holds NUL bytes: such a file is
// no decoder file, and nothing is ever written into it.
std::string ReadDecoderFile(const std::filesystem::path& path);
// Creates or replaces the file whole and atomically (safefile::WriteWhole). Throws
// DecoderFileError naming the file on failure.
void WriteDecoderFile(const std::filesystem::path& path, std::string_view text);

// ReadDecoderFile and LoadCvsFromText; returns the text for SaveDecoderFile.
std::string LoadDecoderFile(const std::filesystem::path& path, DecoderModel& decoder);
// Writes TextWithCvs(loaded_text, decoder) into the file.
void SaveDecoderFile(const std::filesystem::path& path, std::string_view loaded_text,
                     const DecoderModel& decoder);

}  // namespace qarn2::sim
