#include "tryout/tryout_commands.h"

#include <cstdlib>

#include "encoding/serial_encoder.h"
#include "programming/sheet_lines.h"

namespace qarn2::tryout {
namespace {

constexpr int kTurnoutCopies = 5;
constexpr int kHighestAddress = 127;

}  // namespace

TryOutCommands::TryOutCommands(link::TrackLink& link, const encoding::FixedStreams& streams,
                               programming::ProgramState& state, TryOutView& view)
    : link_(link), streams_(streams), state_(state), view_(&view) {}

void TryOutCommands::Open(TryOutKind kind, const std::string& address_label) {
  open_kind_ = kind;
  link_.PowerCycle();  // nothing with the LGB interface
  state_.AbortFlag = true;
  view_->HideAllPanels();
  if (kind == TryOutKind::kTurnout) view_->SetTurnoutCaption("Weiche " + std::to_string(state_.LocoAddress));
  view_->ShowTryOutPanel(kind, address_label);
  if (kind == TryOutKind::kLocomotive) {
    view_->CheckSpeedButton14();  // runs ChooseSpeedSteps(14) when it was not checked
  } else {
    state_.SpeedSteps = 14;  // the buttons and the regulator stay as they are
  }
  view_->SetAddressEntry(std::to_string(state_.LocoAddress));
  link_.BackgroundStream = streams_.IdleStream;
  SendTryOutPackets();
}

void TryOutCommands::OpenLocomotiveTryOut() { Open(TryOutKind::kLocomotive, "Lokadresse"); }

void TryOutCommands::OpenTurnoutTryOut() { Open(TryOutKind::kTurnout, "WeichenNr"); }

void TryOutCommands::OpenFunctionTryOut() { Open(TryOutKind::kFunction, "Adresse"); }

void TryOutCommands::EnterAddress(const std::string& text) {
  const std::optional<int> number = programming::ParseInteger(text);
  if (!number || *number < 0 || *number > kHighestAddress) {
    view_->ClearAddressEntry();
    return;
  }
  state_.LocoAddress = *number;
  if (view_->TurnoutBoxShown()) view_->SetTurnoutCaption("Weiche " + std::to_string(*number));
}

void TryOutCommands::ChooseSpeedSteps(int steps) {
  state_.SpeedSteps = steps;
  view_->SetRegulatorRange(-steps, steps);
}

void TryOutCommands::RegulatorChanged(int position) {
  regulator_position_ = position;
  drive_.speed_step = std::abs(position);
  if (position > 0) drive_.forward = true;
  if (position < 0) drive_.forward = false;
  view_->ShowRegulatorPosition(std::to_string(position));
  SendTryOutPackets();
}

void TryOutCommands::SetLight(bool on) {
  drive_.light = on;
  SendTryOutPackets();
}

void TryOutCommands::SetFunction(int n, bool on) {
  if (n < 1 || n > 12) return;
  drive_.functions[n] = on;
  SendTryOutPackets();
}

void TryOutCommands::ChooseTurnout(bool links) {
  // Turnout 0 lies outside the numbering: its bytes would reach no turnout one named.
  const std::optional<encoding::Packet> packet = TurnoutPacket(state_.LocoAddress, links);
  if (!packet || link_.SpeaksMessages()) return;
  const std::string stream = encoding::EncodeOperationsPacket(*packet);
  std::string copies;
  for (int i = 0; i < kTurnoutCopies; ++i) copies += stream;
  link_.WriteAhead(copies);
}

void TryOutCommands::End() {
  link_.BackgroundStream = streams_.ResetBurst;
  view_->HideTryOutPanel();
  // Resets ahead of what the port still holds of the try-out's stream: a command that
  // powers the track right after must not bring that to the locomotive. (The LGB
  // interface carries no track signal.)
  if (!link_.SpeaksMessages()) link_.WriteAhead(streams_.ResetBurst);
  link_.SetDTR(false);
}

void TryOutCommands::SendTryOutPackets() {
  // A DCC-EX station would take the track signal's characters for commands.
  if (link_.HardwareKind == link::kDccEx) return;
  drive_.speed_steps = state_.SpeedSteps;
  DriveState sent = drive_;
  // The turnout try-out's address is a turnout number: a locomotive that answers to
  // it must not start moving. Its stream says stop (direction and functions as they
  // are).
  if (open_kind_ == TryOutKind::kTurnout) sent.speed_step = 0;
  const std::string stream = TryOutStream(state_.LocoAddress, sent, streams_.IdleStream);
  // The background first: the port asks for more while this write still goes out,
  // and what it is given then must already be the new stream, never the old one.
  link_.BackgroundStream = stream;
  // Ahead of the old stream still queued: the change is on the track at once.
  link_.WriteAhead(stream);
}

}  // namespace qarn2::tryout
