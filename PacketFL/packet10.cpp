// Packet 10 body: copies, their seals and checks, and the field-by-field wire form.
#include "packet10.h"

#include <cstring>

namespace LoRaPacket10 {

StUid packStUidBytes(const std::array<uint32_t, 3>& words) {
  StUid out{};
  for (size_t w = 0; w < 3; ++w) {
    for (size_t b = 0; b < 4; ++b) out[w * 4 + b] = static_cast<uint8_t>(words[w] >> (8 * b));
  }
  return out;
}

Payload makePayloadBody(uint8_t packetCode, LoRaPacketCounterU24 counter, const UID& uid, const StUid& stUid,
                        uint16_t phaseTag) {
  Payload p{};
  p.header.packetCode = packetCode;
  p.header.packetCounter = counter;
  p.header.uid = uid;
  sealProvisionedUidCopies(p);
  p.stUid[0] = stUid;
  sealStUidCopies(p);
  p.phaseTag[0] = phaseTag;
  sealPhaseTagCopies(p);
  return p;
}

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, const StUid& stUid, uint16_t phaseTag) {
  return makePayloadBody(PACKET_CODE, counter, uid, stUid, phaseTag);
}

void sealProvisionedUidCopies(Payload& p) { p.provisionedUid.fill(p.header.uid); }
void sealStUidCopies(Payload& p) {
  for (size_t i = 1; i < ST_UID_COPIES; ++i) p.stUid[i] = p.stUid[0];
}
void sealPhaseTagCopies(Payload& p) {
  for (size_t i = 1; i < PHASE_TAG_COPIES; ++i) p.phaseTag[i] = p.phaseTag[0];
}

bool verifyProvisionedUidCopies(const Payload& p) {
  if (p.header.uid.bytes != p.provisionedUid[0].bytes) return false;
  for (size_t i = 1; i < PROVISIONED_UID_COPIES; ++i) {
    if (p.provisionedUid[i].bytes != p.provisionedUid[0].bytes) return false;
  }
  return true;
}
bool verifyStUidCopies(const Payload& p) {
  for (size_t i = 1; i < ST_UID_COPIES; ++i) {
    if (p.stUid[i] != p.stUid[0]) return false;
  }
  return true;
}
bool verifyPhaseTagCopies(const Payload& p) {
  for (size_t i = 1; i < PHASE_TAG_COPIES; ++i) {
    if (p.phaseTag[i] != p.phaseTag[0]) return false;
  }
  return true;
}

void writeWireBody(uint8_t* dst, const Payload& p) {
  std::memcpy(dst, &p.header, PacketHeader::WIRE_BYTES);
  for (size_t i = 0; i < PROVISIONED_UID_COPIES; ++i)
    std::memcpy(dst + kOffProvisionedUid + 3 * i, p.provisionedUid[i].bytes.data(), 3);
  for (size_t i = 0; i < ST_UID_COPIES; ++i)
    std::memcpy(dst + kOffStUid + ST_UID_BYTES * i, p.stUid[i].data(), ST_UID_BYTES);
  for (size_t i = 0; i < PHASE_TAG_COPIES; ++i) {
    dst[kOffPhaseTag + 2 * i] = static_cast<uint8_t>(p.phaseTag[i]);
    dst[kOffPhaseTag + 2 * i + 1] = static_cast<uint8_t>(p.phaseTag[i] >> 8);
  }
}

void readWireBody(Payload& p, const uint8_t* src) {
  std::memcpy(&p.header, src, PacketHeader::WIRE_BYTES);
  for (size_t i = 0; i < PROVISIONED_UID_COPIES; ++i)
    std::memcpy(p.provisionedUid[i].bytes.data(), src + kOffProvisionedUid + 3 * i, 3);
  for (size_t i = 0; i < ST_UID_COPIES; ++i)
    std::memcpy(p.stUid[i].data(), src + kOffStUid + ST_UID_BYTES * i, ST_UID_BYTES);
  for (size_t i = 0; i < PHASE_TAG_COPIES; ++i) {
    p.phaseTag[i] = static_cast<uint16_t>(src[kOffPhaseTag + 2 * i] | (src[kOffPhaseTag + 2 * i + 1] << 8));
  }
  p.wirePad = 0;
}

LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) {
  uint8_t body[WIRE_BODY_BYTES];
  writeWireBody(body, payload);
  return encodeBodyWithHmac(body, sizeof body, key);
}

bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  if (!HMAC::verifyTag(key, wire, WIRE_BODY_BYTES, len) || wire[0] != PACKET_CODE) return false;
  readWireBody(payload, wire);
  return true;
}

}  // namespace LoRaPacket10
