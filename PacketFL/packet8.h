// Configuration report packet 8 (164 bytes): firmware build, chip unique ID, hardware revision,
// and the calibration in use (phase and slope corrections, the clamp mapping table).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "flashconfig.h"
#include "packet_encode.h"

// The build identity's texts as packet 8 carries them.
constexpr size_t BuildGitRevisionWireBytes = 8;
constexpr size_t BuildTimestampWireBytes = 32;

namespace LoRaPacket8 {

constexpr uint8_t PACKET_CODE = 8;
constexpr size_t WIRE_BODY_BYTES = 160;
constexpr size_t WIRE_MAX_BYTES = 164;

struct Payload {
  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;
  char gitRevision[BuildGitRevisionWireBytes];   // zero-padded, unterminated when full
  char buildTimestamp[BuildTimestampWireBytes];  // zero-padded
  uint8_t gap47;
  float phaseCorrection;
  float eFieldSlopeCorrection;
  uint32_t stUID[3];
  ClampMapping clampMapping;
  uint16_t hwRevision;
  uint8_t gap158[2];
};
static_assert(hasWireHeader<Payload>());
static_assert(sizeof(Payload) == WIRE_BODY_BYTES);
static_assert(offsetof(Payload, gitRevision) == 7);
static_assert(offsetof(Payload, buildTimestamp) == 15);
static_assert(offsetof(Payload, gap47) == 47);
static_assert(offsetof(Payload, phaseCorrection) == 48);
static_assert(offsetof(Payload, eFieldSlopeCorrection) == 52);
static_assert(offsetof(Payload, stUID) == 56);
static_assert(offsetof(Payload, clampMapping) == 68);
static_assert(offsetof(Payload, hwRevision) == 156);
static_assert(offsetof(Payload, gap158) == 158);

// Zero-fills the field, then copies min(strlen(text), N) characters; a null text leaves it zero.
template <size_t N>
void copyFixedField(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  if (text == nullptr) return;
  size_t n = 0;
  while (n < N && text[n] != '\0') ++n;  // never reads past the field's width
  std::memcpy(field, text, n);
}

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, const std::array<uint32_t, 3>& stUID,
                    float phaseCorrection, float eFieldSlopeCorrection, const ClampMapping& clampMapping);
// As makePayload, with the build texts given (the node passes its own build identity).
Payload makePayloadWithBuild(LoRaPacketCounterU24 counter, const UID& uid, const std::array<uint32_t, 3>& stUID,
                             float phaseCorrection, float eFieldSlopeCorrection, const ClampMapping& clampMapping,
                             const char* gitRevision, const char* buildTimestamp);

LoRaFrameBuffer encode(const Payload& payload);
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key);
// Receiving side: a frame of exactly WIRE_MAX_BYTES, tagged under key, with this packet's code.
bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key);

}  // namespace LoRaPacket8
