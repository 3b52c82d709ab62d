// Time to encode one packet, over a spread of packets so that every kind of run
// pattern takes its share.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "encoding/serial_encoder.h"

namespace {

using qarn2::encoding::Packet;

std::vector<Packet> SamplePackets(int bytes) {
  std::vector<Packet> packets;
  std::uint32_t state = 12345;  // a fixed pseudo-random sequence
  for (int i = 0; i < 4096; ++i) {
    Packet packet(bytes);
    for (std::uint8_t& b : packet) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<std::uint8_t>(state >> 24);
    }
    try {
      qarn2::encoding::EncodeOperationsPacket(packet);
      packets.push_back(packet);
    } catch (const qarn2::encoding::EncoderError&) {
      // one of the few 3-byte packets no grouping fits
    }
  }
  return packets;
}

template <qarn2::encoding::SerialStream (*Encode)(const Packet&)>
void BM_Encode(benchmark::State& state) {
  const std::vector<Packet> packets = SamplePackets(static_cast<int>(state.range(0)));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Encode(packets[i]));
    i = (i + 1) % packets.size();
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Encode<qarn2::encoding::EncodeOperationsPacket>)->Name("EncodeOperationsPacket")->Arg(2)->Arg(3);
BENCHMARK(BM_Encode<qarn2::encoding::EncodeServicePacket>)->Name("EncodeServicePacket")->Arg(2)->Arg(3);

}  // namespace

BENCHMARK_MAIN();
