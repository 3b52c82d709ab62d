#pragma once

// A small locomotive decoder on the programming track, as NMRA S-9.2 (operations
// mode) and S-9.2.3 (service mode) describe it: 1024 CVs, service mode with direct,
// register and paged access, the acknowledge, and in operations mode the speed,
// direction and functions of its own address plus the outputs of every basic
// accessory decoder on the track.
//
// The model is pure logic: it is told about track power and about every valid packet
// together with the time the packet ended, and answers whether the decoder
// acknowledges it. It keeps no clock; everything that depends on time (the end of
// service mode) is judged from the times passed in.

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/decoder_traits.h"
#include "sim/sim_time.h"

namespace qarn2::sim {

// When the decoder acknowledges a service-mode command. A command is acted on when
// its packet arrives the second time in a row; the policies differ in what happens
// on the copies after that.
enum class AckPolicy {
  kOncePerCommand,         // one acknowledge, on the second copy (default)
  kEveryRepeatAfterFirst,  // every copy from the second on is acted on and acknowledged
  kNeverAfterWrite,        // verifies as kOncePerCommand; writes are stored silently
};

// The operations-mode state of the decoder's own locomotive.
struct LocoState {
  int steps = 28;      // speed-step mode of the last speed packet: 14, 28 or 126
  int speed_step = 0;  // 0 = stop, else 1..steps
  bool forward = true;
  bool emergency_stop = false;
  bool fl = false;           // headlight
  std::array<bool, 13> f{};  // f[1]..f[12]; f[0] is unused

  bool operator==(const LocoState&) const = default;
};

// How a packet stood on the line: the '1' bits before it, and whether the line had
// been idle (or without power, or broken) before its preamble.
struct PacketFraming {
  std::size_t preamble = kStrictServicePreamble;
  bool after_idle = false;
};

class DecoderModel {
 public:
  // What the decoder made of one packet.
  struct Reaction {
    bool acknowledge = false;
    std::string meaning;  // one line for the track log: "service: verify CV 29 = 6 (match)"
    // The acknowledge comes this long after the packet (a write still in progress).
    SimTime acknowledge_after{0};
  };

  static constexpr int kCvCount = 1024;
  // Service mode ends when no reset or service packet has ended for this long.
  static constexpr SimTime kServiceModeHold = std::chrono::milliseconds(20);
  // This many resets in a row end a service command: the same packet after them is a
  // new command. Fewer resets between two copies keep them a pair. (Every NMRA
  // service-mode sequence starts a command with at least three resets.)
  static constexpr int kCommandBreakResets = 3;

  // All CVs at their defaults; the track is without power.
  DecoderModel();

  // The factory value of CV `number` (1..1024).
  static std::uint8_t DefaultCv(int number);

  void SetAckPolicy(AckPolicy policy) { ack_policy_ = policy; }
  AckPolicy ack_policy() const { return ack_policy_; }
  // The traits that concern the decoder itself (acknowledge policy, write time,
  // preambles); the pulse length is the track's.
  void SetTraits(const DecoderTraits& traits);
  // How long a write takes inside the decoder (the "write-delay" trait).
  SimTime write_delay() const { return write_delay_; }

  // Track power. Power-on starts in operations mode with the page register at 1 and
  // the locomotive stopped; power-off ends service mode. Packets are ignored while
  // the track has no power.
  void PowerOn(SimTime time);
  void PowerOff(SimTime time);
  bool powered() const { return powered_; }

  // One valid packet (address and instruction bytes, then the check byte) that ended
  // at `end_time`. Times must not go backwards.
  Reaction OnPacket(SimTime end_time, const std::vector<std::uint8_t>& bytes_with_check,
                    PacketFraming framing = {});

  // Whether the decoder is in service mode at `now` (not before the last packet).
  bool InServiceMode(SimTime now) const;
  // The page register as written, 0..255; 0 stands for page 256.
  int page_register() const { return page_register_; }

  // Raw CV access for the track, files and tests (1..1024, std::out_of_range
  // otherwise). SetCv stores anything, read-only CVs included.
  std::uint8_t Cv(int number) const;
  void SetCv(int number, std::uint8_t value);
  // A write as the decoder takes it from any programming method: CV 7 and CV 8 are
  // read-only, except that 8 written into CV 8 is a factory reset. Returns whether
  // the value was stored (or the reset done), i.e. whether the decoder would
  // acknowledge it.
  bool StoreCv(int number, std::uint8_t value);
  // Every CV back to its default; the page register to 1.
  void FactoryReset();

  // The address the decoder answers to in operations mode: CV 1, or the long
  // address of CV 17/18 when CV 29 bit 5 is set.
  int OwnAddress() const;
  bool UsesLongAddress() const;
  const LocoState& loco() const { return loco_; }
  // Output 0..7 of basic accessory decoder `address` (0..511); false until switched on.
  bool AccessoryOutputOn(int address, int output) const;

 private:
  using Bytes = std::vector<std::uint8_t>;

  // The outcome of one service instruction.
  struct ServiceOutcome {
    std::string what;  // "verify CV 29 = 6"
    bool is_write = false;
    bool success = false;  // verify matched, write stored
    std::string result;    // "match", "stored", ...
  };

  // 0111xxxx with one or two bytes after it: service mode's shape. Outside service
  // mode the same bytes are an operations packet for locomotive 112..127.
  static bool IsServicePacket(const Bytes& packet);

  Reaction OnServicePacket(SimTime end_time, const Bytes& packet);
  // Why a strict decoder does not take this packet; empty when it does.
  std::string RefusedPreamble(const Bytes& packet, PacketFraming framing) const;
  ServiceOutcome RunService(const Bytes& packet, bool act);
  ServiceOutcome RunDirect(const Bytes& packet, bool act);
  ServiceOutcome RunRegister(const Bytes& packet, bool act);
  ServiceOutcome Verify(std::string what, int cv, std::uint8_t value) const;
  // Stores only when `act`; otherwise just names the write.
  ServiceOutcome Write(std::string what, int cv, std::uint8_t value, bool act);
  void LeaveServiceMode();
  bool IsOwnLocoAddress(int address, bool long_form) const;

  Reaction OnOperationsPacket(const Bytes& packet);
  std::string RunLocoInstruction(const Bytes& instruction, bool ours);
  std::string RunAccessory(const Bytes& packet);

  std::array<std::uint8_t, kCvCount> cvs_{};
  AckPolicy ack_policy_ = AckPolicy::kOncePerCommand;
  bool ack_anything_ = false;  // the trait "ack-anything"
  SimTime write_delay_{0};
  bool strict_preamble_ = false;
  SimTime busy_until_{0};  // a write in progress: no service instruction is taken
  bool powered_ = false;
  bool service_mode_ = false;
  SimTime last_service_time_{0};  // end of the last reset or service packet
  int page_register_ = 1;

  // The run of identical service packets that makes up the current command.
  Bytes command_packet_;
  int command_copies_ = 0;
  int resets_since_command_ = 0;

  LocoState loco_;
  std::map<int, std::uint8_t> accessory_outputs_;  // address -> bit per output that is on
};

}  // namespace qarn2::sim
