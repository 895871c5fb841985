// Our STM32G0 hardware layer: the subset of the chip maker's HAL API that the firmware calls,
// with the same names. Backends: ../stm32g0 (registers) and ../sim (the simulated board).
#pragma once

#include "stm32g0xx_hal_def.h"
#include "stm32g0xx_hal_cortex.h"
#include "stm32g0xx_hal_rcc.h"
#include "stm32g0xx_hal_pwr.h"
#include "stm32g0xx_hal_gpio.h"
#include "stm32g0xx_hal_dma.h"
#include "stm32g0xx_hal_uart.h"
#include "stm32g0xx_hal_tim.h"
#include "stm32g0xx_hal_flash.h"
#include "stm32g0xx_hal_rtc.h"
#include "stm32g0xx_hal_adc.h"
#include "stm32g0xx_hal_spi.h"
// Not the chip maker's: what we added.
#include "hal_added.h"

#ifdef __cplusplus
extern "C" {
#endif

HAL_StatusTypeDef HAL_Init(void);
HAL_StatusTypeDef HAL_DeInit(void);
void HAL_MspInit(void);
void HAL_IncTick(void);
uint32_t HAL_GetTick(void);
void HAL_Delay(uint32_t delayMs);
void HAL_SuspendTick(void);
void HAL_ResumeTick(void);
// Millisecond tick counter, advanced by SysTick (and by the low-power delay, which stops SysTick).
extern volatile uint32_t uwTick;

#ifdef __cplusplus
}
#endif
