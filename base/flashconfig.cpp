// Defaults of the configuration record.
#include "flashconfig.h"

#include <cstring>

const ClampMapping kDefaultClampMapping = {{
    {0.001f, 0.001068f},
    {0.438f, 0.558f},
    {1.438f, 1.558f},
    {2.2049f, 2.542f},
    {5.578916f, 6.397518f},
    {10.311184f, 11.945379f},
    {16.7987f, 19.551f},
    {25.691055f, 29.852821f},
    {32.235f, 37.434f},
    {40.479393f, 46.80704f},
    {60.0f, 69.0f},
}};

FlashConfig::FlashConfig()
    : inductive50HzPhaseCorrection(0.0f),
      clampMapping(kDefaultClampMapping),
      sleepMaxSec(600.0f),
      hmacKey{},
      uid{},
      forceLoraRX(false),
      txDebugPacketRate(100),
      version(0),
      reserved(0),
      magic(0),
      lastDownlinkCounter(0) {}

void FlashConfig::applyRuntimeDefaults() {
  const FlashConfig defaults;
  std::memcpy(static_cast<void*>(this), &defaults, sizeof(FlashConfig));
}

void FlashConfig::clearProvisionedIdentity() {
  hmacKey.fill(0);
  uid.storeU24(0);
  lastDownlinkCounter = 0;
  magic = 0;
  version = 0;
}
