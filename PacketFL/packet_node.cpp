// The node's forms of the uplink frames: tagged with the live key, and packet 8 from the board's
// hardware revision and this build's identity.
#include <cstring>

#include "MCUState.h"
#include "build_info.h"
#include "packet10.h"
#include "packet17.h"
#include "packet3.h"
#include "packet4.h"
#include "packet7.h"
#include "packet8.h"
#include "packet9.h"

namespace LoRaPacket3 {
LoRaFrameBuffer encode(const Payload& payload) { return encodePayloadWithHmac(payload); }
}  // namespace LoRaPacket3

namespace LoRaPacket4 {
LoRaFrameBuffer encode(const Payload& payload) { return encodeCapture(payload, HMAC::liveKey()); }
}  // namespace LoRaPacket4

namespace LoRaPacket7 {
LoRaFrameBuffer encode(const Payload& payload) { return encodePayloadWithHmac(payload); }
}  // namespace LoRaPacket7

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
}  // namespace LoRaPacket8

namespace LoRaPacket9 {
LoRaFrameBuffer encode(const Payload& payload) { return encodeCapture(payload, HMAC::liveKey()); }
}  // namespace LoRaPacket9

namespace LoRaPacket10 {
LoRaFrameBuffer encode(const Payload& payload) { return encode(payload, HMAC::liveKey()); }
}  // namespace LoRaPacket10

namespace LoRaPacket17 {
LoRaFrameBuffer encode(const Payload& payload) { return encodePayloadWithHmac(payload); }
}  // namespace LoRaPacket17
