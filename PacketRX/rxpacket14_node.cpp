// Packet 14 on the node: decoded under the live key; settings land in the live configuration (flash registers commit it) and
// in the RTC-held transmit power.
#include "rxpacket14_node.h"

#include "DeviceConfig.h"
#include "RTCMem.h"
#include "gstate.h"

namespace LoRaRXPacket14 {

namespace {
bool gCommitted = false;
bool commitLive(FlashConfig& config) {
  gCommitted = DeviceConfig::commitToFlash(config);
  return gCommitted;
}
}  // namespace

bool decode(Payload& p, const uint8_t* wire, size_t len) { return decodeWithKey(p, wire, len, HMAC::liveKey()); }

ApplyOutcome applyDecoded(const Payload& p) {
  FlashConfig& config = setGstate().config;
  Target target{config, rtcMem().txPowerDbm.get()};
  const int8_t before = target.txPowerDbm;
  gCommitted = false;
  const ApplyOutcome outcome = applyDecodedTo(p, target, commitLive);
  if (outcome != ApplyOutcome::StaleCounter && outcome != ApplyOutcome::UidMismatch && !gCommitted) {
    // The frame is consumed but no record carried its counter to the page: keep the counter
    // there on its own, or the frame would be accepted again after a reset or a power cut.
    const uint32_t consumed = p.packetCounter.toU32();
    const UID uid = p.uid;
    (void)DeviceConfig::keepDownlinkCounter(uid, consumed);
    // A failed commit reloaded the live record from the page: it must not fall behind either.
    if (outcome == ApplyOutcome::CommitFailed) DeviceConfig::init();
  }
  if (target.txPowerDbm != before) rtcMem().txPowerDbm.set(target.txPowerDbm);
  return outcome;
}

}  // namespace LoRaRXPacket14
