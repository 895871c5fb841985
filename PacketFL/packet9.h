// ADC capture packet 9: each scan row packed into 4 bytes (clamp at 12 bits, both E-field inputs at
// 10 bits), 60 rows per frame; a capture of 231 rows goes as 4 frames.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "packet_capture.h"

namespace LoRaPacket9 {

constexpr uint8_t PACKET_CODE = 9;
constexpr size_t HEADER_BYTES = kCaptureHeaderBytes;
constexpr size_t MAX_PACKET_BYTES = kCaptureMaxPacketBytes;
constexpr size_t UsefulPayload = kCaptureUsefulPayload;
constexpr size_t MaxReadings = 60;

using Header = CaptureHeader;
using Payload = CapturePayload<4, MaxReadings>;
using ADCt = Payload::Sample;
static_assert(sizeof(ADCt) == 4 && alignof(ADCt) == 1 && sizeof(Header) == 9);
static_assert(sizeof(Payload) == 9 + 4 * MaxReadings + 4, "no gaps: the payload is a full frame");
static_assert(4 * MaxReadings <= UsefulPayload);

// 32-bit word: bits 0-11 clamp value clamped to -2048..2047, bits 12-21 inductive and bits 22-31
// capacitive E-field, each clamped to 0..4095 and divided by 4.
constexpr uint32_t encodeAdcSampleValues(int32_t bFieldV, int32_t eFieldInd, int32_t eFieldCap) {
  const uint32_t b = static_cast<uint32_t>(std::clamp<int32_t>(bFieldV, -2048, 2047)) & 0xFFFu;
  const uint32_t ei = static_cast<uint32_t>(std::clamp<int32_t>(eFieldInd, 0, 4095)) >> 2;
  const uint32_t ec = static_cast<uint32_t>(std::clamp<int32_t>(eFieldCap, 0, 4095)) >> 2;
  return b | (ei << 12) | (ec << 22);
}

template <typename Row>
uint32_t encodeAdcSample(const Row& row) {
  return encodeAdcSampleValues(row.getBFieldV(), row.eFieldInd, row.eFieldCap);
}

// The values a sample carries; the two low bits of each E-field value are lost.
struct SampleValues {
  int16_t bField;     // sign-extended from 12 bits
  int16_t eFieldInd;  // 0..4092
  int16_t eFieldCap;  // 0..4092
};
constexpr SampleValues decodeAdcSampleValues(uint32_t sample) {
  const int32_t b12 = static_cast<int32_t>(sample & 0xFFFu);
  return SampleValues{static_cast<int16_t>(b12 >= 2048 ? b12 - 4096 : b12),
                      static_cast<int16_t>(((sample >> 12) & 0x3FFu) * 4u),
                      static_cast<int16_t>(((sample >> 22) & 0x3FFu) * 4u)};
}

// As a scan row: bFieldH the clamp value and bFieldL 0, so that getBFieldV() gives it back.
template <typename Row>
Row decodeAdcSampleAs(uint32_t sample) {
  const SampleValues v = decodeAdcSampleValues(sample);
  Row r{};
  r.bFieldH = v.bField;
  r.bFieldL = 0;
  r.eFieldInd = v.eFieldInd;
  r.eFieldCap = v.eFieldCap;
  return r;
}

LoRaFrameBuffer encode(const Payload& payload);
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key);
inline bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodeCapture(payload, wire, len, key, PACKET_CODE);
}

// The whole capture as frames of 60, 60, 60 and 51 rows (for 231 rows); see encodeCaptureSeries.
template <typename Row, typename Sink>
bool encodeCaptureSeries(const UID& uid, LoRaPacketCounterU24 counter, const Row* rows, size_t rowCount,
                         const HMAC::Key& key, Sink&& sink) {
  return ::encodeCaptureSeries<Payload>(
      PACKET_CODE, uid, counter, rows, rowCount, key, [](const Row& r) { return encodeAdcSample(r); }, sink);
}

}  // namespace LoRaPacket9
