// The 7-byte header that opens every frame, and the generic encoder (and its receiving-side
// counterpart) for packets whose wire body is the leading bytes of their payload structure.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "HMAC.h"
#include "packed_buffer.h"
#include "packet_counter.h"
#include "uid.h"

// Payload structures are copied to and from the wire as they lie in memory.
static_assert(std::endian::native == std::endian::little, "frames are little-endian");

struct PacketHeader {
  static constexpr size_t WIRE_BYTES = 7;

  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;

  // Reads the header of a received frame; false when the frame is shorter than a header.
  static bool read(PacketHeader& out, const uint8_t* wire, size_t len) {
    if (wire == nullptr || len < WIRE_BYTES) return false;
    std::memcpy(&out, wire, WIRE_BYTES);
    return true;
  }
};
static_assert(sizeof(PacketHeader) == 7 && alignof(PacketHeader) == 1);
static_assert(offsetof(PacketHeader, packetCode) == 0);
static_assert(offsetof(PacketHeader, uid) == 1);
static_assert(offsetof(PacketHeader, packetCounter) == 4);

// True when a payload structure opens with the three header fields where the header puts them.
template <typename P>
constexpr bool hasWireHeader() {
  return offsetof(P, packetCode) == 0 && offsetof(P, uid) == 1 && offsetof(P, packetCounter) == 4 &&
         std::is_trivially_copyable_v<P>;
}

// The body bytes one by one, then their tag. Empty buffer on any failure, never a partial frame.
inline LoRaFrameBuffer encodeBodyWithHmac(const uint8_t* body, size_t bodyBytes, const HMAC::Key& key) {
  LoRaFrameBuffer out;
  for (size_t i = 0; i < bodyBytes; ++i) {
    if (!out.append_bits(body[i], 8)) {
      out.reset();
      return out;
    }
  }
  if (!out.isValid() || out.used_bytes() != bodyBytes) {
    out.reset();
    return out;
  }
  (void)HMAC::appendTag(key, out, bodyBytes);  // the largest body (249 bytes) leaves room for the tag
  return out;
}

// The first wireBodyBytes bytes of the payload's memory, then their tag.
template <typename P>
LoRaFrameBuffer encodePayloadWithHmacBody(const P& payload, size_t wireBodyBytes, const HMAC::Key& key) {
  static_assert(std::is_trivially_copyable_v<P>);
  if (wireBodyBytes > sizeof(P)) return LoRaFrameBuffer{};
  uint8_t bytes[sizeof(P)];
  std::memcpy(bytes, &payload, sizeof(P));
  return encodeBodyWithHmac(bytes, wireBodyBytes, key);
}

template <typename P>
LoRaFrameBuffer encodePayloadWithHmacBody(const P& payload, size_t wireBodyBytes) {
  return encodePayloadWithHmacBody(payload, wireBodyBytes, HMAC::liveKey());
}

template <typename P>
LoRaFrameBuffer encodePayloadWithHmac(const P& payload, const HMAC::Key& key) {
  return encodePayloadWithHmacBody(payload, sizeof(P), key);
}

template <typename P>
LoRaFrameBuffer encodePayloadWithHmac(const P& payload) {
  return encodePayloadWithHmacBody(payload, sizeof(P));
}

// Receiving side of the generic encoder: true only for a frame of exactly wireBodyBytes + 4 bytes
// whose tag verifies; only then is the body copied into the payload (the rest left as it was).
template <typename P>
bool decodePayloadWithHmacBody(P& payload, const uint8_t* wire, size_t len, size_t wireBodyBytes,
                               const HMAC::Key& key) {
  static_assert(std::is_trivially_copyable_v<P>);
  if (wireBodyBytes > sizeof(P)) return false;
  if (!HMAC::verifyTag(key, wire, wireBodyBytes, len)) return false;
  std::memcpy(&payload, wire, wireBodyBytes);
  return true;
}

// Receiving side of a frame whose body is a whole payload structure: exactly sizeof(P) + 4 bytes,
// a tag that verifies under key, and one of the packet's codes; only then is payload written.
template <typename P>
bool decodePayloadWithHmac(P& payload, const uint8_t* wire, size_t len, const HMAC::Key& key, uint8_t code,
                           uint8_t otherCode) {
  P candidate{};
  if (!decodePayloadWithHmacBody(candidate, wire, len, sizeof(P), key)) return false;
  if (candidate.packetCode != code && candidate.packetCode != otherCode) return false;
  payload = candidate;
  return true;
}

template <typename P>
bool decodePayloadWithHmac(P& payload, const uint8_t* wire, size_t len, const HMAC::Key& key, uint8_t code) {
  return decodePayloadWithHmac(payload, wire, len, key, code, code);
}
