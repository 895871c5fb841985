// TIM6 of the simulated board.
#include "board.h"
#include "hal_backend_ops.h"
#include "tim6_model.h"

namespace {
// Only TIM6 exists on this board; any other instance is refused.
sim::Tim6* timerOf(TIM_HandleTypeDef* htim) {
  if (htim == nullptr || htim->Instance != TIM6) return nullptr;
  return &sim::board().tim6();
}
}  // namespace

bool halTimExists(const TIM_TypeDef* tim) { return tim == TIM6; }

void halTimConfigure(TIM_HandleTypeDef* htim) {
  sim::Tim6& tim = sim::board().tim6();
  tim.setPrescaler(htim->Init.Prescaler);
  tim.setAutoReload(htim->Init.Period);
  // The update generation that loads the prescaler also clears the counter; its flag is cleared.
  tim.setCounter(0);
  tim.clearUpdateFlag();
}

void halTimStart(TIM_HandleTypeDef*) {
  sim::Tim6& tim = sim::board().tim6();
  tim.enableUpdateInterrupt(true);
  tim.start();
}

void halTimStop(TIM_HandleTypeDef*) {
  sim::Tim6& tim = sim::board().tim6();
  tim.enableUpdateInterrupt(false);
  tim.stop();
}

// The model has no trigger output.
void halTimSetTrigger(TIM_HandleTypeDef*, uint32_t) {}

bool halTimTakeUpdate(TIM_HandleTypeDef* htim) {
  sim::Tim6* tim = timerOf(htim);
  if (tim == nullptr || !tim->updateFlag() || !tim->updateInterruptEnabled()) return false;
  tim->clearUpdateFlag();
  return true;
}

extern "C" {

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
