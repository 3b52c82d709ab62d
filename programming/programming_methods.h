#pragma once

#include <functional>
#include <string>

#include "encoding/bit_string.h"
#include "encoding/fixed_streams.h"
#include "link/track_link.h"

namespace qarn2::programming {

// The five programming modes by the names the mode line and the menus use.
inline constexpr const char* kProgrammingModes[] = {"dir", "dio", "reg", "pag", "roc"};
bool IsProgrammingMode(const std::string& mode);

// Where a decoder sheet's CV line is reached in `mode`. In "reg" and "roc" a line
// names a CV all the same: CVs 1..4 are registers 1..4, CV 29 is register 5, CVs 7 and
// 8 are registers 7 and 8, and any other CV cannot be reached (0), least of all
// through registers 5 and 6 (CV 29 and the page register). In the other modes the CV
// itself. (The CV box takes register numbers in those modes.)
int SheetLineAddress(const std::string& mode, int cv);

// Reads and writes one CV of the decoder on the programming track in service mode.
//
// Operands and results are the program's shared values: `CvNumber`, `AckFlag`,
// `AckResult` and `HardwareKind` of the track link, and the `ProgrammingMode`,
// `CvValue` and `AbortFlag` the caller owns and hands in by reference. A decoder can
// only confirm a guess, so a read sends verify packets (for candidate values or for
// single bits) until one is acknowledged. After every method `AckResult` is its
// outcome: true = value found (then in `CvValue`) or write confirmed.
//
// Every wait handles pending events, so the caller's window stays alive and can set
// `AbortFlag`, which ends a running scan. Serial port errors leave a method at once
// as the port's exceptions; nothing else is raised.
//
// CVs a mode cannot address (registers 1..8 for "reg" and "roc", 1..1024 otherwise,
// 1..255 through the LGB interface) are refused without sending anything: `AckResult`
// false, a write shows its failure. So are the modes other than "dir" and "dio" with
// the LGB interface, which knows no others.
class ServiceModeProgrammer {
 public:
  ServiceModeProgrammer(link::TrackLink& link,
                        const encoding::FixedStreams& streams, std::string& programming_mode,
                        int& cv_value, bool& abort_flag);

  // Progress and outcome texts for the CV box's result field ("teste 12 ",
  // "   Bit 3=1 ", "   bestätigt", "   Fehler "). Texts are Windows-1252.
  std::function<void(const std::string&)> ShowProgress;

  // Raise DTR (it stays raised) and run the current mode's read or write method.
  // A mode text that is none of the five sends nothing: not readable, not
  // acknowledged. Nothing is sent once AbortFlag is set.
  void ReadCv();
  void WriteCv();

  // The read methods: "dir" bit by bit, "dio" by candidate values (both the LGB
  // interface's read request when HardwareKind is 2), "reg" and "roc" through registers
  // 1..8, "pag" through the page register and data registers 1..4.
  void ReadDirectBits();
  void ReadDirectByte();
  void ReadRegister();
  void ReadPaged();
  void ReadOldLenzRoco();

  // The write methods; each ends by showing "   bestätigt" or "   Fehler ".
  void WriteDirectByte();
  void WriteRegister();
  void WritePaged();
  void WriteOldLenzRoco();

  // Does the decoder hold CvValue in CvNumber (a register number in "reg" and "roc",
  // as ReadCv takes it)? The answer is AckResult; CvValue stays as it was. This is
  // the one place where the whole-sheet comparison asks the decoder, so a back-end
  // with a verify of its own answers here. One verify as the mode makes it: "dir" and
  // "dio" a byte verify; "reg" the register's verify behind the page preset, "roc"
  // the same across its power-on; "pag" the page register, then the data register's
  // verify. The LGB interface has no verify: it reads the CV, and the answer is
  // whether that gave CvValue. A DCC-EX station verifies in its own way. Nothing is sent for a value above 255, nor where
  // ReadCv would send nothing.
  void VerifyCv();

 private:
  // Sends `copies` copies of `packet` back to back in one burst.
  void Send(const encoding::Packet& packet, int copies, link::TrackLink::Burst kind);
  void WriteText(const std::string& text);
  void Show(const std::string& text);
  // Lets the acknowledges of the last burst pass, then forgets them.
  void Settle();
  // Five page presets (page register := 1), their acknowledge let pass, the pause,
  // the flags cleared.
  void SendPagePreset();
  // The paged modes' page register write, with its acknowledge let pass; whether the
  // decoder acknowledged it.
  bool WritePageRegister(int page);
  // AbortFlag came during a wait before a write: the failure shown, RTS dropped.
  bool StoppedBeforeWrite();
  // What was written drains, then the track is without power for 200 ms, as for the
  // old register method's power-on; power comes back only if no "ENDE" came meanwhile.
  void PowerCycle();
  // One of the five modes; otherwise AckResult false.
  bool KnownMode();
  void ShowWriteOutcome();
  // False (and AckResult false) when the CV lies outside `low`..`high`.
  bool CvWithin(int low, int high);
  // The LGB interface knows only the direct modes ("dir", "dio"); false (and AckResult
  // false) for another mode with it.
  bool InterfaceTakesMode();
  // 1024, or 255 with the LGB interface, whose messages carry the CV in one byte.
  int LastDirectCv() const;

  // The verify scan of "dio", "reg", "pag" and "roc": raise RTS and clear the flags
  // (StartScan), then try the values 0..255 in rising order until one is acknowledged,
  // 255 has been tried or AbortFlag is set; drop RTS and wait the end of a read.
  void StartScan();
  void ScanCandidates(const std::function<encoding::Packet(int value)>& verify_packet);
  // One verify burst of `packet` within RTS, its acknowledge awaited (none once
  // AbortFlag is set).
  void VerifyOnce(const encoding::Packet& packet);

  // A DCC-EX station reads and writes CvNumber itself, in the method it chooses; its
  // problems are shown (no answer, garbled answer, -1).
  void StationReadCv();
  void StationWriteCv();
  void StationVerifyCv(int value);

  // The LGB interface's read and write requests for CvNumber.
  void LgbRead();
  void LgbSendWrite();

  link::TrackLink& link_;
  const encoding::FixedStreams& streams_;
  std::string& programming_mode_;
  int& cv_value_;
  bool& abort_flag_;
};

}  // namespace qarn2::programming
