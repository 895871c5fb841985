// TIM6 of the simulated board.
#include "board.h"
#include "stm32g0xx_hal.h"
#include "tim6_model.h"

namespace {
// Only TIM6 exists on this board; any other instance is refused.
sim::Tim6* timerOf(TIM_HandleTypeDef* htim) {
  if (htim == nullptr || htim->Instance != TIM6) return nullptr;
  return &sim::board().tim6();
}
}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_TIM_Base_Init(TIM_HandleTypeDef* htim) {
  sim::board().halCall();
  sim::Tim6* tim = timerOf(htim);
  if (tim == nullptr || htim->Init.CounterMode != TIM_COUNTERMODE_UP) return HAL_ERROR;
  if (htim->State == HAL_TIM_STATE_RESET) {
    htim->Lock = HAL_UNLOCKED;
    HAL_TIM_Base_MspInit(htim);
  }
  tim->setPrescaler(htim->Init.Prescaler);
  tim->setAutoReload(htim->Init.Period);
  // The update generation that loads the prescaler also clears the counter; its flag is cleared.
  tim->setCounter(0);
  tim->clearUpdateFlag();
  htim->State = HAL_TIM_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Start_IT(TIM_HandleTypeDef* htim) {
  sim::board().halCall();
  sim::Tim6* tim = timerOf(htim);
  if (tim == nullptr || htim->State != HAL_TIM_STATE_READY) return HAL_ERROR;
  htim->State = HAL_TIM_STATE_BUSY;
  tim->enableUpdateInterrupt(true);
  tim->start();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Stop_IT(TIM_HandleTypeDef* htim) {
  sim::board().halCall();
  sim::Tim6* tim = timerOf(htim);
  if (tim == nullptr) return HAL_ERROR;
  tim->enableUpdateInterrupt(false);
  tim->stop();
  if (htim->State == HAL_TIM_STATE_BUSY) htim->State = HAL_TIM_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIMEx_MasterConfigSynchronization(TIM_HandleTypeDef* htim, TIM_MasterConfigTypeDef* config) {
  sim::board().halCall();
  return timerOf(htim) != nullptr && config != nullptr ? HAL_OK : HAL_ERROR;
}

void HAL_TIM_IRQHandler(TIM_HandleTypeDef* htim) {
  sim::Tim6* tim = timerOf(htim);
  if (tim == nullptr) return;
  if (tim->updateFlag() && tim->updateInterruptEnabled()) {
    tim->clearUpdateFlag();
    HAL_TIM_PeriodElapsedCallback(htim);
  }
}

void HAL_TIM_SetAutoreload(TIM_HandleTypeDef* htim, uint32_t autoreload) {
  sim::board().halCall();
  sim::Tim6* tim = timerOf(htim);
  if (tim == nullptr) return;
  tim->setAutoReload(autoreload);
  htim->Init.Period = autoreload;
}

void HAL_TIM_SetCounter(TIM_HandleTypeDef* htim, uint32_t counter) {
  sim::board().halCall();
  if (sim::Tim6* tim = timerOf(htim)) tim->setCounter(counter);
}

void HAL_TIM_ClearFlag(TIM_HandleTypeDef* htim, uint32_t flags) {
  sim::board().halCall();
  sim::Tim6* tim = timerOf(htim);
  if (tim != nullptr && (flags & TIM_FLAG_UPDATE)) tim->clearUpdateFlag();
}

}  // extern "C"
