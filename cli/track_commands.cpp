#include "cli/track_commands.h"

#include <ostream>

#include "cli/command_line.h"
#include "cli/decoder_commands.h"
#include "encoding/hex_text.h"
#include "cli/track_options.h"
#include "encoding/serial_encoder.h"
#include "link/hardware_kind.h"
#include "serial/com_error.h"

namespace qarn2::cli {

using encoding::HexParse;
using encoding::ParseHexBytes;
namespace {

int Fail(std::ostream& err, int status, const std::string& message) {
  err << "qarn2-cli: send: " << message << '\n';
  return status;
}

}  // namespace

std::string SendUsage() {
  return R"(  qarn2-cli send [--service] [--copies N] [TRACK OPTIONS] HEX...
      Sends one packet to the programming track as the programming board does:
      port at 19200 bit/s 8N1, track power on (DTR), reset packets in between,
      then N copies (default 5) of the packet, and waits 40 ms for the decoder's
      acknowledge on RI. Prints "acknowledged" (exit 0) or "no acknowledge"
      (exit 1); exit 3 when the port fails. Example, verify CV 29 bit 2 = 1:
      send --service 78 1C EA
)";
}

int RunSend(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  TrackOptions options;
  bool service = false;
  int copies = 5;
  std::string operands;
  const CommandScan scan = ScanCommand(
      args, WithTrackOptions({{"service", false}, {"copies", true}}),
      [&](std::string_view name, const std::string& value) {
        std::string error;
        if (TakeTrackOption(name, value, options, error)) return error;
        if (name == "service") service = true;
        if (name == "copies") {
          const std::optional<int> number = DecimalArgument(value, 1, 100);
          if (!number) return "--copies takes a number from 1 to 100, not '" + value + "'";
          copies = *number;
        }
        return std::string();
      },
      true);
  if (scan.help) {
    out << "Usage:\n" << SendUsage() << '\n' << TrackOptionsHelp();
    return kExitOk;
  }
  if (!scan.error.empty()) return Fail(err, kExitUsage, scan.error);
  for (const std::string& operand : scan.operands) operands += operand + " ";
  const HexParse bytes = ParseHexBytes(operands);
  if (!bytes.ok()) return Fail(err, kExitUsage, "'" + bytes.bad_token + "' is not a hex byte");
  if (bytes.bytes.size() != 2 && bytes.bytes.size() != 3) {
    return Fail(err, kExitUsage, std::to_string(bytes.bytes.size()) +
                                     " bytes given, a packet has 2 or 3 (without the check byte)");
  }
  const encoding::Packet packet(bytes.bytes.begin(), bytes.bytes.end());
  std::string burst;
  try {
    const std::string stream =
        service ? encoding::EncodeServicePacket(packet) : encoding::EncodeOperationsPacket(packet);
    for (int i = 0; i < copies; ++i) burst += stream;
  } catch (const encoding::EncoderError& e) {
    return Fail(err, kExitDataError, e.what());
  }

  std::unique_ptr<engine::Engine> engine;
  try {
    engine = OpenEngine(options);
  } catch (const std::exception& e) {
    return Fail(err, kExitUsage, e.what());
  }
  int status = kExitOk;
  try {
    // As a service-mode method does it: resets first, RTS up, the burst, the
    // acknowledge window, RTS down; then the track without power once the line
    // has drained.
    link::TrackLink& link = engine->Link();
    engine->SetUpHardware(link::kBoard);
    link.RestartBackground();
    link.WaitTicks(2);
    link.SetRTS(true);
    link.ClearAcknowledges();
    engine->Port().WriteText(burst);
    link.AwaitAcknowledge();
    link.SetRTS(false);
    out << (link.AckResult ? "acknowledged" : "no acknowledge") << '\n';
    status = link.AckResult ? kExitOk : kExitDataError;
    link.PowerOffWhenDrained();
  } catch (const serial::EComPort& e) {
    const std::string advice = engine->Advice(e);
    status = Fail(err, kExitPortError, std::string(e.what()) + (advice.empty() ? "" : "\n  " + advice));
  }
  if (options.trace) engine->PrintTrace(out);
  try {
    engine->SaveDecoder();
  } catch (const std::exception& e) {
    return Fail(err, kExitUsage, std::string("--sim-decoder: ") + e.what());
  }
  return status;
}

}  // namespace qarn2::cli
