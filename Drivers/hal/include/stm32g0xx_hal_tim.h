// Basic timer (TIM6): time base with its update interrupt.
#pragma once

#include "stm32g0xx_hal_def.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TIM_COUNTERMODE_UP 0x00000000U
#define TIM_CLOCKDIVISION_DIV1 0x00000000U
#define TIM_AUTORELOAD_PRELOAD_DISABLE 0x00000000U
#define TIM_AUTORELOAD_PRELOAD_ENABLE 0x00000080U
#define TIM_TRGO_RESET 0x00000000U
#define TIM_TRGO_UPDATE 0x00000020U
#define TIM_MASTERSLAVEMODE_DISABLE 0x00000000U
#define TIM_FLAG_UPDATE 0x00000001U  // TIMx_SR UIF
#define TIM_IT_UPDATE 0x00000001U    // TIMx_DIER UIE

typedef enum {
  HAL_TIM_STATE_RESET = 0x00U,
  HAL_TIM_STATE_READY = 0x01U,
  HAL_TIM_STATE_BUSY = 0x02U,
  HAL_TIM_STATE_TIMEOUT = 0x03U,
  HAL_TIM_STATE_ERROR = 0x04U,
} HAL_TIM_StateTypeDef;

typedef struct {
  uint32_t Prescaler;  // counter clock = timer clock / (Prescaler + 1)
  uint32_t CounterMode;
  uint32_t Period;  // auto-reload: an update every Period + 1 counts
  uint32_t ClockDivision;
  uint32_t RepetitionCounter;
  uint32_t AutoReloadPreload;
} TIM_Base_InitTypeDef;

typedef struct {
  uint32_t MasterOutputTrigger;
  uint32_t MasterSlaveMode;
} TIM_MasterConfigTypeDef;

typedef struct __TIM_HandleTypeDef {
  TIM_TypeDef* Instance;
  TIM_Base_InitTypeDef Init;
  HAL_LockTypeDef Lock;
  volatile HAL_TIM_StateTypeDef State;
} TIM_HandleTypeDef;

HAL_StatusTypeDef HAL_TIM_Base_Init(TIM_HandleTypeDef* htim);
void HAL_TIM_Base_MspInit(TIM_HandleTypeDef* htim);
HAL_StatusTypeDef HAL_TIM_Base_Start_IT(TIM_HandleTypeDef* htim);
HAL_StatusTypeDef HAL_TIM_Base_Stop_IT(TIM_HandleTypeDef* htim);
HAL_StatusTypeDef HAL_TIMEx_MasterConfigSynchronization(TIM_HandleTypeDef* htim, TIM_MasterConfigTypeDef* config);
void HAL_TIM_IRQHandler(TIM_HandleTypeDef* htim);
// Callback the application implements (weak default in the backends).
void HAL_TIM_PeriodElapsedCallback(TIM_HandleTypeDef* htim);

// Register operations behind the chip maker's __HAL_TIM_xxx macros.
void HAL_TIM_SetAutoreload(TIM_HandleTypeDef* htim, uint32_t autoreload);  // also the handle's Period
void HAL_TIM_SetCounter(TIM_HandleTypeDef* htim, uint32_t counter);
void HAL_TIM_ClearFlag(TIM_HandleTypeDef* htim, uint32_t flags);
#define __HAL_TIM_SET_AUTORELOAD(handle, value) HAL_TIM_SetAutoreload((handle), (value))
#define __HAL_TIM_SET_COUNTER(handle, value) HAL_TIM_SetCounter((handle), (value))
#define __HAL_TIM_CLEAR_FLAG(handle, flags) HAL_TIM_ClearFlag((handle), (flags))

#ifdef __cplusplus
}
#endif
