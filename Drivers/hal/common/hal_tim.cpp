// Basic timer: time base with its update interrupt. The handle's states are kept here; the backend
// runs the counter.
#include "hal_backend_ops.h"

namespace {

constexpr uint32_t kRegisterMax = 0xFFFFU;  // prescaler and auto-reload are 16-bit registers

bool usable(const TIM_HandleTypeDef* htim) {
  return htim != nullptr && htim->Instance != nullptr && halTimExists(htim->Instance);
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_TIM_Base_Init(TIM_HandleTypeDef* htim) {
  halCallBegins();
  if (!usable(htim)) return HAL_ERROR;
  // A basic timer counts up only; its registers take nothing wider.
  if (htim->Init.CounterMode != TIM_COUNTERMODE_UP || htim->Init.Prescaler > kRegisterMax ||
      htim->Init.Period > kRegisterMax) {
    return HAL_ERROR;
  }
  if (htim->State == HAL_TIM_STATE_RESET) {
    htim->Lock = HAL_UNLOCKED;
    HAL_TIM_Base_MspInit(htim);
  }
  htim->State = HAL_TIM_STATE_BUSY;
  halTimConfigure(htim);
  htim->State = HAL_TIM_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Start_IT(TIM_HandleTypeDef* htim) {
  halCallBegins();
  if (!usable(htim) || htim->State != HAL_TIM_STATE_READY) return HAL_ERROR;
  htim->State = HAL_TIM_STATE_BUSY;
  halTimStart(htim);
  return HAL_OK;
}

HAL_StatusTypeDef HAL_TIM_Base_Stop_IT(TIM_HandleTypeDef* htim) {
  halCallBegins();
  if (!usable(htim)) return HAL_ERROR;
  halTimStop(htim);
  if (htim->State == HAL_TIM_STATE_BUSY) htim->State = HAL_TIM_STATE_READY;
  return HAL_OK;
}

// Basic timers have no slave mode controller: only the trigger output is configured.
HAL_StatusTypeDef HAL_TIMEx_MasterConfigSynchronization(TIM_HandleTypeDef* htim, TIM_MasterConfigTypeDef* config) {
  halCallBegins();
  if (!usable(htim) || config == nullptr) return HAL_ERROR;
  halTimSetTrigger(htim, config->MasterOutputTrigger);
  return HAL_OK;
}

void HAL_TIM_IRQHandler(TIM_HandleTypeDef* htim) {
  if (halTimTakeUpdate(htim)) HAL_TIM_PeriodElapsedCallback(htim);
}

}  // extern "C"
