// RTC backup-register fields and their status table.
#include "RTCMem.h"

#include "Debug.h"
#include "MCUState.h"
#include "stm32g0xx_hal.h"

namespace {
RTCMem gRtcMem;
}

RTCMem& rtcMem() { return gRtcMem; }

uint32_t RTCMem::readReg(uint32_t index) {
  HAL_PWR_EnableBkUpAccess();
  return HAL_RTCEx_BKUPRead(mcustate().hrtc, index);
}

void RTCMem::writeReg(uint32_t index, uint32_t value) {
  HAL_PWR_EnableBkUpAccess();
  HAL_RTCEx_BKUPWrite(mcustate().hrtc, index, value);
}

void printRTC() {
  const RTCMem& m = rtcMem();
  const struct {
    const char* name;
    uint32_t value;
  } rows[] = {
      {"loraPacketCounter", m.loraPacketCounter.get().toU32()},
      {"stableReadCounter", m.stableReadCounter.get()},
      {"timeSinceLastLoraTX", m.timeSinceLastLoraTX.get()},
      {"firstStableRawCoarseRMSCurrent", m.firstStableRawCoarseRMSCurrent.get()},
      {"timeSinceLastLoraRX", m.timeSinceLastLoraRX.get()},
  };
  debug("RTC backup status:");
  debugV2("  %-30s | %10s | %10s", "Field", "Dec", "Hex");
  debug("  ------------------------------+------------+------------");
  for (const auto& row : rows) {
    debugV2("  %-30s | %10lu | 0x%08lX", row.name, static_cast<unsigned long>(row.value),
            static_cast<unsigned long>(row.value));
  }
}
