// Basic timer TIM6: time base with prescaler and auto-reload, update interrupt, trigger output.
#include "stm32g0xx_hal.h"

extern "C" {

HAL_StatusTypeDef HAL_TIM_Base_Init(TIM_HandleTypeDef* htim) {
  if (htim == nullptr || htim->Instance == nullptr) return HAL_ERROR;
  // A basic timer counts up only; the 16-bit registers take nothing wider.
  if (htim->Init.CounterMode != TIM_COUNTERMODE_UP || htim->Init.Prescaler > TIM_PSC_PSC ||
      htim->Init.Period > TIM_ARR_ARR) {
    return HAL_ERROR;
  }
  if (htim->State == HAL_TIM_STATE_RESET) {
    htim->Lock = HAL_UNLOCKED;
    HAL_TIM_Base_MspInit(htim);
  }
  htim->State = HAL_TIM_STATE_BUSY;
  TIM_TypeDef* tim = htim->Instance;
  tim->CR1 = (tim->CR1 & ~TIM_CR1_ARPE) | (htim->Init.AutoReloadPreload & TIM_CR1_ARPE);
  tim->ARR = htim->Init.Period;
  tim->PSC = htim->Init.Prescaler;
  // The prescaler takes effect at an update: generate one now, and drop the flag it raises.
  tim->EGR = TIM_EGR_UG;
  tim->SR = ~TIM_SR_UIF;
  htim->State = HAL_TIM_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Start_IT(TIM_HandleTypeDef* htim) {
  if (htim == nullptr || htim->Instance == nullptr || htim->State != HAL_TIM_STATE_READY) return HAL_ERROR;
  htim->State = HAL_TIM_STATE_BUSY;
  htim->Instance->DIER |= TIM_DIER_UIE;
  htim->Instance->CR1 |= TIM_CR1_CEN;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Stop_IT(TIM_HandleTypeDef* htim) {
  if (htim == nullptr || htim->Instance == nullptr) return HAL_ERROR;
  htim->Instance->DIER &= ~TIM_DIER_UIE;
  htim->Instance->CR1 &= ~TIM_CR1_CEN;
  if (htim->State == HAL_TIM_STATE_BUSY) htim->State = HAL_TIM_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIMEx_MasterConfigSynchronization(TIM_HandleTypeDef* htim, TIM_MasterConfigTypeDef* config) {
  if (htim == nullptr || htim->Instance == nullptr || config == nullptr) return HAL_ERROR;
  // Basic timers have no slave mode controller: only the trigger output is configured.
  htim->Instance->CR2 = (htim->Instance->CR2 & ~TIM_CR2_MMS) | (config->MasterOutputTrigger & TIM_CR2_MMS);
  return HAL_OK;
}

void HAL_TIM_IRQHandler(TIM_HandleTypeDef* htim) {
  TIM_TypeDef* tim = htim->Instance;
  if ((tim->SR & TIM_SR_UIF) && (tim->DIER & TIM_DIER_UIE)) {
    tim->SR = ~TIM_SR_UIF;
    HAL_TIM_PeriodElapsedCallback(htim);
  }
}

void HAL_TIM_SetAutoreload(TIM_HandleTypeDef* htim, uint32_t autoreload) {
  htim->Instance->ARR = autoreload;
  htim->Init.Period = autoreload;
}

void HAL_TIM_SetCounter(TIM_HandleTypeDef* htim, uint32_t counter) { htim->Instance->CNT = counter; }

// Status flags are cleared by writing 0; ones leave the other flags alone.
void HAL_TIM_ClearFlag(TIM_HandleTypeDef* htim, uint32_t flags) { htim->Instance->SR = ~flags; }

}  // extern "C"
