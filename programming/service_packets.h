#pragma once

#include <cstdint>

#include "encoding/bit_string.h"

namespace qarn2::programming {

// The NMRA service-mode packets the programming methods send, without their check
// byte. `cv` is the CV number 1..1024 (10 address bits), `value` is sent as its low
// 8 bits, `bit` is 0..7, `reg` a register number 1..8 (3 bits). Callers keep their
// numbers within these ranges; nothing here checks them.

// 0111 01AA AAAAAAAA DDDDDDDD: does CV `cv` hold `value`?
encoding::Packet DirectVerifyByte(int cv, int value);
// 0111 11AA AAAAAAAA DDDDDDDD: store `value` in CV `cv`.
encoding::Packet DirectWriteByte(int cv, int value);
// 0111 10AA AAAAAAAA 1110 1BBB: is bit `bit` of CV `cv` a 1?
encoding::Packet DirectVerifyBit(int cv, int bit);
// 0111 0RRR DDDDDDDD: does register `reg` hold `value`?
encoding::Packet RegisterVerify(int reg, int value);
// 0111 1RRR DDDDDDDD: store `value` in register `reg`.
encoding::Packet RegisterWrite(int reg, int value);
// Register 6, the page register, := `page` (page 256 goes out as 0).
encoding::Packet PageRegisterWrite(int page);

// Where paged mode finds a CV: four CVs per page, pages counted from 1, and the data
// registers 1..4 within the page.
struct PagedLocation {
  int page = 1;           // 1..256
  int data_register = 1;  // 1..4
};
PagedLocation LocatePaged(int cv);

}  // namespace qarn2::programming
