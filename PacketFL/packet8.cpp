// Packet 8 frames under a given key.
#include "packet8.h"

namespace LoRaPacket8 {

LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) { return encodePayloadWithHmac(payload, key); }

bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodePayloadWithHmac(payload, wire, len, key, PACKET_CODE);
}

}  // namespace LoRaPacket8
