#include "programming/service_packets.h"

namespace qarn2::programming {
namespace {

std::uint8_t Byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

// The direct-mode instruction byte and the low address byte for CV `cv`.
encoding::Packet DirectPacket(std::uint8_t instruction, int cv, int data) {
  const int address = cv - 1;
  return {Byte(instruction + (address >> 8)), Byte(address), Byte(data)};
}

}  // namespace

encoding::Packet DirectVerifyByte(int cv, int value) { return DirectPacket(0x74, cv, value); }
encoding::Packet DirectWriteByte(int cv, int value) { return DirectPacket(0x7C, cv, value); }
encoding::Packet DirectVerifyBit(int cv, int bit) { return DirectPacket(0x78, cv, 0xE8 + bit); }

encoding::Packet RegisterVerify(int reg, int value) { return {Byte(0x70 + reg - 1), Byte(value)}; }
encoding::Packet RegisterWrite(int reg, int value) { return {Byte(0x78 + reg - 1), Byte(value)}; }
encoding::Packet PageRegisterWrite(int page) { return {0x7D, Byte(page)}; }

PagedLocation LocatePaged(int cv) { return {(cv - 1) / 4 + 1, (cv - 1) % 4 + 1}; }

}  // namespace qarn2::programming
