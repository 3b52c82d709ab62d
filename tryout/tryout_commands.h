#pragma once

#include <string>

#include "encoding/fixed_streams.h"
#include "link/track_link.h"
#include "programming/program_state.h"
#include "tryout/tryout_packets.h"

namespace qarn2::tryout {

// The three try-outs that share one panel.
enum class TryOutKind { kLocomotive, kTurnout, kFunction };

// What the try-outs show. The window implements it with its panel `Steuerbox`; every
// method does nothing unless overridden.
class TryOutView {
 public:
  virtual ~TryOutView() = default;
  // The window's HideAllPanels, which also hides the try-out panel (the commands set
  // AbortFlag themselves).
  virtual void HideAllPanels() {}
  // Shows the panel with the controls of `kind` and `address_label` ("Lokadresse",
  // "WeichenNr", "Adresse") before the address entry.
  virtual void ShowTryOutPanel(TryOutKind /*kind*/, const std::string& /*address_label*/) {}
  // Checks "14 Speedsteps" as the program does: when it was not checked, its handler
  // runs (ChooseSpeedSteps(14)).
  virtual void CheckSpeedButton14() {}
  // The address entry's text, with the keyboard focus; or the entry cleared.
  virtual void SetAddressEntry(const std::string& /*text*/) {}
  virtual void ClearAddressEntry() {}
  // The turnout box: its caption, and whether it is shown.
  virtual void SetTurnoutCaption(const std::string& /*text*/) {}
  virtual bool TurnoutBoxShown() const { return false; }
  // The regulator's range: the maximum first, then the minimum. A position outside is
  // clamped, and the clamping runs the regulator's handler (RegulatorChanged).
  virtual void SetRegulatorRange(int /*minimum*/, int /*maximum*/) {}
  // The regulator's position as shown beside it ("-7", "0", "12").
  virtual void ShowRegulatorPosition(const std::string& /*text*/) {}
  // Hides the panel and its controls (HideTryOutPanel).
  virtual void HideTryOutPanel() {}
};

// The locomotive, turnout and function decoder try-outs: the packets they keep on the
// track as the repeated background stream, the turnout packets, and the state they
// share (kept between openings). LocoAddress and SpeedSteps are the program's shared
// values; the rest lives here. Serial port errors leave a command as the port's
// exceptions, with the state as far as it was set.
class TryOutCommands {
 public:
  TryOutCommands(link::TrackLink& link, const encoding::FixedStreams& streams,
                 programming::ProgramState& state, TryOutView& view);

  // Where the try-outs show what they do from now on.
  void SetView(TryOutView& view) { view_ = &view; }

  // Opening: track power cycled (not with the LGB interface), all panels hidden, the
  // panel shown, idle packets as background, then the try-out stream.
  void OpenLocomotiveTryOut();
  void OpenTurnoutTryOut();
  void OpenFunctionTryOut();
  // Enter in the address entry: 0..127 becomes LocoAddress (the turnout box's caption
  // follows); anything else clears the entry. Nothing is sent.
  void EnterAddress(const std::string& text);
  // The speed-step buttons: the new mode and the regulator's range (-steps..steps).
  void ChooseSpeedSteps(int steps);
  // The regulator moved to `position` (-28..28): speed, direction, the label, sent.
  void RegulatorChanged(int position);
  // "F0/FL (Licht)" and "F1".."F12" (n = 1..12) clicked: stored and sent.
  void SetLight(bool on);
  void SetFunction(int n, bool on);
  // "links" or "rechts" chosen: five copies of the turnout's packet (none for turnout 0
  // or with the LGB interface).
  void ChooseTurnout(bool links);
  // "Ende": eight resets as background, the panel hidden, track power off.
  void End();

  // Builds the four packets, writes their stream once and makes it the background.
  // In the turnout try-out the speed is always stop.
  void SendTryOutPackets();

  int RegulatorPosition() const { return regulator_position_; }
  const DriveState& Drive() const { return drive_; }

 private:
  void Open(TryOutKind kind, const std::string& address_label);

  link::TrackLink& link_;
  const encoding::FixedStreams& streams_;
  programming::ProgramState& state_;
  TryOutView* view_;
  int regulator_position_ = 0;
  DriveState drive_;
  TryOutKind open_kind_ = TryOutKind::kLocomotive;  // the try-out opened last  // speed_steps mirrors the shared SpeedSteps when sent
};

}  // namespace qarn2::tryout
