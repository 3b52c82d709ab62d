#include "encoding/fixed_streams.h"

#include "encoding/serial_alphabet.h"

namespace qarn2::encoding {

FixedStreams MakeFixedStreams() {
  using namespace chars;
  const auto text = [](std::initializer_list<std::uint8_t> characters) {
    return SerialStream(characters.begin(), characters.end());
  };
  FixedStreams fixed;
  // 10 preamble bits, then FF 00 FF with the end bit and one extra '1'.
  fixed.IdleStream = text({kU, kU, kV, kU, kC6, kC6, kC6, kC6, kC6, kU, kU});
  // 10 preamble bits, then 27 '0' bits (00 00 with check 00 and start bits), end bit.
  fixed.ResetStream = text({kU, kU});
  fixed.ResetStream.append(13, static_cast<char>(kC6));
  fixed.ResetStream += static_cast<char>(kX);
  fixed.LongResetStream = static_cast<char>(kU) + fixed.ResetStream;
  // 20 preamble bits, then the page preset 7D 01 with check 7C.
  fixed.PagePresetStream =
      text({kU, kU, kU, kU, kC6, kU, kX, kC6, kC6, kC6, kC6, k99, kU, kF});
  for (int copy = 0; copy < 8; ++copy) fixed.ResetBurst += fixed.LongResetStream;
  return fixed;
}

}  // namespace qarn2::encoding
