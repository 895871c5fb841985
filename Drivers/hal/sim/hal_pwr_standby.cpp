// Standby and backup-domain access of the simulated board. Standby powers the core down; the RTC
// wake-up timer restarts the firmware from reset after its time has passed in virtual time.
#include <cstdio>

#include "board.h"
#include "console.h"
#include "rtc_model.h"
#include "run_trace.h"
#include "stm32g0xx_hal.h"

extern "C" {

void HAL_PWR_EnableBkUpAccess(void) {
  sim::board().halCall();
  sim::board().rtc().setBackupAccess(true);
}

void HAL_PWR_DisableBkUpAccess(void) {
  sim::board().halCall();
  sim::board().rtc().setBackupAccess(false);
}

void HAL_PWR_EnterSTANDBYMode(void) {
  sim::Board& board = sim::board();
  board.halCall();
  const sim::RtcModel& rtc = board.rtc();
  const uint64_t delayUs = rtc.wakeUpDelayUs();
  const double nowS = static_cast<double>(board.nowUs()) / 1e6;
  if (delayUs == sim::kNever) {
    // Only the reset pin or a power cycle could wake it.
    std::fprintf(stderr, "orvane-sim: standby at t=%.6f s without a wake-up source; the board sleeps for good\n", nowS);
    board.exitSim(0, "standby without wake-up source");
  }
  std::fprintf(stderr, "orvane-sim: standby at t=%.6f s, RTC wake-up after %lu x %.6f s, wake at t=%.6f s\n", nowS,
               static_cast<unsigned long>(rtc.wakeUpPeriods()), static_cast<double>(rtc.wakeUpClockPeriodNs()) / 1e9,
               static_cast<double>(board.nowUs() + delayUs) / 1e6);
  sim::RunTrace& trace = board.trace();
  trace.standby(board.nowUs() + delayUs, rtc.wakeUpPeriods(), rtc.wakeUpClockPeriodNs());
  if (board.nowUs() + delayUs >= trace.stopAtUs()) {
    board.skipTime(trace.stopAtUs() - board.nowUs());
    board.exitSim(0, "stop-after");
  }
  board.skipTime(delayUs);
  board.restart(sim::ResetKind::standbyWake, HAL_WAKE_FLAG_STANDBY | HAL_WAKE_FLAG_INTERNAL);
}

}  // extern "C"
