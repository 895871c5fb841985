// Provisioning request packet 10 (79 bytes): the node's identity and the chip's 96-bit unique ID,
// each in four copies, and a phase tag. Its body is written field by field (no alignment gaps);
// downlink packet 13 extends the same body.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "packet_encode.h"

namespace LoRaPacket10 {

constexpr uint8_t PACKET_CODE = 10;
constexpr size_t PROVISIONED_UID_COPIES = 4;
constexpr size_t ST_UID_BYTES = 12;
constexpr size_t ST_UID_COPIES = 4;
constexpr size_t PHASE_TAG_COPIES = 4;
constexpr size_t WIRE_BODY_BYTES = 75;
constexpr size_t WIRE_MAX_BYTES = 79;

constexpr uint16_t kPhaseTagNone = 0;
constexpr uint16_t kPhaseTagAssign = 0xAAAA;
constexpr uint16_t kPhaseTagConfirm = 0x5555;

// Wire offsets of the body's fields.
constexpr size_t kOffProvisionedUid = 7;
constexpr size_t kOffStUid = kOffProvisionedUid + 3 * PROVISIONED_UID_COPIES;  // 19
constexpr size_t kOffPhaseTag = kOffStUid + ST_UID_BYTES * ST_UID_COPIES;      // 67
static_assert(kOffPhaseTag + 2 * PHASE_TAG_COPIES == WIRE_BODY_BYTES);

using StUid = std::array<uint8_t, ST_UID_BYTES>;

struct Payload {
  PacketHeader header;
  std::array<UID, PROVISIONED_UID_COPIES> provisionedUid;
  std::array<StUid, ST_UID_COPIES> stUid;
  std::array<uint16_t, PHASE_TAG_COPIES> phaseTag;
  uint8_t wirePad;  // never sent
};

// The three unique-ID words, in order, each little-endian.
StUid packStUidBytes(const std::array<uint32_t, 3>& words);

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, const StUid& stUid, uint16_t phaseTag);
Payload makePayloadBody(uint8_t packetCode, LoRaPacketCounterU24 counter, const UID& uid, const StUid& stUid,
                        uint16_t phaseTag);

void sealProvisionedUidCopies(Payload& p);
void sealStUidCopies(Payload& p);
void sealPhaseTagCopies(Payload& p);
bool verifyProvisionedUidCopies(const Payload& p);
bool verifyStUidCopies(const Payload& p);
bool verifyPhaseTagCopies(const Payload& p);

constexpr bool isAssignPhaseTag(uint16_t v) { return v == kPhaseTagAssign; }
constexpr bool isConfirmPhaseTag(uint16_t v) { return v == kPhaseTagConfirm; }

// dst and src hold WIRE_BODY_BYTES bytes.
void writeWireBody(uint8_t* dst, const Payload& p);
void readWireBody(Payload& p, const uint8_t* src);

LoRaFrameBuffer encode(const Payload& payload);
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key);
// Receiving side: 79 bytes, tagged under key, code 10; copies are left to the verify functions.
bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key);

}  // namespace LoRaPacket10
