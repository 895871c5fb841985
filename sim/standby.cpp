// Standby: the time skipped in virtual time, then the wake-up's restart.
#include "standby.h"

#include <cstdio>

#include "board.h"
#include "hal_added.h"
#include "rtc_model.h"
#include "run_trace.h"

namespace sim {

void enterStandby(Board& board) {
  const RtcModel& rtc = board.rtc();
  const uint64_t delayUs = rtc.wakeUpDelayUs();
  const double nowS = static_cast<double>(board.nowUs()) / 1e6;
  if (delayUs == kNever) {
    // Only the reset pin or a power cycle could wake it.
    std::fprintf(stderr, "orvane-sim: standby at t=%.6f s without a wake-up source; the board sleeps for good\n", nowS);
    board.exitSim(0, "standby without wake-up source");
  }
  std::fprintf(stderr, "orvane-sim: standby at t=%.6f s, RTC wake-up after %lu x %.6f s, wake at t=%.6f s\n", nowS,
               static_cast<unsigned long>(rtc.wakeUpPeriods()), static_cast<double>(rtc.wakeUpClockPeriodNs()) / 1e9,
               static_cast<double>(board.nowUs() + delayUs) / 1e6);
  RunTrace& trace = board.trace();
  trace.standby(board.nowUs() + delayUs, rtc.wakeUpPeriods(), rtc.wakeUpClockPeriodNs());
  if (board.nowUs() + delayUs >= trace.stopAtUs()) {
    board.skipTime(trace.stopAtUs() - board.nowUs());
    board.exitSim(0, "stop-after");
  }
  board.skipTime(delayUs);
  board.restart(ResetKind::standbyWake, HAL_WAKE_FLAG_STANDBY | HAL_WAKE_FLAG_INTERNAL);
}

}  // namespace sim
