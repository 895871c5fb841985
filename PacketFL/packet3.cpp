// Packet 3 payload and its one-byte scaled fields.
#include "packet3.h"

#include <cmath>

#include "tou16.h"

namespace {
// Rounds half away from zero into 0..255 (x <= 0 gives 0, x >= 255 gives 255).
uint8_t saturateToByte(float x) {
  if (std::isnan(x) || x <= 0.0f) return 0;
  if (x >= 255.0f) return 255;
  return static_cast<uint8_t>(std::lroundf(x));
}
}  // namespace

uint8_t encodeTemperatureScaled(float celsius) { return saturateToByte((celsius + 25.0f) * 3.0f); }

uint8_t encodeVbatScaled(float volts) { return saturateToByte((volts - 2.5f) / 0.005f); }

int8_t encodePfScaled(float pf) {
  const float x = pf * 100.0f;
  if (std::isnan(x)) return 0;
  if (x <= -100.0f) return -100;
  if (x >= 100.0f) return 100;
  return static_cast<int8_t>(std::lroundf(x));
}

namespace LoRaPacket3 {

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, float temperature, float vbat, float pf, float curr,
                    bool openRX) {
  Payload p{};
  p.packetCounter = counter;
  p.packetCode = openRX ? PACKET_CODE_OPEN_RX : PACKET_CODE;
  p.uid = uid;
  p.temperature = encodeTemperatureScaled(temperature);
  p.vbat = encodeVbatScaled(vbat);
  p.pf = encodePfScaled(pf);
  p.curr = tou16(curr);
  return p;
}

LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) { return encodePayloadWithHmac(payload, key); }

bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodePayloadWithHmac(payload, wire, len, key, PACKET_CODE, PACKET_CODE_OPEN_RX);
}

}  // namespace LoRaPacket3
