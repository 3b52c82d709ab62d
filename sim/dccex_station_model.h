#pragma once

// A DCC-EX command station as the far end of a USB serial line at 115200 bit/s 8N1:
// it takes the program's text commands and programs the same decoder model that the
// programming track uses, as a station would on its programming track.
//
// After a restart (the port's opening resets the board) the station boots for
// `boot_delay`, ignoring what it is sent meanwhile, then prints its banner. Commands
// and answers, each answer followed by a line end:
//   <s>               -> <iDCC-EX V-5.0.0 / MEGA / STANDARD_MOTOR_SHIELD G-SIM>
//   <R cv>            -> <r cv value>          -1 when no acknowledge came
//   <W cv value>      -> <r cv value>          -1 when the decoder refused it
//   <B cv bit 0|1>    -> <r cv bit 0|1>        -1 likewise
//   <V cv value>      -> <v cv actual>         -1 when it could not be read
//   <1 PROG>, <0 PROG> -> <p1 PROG>, <p0 PROG>
//   anything else     -> <X>
// A lost acknowledge (the track's --sim-ack-loss) makes a read, write or verify
// answer -1. The station does one command at a time: an answer goes out only after
// the one before it.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/decoder_model.h"
#include "sim/lgb_interface_model.h"
#include "sim/sim_time.h"

namespace qarn2::sim {

struct DccExSettings {
  SimTime boot_delay = std::chrono::milliseconds(1500);  // restart to banner
  // From the end of a command to the start of its answer: a read goes bit by bit
  // with a check; a verify of the right value is one check.
  SimTime read_delay = std::chrono::milliseconds(700);
  SimTime write_delay = std::chrono::milliseconds(300);
  SimTime verify_delay = std::chrono::milliseconds(150);
};

class DccExStationModel {
 public:
  static constexpr int kBitRate = 115200;
  static constexpr SimTime kCharacterTime = std::chrono::nanoseconds(10'000'000'000 / kBitRate);
  static constexpr const char* kBanner = "<iDCC-EX V-5.0.0 / MEGA / STANDARD_MOTOR_SHIELD G-SIM>";

  // `acknowledge_lost` is asked once for each acknowledge the decoder gives.
  DccExStationModel(DecoderModel& decoder, std::function<bool()> acknowledge_lost,
                    DccExSettings settings = {});

  void SetSettings(const DccExSettings& settings) { settings_ = settings; }
  const DccExSettings& settings() const { return settings_; }

  // The board restarts at `time`: what it was given is forgotten, the programming
  // track is off; the banner comes after the boot.
  std::vector<TimedReply> Restart(SimTime time);

  // Characters from the program, as LgbInterfaceModel::OnCharacters takes them.
  std::vector<TimedReply> OnCharacters(SimTime time, std::string_view received);

  // What the station made of each command since the last call, for the track log.
  struct LogEntry {
    SimTime time;
    std::string text;  // "<R 29>: read CV 29 = 6", "<R 29> while booting (ignored)"
  };
  std::vector<LogEntry> TakeLog();

  bool ProgrammingTrackPowered() const { return powered_; }

 private:
  // Acts on one command ("<R 29>"); sets its answer (without line end) and delay and
  // returns what it did.
  std::string Handle(const std::string& command, std::string& answer, SimTime& delay);
  std::string Read(int cv, char letter, std::string& answer, SimTime& delay);
  void Send(SimTime ready, std::string text, std::vector<TimedReply>& out);

  DecoderModel& decoder_;
  std::function<bool()> acknowledge_lost_;
  DccExSettings settings_;
  std::string pending_;     // a command still being received
  std::size_t stray_ = 0;   // characters outside any command, not yet logged
  SimTime booted_at_{0};    // commands before this are lost in the boot
  SimTime line_free_at_{0};  // when the last answer's last character has gone out
  bool powered_ = false;
  std::vector<LogEntry> log_;
};

}  // namespace qarn2::sim
