#include "serial/port_map.h"

#include <cctype>

namespace qarn2::serial {

std::string NormalizePortName(const std::string& name) {
  std::string rest = name;
  if (rest.size() >= 3 && std::toupper(static_cast<unsigned char>(rest[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(rest[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(rest[2])) == 'M') {
    rest.erase(0, 3);
  }
  // A decimal number and nothing else; anything else counts as 1.
  long value = rest.empty() ? 1 : 0;
  for (char c : rest) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || value > 16) {
      value = 1;
      break;
    }
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 16) value = 1;
  return "COM" + std::to_string(value);
}

bool PortMap::AddOption(const std::string& option) {
  const std::size_t equals = option.find('=');
  if (equals == std::string::npos || equals + 1 == option.size()) return false;
  std::string port = option.substr(0, equals);
  for (char& c : port) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // Only a valid port name counts (no silent COM1 for a typing error).
  if (NormalizePortName(port) != port) return false;
  Set(port, option.substr(equals + 1));
  return true;
}

void PortMap::Set(const std::string& port, const std::string& path) { paths_[port] = path; }

std::string PortMap::PathOf(const std::string& port) const {
  if (auto it = paths_.find(port); it != paths_.end()) return it->second;
  return "/dev/ttyS" + std::to_string(std::stoi(port.substr(3)) - 1);
}

}  // namespace qarn2::serial
