// Downlink packet 13 (143 bytes): the receiving node assigns (phase tag 0xAAAA) or confirms
// (0x5555) a 24-bit identity and a 16-byte tag key for the chip named by its 96-bit unique ID.
// The body is packet 10's followed by four copies of the key; every copy must agree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "flashconfig.h"
#include "packet10.h"

namespace LoRaRXPacket13 {

constexpr uint8_t PACKET_CODE = 13;
constexpr size_t HMAC_KEY_COPIES = 4;
constexpr size_t HMAC_KEY_BYTES = 16;
constexpr size_t WIRE_BODY_BYTES = 139;
constexpr size_t WIRE_MAX_BYTES = 143;
constexpr size_t kOffHmacKey = LoRaPacket10::WIRE_BODY_BYTES;  // 75
static_assert(kOffHmacKey + HMAC_KEY_BYTES * HMAC_KEY_COPIES == WIRE_BODY_BYTES);

using HmacKey = std::array<uint8_t, HMAC_KEY_BYTES>;

struct Payload : LoRaPacket10::Payload {
  std::array<HmacKey, HMAC_KEY_COPIES> hmacKey;
};

enum class DecodeFail : uint8_t { None = 0, WrongLen = 1, HmacTag = 2, WrongPacketCode = 3, FecCopies = 4 };
// "none", "wrong_len", "hmac_tag", "wrong_packet_code", "fec_copies"; "unknown" otherwise.
const char* decodeFailLabel(DecodeFail reason);

bool verifyHmacKeyCopies(const Payload& p);
// Header uid against copy 0 and every copy group agreeing, in that order.
bool verifyPayloadFecCopies(const Payload& p);

void writeWireBody(uint8_t* dst, const Payload& p);  // WIRE_BODY_BYTES
void readWireBody(Payload& p, const uint8_t* src);

// The checks of a received frame in order (length, tag under key, code, copies); the first that
// fails names the result. Never reads outside wire[0, len).
DecodeFail decodeWithKey(Payload& p, const uint8_t* wire, size_t len, const HMAC::Key& key);
// With the node's live key.
bool decode(Payload& p, const uint8_t* wire, size_t len);
DecodeFail decodeFailReason(const uint8_t* wire, size_t len);

// The receiving side's frame: identity and key, each sealed into its copies.
Payload makePayload(LoRaPacketCounterU24 counter, const UID& assignedUid, const LoRaPacket10::StUid& stUid,
                    uint16_t phaseTag, const HmacKey& hmacKey);
void sealHmacKeyCopies(Payload& p);
LoRaFrameBuffer encode(const Payload& p, const HMAC::Key& key);

// Applying a decoded frame to a configuration record, for the chip whose unique ID is localStUid.
// commit persists the record (and reports success).
using CommitFn = bool (*)(FlashConfig& config);
bool verifyLocalStUid(const Payload& p, const LoRaPacket10::StUid& localStUid);
bool confirmWireHmacKeyMatchesFlash(const FlashConfig& config, const HmacKey& wireKey);
bool applyAssignTo(const Payload& p, const LoRaPacket10::StUid& localStUid, FlashConfig& config, CommitFn commit);
bool applyConfirmTo(const Payload& p, const LoRaPacket10::StUid& localStUid, const FlashConfig& config);

}  // namespace LoRaRXPacket13
