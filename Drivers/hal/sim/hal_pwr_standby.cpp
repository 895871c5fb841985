// Standby and backup-domain access of the simulated board. Standby powers the core down; the RTC
// wake-up timer restarts the firmware from reset after its time has passed in virtual time.
#include "board.h"
#include "rtc_model.h"
#include "standby.h"
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

// As on the chip, only standby's own wake-up sources end it: interrupts left pending are dropped.
void HAL_PWR_EnterSTANDBYMode(void) {
  sim::board().halCall();
  sim::enterStandby(sim::board());
}

}  // extern "C"
