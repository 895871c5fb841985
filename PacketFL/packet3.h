// Telemetry packet 3 (code 5 when a receive window follows): temperature, supply, power factor
// and current in 12 bytes plus the tag; and the scaling helpers of its one-byte fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "packet_encode.h"

// Each helper saturates at its field's range; a NaN input encodes as 0.
uint8_t encodeTemperatureScaled(float celsius);  // (t + 25) * 3: 1/3 degC steps, -25..+60 degC
uint8_t encodeVbatScaled(float volts);           // (v - 2.5) / 0.005: 5 mV steps, 2.5..3.775 V
int8_t encodePfScaled(float pf);                 // pf * 100, -100..100

namespace LoRaPacket3 {

constexpr uint8_t PACKET_CODE = 3;
constexpr uint8_t PACKET_CODE_OPEN_RX = 5;  // the sender listens right after this frame
constexpr size_t WIRE_BODY_BYTES = 12;
constexpr size_t WIRE_MAX_BYTES = 16;
constexpr uint16_t airTime = 52;  // ms on air at SF7 / 125 kHz

struct Payload {
  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;
  uint8_t temperature;
  uint8_t vbat;
  int8_t pf;
  uint16_t curr;  // mA, low 16 bits (tou16)
};
static_assert(hasWireHeader<Payload>());
static_assert(sizeof(Payload) == WIRE_BODY_BYTES);
static_assert(offsetof(Payload, temperature) == 7);
static_assert(offsetof(Payload, vbat) == 8);
static_assert(offsetof(Payload, pf) == 9);
static_assert(offsetof(Payload, curr) == 10);

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, float temperature, float vbat, float pf, float curr,
                    bool openRX);
LoRaFrameBuffer encode(const Payload& payload);
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key);
// Receiving side: a frame of exactly WIRE_MAX_BYTES, tagged under key, with this packet's code.
bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key);

}  // namespace LoRaPacket3
