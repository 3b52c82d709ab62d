#pragma once

#include "encoding/serial_encoder.h"

namespace qarn2::encoding {

// The streams that never change, made once at start and read-only afterwards.
struct FixedStreams {
  SerialStream IdleStream;        // idle packet FF 00, 10-bit preamble, 11 characters
  SerialStream ResetStream;       // reset packet 00 00, 10-bit preamble, 16 characters
  SerialStream LongResetStream;   // reset packet behind a 15-bit preamble
  SerialStream PagePresetStream;  // page preset 7D 01, 20-bit preamble
  SerialStream ResetBurst;        // eight copies of LongResetStream
};

FixedStreams MakeFixedStreams();

}  // namespace qarn2::encoding
