#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encoding/fixed_streams.h"
#include "link/track_link.h"
#include "programming/program_state.h"
#include "programming/programming_methods.h"
#include "programming/sheet_lines.h"

namespace qarn2::programming {

// What the CV commands show. The window implements it with its CV box (`GroupCVRW`
// with `CVLabel1`, `CVedit`, `CVResult`, `CVRWEnde`), its menu and `Resetbox`; the
// command-line tool with its progress on standard error. Texts are Windows-1252.
// Every method does nothing unless overridden.
class CvCommandsView {
 public:
  virtual ~CvCommandsView() = default;
  // The window's HideAllPanels (the commands set AbortFlag themselves).
  virtual void HideAllPanels() {}
  // Shows the CV box with `caption`; with the entry field (which then takes the
  // focus) for the single-CV commands, without it for the whole-sheet commands.
  virtual void ShowCvBox(const std::string& /*caption*/, bool /*with_entry*/) {}
  virtual void HideCvBox() {}
  virtual void SetCvBoxCaption(const std::string& /*text*/) {}
  virtual void SetCvPrompt(const std::string& /*text*/) {}  // CVLabel1
  virtual void SetCvResult(const std::string& /*text*/) {}  // CVResult, progress included
  virtual void ClearCvEntry() {}
  // "schreibealleCVs" and "Kennlinie" follow the sheet.
  virtual void SetMenuItemEnabled(std::string_view /*name*/, bool /*enabled*/) {}
  virtual void ShowResetBox(bool /*shown*/) {}
  // A CV command has started or ended: what a running one refuses (another sheet, the
  // whole-sheet commands, the factory reset) is not offered meanwhile.
  virtual void CommandRunning(bool /*running*/) {}
};

// One CV of a whole-sheet command, as it ended.
struct CvOutcome {
  int cv = 0;
  int value = -1;   // what was read (-1: nothing), or what was to be written
  bool ok = false;  // read, or acknowledged (and read back alike where asked)
  int tries = 0;    // 0: not tried (a value above 255 is not written)
  bool verified = false;           // a read back was made
  std::optional<int> read_back;    // its value (nothing: not readable)
  int read_back_tries = 0;
  bool unreachable = false;        // the mode cannot reach this CV: nothing was sent
};

// How a whole-sheet command runs. The window's: one try per CV, nothing read back.
struct SheetRun {
  int retries = 0;      // further tries for a CV not read / not acknowledged (and for
                        // its read back)
  bool verify = false;  // writing: an acknowledged CV read back in the same mode
  std::function<void(const CvOutcome&)> report;  // each CV's outcome, in sheet order
};

// One CV line of "Vergleichen", as it ended.
struct CvComparison {
  enum class Result {
    kSame,         // the decoder confirmed the sheet's value, or read as it
    kDiffers,      // read as another value (in `decoder_value`)
    kNotReadable,  // not confirmed, and the read found no value
    kUnreachable,  // the mode cannot reach this CV: nothing was sent
  };
  int cv = 0;
  int sheet_value = 0;
  Result result = Result::kNotReadable;
  std::optional<int> decoder_value;  // what was read (only where the verify was not confirmed)
  int reads = 0;                     // the tries of that read; 0 when the verify settled it
};

// What "Vergleichen" found, line by line in sheet order (lines without a value are
// not compared and not listed).
struct SheetComparison {
  std::vector<CvComparison> lines;
  // A value the sheet does not hold was confirmed as well: the decoder (or something
  // on the track) acknowledges whatever it is asked, and no line was compared.
  bool acknowledges_anything = false;
  // "ENDE" (or another panel) stopped it: the lines after the last listed one were
  // not compared.
  bool stopped = false;
  int Differences() const;
  // Lines that are not the same: differing, not readable, unreachable.
  int Failures() const;
};

// A line that is not the same as "Vergleichen" shows it ("CV 5: Blatt 255, Decoder
// 100", "CV 7: Blatt 5, Decoder nicht lesbar", "CV 9: Blatt 1, in reg nicht
// erreichbar"); empty for one that is. Windows-1252.
std::string ComparisonText(const CvComparison& line, const std::string& mode);
// The count "Vergleichen" ends with ("0 Unterschiede zum Blatt", "1 Unterschied zum
// Blatt, 2 CV nicht lesbar", after "ENDE" "abgebrochen: 0 Unterschiede zum Blatt"),
// or why nothing could be compared.
std::string ComparisonEndText(const SheetComparison& comparison);

// The user's CV commands on top of the programming methods: the CV box that reads and
// writes single CVs, reading and writing every CV of the decoder sheet, the sheet
// scan for the speed table and the menu, and the factory reset.
//
// Everything runs on the user-interface thread; the waits handle events, so another
// command can start inside a running one. A CV command started while one is waiting
// is refused (nothing is sent, the running one goes on); opening a panel or "ENDE"
// sets AbortFlag, which stops a running scan. Serial port errors leave a command as
// the port's exceptions.
class CvCommands {
 public:
  CvCommands(link::TrackLink& link, const encoding::FixedStreams& streams, ProgramState& state,
             CvCommandsView& view);

  // Where the commands show what they do from now on.
  void SetView(CvCommandsView& view) { view_ = &view; }
  ServiceModeProgrammer& Programmer() { return programmer_; }
  // A CV command is running (waiting).
  bool Busy() const { return busy_; }

  // --- The CV box.
  // Opens the box for reading or writing: all panels hidden, the prompt for the CV
  // number; unless the LGB interface is chosen, DTR raised and one reset packet sent.
  void OpenCvBox(bool writing);
  // Enter in the entry field or in the sheet, with the entry field's text.
  void EnterInCvBox(const std::string& entry);
  // "ENDE": stops a running scan, hides the box, drops DTR.
  void EndCvBox();
  // Read CvNumber and show it; CV 1 read sets LocoAddress (a value 0..127).
  void ReadCvAndShow();
  // Write CvValue into CvNumber and show the outcome; CV 1 sets LocoAddress first
  // (a value 0..127).
  void WriteCvAndShow();
  bool CvBoxWriting() const { return writing_; }
  bool CvBoxAwaitingValue() const { return awaiting_value_; }

  // --- The whole sheet. Each returns the number of CVs not read / not acknowledged
  // (nullopt when refused because another CV command is running).
  // A CV that fails is tried again up to `run.retries` times, each try as the mode
  // prescribes, the prompt saying which try it is.
  std::optional<int> ReadAllCvs(SheetLines& sheet, const SheetRun& run = {});
  std::optional<int> WriteAllCvs(SheetLines& sheet, const SheetRun& run = {});
  // Compares every CV line with a value with the decoder, changing neither: one
  // verify of the line's value (ServiceModeProgrammer::VerifyCv); where it is not
  // confirmed, the CV is read in the mode (tried up to 1 + `retries` times) and a
  // difference shown as "CV n: Blatt x, Decoder y". A decoder that acknowledges
  // every packet would confirm any value, so before the first line and after the
  // last confirmed one a value the sheet does not hold is verified as well; when
  // the decoder confirms it, no line counts as the same.
  std::optional<SheetComparison> CompareAllCvs(const SheetLines& sheet, int retries = 0);
  // Fills SpeedTable from the sheet and enables "schreibealleCVs" and "Kennlinie" as
  // the sheet says.
  void ScanSheet(const SheetLines& sheet);

  // --- Factory reset.
  // DTR raised, the repeated resets made eight in a row, the question shown.
  void OfferFactoryReset();
  // "Ja": CV 8 := 8 by register mode, three times; after 5 ticks DTR dropped. False when
  // refused because another CV command is running (the question stays).
  bool ConfirmFactoryReset();
  // "ne, doch nicht": only the question goes.
  void DeclineFactoryReset();

 private:
  // Marks a CV command running for its lifetime.
  class BusyScope;
  // The reset packets made the repeated background stream (not with the LGB
  // interface, which repeats nothing).
  void ResetsAsBackground();
  void RaiseTrackPowerWithReset();
  // The common start of reading and writing all CVs: track power and a reset, all
  // panels hidden, the box shown without its entry field.
  void StartSheetCommand(bool writing, const std::string& caption);
  void TakeLocoAddress(int value);
  // Where sheet line `cv` is reached: SheetLineAddress in the current mode, the CV
  // itself through a DCC-EX station.
  int SheetAddress(int cv) const;
  // Reads sheet line `cv` through `address` (see SheetLineAddress), tried up to
  // 1 + run.retries times, each counted in `tries`; the prompt names the CV and
  // `purpose`. Whether it was read (the value in CvValue).
  bool ReadTrying(int cv, int address, const std::string& purpose, const SheetRun& run, int& tries);
  // Verifies `value` in sheet line `cv` through `address`: whether it was confirmed.
  bool VerifyValue(int cv, int address, int value);

  link::TrackLink& link_;
  const encoding::FixedStreams& streams_;
  ProgramState& state_;
  CvCommandsView* view_;
  ServiceModeProgrammer programmer_;
  bool writing_ = false;          // CvBoxWriting
  bool awaiting_value_ = false;   // CvBoxAwaitingValue
  bool busy_ = false;
};

}  // namespace qarn2::programming
