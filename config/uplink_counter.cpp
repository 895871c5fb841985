// The uplink packet counter and its checkpoints on the configuration page.
#include "uplink_counter.h"

#include "DeviceConfig.h"
#include "MCUState.h"
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
  if (!DeviceConfig::keptUplinkCounter(kept)) return;
  const uint32_t current = rtcMem().loraPacketCounter.get().toU32();
  const uint32_t behind = (kept - current) & kCounterMask;
  // A cleared RTC domain reads 0 at a power-on; after a reset a 0 is a counter like any other
  // (a node committed and restarted before its first frame).
  const bool cleared = current == 0 && (mcustate().resetCause & HAL_RESET_FLAG_POWER_ON) != 0;
  if (!cleared && (behind == 0 || behind > kHalfRange)) return;
  rtcMem().loraPacketCounter.set(LoRaPacketCounterU24::fromU32((kept + kUplinkCounterCheckpointStep) & kCounterMask));
}
