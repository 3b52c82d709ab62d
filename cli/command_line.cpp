#include "cli/command_line.h"

#include <charconv>
#include <exception>
#include <istream>
#include <optional>
#include <ostream>
#include <string_view>
#include <span>
#include <utility>
#include <vector>

#include "encoding/hex_text.h"
#include "cli/decoder_commands.h"
#include "cli/definition_commands.h"
#include "cli/curve_command.h"
#include "cli/jmri_commands.h"
#include "cli/print_command.h"
#include "cli/ports_command.h"
#include "cli/track_commands.h"
#include "cli/track_options.h"
#include "encoding/fixed_streams.h"
#include "encoding/serial_encoder.h"
#include "encoding/stream_decoder.h"

namespace qarn2::cli {

using encoding::AppendHex;
using encoding::HexParse;
using encoding::ParseHexBytes;
using encoding::ParseHexBytesInto;
using encoding::ToHex;
namespace {

namespace enc = qarn2::encoding;

constexpr int kExitInternal = 3;
// Batch output is handed on in blocks of this size, never line by line.
constexpr std::size_t kBatchFlushBytes = 1 << 16;

int Fail(std::ostream& err, int status, const std::string& message) {
  err << "qarn2-cli: " << message << '\n';
  return status;
}

// The arguments after the command name: options and plain operands.
struct CommandArgs {
  bool help = false;
  bool service = false;
  bool batch = false;
  std::optional<std::string> fixed;
  std::vector<std::string> operands;
  std::string error;  // the first problem with the arguments, if any
};

// Options not in `allowed` (e.g. "service batch fixed") are errors.
CommandArgs ParseCommandArgs(std::span<const std::string> args,
                             std::string_view allowed) {
  CommandArgs parsed;
  std::vector<cmdline::LongOption> options;
  for (const cmdline::LongOption& option :
       {cmdline::LongOption{"service", false}, {"batch", false}, {"fixed", true}}) {
    if (allowed.find(option.name) != std::string_view::npos) options.push_back(option);
  }
  CommandScan scan = ScanCommand(args, options, [&](std::string_view name, const std::string& value) {
    if (name == "service") parsed.service = true;
    if (name == "batch") parsed.batch = true;
    if (name == "fixed") parsed.fixed = value;
    return std::string();
  });
  parsed.help = scan.help;
  parsed.operands = std::move(scan.operands);
  parsed.error = std::move(scan.error);
  return parsed;
}

// How a missing value is named in the message.
std::string MissingValue(const std::string& option) {
  static constexpr std::pair<std::string_view, std::string_view> kWhat[] = {
      {"--fixed", "a stream name"}, {"--copies", "a number"}, {"--out", "a file name"},
      {"--pdf", "a file name"},     {"--id", "a name"},
  };
  for (const auto& [name, what] : kWhat) {
    if (option == name) return option + " needs " + std::string(what);
  }
  return option + " needs a value";
}

std::string JoinOperands(const std::vector<std::string>& operands) {
  std::string text;
  for (const std::string& operand : operands) {
    if (!text.empty()) text += ' ';
    text += operand;
  }
  return text;
}

enc::SerialStream EncodePacket(const enc::Packet& packet, bool service) {
  return service ? enc::EncodeServicePacket(packet)
                 : enc::EncodeOperationsPacket(packet);
}

std::string PacketSizeProblem(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes") +
         " given, a packet has 2 or 3 (without the check byte)";
}

int EncodeFixed(const std::string& name, std::ostream& out, std::ostream& err) {
  const enc::FixedStreams fixed = enc::MakeFixedStreams();
  const std::pair<const char*, const enc::SerialStream*> streams[] = {
      {"IdleStream", &fixed.IdleStream},
      {"ResetStream", &fixed.ResetStream},
      {"LongResetStream", &fixed.LongResetStream},
      {"PagePresetStream", &fixed.PagePresetStream},
      {"ResetBurst", &fixed.ResetBurst},
  };
  for (const auto& [stream_name, stream] : streams) {
    if (name == stream_name) {
      out << ToHex(*stream) << '\n';
      return kExitOk;
    }
  }
  return Fail(err, kExitUsage,
              "encode: unknown fixed stream '" + name +
                  "' (IdleStream, ResetStream, LongResetStream, PagePresetStream, "
                  "ResetBurst)");
}

int EncodeBatch(bool service, std::istream& in, std::ostream& out, std::ostream& err) {
  std::string line;
  std::string bad_token;
  enc::Packet packet;
  std::string buffer;
  buffer.reserve(kBatchFlushBytes + 256);
  std::size_t line_number = 0;
  auto fail = [&](const std::string& problem) {
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    return Fail(err, kExitUsage,
                "encode --batch: line " + std::to_string(line_number) + ": " + problem);
  };
  while (std::getline(in, line)) {
    ++line_number;
    std::string_view text = line;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (!ParseHexBytesInto(text, &packet, &bad_token)) {
      return fail("'" + bad_token + "' is not a hex byte");
    }
    if (packet.size() != 2 && packet.size() != 3) {
      return fail(PacketSizeProblem(packet.size()));
    }
    try {
      AppendHex(EncodePacket(packet, service), &buffer);
    } catch (const enc::EncoderError& refused) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      return Fail(err, kExitDataError,
                  "encode --batch: line " + std::to_string(line_number) +
                      ": cannot encode " + refused.what());
    }
    buffer.push_back('\n');
    if (buffer.size() >= kBatchFlushBytes) {
      out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
  out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  return kExitOk;
}

int RunEncode(std::span<const std::string> args, std::istream& in, std::ostream& out,
              std::ostream& err) {
  const CommandArgs parsed = ParseCommandArgs(args, "service batch fixed");
  if (!parsed.error.empty()) return Fail(err, kExitUsage, "encode: " + parsed.error);
  if (parsed.help) {
    out << HelpText();
    return kExitOk;
  }
  if (parsed.fixed) {
    if (parsed.service || parsed.batch || !parsed.operands.empty()) {
      return Fail(err, kExitUsage,
                  "encode: --fixed takes only the stream name, no other options or "
                  "bytes");
    }
    return EncodeFixed(*parsed.fixed, out, err);
  }
  if (parsed.batch) {
    if (!parsed.operands.empty()) {
      return Fail(err, kExitUsage,
                  "encode: --batch reads packets from standard input, not from the "
                  "command line");
    }
    return EncodeBatch(parsed.service, in, out, err);
  }
  const HexParse bytes = ParseHexBytes(JoinOperands(parsed.operands));
  if (!bytes.ok()) {
    return Fail(err, kExitUsage, "encode: '" + bytes.bad_token + "' is not a hex byte");
  }
  if (bytes.bytes.size() != 2 && bytes.bytes.size() != 3) {
    return Fail(err, kExitUsage, "encode: " + PacketSizeProblem(bytes.bytes.size()));
  }
  try {
    out << ToHex(EncodePacket(bytes.bytes, parsed.service)) << '\n';
  } catch (const enc::EncoderError& refused) {
    return Fail(err, kExitDataError,
                std::string("encode: cannot encode ") + refused.what());
  }
  return kExitOk;
}

void PrintDecoded(const enc::StreamDecode& decoded, std::ostream& out) {
  out << "bits " << decoded.bits << '\n';
  for (std::size_t i = 0; i < decoded.packets.size(); ++i) {
    const enc::DecodedPacket& packet = decoded.packets[i];
    out << "packet " << i + 1 << " at bit " << packet.start_bit + 1 << ": preamble "
        << packet.preamble << ", bytes " << ToHex(packet.bytes) << ", check byte "
        << (packet.check_right ? "right" : "wrong") << '\n';
  }
  // Without a structural error the decoder has counted the filler bits.
  if (decoded.ok() || decoded.error->kind == enc::StreamErrorKind::kWrongCheckByte) {
    out << "trailing 1 bits: " << decoded.trailing_ones << '\n';
  }
}

int RunDecode(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  const CommandArgs parsed = ParseCommandArgs(args, "service");
  if (!parsed.error.empty()) return Fail(err, kExitUsage, "decode: " + parsed.error);
  if (parsed.help) {
    out << HelpText();
    return kExitOk;
  }
  const HexParse bytes = ParseHexBytes(JoinOperands(parsed.operands));
  if (!bytes.ok()) {
    return Fail(err, kExitUsage, "decode: '" + bytes.bad_token + "' is not a hex byte");
  }
  if (bytes.bytes.empty()) {
    return Fail(err, kExitUsage, "decode: no characters given");
  }
  const std::string stream(bytes.bytes.begin(), bytes.bytes.end());
  const enc::StreamDecode decoded = enc::DecodeSerialStream(stream, parsed.service);
  PrintDecoded(decoded, out);
  if (!decoded.ok()) {
    return Fail(err, kExitDataError, "decode: " + decoded.error->message);
  }
  return kExitOk;
}

}  // namespace

CommandScan ScanCommand(std::span<const std::string> args, std::span<const cmdline::LongOption> options,
                        const std::function<std::string(std::string_view name, const std::string& value)>& take,
                        bool help_ends) {
  // Ends the scan at --help without a problem.
  static const std::string kHelpSeen = "\n";
  std::vector<cmdline::LongOption> all(options.begin(), options.end());
  all.push_back({"help", false});
  CommandScan result;
  cmdline::Scan scan = cmdline::ScanOptions(args, all, [&](std::string_view name, const std::string& value) {
    if (name != "help") return take(name, value);
    result.help = true;
    return help_ends ? kHelpSeen : std::string();
  });
  if (!scan.unknown.empty()) {
    result.error = "unknown option '" + scan.unknown + "'";
  } else if (!scan.missing_value.empty()) {
    result.error = MissingValue(scan.missing_value);
  } else if (!scan.extra_value.empty()) {
    result.error = scan.extra_value + " takes no value";
  } else if (scan.error != kHelpSeen) {
    result.error = std::move(scan.error);
  }
  result.operands = std::move(scan.operands);
  return result;
}

std::optional<int> DecimalArgument(std::string_view text, int low, int high) {
  int number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || text[0] == '-' || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  if (number < low || number > high) return std::nullopt;
  return number;
}

std::string HelpText() {
  return R"(qarn2-cli - DCC decoder service tool, command-line front end

Usage:
  qarn2-cli encode [--service] HEX...
      Serial characters (19200 bit/s 8N1) that put one DCC packet on the track.
      HEX... are the 2 or 3 packet bytes without the check byte, e.g. FF 00.
      Prints the characters as hex pairs on one line. --service puts the packet
      behind a 20-bit preamble instead of 10 bits.
  qarn2-cli encode --batch [--service]
      Reads one packet per line from standard input (hex bytes separated by
      blanks) and prints one stream per line.
  qarn2-cli encode --fixed NAME
      Prints a fixed stream: IdleStream, ResetStream, LongResetStream,
      PagePresetStream or ResetBurst.
  qarn2-cli decode [--service] HEX...
      Decodes serial characters the way a decoder on the track sees them:
      prints the DCC bits, one line per packet (preamble length, bytes, check
      byte right or wrong) and the '1' bits after the last packet. Any fault
      (character outside the encoder's alphabet, unequal or out-of-window
      half-bits, preamble shorter than 10 bits or 20 with --service, wrong
      check byte, stream ending inside a packet) is reported on one line.
)" + SendUsage() + DecoderCommandsUsage() + PrintUsage() + CurveUsage() + JmriUsage() + DefinitionUsage() + PortsUsage() + R"(  qarn2-cli --help, -h
      This text.
  qarn2-cli --version
      The tool's name and version.

An option's value may also follow an equals sign (--mode=dio); "--" ends a
command's options, so that an operand may begin with "-".

)" + ModeOptionHelp() + "\n" + TrackOptionsHelp() + R"(
Exit status: 0 success; 1 the decoded stream is faulty, the encoder has no serial
characters for the packet, a CV could not be read, the decoder did not acknowledge,
(compare) a CV differs from the sheet or cannot be read, (definitions) no decoder
file could be read, or (import-jmri, sheet-from-definition) the text holds characters
the sheet cannot and --lossy was not given; 2 bad arguments or input, or a file that
cannot be read or written; 3 the port failed (send, read, write, read-all, write-all,
compare, identify, reset), or an internal error.
)";
}

int RunCommandLine(std::span<const std::string> args, std::istream& in,
                   std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out << HelpText();
    return kExitOk;
  }
  if (args[0] == "--version") {
    out << cmdline::VersionLine("qarn2-cli") << '\n';
    return kExitOk;
  }
  const std::string& command = args[0];
  const auto rest = args.subspan(1);
  try {
    if (command == "encode") return RunEncode(rest, in, out, err);
    if (command == "decode") return RunDecode(rest, out, err);
    if (command == "send") return RunSend(rest, out, err);
    if (command == "read") return RunRead(rest, out, err);
    if (command == "write") return RunWrite(rest, out, err);
    if (command == "read-all") return RunReadAll(rest, out, err);
    if (command == "write-all") return RunWriteAll(rest, out, err);
    if (command == "reset") return RunReset(rest, out, err);
    if (command == "compare") return RunCompare(rest, out, err);
    if (command == "print") return RunPrint(rest, out, err);
    if (command == "curve") return RunCurve(rest, out, err);
    if (command == "import-jmri") return RunImportJmri(rest, out, err);
    if (command == "export-jmri") return RunExportJmri(rest, out, err);
    if (command == "ports") return RunPorts(rest, out, err);
    if (command == "definitions") return RunDefinitions(rest, out, err);
    if (command == "identify") return RunIdentify(rest, out, err);
    if (command == "sheet-from-definition") return RunSheetFromDefinition(rest, out, err);
  } catch (const std::exception& fault) {
    return Fail(err, kExitInternal, "internal error: " + std::string(fault.what()));
  }
  if (command.size() > 1 && command[0] == '-') {
    return Fail(err, kExitUsage, "unknown option '" + command + "' (see --help)");
  }
  return Fail(err, kExitUsage, "unknown command '" + command + "' (see --help)");
}

}  // namespace qarn2::cli
