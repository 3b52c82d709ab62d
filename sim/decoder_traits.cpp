#include "sim/decoder_traits.h"

#include <charconv>

namespace qarn2::sim {
namespace {

// "NAME=MS" with MS a plain decimal from `low` to `high`.
bool Milliseconds(std::string_view value, int low, int high, SimTime& out) {
  int ms = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() || ms < low || ms > high) {
    return false;
  }
  out = std::chrono::milliseconds(ms);
  return true;
}

long long Ms(SimTime t) { return std::chrono::duration_cast<std::chrono::milliseconds>(t).count(); }

}  // namespace

std::string ApplyDecoderTrait(std::string_view trait, DecoderTraits& traits) {
  const std::size_t equals = trait.find('=');
  const std::string_view name = trait.substr(0, equals);
  const std::string_view value = equals == std::string_view::npos ? std::string_view() : trait.substr(equals + 1);
  const bool has_value = equals != std::string_view::npos;
  if (name == "ack-every-packet" && !has_value) {
    traits.ack_every_packet = true;
  } else if (name == "ack-anything" && !has_value) {
    traits.ack_anything = true;
  } else if (name == "strict-preamble" && !has_value) {
    traits.strict_preamble = true;
  } else if (name == "write-delay" && has_value) {
    if (!Milliseconds(value, 0, 200, traits.write_delay)) return "write-delay takes 0 to 200 (ms)";
  } else if (name == "ack-pulse" && has_value) {
    if (!Milliseconds(value, 5, 7, traits.ack_pulse)) return "ack-pulse takes 5, 6 or 7 (ms)";
  } else {
    return "no such decoder trait; the traits are ack-every-packet, ack-anything, write-delay=MS, ack-pulse=MS, strict-preamble";
  }
  return "";
}

std::string DescribeTraits(const DecoderTraits& traits) {
  const DecoderTraits plain;
  std::string text;
  const auto add = [&text](const std::string& trait) { text += (text.empty() ? "" : " ") + trait; };
  if (traits.ack_every_packet) add("ack-every-packet");
  if (traits.ack_anything) add("ack-anything");
  if (traits.write_delay != plain.write_delay) add("write-delay=" + std::to_string(Ms(traits.write_delay)));
  if (traits.ack_pulse != plain.ack_pulse) add("ack-pulse=" + std::to_string(Ms(traits.ack_pulse)));
  if (traits.strict_preamble) add("strict-preamble");
  return text.empty() ? "default" : text;
}

std::string DecoderTraitsHelp() {
  return R"(  --sim-trait TRAIT    the simulated decoder behaves as some real ones do (may be
                       given more than once):
                         ack-every-packet  acknowledges every matching copy of a
                                           burst from the second on, not once;
                         ack-anything      acknowledges every service instruction,
                                           a verify of another value too;
                         write-delay=MS    a write takes MS ms (0..200) inside the
                                           decoder, its acknowledge comes then;
                         ack-pulse=MS      acknowledge pulses of MS ms (5..7,
                                           default 6);
                         strict-preamble   service-mode packets only behind 20 or
                                           more preamble bits, any packet after an
                                           idle line only behind 12 or more.
)";
}

}  // namespace qarn2::sim
