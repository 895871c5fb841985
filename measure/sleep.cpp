// Millisecond delay. The timer-driven low-power version replaces this busy wait.
#include "sleep.h"

#include "stm32g0xx_hal.h"

void delayMsLowPower(uint32_t ms) {
  if (ms == 0) return;
  HAL_Delay(ms);
}
