#pragma once

// How the simulated decoder behaves where real decoders differ from one another, as
// the user chooses it with --sim-trait. The default is a decoder that acknowledges each
// command once, at once, with a 6 ms pulse, and takes every packet a decoder must.

#include <chrono>
#include <string>
#include <string_view>

#include "sim/sim_time.h"

namespace qarn2::sim {

struct DecoderTraits {
  // "ack-every-packet": every matching copy of a burst from the second on is acted on
  // and acknowledged, not only the second.
  bool ack_every_packet = false;
  // "ack-anything": every service instruction it acts on is acknowledged, a verify of
  // a value the CV does not hold as well (as a decoder whose load draws the
  // acknowledge current at every packet).
  bool ack_anything = false;
  // "write-delay=MS" (0..200): a write takes this long inside the decoder; its
  // acknowledge comes when it is done, and the decoder takes no service instruction
  // meanwhile.
  SimTime write_delay{0};
  // "ack-pulse=MS" (5..7): the length of the acknowledge pulse.
  SimTime ack_pulse = std::chrono::milliseconds(6);
  // "strict-preamble": a service-mode instruction only behind 20 or more preamble bits,
  // any packet after an idle line only behind 12 or more.
  bool strict_preamble = false;

  bool operator==(const DecoderTraits&) const = default;
};

// Preamble bits a strict decoder wants before a service-mode instruction, and before
// any packet after an idle line.
inline constexpr std::size_t kStrictServicePreamble = 20;
inline constexpr std::size_t kStrictPreambleAfterIdle = 12;

// Takes one trait as --sim-trait names it ("ack-every-packet", "write-delay=120",
// "ack-pulse=5", "strict-preamble"). Returns the problem, empty when it was taken.
std::string ApplyDecoderTrait(std::string_view trait, DecoderTraits& traits);

// The traits in that form, joined by blanks; "default" when none differs.
std::string DescribeTraits(const DecoderTraits& traits);

// The traits as the help texts explain them (indented for an option list).
std::string DecoderTraitsHelp();

}  // namespace qarn2::sim
