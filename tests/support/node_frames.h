// Frames as the node builds them, with its own encoders, for tests of the receiving side.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "hex_text.h"
#include "packet10.h"
#include "packet17.h"
#include "packet3.h"
#include "packet4.h"

namespace testing_support {

using Frame = std::vector<uint8_t>;

inline UID uidOf(uint32_t v) {
  UID u;
  u.storeU24(v);
  return u;
}

constexpr HMAC::Key kZeroKey{0, 0};

// The chip of most tests: unique-ID words 0x11223344, 0x55667788, 0x99AABBCC.
inline LoRaPacket10::StUid chipOf(uint32_t w0 = 0x11223344u, uint32_t w1 = 0x55667788u, uint32_t w2 = 0x99AABBCCu) {
  return LoRaPacket10::packStUidBytes({w0, w1, w2});
}

inline Frame packet10(uint32_t uid, uint32_t counter, const LoRaPacket10::StUid& chip, const HMAC::Key& key) {
  return bytesOf(LoRaPacket10::encode(
      LoRaPacket10::makePayload(LoRaPacketCounterU24::fromU32(counter), uidOf(uid), chip, LoRaPacket10::kPhaseTagNone),
      key));
}

inline Frame packet3(uint32_t uid, uint32_t counter, const HMAC::Key& key, bool listen = false, float temperature = 20,
                     float vbat = 3.3f, float pf = 0.456f, float current = 1.2345f) {
  return bytesOf(LoRaPacket3::encode(LoRaPacket3::makePayload(LoRaPacketCounterU24::fromU32(counter), uidOf(uid),
                                                              temperature, vbat, pf, current, listen),
                                     key));
}

inline Frame packet17(uint32_t uid, uint32_t counter, const HMAC::Key& key, bool ok, LoRaPacket17::Reason reason) {
  return bytesOf(LoRaPacket17::encode(
      LoRaPacket17::makePayload(LoRaPacketCounterU24::fromU32(counter), uidOf(uid), ok, reason), key));
}

// A capture row as the ADC buffer holds it.
struct Row {
  int16_t bFieldH, bFieldL, eFieldCap, eFieldInd;
  int16_t getBFieldV() const { return static_cast<int16_t>(bFieldH - bFieldL); }
};

}  // namespace testing_support
