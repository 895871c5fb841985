// Packet 8 payload: build identity, chip ID and calibration.
#include "packet8.h"

#include <cstring>

#include "MCUState.h"

namespace LoRaPacket8 {

Payload makePayloadWithBuild(LoRaPacketCounterU24 counter, const UID& uid, const std::array<uint32_t, 3>& stUID,
                             float phaseCorrection, float eFieldSlopeCorrection, const ClampMapping& clampMapping,
                             const char* gitRevision, const char* buildTimestamp) {
  Payload p{};
  p.hwRevision = MCUState::hwRevision;
  p.packetCode = PACKET_CODE;
  p.packetCounter = counter;
  p.uid = uid;
  std::memcpy(p.stUID, stUID.data(), sizeof p.stUID);
  p.phaseCorrection = phaseCorrection;
  p.eFieldSlopeCorrection = eFieldSlopeCorrection;
  p.clampMapping = clampMapping;
  copyFixedField(p.gitRevision, gitRevision);
  copyFixedField(p.buildTimestamp, buildTimestamp);
  return p;
}

Payload makePayload(LoRaPacketCounterU24 counter, const UID& uid, const std::array<uint32_t, 3>& stUID,
                    float phaseCorrection, float eFieldSlopeCorrection, const ClampMapping& clampMapping) {
  return makePayloadWithBuild(counter, uid, stUID, phaseCorrection, eFieldSlopeCorrection, clampMapping,
                              buildGitRevision(), buildTimestamp());
}

LoRaFrameBuffer encode(const Payload& payload) { return encodePayloadWithHmac(payload); }
LoRaFrameBuffer encode(const Payload& payload, const HMAC::Key& key) { return encodePayloadWithHmac(payload, key); }

bool decode(Payload& payload, const uint8_t* wire, size_t len, const HMAC::Key& key) {
  return decodePayloadWithHmac(payload, wire, len, key, PACKET_CODE);
}

}  // namespace LoRaPacket8
