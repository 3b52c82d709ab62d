#pragma once

// The DCC-EX station written apart from the program (cli/tests/dccex_station.py) on a
// pseudo-terminal, for one test: started with the script's options, ended with the
// object. The tool and the window reach it as a real port at Device().

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qarn2::testsupport {

class StationScript {
 public:
  explicit StationScript(std::vector<std::string> options)
      : log_((std::filesystem::temp_directory_path() / ("qarn2_station_" + std::to_string(getpid()) + ".log"))
                 .string()) {
    int out[2];
    if (pipe(out) != 0) return;
    options.insert(options.begin(), {"python3", QARN2_DCCEX_STATION_SCRIPT, "--log", log_});
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (std::string& option : options) argv.push_back(option.data());
      argv.push_back(nullptr);
      execvp("python3", argv.data());
      _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') device_ += c;
    close(out[0]);
  }
  ~StationScript() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::filesystem::remove(log_);
  }
  StationScript(const StationScript&) = delete;
  StationScript& operator=(const StationScript&) = delete;

  // The pseudo-terminal's device; empty when python3 did not start the station.
  const std::string& Device() const { return device_; }
  // What the station received, a line per read: "ready <R 29>" or "booting ...".
  std::string Received() const {
    std::ifstream in(log_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
  std::string device_;
};

}  // namespace qarn2::testsupport
