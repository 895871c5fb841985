// Basic timer TIM6 on the registers: prescaler and auto-reload, update interrupt, trigger output.
#include "hal_backend_ops.h"

bool halTimExists(const TIM_TypeDef*) { return true; }

void halTimConfigure(TIM_HandleTypeDef* htim) {
  TIM_TypeDef* tim = htim->Instance;
  tim->CR1 = (tim->CR1 & ~TIM_CR1_ARPE) | (htim->Init.AutoReloadPreload & TIM_CR1_ARPE);
  tim->ARR = htim->Init.Period;
  tim->PSC = htim->Init.Prescaler;
  // The prescaler takes effect at an update: generate one now, and drop the flag it raises.
  tim->EGR = TIM_EGR_UG;
  tim->SR = ~TIM_SR_UIF;
}

void halTimStart(TIM_HandleTypeDef* htim) {
  htim->Instance->DIER |= TIM_DIER_UIE;
  htim->Instance->CR1 |= TIM_CR1_CEN;
}

void halTimStop(TIM_HandleTypeDef* htim) {
  htim->Instance->DIER &= ~TIM_DIER_UIE;
  htim->Instance->CR1 &= ~TIM_CR1_CEN;
}

void halTimSetTrigger(TIM_HandleTypeDef* htim, uint32_t masterOutputTrigger) {
  htim->Instance->CR2 = (htim->Instance->CR2 & ~TIM_CR2_MMS) | (masterOutputTrigger & TIM_CR2_MMS);
}

bool halTimTakeUpdate(TIM_HandleTypeDef* htim) {
  TIM_TypeDef* tim = htim->Instance;
  if ((tim->SR & TIM_SR_UIF) == 0U || (tim->DIER & TIM_DIER_UIE) == 0U) return false;
  tim->SR = ~TIM_SR_UIF;
  return true;
}

extern "C" {

void HAL_TIM_SetAutoreload(TIM_HandleTypeDef* htim, uint32_t autoreload) {
  htim->Instance->ARR = autoreload;
  htim->Init.Period = autoreload;
}

void HAL_TIM_SetCounter(TIM_HandleTypeDef* htim, uint32_t counter) { htim->Instance->CNT = counter; }

// Status flags are cleared by writing 0; ones leave the other flags alone.
void HAL_TIM_ClearFlag(TIM_HandleTypeDef* htim, uint32_t flags) { htim->Instance->SR = ~flags; }

}  // extern "C"
