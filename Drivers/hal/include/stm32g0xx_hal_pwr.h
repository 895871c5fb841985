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

// PWR status register 1 (wake-up flags) and its clear register.
#define PWR_SR1_WUF1 0x00000001U
#define PWR_SR1_WUF2 0x00000002U
#define PWR_SR1_WUF4 0x00000008U
#define PWR_SR1_WUF5 0x00000010U
#define PWR_SR1_WUF6 0x00000020U
#define PWR_SR1_SBF 0x00000100U
#define PWR_SR1_WUFI 0x00008000U
#define PWR_SCR_CWUF1 0x00000001U
#define PWR_SCR_CWUF2 0x00000002U
#define PWR_SCR_CWUF4 0x00000008U
#define PWR_SCR_CWUF5 0x00000010U
#define PWR_SCR_CWUF6 0x00000020U
#define PWR_SCR_CSBF 0x00000100U

void HAL_PWR_EnterSLEEPMode(uint32_t regulator, uint8_t sleepEntry);
// Standby: the core and RAM power down; a wake-up (RTC wake-up timer, wake-up pins) restarts the
// program from reset with the standby flag set. Returns only when the core did not go down
// (an interrupt was already pending at the wait-for-interrupt).
void HAL_PWR_EnterSTANDBYMode(void);
void HAL_PWR_EnableBkUpAccess(void);
void HAL_PWR_DisableBkUpAccess(void);
HAL_StatusTypeDef HAL_PWREx_ControlVoltageScaling(uint32_t voltageScaling);
// Raw PWR_SR1 (wake-up and standby flags).
uint32_t HAL_PWREx_ReadSR1(void);
// Write PWR_SCR (clears the flags whose bits are set).
void HAL_PWREx_WriteSCR(uint32_t value);

#ifdef __cplusplus
}
#endif
