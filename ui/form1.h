#pragma once

#include <QMainWindow>

#include <memory>
#include <optional>
#include <string>

#include "engine/engine.h"
#include "link/track_link.h"
#include "serial/com_port.h"
#include "ui/cv_box.h"
#include "ui/file_dialogs.h"
#include "ui/form1_layout.h"
#include "ui/handler_guard.h"
#include "ui/port_devices_dialog.h"
#include "programming/program_state.h"
#include "tryout/tryout_commands.h"

class QRadioButton;

namespace qarn2::curve {
class CurveEditor;
}

namespace qarn2::ui {

class CurvePanel;
class HardwarePanel;
class MainMenu;
class ModePanel;
class PortPanel;
class SheetFiles;
class SheetPane;
class TrackLogWindow;
class CompareResult;
class TryOutPanel;

// The program's one window: the decoder sheet, the mode line, the menu bar, and the
// panels that lie hidden over the sheet and are shown one at a time by the commands.
// The window only builds its controls and hands every command to the engine, which
// it does not own.
class TForm1 : public QMainWindow {
 public:
  // `engine` lives longer than the window; `sink` shows error messages (UTF-8). The
  // menu "Datei" asks `dialogs`, the system's own dialogs when none are given.
  TForm1(engine::Engine& engine, MessageSink sink, std::unique_ptr<FileDialogs> dialogs = nullptr);
  ~TForm1() override;

  // What happens between building the window and showing it: the port opens as its
  // settings say (COM1), then FormCreate. Its waits (1.2 s) handle events meanwhile.
  void Start();
  // The decoder file named on the command line, opened as "Decoderdatei öffnen" opens
  // the chosen one; what fails is shown as there.
  void OpenAtStart(const std::string& path);
  // JMRI's folder for the decoder definitions (--jmri); else the usual places.
  void SetDefinitionsFolder(const std::string& folder) { definitions_folder_ = folder; }
  // Shows the window with its outer size of 696 x 480, centred on the screen.
  void ShowCentred();

  programming::ProgramState& State() { return engine_.State(); }
  // The decoder file's name with its full path; empty until one is chosen.
  const std::string& DecoderFileName() const;

  // --- Handlers.
  void FormCreate();
  // The decoder files ("Decoderdatei öffnen" and "Decoder wählen" alike).
  void OeffnenDecoderClick();
  void SpeichernDecoderClick();
  void SpeichernunterDecoderClick();
  void Druckereinrichten1Click();
  void druckenDecoderClick();
  // "JMRI-Roster importieren..." and "JMRI-Roster exportieren...".
  void JmriImportClick();
  void JmriExportClick();
  // "Protokoll": the track log's window, beside this one.
  void ProtokollClick();
  void HideAllPanels();
  void ENDEClick();
  void berQARN3Click();
  void InfolabelClick();
  void AnschlsseClick();
  void Image1Click();
  void PortsClick();
  void ButtonCOM1Click();
  void ButtonCOM2Click();
  // "Geräte..." of the port panel: the dialog of the serial devices.
  void PortDevicesClick();
  // Where that dialog's devices come from (udev's when none is given).
  void SetPortSources(PortSourceFactory sources) { port_sources_ = std::move(sources); }
  void ProgmodewClick();
  // The handler of the mode panel's i-th button (ProgDirClick ... ProgrocClick).
  void ProgModeClick(std::size_t i);
  void HardwareWahlClick();
  // The hardware panel's buttons, one per HardwareKind 0..5.
  void ButtonQARNClick();
  void ButtonBoosterClick();
  void ButtonLGBClick();
  void ButtonLenzClick();
  void ButtonPR1Click();
  void ButtonDCCEXClick();
  // The CV commands.
  void leseCVClick();
  void SchreibeCVClick();
  void leseAlleCVsClick();
  // "CV auslesen" / "Vergleichen": the sheet against the decoder, neither changed.
  void vergleicheCVsClick();
  void schreibealleCVsClick();
  void CVRWEndeClick();
  // A key typed in the entry field `CVedit` or in the sheet `Decoder`: Enter runs the
  // CV box's step with the entry field's text while the box is shown.
  void CVeditKeyPress(int key);
  void Reset1Click();
  void ResetOKClick();
  void ResetNotClick();
  // "Erkennen" and "Decoderblatt aus Definition...": JMRI's decoder definitions.
  void Erkennen1Click();
  void DefinitionSheetClick();
  // The try-outs.
  void LokprobierClick();
  void WeicheprobierClick();
  void FunktionsdecprobierClick();
  // A key typed in the try-out's address entry `SteuerEdit`: Enter takes the address.
  void SteuerEditKeyPress(int key);
  void SpeedButton14Click();
  void SpeedButton28Click();
  void SpeedButton128Click();
  void ReglerChange();
  void FLcheckClick();
  // The handler of "F1" .. "F12" (n = 1..12).
  void FcheckClick(int n);
  void WeicheButton1Click();
  void WeicheButton2Click();
  void SteuerEndeButtonClick();
  // The speed curve editor.
  void KennlinieClick();
  // The handler of bar N (n = 1..28): ScrollBar1Change .. ScrollBar28Change.
  void ScrollBarChange(int n);
  // Bar N took the keyboard focus: ScrollBar1Enter .. ScrollBar28Enter.
  void ScrollBarEnter(int n);
  // The handler of the curve choice `mode` (0..4): KennlwahlEinzelClick ..
  // KennlwahlEClick.
  void KennlwahlClick(int mode);
  void KennOKClick();
  void KennNixClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Hands the keys of `CVedit` and `Decoder` to CVeditKeyPress, and those of
  // `SteuerEdit` to SteuerEditKeyPress, before the control takes them; the control
  // still gets every key, Enter included. A speed curve bar that takes the focus runs
  // its ScrollBarEnter.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ConnectMenu();
  void ConnectRadioButtons();
  // Runs `handler` whenever `button` becomes checked.
  void OnChecked(QRadioButton* button, std::function<void()> handler);
  // Checks `button` as the program does: its handler runs as part of the caller.
  void CheckByProgram(QRadioButton* button);
  // Unchecks the mode buttons, checks the one of ProgrammingMode (running its
  // handler), shows the mode in Label2.
  void ShowProgrammingMode();
  // What a choice of the hardware panel does: the wait, HardwareKind, the menu items
  // it switches, and the port set-up that goes with it.
  void ChooseHardware(int kind);
  // Ends "keine Verbindung zu LGB55045": the title as it was before.
  // The connection diagram of the hardware `kind`: the station's, or the board's wiring.
  void ShowDiagramFor(int kind);
  // The port panel's choice, and with a DCC-EX station the wait for its banner.
  void MovePortTo(const std::string& name);
  // Runs `wait` (a wait for the station) with its progress as the window's title,
  // which stays on the last text when the station did not answer.
  void TitleWhileWaitingForStation(
      const std::function<bool(const std::function<void(const std::string&)>&)>& wait);
  void PutTitleBack();
  // What the CV commands change in the window outside their box.
  CvBox::WindowHooks CvBoxHooks();
  // The CV box's button, the reset question's buttons, and Enter in CVedit and Decoder.
  void ConnectCvCommands();
  // The try-out panel's controls.
  void ConnectTryOut();
  // The speed curve panel's bars, choices and buttons.
  void ConnectCurveEditor();

  engine::Engine& engine_;
  serial::TComPort& port_;
  link::TrackLink& link_;
  programming::ProgramState& state_;
  HandlerGuard guard_;
  // The title before the LGB interface left its greeting unanswered; put back when a
  // later greeting is answered or other hardware is chosen.
  QString title_before_no_lgb_;

  std::unique_ptr<MainMenu> menu_;
  FormControls controls_{};
  std::unique_ptr<ModePanel> mode_panel_;
  std::unique_ptr<PortPanel> port_panel_;
  PortSourceFactory port_sources_;
  std::unique_ptr<HardwarePanel> hardware_panel_;
  std::unique_ptr<CvBox> cv_box_;
  std::unique_ptr<SheetPane> sheet_;
  std::unique_ptr<FileDialogs> dialogs_;
  std::unique_ptr<SheetFiles> sheet_files_;
  programming::CvCommands& cv_commands_;
  std::unique_ptr<TryOutPanel> tryout_panel_;
  std::unique_ptr<TrackLogWindow> track_log_;
  std::unique_ptr<CompareResult> compare_result_;
  tryout::TryOutCommands& tryout_;
  std::unique_ptr<CurvePanel> curve_panel_;
  // Runs ScanSheet through cv_commands_.
  std::unique_ptr<curve::CurveEditor> curve_editor_;
  std::optional<std::string> definitions_folder_;
};

}  // namespace qarn2::ui
