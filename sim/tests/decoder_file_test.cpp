#include "sim/decoder_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace qarn2::sim {
namespace {

TEST(DecoderFileTest, LoadsTheCvLines) {
  const std::string text =
      "*pag\r\n"
      "Lok 1 (BR 86)\r\n"  // a title: no CV line
      "1   4 Adresse\n"    // LF alone ends a line too
      "029 5\r"            // the number's plain form has two digits: value 9
      "3 3 2 Beschleunigung\r\n"
      "67\r\n"  // no value: keeps the default
      "5 300 too large\r\n"
      "2000 5\r\n"
      "6   1\r\n"
      "6   2\r\n"  // the later line wins
      "4 77\0"
      "5 1\r\n";  // a NUL ends the text
  DecoderModel decoder;
  EXPECT_EQ(LoadCvsFromText(std::string_view(text.data(), text.size() + 5), decoder), 6);
  const int expected[][2] = {{1, 4}, {29, 9}, {3, 3}, {67, 9}, {5, 255}, {6, 2}, {4, 77}};
  for (const auto& [cv, value] : expected) EXPECT_EQ(decoder.Cv(cv), value) << "CV " << cv;
}

TEST(DecoderFileTest, UnchangedDecoderGivesTheSameBytes) {
  const std::string text =
      "*dir\r\nDampflok \xE4\xF6\xFC\r\n\r\n1     3 Adresse\r\n029 9\r\n29 9 x\r\n"
      "1000 0\r\n67    9 Stufe 1\r\nEnde";
  DecoderModel decoder;
  LoadCvsFromText(text, decoder);
  EXPECT_EQ(TextWithCvs(text, decoder), text);
  EXPECT_EQ(TextWithCvs(text + "\r\n", decoder), text + "\r\n");
}

TEST(DecoderFileTest, ChangedValuesAndNewCvs) {
  struct Case {
    const char* line;
    int value;  // of the line's CV in the decoder
    const char* written;
  };
  const Case cases[] = {
      {"29    6 Konfiguration", 38, "29   38 Konfiguration"},
      {"1   3 (Adresse)", 10, "1  10 (Adresse)"},
      {"1000 12 x", 255, "1000 255 x"},
      {"29 6", 100, "29 100"},
      {"029 5", 12, "29   12 "},  // put in place, it would read back as CV 212
      {"29    ? (Konfiguration)", 6, "29    6 (Konfiguration)"},  // kept as it stands
      {"67", 9, "67    9 "},
  };
  for (const Case& c : cases) {
    DecoderModel decoder;
    LoadCvsFromText(c.line, decoder);
    const std::string line = c.line;
    const int cv = std::stoi(line);
    decoder.SetCv(cv, static_cast<std::uint8_t>(c.value));
    EXPECT_EQ(TextWithCvs(line, decoder), c.written) << c.line;
  }

  DecoderModel decoder;
  decoder.SetCv(30, 1);
  decoder.SetCv(1000, 2);
  decoder.SetCv(29, 6);  // the default: not added
  EXPECT_EQ(TextWithCvs("*dir\r\nLok\r\n", decoder), "*dir\r\nLok\r\n30    1 \r\n1000   2 \r\n");
  EXPECT_EQ(TextWithCvs("Lok", decoder), "Lok\r\n30    1 \r\n1000   2 ");
  EXPECT_EQ(TextWithCvs("", decoder), "30    1 \r\n1000   2 \r\n");
}

TEST(DecoderFileTest, EveryLineKeepsItsOwnLineEnd) {
  // A file written elsewhere, with LF or CR alone: only the changed line changes.
  const std::string text = "*dir\nLok 1\r29 6 Konfiguration\n1 3 Adresse\r\nEnde\n";
  DecoderModel decoder;
  LoadCvsFromText(text, decoder);
  EXPECT_EQ(TextWithCvs(text, decoder), text);
  decoder.SetCv(29, 38);
  decoder.SetCv(30, 1);  // no line yet: added before the final line end, with CR LF
  EXPECT_EQ(TextWithCvs(text, decoder), "*dir\nLok 1\r29 38 Konfiguration\n1 3 Adresse\r\nEnde\n30    1 \r\n");
}

TEST(DecoderFileTest, FilesAndErrors) {
  const std::filesystem::path dir = ::testing::TempDir();
  const std::filesystem::path path = dir / "qarn2_sim_decoder_file_test.DEC";
  const std::string text = "*reg\r\n1 3 Adresse\r\n29 6 Konfiguration\r\n";
  WriteDecoderFile(path, text);

  DecoderModel decoder;
  const std::string loaded = LoadDecoderFile(path, decoder);
  EXPECT_EQ(loaded, text);
  decoder.SetCv(1, 44);
  SaveDecoderFile(path, loaded, decoder);
  EXPECT_EQ(ReadDecoderFile(path), "*reg\r\n1 44 Adresse\r\n29 6 Konfiguration\r\n");
  std::filesystem::remove(path);

  const auto expect_error = [](const std::filesystem::path& file, auto operation) {
    try {
      operation();
      ADD_FAILURE() << "no error for " << file;
    } catch (const DecoderFileError& error) {
      EXPECT_EQ(error.file(), file);
      EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos) << error.what();
    }
  };
  expect_error(path, [&] { ReadDecoderFile(path); });
  expect_error(dir, [&] { WriteDecoderFile(dir, text); });

  // A file that is no text (a program, say) is refused, and stays as it is.
  std::string binary("\x7F" "ELF\x02\x01\x01", 7);
  binary += std::string(100, '\0') + "1 3\r\n";
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(binary.data(), 1, binary.size(), file);
    std::fclose(file);
  }
  expect_error(path, [&] { ReadDecoderFile(path); });
  EXPECT_EQ(std::filesystem::file_size(path), binary.size());
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace qarn2::sim
