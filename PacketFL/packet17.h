// Acknowledgement packet 17 (18 bytes): whether a remote-settings frame was applied and why not,
// the result in four copies and the reason in three.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "packet_encode.h"

namespace LoRaPacket17 {

constexpr uint8_t PACKET_CODE = 17;
constexpr size_t OK_COPIES = 4;
constexpr size_t REASON_COPIES = 3;
constexpr size_t WIRE_BODY_BYTES = 14;
constexpr size_t WIRE_MAX_BYTES = 18;

enum class Reason : uint8_t {
  FECFail = 0,
  InvalidOpcode = 1,
  Applied = 2,
  Unchanged = 3,
  RejectedValue = 4,
  CommitFailed = 5,
};

struct Payload {
  uint8_t packetCode;
  UID uid;
  LoRaPacketCounterU24 packetCounter;
  std::array<uint8_t, OK_COPIES> ok;  // 1 accepted, 0 refused
  std::array<uint8_t, REASON_COPIES> reason;
};
static_assert(hasWireHeader<Payload>());
static_assert(sizeof(Payload) == WIRE_BODY_BYTES);
static_assert(offsetof(Payload, ok) == 7);
static_assert(offsetof(Payload, reason) == 11);

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, bool ok, Reason reason);
void sealOkCopies(Payload& p);
void sealReasonCopies(Payload& p);
bool verifyOkCopies(const Payload& p);
bool verifyReasonCopies(const Payload& p);
// "FECFail" and "InvalidOpcode"; every other value, Applied included, is "unknown".
const char* reasonLabel(uint8_t reason);

LoRaFrameBuffer encode(const Payload& payload);
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key);
// Receiving side: a frame of exactly WIRE_MAX_BYTES, tagged under key, with this packet's code.
bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key);

}  // namespace LoRaPacket17
