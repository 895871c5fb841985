// Power controller (PWR): write access to the RTC domain and entry into standby.
#include "stm32g0xx_hal.h"

extern "C" {

void HAL_PWR_EnableBkUpAccess(void) { PWR->CR1 |= PWR_CR1_DBP; }

void HAL_PWR_DisableBkUpAccess(void) { PWR->CR1 &= ~PWR_CR1_DBP; }

void HAL_PWR_EnterSTANDBYMode(void) {
  // The RTC wakes the board through the internal wake-up line.
  PWR->CR3 |= PWR_CR3_EIWUL;
  PWR->CR1 = (PWR->CR1 & ~PWR_CR1_LPMS) | PWR_CR1_LPMS_STANDBY;
  SCB->SCR |= SCB_SCR_SLEEPDEEP;
  __DSB();
  __WFI();
  // Only reached when an interrupt was pending: the core never went down.
  SCB->SCR &= ~SCB_SCR_SLEEPDEEP;
}

}  // extern "C"
