// Packet 14 frames: decode under a given key, copy check, and the receiving side's encoder.
#include "rxpacket14.h"

namespace LoRaRXPacket14 {

bool verifyFecCopies(const Payload& p) { return p.opcode == p.opcode2 && p.args == p.args2; }

bool decodeWithKey(Payload& p, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodePayloadWithHmac(p, wire, len, key, PACKET_CODE);
}


Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, Op op, const Args& args) {
  Payload p{};
  p.packetCode = PACKET_CODE;
  p.uid = uid;
  p.packetCounter = counter;
  p.opcode = op;
  p.opcode2 = op;
  p.args = args;
  p.args2 = args;
  return p;
}

LoRaFrameBuffer encode(const Payload& p, const HMAC::Key& key) { return encodePayloadWithHmac(p, key); }

}  // namespace LoRaRXPacket14
