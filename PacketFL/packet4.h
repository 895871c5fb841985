// ADC capture packet 4: each scan row packed into 3 bytes (clamp and inductive E-field, 12 bits
// each), 80 rows per frame; a capture of 231 rows goes as 3 frames.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "packet_capture.h"

namespace LoRaPacket4 {

constexpr uint8_t PACKET_CODE = 4;
constexpr size_t HEADER_BYTES = kCaptureHeaderBytes;
constexpr size_t MAX_PACKET_BYTES = kCaptureMaxPacketBytes;
constexpr size_t UsefulPayload = kCaptureUsefulPayload;
constexpr size_t MaxReadings = 80;

using Header = CaptureHeader;
using Payload = CapturePayload<3, MaxReadings>;
using ADCt = Payload::Sample;
static_assert(sizeof(ADCt) == 3 && sizeof(Header) == 9);
static_assert(sizeof(Payload) == 9 + 3 * MaxReadings + 4, "no gaps: the payload is a full frame");
static_assert(3 * MaxReadings <= UsefulPayload);

// 24-bit word: bits 0-11 clamp value clamped to -2048..2047 (two's complement), bits 12-23 inductive
// E-field clamped to 0..4095.
constexpr uint32_t encodeAdcSampleValues(int32_t bFieldV, int32_t eFieldInd) {
  const uint32_t b = static_cast<uint32_t>(std::clamp<int32_t>(bFieldV, -2048, 2047)) & 0xFFFu;
  const uint32_t e = static_cast<uint32_t>(std::clamp<int32_t>(eFieldInd, 0, 4095));
  return b | (e << 12);
}

// A scan row: anything with getBFieldV() and eFieldInd (the ADC buffer's rows).
template <typename Row>
uint32_t encodeAdcSample(const Row& row) {
  return encodeAdcSampleValues(row.getBFieldV(), row.eFieldInd);
}

LoRaFrameBuffer encode(const Payload& payload);
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key);
inline bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodeCapture(payload, wire, len, key, PACKET_CODE);
}

// The whole capture as frames of 80, 80 and 71 rows (for 231 rows); see encodeCaptureSeries.
template <typename Row, typename Sink>
bool encodeCaptureSeries(const UID& uid, LoRaPacketCounterU24 counter, const Row* rows, size_t rowCount,
                         const HMAC::Key& key, Sink&& sink) {
  return ::encodeCaptureSeries<Payload>(
      PACKET_CODE, uid, counter, rows, rowCount, key, [](const Row& r) { return encodeAdcSample(r); }, sink);
}

}  // namespace LoRaPacket4
