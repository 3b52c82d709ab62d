#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace qarn2::cli {

// The usage text of send.
std::string SendUsage();

// `send`: one packet to the programming track, and whether the decoder answered.
int RunSend(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace qarn2::cli
