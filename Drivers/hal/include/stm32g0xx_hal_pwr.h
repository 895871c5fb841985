// Power controller: sleep, standby, backup-domain access, wake-up flags.
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

#define PWR_MAINREGULATOR_ON 0x00000000U
#define PWR_LOWPOWERREGULATOR_ON 0x00004000U
#define PWR_SLEEPENTRY_WFI 0x01U
#define PWR_SLEEPENTRY_WFE 0x02U
#define PWR_REGULATOR_VOLTAGE_SCALE1 0x00000200U
#define PWR_REGULATOR_VOLTAGE_SCALE2 0x00000400U

void HAL_PWR_EnterSLEEPMode(uint32_t regulator, uint8_t sleepEntry);
// Standby: the core and RAM power down; a wake-up (RTC wake-up timer, wake-up pins) restarts the
// program from reset with the standby flag set. Interrupts pending when it is called do not keep
// the core up (they are dropped); returns only when the core did not go down all the same.
void HAL_PWR_EnterSTANDBYMode(void);
void HAL_PWR_EnableBkUpAccess(void);
void HAL_PWR_DisableBkUpAccess(void);
HAL_StatusTypeDef HAL_PWREx_ControlVoltageScaling(uint32_t voltageScaling);

#ifdef __cplusplus
}
#endif
