// Host cost of building and checking frames: the tag over the largest body, the byte-wise encoder
// of the largest fixed frame, a capture frame and a downlink decode.
#include <benchmark/benchmark.h>

#include <vector>

#include "HMAC.h"
#include "packet4.h"
#include "packet8.h"
#include "rxpacket14.h"

namespace {

const HMAC::Key kKey{0x03020100u, 0x07060504u};

void BM_Tag249(benchmark::State& state) {
  std::vector<uint8_t> body(249, 0x5A);
  for (auto _ : state) benchmark::DoNotOptimize(HMAC::compute(kKey, body.data(), body.size()));
}
BENCHMARK(BM_Tag249);

void BM_EncodePacket8(benchmark::State& state) {
  const auto p = LoRaPacket8::makePayloadWithBuild(LoRaPacketCounterU24(1), UID{}, {1, 2, 3}, 0.1f, 0.2f,
                                                   kDefaultClampMapping, "abcdef0", "2026-01-01T00:00:00Z");
  for (auto _ : state) benchmark::DoNotOptimize(LoRaPacket8::encode(p, kKey));
}
BENCHMARK(BM_EncodePacket8);

void BM_EncodePacket4Full(benchmark::State& state) {
  LoRaPacket4::Payload p{};
  p.header.readings = 80;
  for (auto _ : state) benchmark::DoNotOptimize(LoRaPacket4::encode(p, kKey));
}
BENCHMARK(BM_EncodePacket4Full);

void BM_DecodePacket14(benchmark::State& state) {
  const auto f = LoRaRXPacket14::encode(
      LoRaRXPacket14::makePayload(LoRaPacketCounterU24(1), UID{}, LoRaRXPacket14::Op::SET_TxPowerDbm, {3}), kKey);
  LoRaRXPacket14::Payload out{};
  for (auto _ : state) benchmark::DoNotOptimize(LoRaRXPacket14::decodeWithKey(out, f.data(), f.used_bytes(), kKey));
}
BENCHMARK(BM_DecodePacket14);

}  // namespace
