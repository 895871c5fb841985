// Interrupt controller and core operations.
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

// Vector numbers of the STM32G070 (reference manual, interrupt vector table).
typedef enum {
  NonMaskableInt_IRQn = -14,
  HardFault_IRQn = -13,
  SVC_IRQn = -5,
  PendSV_IRQn = -2,
  SysTick_IRQn = -1,
  WWDG_IRQn = 0,
  RTC_TAMP_IRQn = 2,
  FLASH_IRQn = 3,
  RCC_IRQn = 4,
  EXTI0_1_IRQn = 5,
  EXTI2_3_IRQn = 6,
  EXTI4_15_IRQn = 7,
  DMA1_Channel1_IRQn = 9,
  DMA1_Channel2_3_IRQn = 10,
  DMA1_Ch4_7_DMAMUX1_OVR_IRQn = 11,
  ADC1_IRQn = 12,
  TIM1_BRK_UP_TRG_COM_IRQn = 13,
  TIM1_CC_IRQn = 14,
  TIM3_IRQn = 16,
  TIM6_IRQn = 17,
  TIM7_IRQn = 18,
  TIM14_IRQn = 19,
  TIM15_IRQn = 20,
  TIM16_IRQn = 21,
  TIM17_IRQn = 22,
  I2C1_IRQn = 23,
  I2C2_IRQn = 24,
  SPI1_IRQn = 25,
  SPI2_IRQn = 26,
  USART1_IRQn = 27,
  USART2_IRQn = 28,
  USART3_4_IRQn = 29,
} IRQn_Type;

void HAL_NVIC_SetPriority(IRQn_Type irq, uint32_t preemptPriority, uint32_t subPriority);
void HAL_NVIC_EnableIRQ(IRQn_Type irq);
void HAL_NVIC_DisableIRQ(IRQn_Type irq);
void HAL_NVIC_ClearPendingIRQ(IRQn_Type irq);
uint32_t HAL_SYSTICK_Config(uint32_t ticks);

// Core operations (CMSIS names). On the target they are single instructions.
void NVIC_SystemReset(void);
void __disable_irq(void);
void __enable_irq(void);
void __WFI(void);
void __DSB(void);
void __ISB(void);
void __NOP(void);

#ifdef __cplusplus
}
#endif
