// Packet 17 payload and its copies.
#include "packet17.h"

namespace LoRaPacket17 {

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, bool ok, Reason reason) {
  Payload p{};
  p.packetCode = PACKET_CODE;
  p.uid = uid;
  p.packetCounter = counter;
  p.ok[0] = ok ? 1 : 0;
  p.reason[0] = static_cast<uint8_t>(reason);
  sealOkCopies(p);
  sealReasonCopies(p);
  return p;
}

void sealOkCopies(Payload& p) { p.ok.fill(p.ok[0]); }
void sealReasonCopies(Payload& p) { p.reason.fill(p.reason[0]); }

bool verifyOkCopies(const Payload& p) {
  for (uint8_t v : p.ok) {
    if (v != p.ok[0]) return false;
  }
  return true;
}
bool verifyReasonCopies(const Payload& p) {
  for (uint8_t v : p.reason) {
    if (v != p.reason[0]) return false;
  }
  return true;
}

const char* reasonLabel(uint8_t reason) {
  switch (reason) {
    case static_cast<uint8_t>(Reason::FECFail): return "FECFail";
    case static_cast<uint8_t>(Reason::InvalidOpcode): return "InvalidOpcode";
    default: return "unknown";
  }
}

LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) { return encodePayloadWithHmac(payload, key); }

bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodePayloadWithHmac(payload, wire, len, key, PACKET_CODE);
}

}  // namespace LoRaPacket17
