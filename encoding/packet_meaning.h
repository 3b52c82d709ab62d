#pragma once

// What a DCC packet asks, in words, read from its bytes as they went onto the track.
// The one reading of packets for everything that shows them to people: the trace of a
// real port, the live log.
//
// The words follow the simulated track's log: "idle", "reset",
// "service: verify CV 29 = 6", "service: write register 6 (page register) = 1",
// "ops: loco 3 speed 5 forward (28 steps) or speed 3 forward FL off (14 steps)",
// "ops: loco 1234 (long) functions F5=1 F6=0 F7=0 F8=0",
// "accessory: decoder 2 output 3 on", "check byte wrong (should be 3C)".

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qarn2::encoding {

// `bytes_with_check`: the packet's bytes, its check byte last. `preamble`: the '1'
// bits before its start bit.
//
// Behind a preamble of kServiceMinPreamble bits or more a packet whose first byte is
// 0111xxxx is read as a service-mode instruction (3 bytes: direct mode, 2 bytes:
// register and paged mode); any other packet as operations mode, where 0111xxxx is a
// locomotive address. (A decoder also needs to be in service mode for the first
// reading, which the packet alone does not tell.)
//
// A speed packet 01DCSSSS means different steps to a decoder in 14-step mode (C is
// the headlight) and in 28-step mode (C is the step's lowest bit); the decoder's
// CV 29 decides, not the packet, so both readings are given.
std::string PacketMeaning(std::span<const std::uint8_t> bytes_with_check, std::size_t preamble);

}  // namespace qarn2::encoding
