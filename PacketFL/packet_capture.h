// What ADC capture packets 4 and 9 share: the 9-byte header, the frame of up to M fixed-size
// samples, and the split of one capture into a series of frames under one packet counter.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "packet_encode.h"

struct CaptureHeader {
  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;  // the same in every frame of one capture
  uint8_t sequence;                    // index of the frame within the capture, from 0
  uint8_t readings;                    // samples in this frame
};
static_assert(hasWireHeader<CaptureHeader>());
static_assert(sizeof(CaptureHeader) == 9);
static_assert(offsetof(CaptureHeader, sequence) == 7);
static_assert(offsetof(CaptureHeader, readings) == 8);

constexpr size_t kCaptureHeaderBytes = 13;  // 9 header bytes and the 4 tag bytes
constexpr size_t kCaptureMaxPacketBytes = 255;
constexpr size_t kCaptureUsefulPayload = kCaptureMaxPacketBytes - kCaptureHeaderBytes;  // 242

// A sample of S bytes, kept as bytes so that the payload has no gaps and no alignment.
template <size_t S>
struct CaptureSample {
  std::array<uint8_t, S> bytes;

  static CaptureSample fromWord(uint32_t word) {
    CaptureSample s{};
    for (size_t i = 0; i < S; ++i) s.bytes[i] = static_cast<uint8_t>(word >> (8 * i));
    return s;
  }
  uint32_t word() const {
    uint32_t w = 0;
    for (size_t i = 0; i < S; ++i) w |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return w;
  }
};

// In memory exactly as a full frame on the wire; only the used samples and the computed tag are sent.
template <size_t S, size_t M>
struct CapturePayload {
  using Sample = CaptureSample<S>;
  static constexpr size_t kSampleBytes = S;
  static constexpr size_t kMaxReadings = M;

  CaptureHeader header;
  std::array<Sample, M> adc;
  std::array<uint8_t, 4> hmac;  // zero in the sender's payload

  // 9 + S x readings; readings above M count as M (never past the structure).
  size_t bodyBytes() const { return sizeof(CaptureHeader) + S * std::min<size_t>(header.readings, M); }
};

// Header, the used samples, the tag; empty when readings exceeds M or anything does not fit.
template <size_t S, size_t M>
LoRaFrameBuffer encodeCapture(const CapturePayload<S, M>& p, const HMAC::Key& key) {
  LoRaFrameBuffer out;
  if (p.header.readings > M) return out;
  bool ok = out.append(p.header);
  for (size_t i = 0; ok && i < p.header.readings; ++i) ok = out.append(p.adc[i]);
  const size_t body = sizeof(CaptureHeader) + S * p.header.readings;
  if (!ok || !out.isValid() || out.used_bytes() != body) {
    out.reset();
    return out;
  }
  (void)HMAC::appendTag(key, out, body);
  return out;
}

// Receiving side: a frame of 13 + S x readings bytes (readings at most M), tagged under key, with
// the packet's code; only then is the payload written (samples beyond readings zero).
template <size_t S, size_t M>
bool decodeCapture(CapturePayload<S, M>& p, const uint8_t* wire, size_t len, const HMAC::Key& key, uint8_t code) {
  if (wire == nullptr || len < kCaptureHeaderBytes) return false;
  const size_t readings = wire[offsetof(CaptureHeader, readings)];
  if (readings > M || len != kCaptureHeaderBytes + S * readings) return false;
  if (!HMAC::verifyTag(key, wire, len - HMAC::TAG_BYTES, len) || wire[0] != code) return false;
  CapturePayload<S, M> out{};
  std::memcpy(&out, wire, len - HMAC::TAG_BYTES);
  p = out;
  return true;
}

// Splits rows [0, rowCount) of a capture into frames of at most M samples, one counter for all,
// sequence from 0, each sample made by encodeSample(row). Calls sink(payload, frame) per frame in
// order; stops and returns false at the first frame that does not encode.
template <typename Payload, typename Row, typename EncodeSample, typename Sink>
bool encodeCaptureSeries(uint8_t packetCode, const UID& uid, LoRaPacketCounterU24 counter, const Row* rows,
                         size_t rowCount, const HMAC::Key& key, EncodeSample encodeSample, Sink&& sink) {
  constexpr size_t M = Payload::kMaxReadings;
  uint8_t sequence = 0;
  for (size_t offset = 0; offset < rowCount; offset += M, ++sequence) {
    const size_t count = std::min(rowCount - offset, M);
    Payload p{};
    p.header.packetCode = packetCode;
    p.header.uid = uid;
    p.header.packetCounter = counter;
    p.header.sequence = sequence;
    p.header.readings = static_cast<uint8_t>(count);
    for (size_t i = 0; i < count; ++i) p.adc[i] = Payload::Sample::fromWord(encodeSample(rows[offset + i]));
    const LoRaFrameBuffer frame = encodeCapture(p, key);
    if (frame.used_bytes() == 0) return false;
    sink(static_cast<const Payload&>(p), frame);
  }
  return true;
}
