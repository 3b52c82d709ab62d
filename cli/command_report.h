#pragma once

// How a CV command (read, write, read-all, write-all, reset) ends: its failures on
// standard error, and with --json one object on standard output at every exit, also
// when the arguments were refused or the port failed.

#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "programming/cv_commands.h"

namespace qarn2::cli {

class CommandReport {
 public:
  // --json among `args` (the command's arguments) asks for the object; the parsed
  // arguments may say otherwise through SetJson.
  CommandReport(std::string_view command, std::span<const std::string> args, std::ostream& out,
                std::ostream& err);

  bool Json() const { return json_; }
  void SetJson(bool json) { json_ = json; }

  // "qarn2-cli: COMMAND: MESSAGE" on standard error, and the object's "error" (the
  // last failure's). Returns `status`.
  int Fail(int status, const std::string& message);
  // The run's settings, once the arguments are understood.
  void Describe(const std::string& mode, std::string_view hardware, int retries, bool verify);
  // The track was reached: the object lists the CVs ("cvs", "failures"), none so far.
  void Started() { started_ = true; }
  // One CV, in the order they were done. Its "result": "read", "not readable",
  // "acknowledged", "not acknowledged", "acknowledged and read back", "read back
  // otherwise", "not readable back", "not written" or "not reachable in this mode".
  void Add(const programming::CvOutcome& outcome, bool writing);
  // One CV line of compare. Its "result": "same", "differs", "not readable", "not
  // reachable in this mode"; "sheet" and "decoder" (null unless read).
  void AddComparison(const programming::CvComparison& line) { compared_.push_back(line); }
  // read-all's sheet, Windows-1252.
  void SetSheet(std::string text) { sheet_ = std::move(text); }
  // The usage was printed: no object then.
  void HelpShown() { help_ = true; }

  // The end of the run: with --json the object, its "exit" being `status`. Returns
  // `status`.
  int Finish(int status);

 private:
  struct Settings {
    std::string mode;
    std::string hardware;
    int retries = 0;
    bool verify = false;
  };

  std::string command_;
  std::ostream& out_;
  std::ostream& err_;
  bool json_ = false;
  bool help_ = false;
  bool started_ = false;
  std::optional<Settings> settings_;
  std::vector<std::pair<programming::CvOutcome, bool>> cvs_;  // with `writing`
  std::vector<programming::CvComparison> compared_;
  std::optional<std::string> sheet_;
  std::optional<std::string> error_;
};

}  // namespace qarn2::cli
