#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace qarn2::cli {

std::string PortsUsage();

// `ports`: every serial device of the machine, one a line.
int RunPorts(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace qarn2::cli
