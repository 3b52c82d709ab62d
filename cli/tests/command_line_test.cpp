#include "cli/command_line.h"
#include "cli/tests/run_cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/hex_text.h"
#include "encoding/serial_encoder.h"

namespace qarn2::cli {

using encoding::ToHex;
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

using testing::Result;
using testing::RunCli;

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

// --- encode ------------------------------------------------------------------------

TEST(EncodeCommand, PrintsTheExampleStreams) {
  struct Case {
    std::vector<std::string> args;
    const char* line;
  };
  const Case cases[] = {
      {{"encode", "FF", "00"}, "55 55 78 55 C5 C6 C6 C6 C6 78 55 55"},
      {{"encode", "03", "3F"}, "55 55 C6 C6 C6 5C C6 78 55 C6 5C C5 78"},
      {{"encode", "7F", "08"}, "55 55 E1 5C 55 C6 C6 78 C6 C6 56 78 55"},
      {{"encode", "74", "00", "05"},
       "55 55 66 65 C6 C6 C6 C6 C6 C6 C6 C6 78 96 56 C6 5C"},
      {{"encode", "--service", "FF", "00"},
       "55 55 55 55 78 55 C5 C6 C6 C6 C6 78 55 55"},
      {{"encode", "74", "00", "05", "--service"},
       "55 55 55 55 66 65 C6 C6 C6 C6 C6 C6 C6 C6 78 96 56 C6 5C"},
      {{"encode", "ff", "0"}, "55 55 78 55 C5 C6 C6 C6 C6 78 55 55"},
      {{"encode", "FF 00"}, "55 55 78 55 C5 C6 C6 C6 C6 78 55 55"},
  };
  for (const Case& c : cases) {
    const Result result = RunCli(c.args);
    EXPECT_EQ(result.status, kExitOk) << c.line;
    EXPECT_EQ(result.out, std::string(c.line) + "\n");
    EXPECT_EQ(result.err, "");
  }
}

TEST(EncodeCommand, PrintsTheFixedStreams) {
  struct Case {
    const char* name;
    const char* line;
  };
  const Case cases[] = {
      {"IdleStream", "55 55 56 55 C6 C6 C6 C6 C6 55 55"},
      {"ResetStream", "55 55 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 78"},
      {"LongResetStream", "55 55 55 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 78"},
      {"PagePresetStream", "55 55 55 55 C6 55 78 C6 C6 C6 C6 99 55 66"},
  };
  for (const Case& c : cases) {
    const Result result = RunCli({"encode", "--fixed", c.name});
    EXPECT_EQ(result.status, kExitOk) << c.name;
    EXPECT_EQ(result.out, std::string(c.line) + "\n") << c.name;
  }
  const Result burst = RunCli({"encode", "--fixed", "ResetBurst"});
  const std::string long_reset = RunCli({"encode", "--fixed", "LongResetStream"}).out;
  const std::string one_copy = long_reset.substr(0, long_reset.size() - 1);
  std::string expected = one_copy;
  for (int i = 1; i < 8; ++i) {
    expected.append(" ").append(one_copy);
  }
  expected.append("\n");
  EXPECT_EQ(burst.out, expected);
}

TEST(EncodeCommand, RefusesBadArgumentsWithOneLineAndStatus2) {
  struct Case {
    std::vector<std::string> args;
    const char* message_part;
  };
  const Case cases[] = {
      {{"encode"}, "0 bytes given"},
      {{"encode", "FF"}, "1 byte given"},
      {{"encode", "01", "02", "03", "04"}, "4 bytes given"},
      {{"encode", "GG", "00"}, "'GG' is not a hex byte"},
      {{"encode", "100", "00"}, "'100' is not a hex byte"},
      {{"encode", "--fixed", "Nope"}, "unknown fixed stream 'Nope'"},
      {{"encode", "--fixed"}, "--fixed needs a stream name"},
      {{"encode", "--fixed", "IdleStream", "--service"}, "--fixed takes only"},
      {{"encode", "--fixed", "IdleStream", "FF"}, "--fixed takes only"},
      {{"encode", "--loud", "FF", "00"}, "unknown option '--loud'"},
      {{"encode", "--batch", "FF", "00"}, "--batch reads packets from standard input"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"--verbose"}, "unknown option '--verbose'"},
  };
  for (const Case& c : cases) {
    const Result result = RunCli(c.args);
    EXPECT_EQ(result.status, kExitUsage) << c.message_part;
    EXPECT_EQ(result.out, "") << c.message_part;
    EXPECT_THAT(result.err, StartsWith("qarn2-cli: "));
    EXPECT_THAT(result.err, HasSubstr(c.message_part));
    EXPECT_EQ(CountLines(result.err), 1) << result.err;
  }
}

// --- encode --batch ----------------------------------------------------------------

TEST(EncodeBatch, OneStreamPerLineSameAsSingleEncode) {
  // A CR LF line end and a last line without any line end are taken as well.
  const std::string input = "FF 00\r\n03 3F\n74 00 05\n7f 8";
  const std::vector<std::vector<std::string>> packets = {
      {"FF", "00"}, {"03", "3F"}, {"74", "00", "05"}, {"7f", "8"}};
  for (bool service : {false, true}) {
    std::string expected;
    for (const auto& packet : packets) {
      std::vector<std::string> args = {"encode"};
      if (service) args.push_back("--service");
      args.insert(args.end(), packet.begin(), packet.end());
      expected += RunCli(args).out;
    }
    std::vector<std::string> batch_args = {"encode", "--batch"};
    if (service) batch_args.push_back("--service");
    const Result result = RunCli(batch_args, input);
    EXPECT_EQ(result.status, kExitOk);
    EXPECT_EQ(result.out, expected) << "service " << service;
    EXPECT_EQ(result.err, "");
  }
}

// Many lines cross the blocks in which output is handed on; no line may be lost,
// doubled or cut.
TEST(EncodeBatch, ManyRandomPacketsMatchTheEncoder) {
  std::mt19937 random(20240611);
  std::string input;
  std::string expected;
  for (int line = 0; line < 20000; ++line) {
    encoding::Packet packet(2 + random() % 2);
    for (auto& byte : packet) byte = static_cast<std::uint8_t>(random());
    input += ToHex(packet) + "\n";
    expected += ToHex(encoding::EncodeOperationsPacket(packet)) + "\n";
  }
  const Result result = RunCli({"encode", "--batch"}, input);
  ASSERT_EQ(result.status, kExitOk) << result.err;
  EXPECT_EQ(CountLines(result.out), 20000);
  EXPECT_TRUE(result.out == expected);
}

TEST(EncodeBatch, BadLineNamesItsNumberAfterTheGoodOnes) {
  struct Case {
    const char* input;
    const char* message_part;
  };
  const Case cases[] = {
      {"FF 00\n03 3F\nFF\n74 00 05\n", "line 3: 1 byte given"},
      {"FF 00\n03 3F\nzz 00\n", "line 3: 'zz' is not a hex byte"},
      {"FF 00\n03 3F\n\n", "line 3: 0 bytes given"},
      {"FF 00\n03 3F\n1 2 3 4\n", "line 3: 4 bytes given"},
  };
  const std::string first_two =
      RunCli({"encode", "FF", "00"}).out + RunCli({"encode", "03", "3F"}).out;
  for (const Case& c : cases) {
    const Result result = RunCli({"encode", "--batch"}, c.input);
    EXPECT_EQ(result.status, kExitUsage) << c.message_part;
    EXPECT_EQ(result.out, first_two) << c.message_part;
    EXPECT_THAT(result.err, HasSubstr(c.message_part));
    EXPECT_EQ(CountLines(result.err), 1);
  }
}

// A few 3-byte packets have no grouping into the encoder's characters; the tool
// must say so for that packet instead of failing as a whole.
TEST(EncodeCommand, PacketWithoutEncodingGivesStatus1AndKeepsEarlierLines) {
  const encoding::Packet refused = {0xEF, 0xEF, 0xF7};
  try {
    encoding::EncodeOperationsPacket(refused);
    GTEST_SKIP() << "the encoder now encodes EF EF F7";
  } catch (const encoding::EncoderError&) {
  }
  const Result single = RunCli({"encode", "EF", "EF", "F7"});
  EXPECT_EQ(single.status, kExitDataError);
  EXPECT_EQ(single.out, "");
  EXPECT_THAT(single.err, HasSubstr("cannot encode packet EF EF F7"));
  EXPECT_EQ(CountLines(single.err), 1);

  const Result batch = RunCli({"encode", "--batch"}, "FF 00\nEF EF F7\n03 3F\n");
  EXPECT_EQ(batch.status, kExitDataError);
  EXPECT_EQ(batch.out, RunCli({"encode", "FF", "00"}).out);
  EXPECT_THAT(batch.err, HasSubstr("line 2: cannot encode packet EF EF F7"));
}

// --- decode ------------------------------------------------------------------------

TEST(DecodeCommand, PrintsBitsPacketsAndFillerOfTheIdleExample) {
  const Result result = RunCli({"decode", "55", "55", "78", "55", "C5", "C6", "C6",
                                "C6", "C6", "78", "55", "55"});
  EXPECT_EQ(result.status, kExitOk) << result.err;
  // Preamble, start bit, FF, start bit, 00, start bit, FF, end bit, two filler bits.
  EXPECT_EQ(result.out,
            "bits 1111111111011111111000000000011111111111\n"
            "packet 1 at bit 11: preamble 10, bytes FF 00 FF, check byte right\n"
            "trailing 1 bits: 2\n");
  EXPECT_EQ(result.err, "");

  const Result service =
      RunCli({"decode", "--service", "55 55 55 55 78 55 C5 C6 C6 C6 C6 78 55 55"});
  EXPECT_EQ(service.status, kExitOk) << service.err;
  EXPECT_THAT(service.out, HasSubstr("at bit 21: preamble 20, bytes FF 00 FF"));
}

// The decoder's own tests cover every kind of fault; here: status, one line on
// stderr, --service reaching the decoder, and what was decoded still on stdout.
TEST(DecodeCommand, FaultyStreamGivesOneLineAndStatus1) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
    const char* out_part;
  };
  const Case cases[] = {
      {{"decode", "55 55 57"},
       "character 57 at position 3 is outside the alphabet: halves of a bit unequal "
       "(52.1 us space, 156.3 us mark)",
       "bits 1111111111\n"},
      {{"decode", "--service", "55 55 78 55 C5 C6 C6 C6 C6 78 55 55"},
       "preamble of 10 bits before the packet at bit 11 (character 3), at least 20 "
       "needed",
       "bits 1111111111011111111000000000011111111111\n"},
      {{"decode", "55 55 C6 C6 78 C6 C6 C6 C6 C6 C6 C6 C6 C6 C6 78"},
       "packet 08 00 00 at bit 11 (character 3) has a wrong check byte (XOR of all "
       "bytes is 08, not 00)",
       "bytes 08 00 00, check byte wrong\n"},
  };
  for (const Case& c : cases) {
    const Result result = RunCli(c.args);
    EXPECT_EQ(result.status, kExitDataError) << c.message;
    EXPECT_EQ(result.err, std::string("qarn2-cli: decode: ") + c.message + "\n");
    EXPECT_THAT(result.out, HasSubstr(c.out_part));
  }
}

TEST(DecodeCommand, RefusesBadArgumentsWithStatus2) {
  const std::vector<std::vector<std::string>> cases = {
      {"decode"},
      {"decode", "55", "XY"},
      {"decode", "--batch", "55"},
      {"decode", "--fixed", "IdleStream"},
  };
  for (const auto& args : cases) {
    const Result result = RunCli(args);
    EXPECT_EQ(result.status, kExitUsage) << args.back();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(CountLines(result.err), 1) << result.err;
  }
}

// --- help --------------------------------------------------------------------------

TEST(Help, NoArgumentsAndHelpOptionExplainEveryCommand) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"--help"}, {"-h"}, {"encode", "--help"}, {"decode", "--help"}}) {
    const Result result = RunCli(args);
    EXPECT_EQ(result.status, kExitOk);
    EXPECT_EQ(result.err, "");
    for (const char* piece :
         {"encode [--service] HEX", "encode --batch", "encode --fixed NAME",
          "decode [--service] HEX", "ResetBurst", "Exit status"}) {
      EXPECT_THAT(result.out, HasSubstr(piece));
    }
  }
}

// The forms every Linux tool takes: "--name=VALUE" as "--name VALUE", -h as --help,
// "--" ending the options. Each is run against its long-standing form.
TEST(OptionForms, TheUsualFormsMeanWhatTheLongOnesMean) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> same_as;  // empty: `err` names the problem, exit 2
    std::string err = "";
  };
  const std::vector<Case> cases = {
      {{"read", "--simulate", "--virtual-time", "--mode=dio", "29"},
       {"read", "--simulate", "--virtual-time", "--mode", "dio", "29"}},
      {{"write", "--simulate", "--virtual-time", "--retries=2", "--port=COM1=sim", "3", "7"},
       {"write", "--simulate", "--virtual-time", "--retries", "2", "--port", "COM1=sim", "3", "7"}},
      {{"send", "--simulate", "--virtual-time", "--copies=2", "FF", "00"},
       {"send", "--simulate", "--virtual-time", "--copies", "2", "FF", "00"}},
      {{"encode", "--fixed=IdleStream"}, {"encode", "--fixed", "IdleStream"}},
      {{"encode", "--", "FF", "00"}, {"encode", "FF", "00"}},
      {{"curve", "-h"}, {"curve", "--help"}},
      {{"read", "-h"}, {"read", "--help"}},
      {{"ports", "-h"}, {"ports", "--help"}},
      {{"decode", "--", "-1"}, {}, "qarn2-cli: decode: '-1' is not a hex byte\n"},
      {{"decode", "-1"}, {}, "qarn2-cli: decode: unknown option '-1'\n"},
      {{"read", "--simul", "29"}, {}, "qarn2-cli: read: unknown option '--simul'\n"},
      {{"read", "--bogus=1", "29"}, {}, "qarn2-cli: read: unknown option '--bogus=1'\n"},
      {{"read", "--simulate=yes", "29"}, {}, "qarn2-cli: read: --simulate takes no value\n"},
      {{"send", "FF", "00", "--copies"}, {}, "qarn2-cli: send: --copies needs a number\n"},
      {{"ports", "--trace=1"}, {}, "qarn2-cli: ports: --trace takes no value\n"},
      {{"--versions"}, {}, "qarn2-cli: unknown option '--versions' (see --help)\n"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& arg : c.args) line += arg + " ";
    SCOPED_TRACE(line);
    const Result result = RunCli(c.args);
    if (c.same_as.empty()) {
      EXPECT_EQ(result.status, kExitUsage);
      EXPECT_EQ(result.err, c.err);
      continue;
    }
    const Result expected = RunCli(c.same_as);
    EXPECT_EQ(result.status, expected.status);
    EXPECT_EQ(result.out, expected.out);
    EXPECT_EQ(result.err, expected.err);
    EXPECT_NE(result.out + result.err, "");
  }
  // The version from the build: "qarn2-cli X.Y".
  const Result version = RunCli({"--version"});
  EXPECT_EQ(version.status, kExitOk);
  EXPECT_THAT(version.out, ::testing::MatchesRegex("qarn2-cli [0-9]+\\.[0-9]+\n"));
}

}  // namespace
}  // namespace qarn2::cli
