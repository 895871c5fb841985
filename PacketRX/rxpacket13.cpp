// Packet 13: wire body, decode checks and the assign/confirm decisions on a configuration record.
#include "rxpacket13.h"

#include <cstring>

namespace LoRaRXPacket13 {

namespace {
bool isZero(const HmacKey& k) {
  for (uint8_t b : k) {
    if (b != 0) return false;
  }
  return true;
}

// Copies agree, the phase tag is the wanted one, the frame names this chip, and the identity is set.
bool acceptable(const Payload& p, uint16_t phaseTag, const LoRaPacket10::StUid& localStUid) {
  return verifyPayloadFecCopies(p) && p.phaseTag[0] == phaseTag && verifyLocalStUid(p, localStUid) &&
         p.provisionedUid[0].toU24() != 0;
}
}  // namespace

const char* decodeFailLabel(DecodeFail reason) {
  switch (reason) {
    case DecodeFail::None: return "none";
    case DecodeFail::WrongLen: return "wrong_len";
    case DecodeFail::HmacTag: return "hmac_tag";
    case DecodeFail::WrongPacketCode: return "wrong_packet_code";
    case DecodeFail::FecCopies: return "fec_copies";
  }
  return "unknown";
}

bool verifyHmacKeyCopies(const Payload& p) {
  for (size_t i = 1; i < HMAC_KEY_COPIES; ++i) {
    if (p.hmacKey[i] != p.hmacKey[0]) return false;
  }
  return true;
}

bool verifyPayloadFecCopies(const Payload& p) {
  return LoRaPacket10::verifyProvisionedUidCopies(p) && LoRaPacket10::verifyStUidCopies(p) &&
         LoRaPacket10::verifyPhaseTagCopies(p) && verifyHmacKeyCopies(p);
}

void writeWireBody(uint8_t* dst, const Payload& p) {
  LoRaPacket10::writeWireBody(dst, p);
  for (size_t i = 0; i < HMAC_KEY_COPIES; ++i)
    std::memcpy(dst + kOffHmacKey + HMAC_KEY_BYTES * i, p.hmacKey[i].data(), HMAC_KEY_BYTES);
}

void readWireBody(Payload& p, const uint8_t* src) {
  LoRaPacket10::readWireBody(p, src);
  for (size_t i = 0; i < HMAC_KEY_COPIES; ++i)
    std::memcpy(p.hmacKey[i].data(), src + kOffHmacKey + HMAC_KEY_BYTES * i, HMAC_KEY_BYTES);
}

DecodeFail decodeWithKey(Payload& p, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  if (wire == nullptr || len != WIRE_MAX_BYTES) return DecodeFail::WrongLen;
  readWireBody(p, wire);
  if (!HMAC::verifyTag(key, wire, WIRE_BODY_BYTES, len)) return DecodeFail::HmacTag;
  if (p.header.packetCode != PACKET_CODE) return DecodeFail::WrongPacketCode;
  if (!verifyPayloadFecCopies(p)) return DecodeFail::FecCopies;
  return DecodeFail::None;
}

Payload makePayload(LoRaPacketCounterU24 counter, const UID& assignedUid, const LoRaPacket10::StUid& stUid,
                    uint16_t phaseTag, const HmacKey& hmacKey) {
  Payload p{};
  static_cast<LoRaPacket10::Payload&>(p) =
      LoRaPacket10::makePayloadBody(PACKET_CODE, counter, assignedUid, stUid, phaseTag);
  p.hmacKey[0] = hmacKey;
  sealHmacKeyCopies(p);
  return p;
}

void sealHmacKeyCopies(Payload& p) { p.hmacKey.fill(p.hmacKey[0]); }

LoRaFrameBuffer encode(const Payload& p, const HMAC::Key& key) {
  uint8_t body[WIRE_BODY_BYTES];
  writeWireBody(body, p);
  return encodeBodyWithHmac(body, sizeof body, key);
}

bool verifyLocalStUid(const Payload& p, const LoRaPacket10::StUid& localStUid) {
  for (const auto& copy : p.stUid) {
    if (copy != localStUid) return false;
  }
  return true;
}

bool confirmWireHmacKeyMatchesFlash(const FlashConfig& config, const HmacKey& wireKey) {
  return isZero(wireKey) || wireKey == config.hmacKey;
}

bool applyAssignTo(const Payload& p, const LoRaPacket10::StUid& localStUid, FlashConfig& config, CommitFn commit) {
  if (!acceptable(p, LoRaPacket10::kPhaseTagAssign, localStUid)) return false;
  const UID& assigned = p.provisionedUid[0];
  // A repeat of what the valid record already holds needs no flash write. Values that are only
  // staged must still be committed, or the confirm that follows could never pass.
  if (config.ok() && config.uid.bytes == assigned.bytes && config.hmacKey == p.hmacKey[0]) return true;
  config.uid = assigned;
  config.hmacKey = p.hmacKey[0];
  config.lastDownlinkCounter = 0;
  return commit != nullptr && commit(config);
}

bool applyConfirmTo(const Payload& p, const LoRaPacket10::StUid& localStUid, const FlashConfig& config) {
  if (!acceptable(p, LoRaPacket10::kPhaseTagConfirm, localStUid)) return false;
  return config.uid.bytes == p.provisionedUid[0].bytes && config.ok() &&
         confirmWireHmacKeyMatchesFlash(config, p.hmacKey[0]);
}

}  // namespace LoRaRXPacket13
