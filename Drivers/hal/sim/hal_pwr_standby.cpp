// Standby and backup-domain access of the simulated board. Standby powers the core down; the RTC
// wake-up timer restarts the firmware from reset after its time has passed in virtual time.
#include "board.h"
#include "gpio_model.h"
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

void HAL_PWREx_HoldLowInStandby(GPIO_TypeDef* port, uint32_t pins) {
  sim::board().halCall();
  if (port == nullptr) return;
  for (int i = 0; i < 16; ++i) {
    if (pins & (1u << i)) sim::board().gpio().setStandbyPull(port->index, i, sim::PinPull::down);
  }
}

// As on the chip, only standby's own wake-up sources end it: interrupts left pending are dropped.
void HAL_PWR_EnterSTANDBYMode(void) {
  sim::board().halCall();
  sim::enterStandby(sim::board());
}

}  // extern "C"
