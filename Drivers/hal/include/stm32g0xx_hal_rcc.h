// Clock tree (reset and clock control).
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

#define RCC_OSCILLATORTYPE_NONE 0x00000000U
#define RCC_OSCILLATORTYPE_HSE 0x00000001U
#define RCC_OSCILLATORTYPE_HSI 0x00000002U
#define RCC_OSCILLATORTYPE_LSE 0x00000004U
#define RCC_OSCILLATORTYPE_LSI 0x00000008U

#define RCC_HSI_OFF 0x00000000U
#define RCC_HSI_ON 0x00000100U
#define RCC_HSICALIBRATION_DEFAULT 64U
#define RCC_HSI_DIV1 0x00000000U
#define RCC_HSI_DIV2 0x00000800U
#define RCC_HSI_DIV4 0x00001000U
#define RCC_HSI_DIV8 0x00001800U
#define RCC_HSI_DIV16 0x00002000U
#define RCC_HSI_DIV32 0x00002800U
#define RCC_HSI_DIV64 0x00003000U
#define RCC_HSI_DIV128 0x00003800U
#define RCC_LSI_OFF 0x00000000U
#define RCC_LSI_ON 0x00000001U
#define RCC_PLL_NONE 0x00000000U
#define RCC_PLL_OFF 0x00000001U
#define RCC_PLL_ON 0x00000002U

#define RCC_CLOCKTYPE_SYSCLK 0x00000001U
#define RCC_CLOCKTYPE_HCLK 0x00000002U
#define RCC_CLOCKTYPE_PCLK1 0x00000004U
#define RCC_SYSCLKSOURCE_HSI 0x00000000U
#define RCC_SYSCLK_DIV1 0x00000000U
#define RCC_HCLK_DIV1 0x00000000U

#define FLASH_LATENCY_0 0x00000000U
#define FLASH_LATENCY_1 0x00000001U
#define FLASH_LATENCY_2 0x00000002U

#define RCC_PERIPHCLK_USART1 0x00000001U
#define RCC_PERIPHCLK_RTC 0x00020000U
#define RCC_USART1CLKSOURCE_PCLK1 0x00000000U
#define RCC_RTCCLKSOURCE_LSI 0x00000200U

typedef struct {
  uint32_t PLLState;
  uint32_t PLLSource;
  uint32_t PLLM;
  uint32_t PLLN;
  uint32_t PLLP;
  uint32_t PLLQ;
  uint32_t PLLR;
} RCC_PLLInitTypeDef;

typedef struct {
  uint32_t OscillatorType;
  uint32_t HSEState;
  uint32_t LSEState;
  uint32_t HSIState;
  uint32_t HSIDiv;
  uint32_t HSICalibrationValue;
  uint32_t LSIState;
  RCC_PLLInitTypeDef PLL;
} RCC_OscInitTypeDef;

typedef struct {
  uint32_t ClockType;
  uint32_t SYSCLKSource;
  uint32_t AHBCLKDivider;
  uint32_t APB1CLKDivider;
} RCC_ClkInitTypeDef;

typedef struct {
  uint32_t PeriphClockSelection;
  uint32_t Usart1ClockSelection;
  uint32_t RTCClockSelection;
} RCC_PeriphCLKInitTypeDef;

HAL_StatusTypeDef HAL_RCC_OscConfig(RCC_OscInitTypeDef* osc);
HAL_StatusTypeDef HAL_RCC_ClockConfig(RCC_ClkInitTypeDef* clk, uint32_t flashLatency);
HAL_StatusTypeDef HAL_RCCEx_PeriphCLKConfig(RCC_PeriphCLKInitTypeDef* periph);
uint32_t HAL_RCC_GetSysClockFreq(void);
uint32_t HAL_RCC_GetHCLKFreq(void);
uint32_t HAL_RCC_GetPCLK1Freq(void);

// Peripheral clock gates (the chip maker's __HAL_RCC_xxx_CLK_ENABLE macros).
typedef enum {
  RCC_CLK_GPIOA,
  RCC_CLK_GPIOB,
  RCC_CLK_GPIOC,
  RCC_CLK_GPIOD,
  RCC_CLK_GPIOF,
  RCC_CLK_DMA1,
  RCC_CLK_SYSCFG,
  RCC_CLK_PWR,
  RCC_CLK_USART1,
  RCC_CLK_SPI1,
  RCC_CLK_ADC,
  RCC_CLK_TIM6,
  RCC_CLK_RTCAPB,
  RCC_CLK_RTC,
} RCC_ClockGate;
void HAL_RCC_ClockGate(RCC_ClockGate gate, int enable);
#define __HAL_RCC_GPIOA_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_GPIOA, 1)
#define __HAL_RCC_GPIOB_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_GPIOB, 1)
#define __HAL_RCC_GPIOC_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_GPIOC, 1)
#define __HAL_RCC_GPIOD_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_GPIOD, 1)
#define __HAL_RCC_GPIOF_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_GPIOF, 1)
#define __HAL_RCC_DMA1_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_DMA1, 1)
#define __HAL_RCC_SYSCFG_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_SYSCFG, 1)
#define __HAL_RCC_PWR_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_PWR, 1)
#define __HAL_RCC_USART1_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_USART1, 1)
#define __HAL_RCC_USART1_CLK_DISABLE() HAL_RCC_ClockGate(RCC_CLK_USART1, 0)
#define __HAL_RCC_SPI1_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_SPI1, 1)
#define __HAL_RCC_ADC_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_ADC, 1)
#define __HAL_RCC_ADC_CLK_DISABLE() HAL_RCC_ClockGate(RCC_CLK_ADC, 0)
#define __HAL_RCC_TIM6_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_TIM6, 1)
#define __HAL_RCC_RTCAPB_CLK_ENABLE() HAL_RCC_ClockGate(RCC_CLK_RTCAPB, 1)
#define __HAL_RCC_RTC_ENABLE() HAL_RCC_ClockGate(RCC_CLK_RTC, 1)

#ifdef __cplusplus
}
#endif
