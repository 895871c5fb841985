// Packet 14 on the node: decoded under the live key; settings land in the live configuration (flash registers commit it) and
// in the RTC-held transmit power.
#include "rxpacket14_node.h"

#include "DeviceConfig.h"
#include "RTCMem.h"
#include "gstate.h"

namespace LoRaRXPacket14 {

namespace {
bool commitLive(FlashConfig& config) { return DeviceConfig::commitToFlash(config); }
}  // namespace

bool decode(Payload& p, const uint8_t* wire, size_t len) { return decodeWithKey(p, wire, len, HMAC::liveKey()); }

ApplyOutcome applyDecoded(const Payload& p) {
  Target target{setGstate().config, rtcMem().txPowerDbm.get()};
  const int8_t before = target.txPowerDbm;
  const ApplyOutcome outcome = applyDecodedTo(p, target, commitLive);
  if (target.txPowerDbm != before) rtcMem().txPowerDbm.set(target.txPowerDbm);
  return outcome;
}

}  // namespace LoRaRXPacket14
