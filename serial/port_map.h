#pragma once

#include <map>
#include <string>

namespace qarn2::serial {

// "COM" followed by 1..16: a leading "COM" (any case) is dropped, the rest read as a
// decimal number, anything else or out of range gives 1. com2 -> COM2, COM17 -> COM1,
// 7 -> COM7, LPT1 -> COM1.
std::string NormalizePortName(const std::string& name);

// Which device stands behind each of COM1..COM16 for this run: /dev/ttyS<n-1> unless
// the command line (`--port COMn=PATH`) or the window's saved choice named another.
class PortMap {
 public:
  // Parses "COMn=PATH" (n 1..16, PATH not empty); false for anything else.
  bool AddOption(const std::string& option);
  void Set(const std::string& port, const std::string& path);

  // Device path for the normalised port name.
  std::string PathOf(const std::string& port) const;
  // The ports the command line named, with their paths.
  const std::map<std::string, std::string>& Named() const { return paths_; }

 private:
  std::map<std::string, std::string> paths_;
};

}  // namespace qarn2::serial
