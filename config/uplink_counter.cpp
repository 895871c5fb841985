// The uplink packet counter and its checkpoints on the configuration page.
#include "uplink_counter.h"

#include "DeviceConfig.h"
#include "RTCMem.h"
#include "gstate.h"

namespace {
constexpr uint32_t kCounterMask = 0xFFFFFFu;
constexpr uint32_t kHalfRange = 0x800000u;
}  // namespace

LoRaPacketCounterU24 nextUplinkCounter() {
  const LoRaPacketCounterU24 next = rtcMem().loraPacketCounter.inc();
  if (gstate().config.ok()) {
    uint32_t kept = 0;
    const bool any = DeviceConfig::keptUplinkCounter(kept);
    if (!any || ((next.toU32() - kept) & kCounterMask) >= kUplinkCounterCheckpointStep) {
      (void)DeviceConfig::keepUplinkCounter(next.toU32());
    }
  }
  return next;
}

void resumeUplinkCounter() {
  uint32_t kept = 0;
  if (!gstate().config.ok() || !DeviceConfig::keptUplinkCounter(kept)) return;
  const uint32_t current = rtcMem().loraPacketCounter.get().toU32();
  const uint32_t behind = (kept - current) & kCounterMask;
  if (current != 0 && (behind == 0 || behind > kHalfRange)) return;
  rtcMem().loraPacketCounter.set(LoRaPacketCounterU24::fromU32((kept + kUplinkCounterCheckpointStep) & kCounterMask));
}
