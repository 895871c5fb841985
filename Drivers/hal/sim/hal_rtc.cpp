// RTC of the simulated board: initialisation, backup registers and the wake-up timer.
#include "board.h"
#include "rtc_model.h"
#include "stm32g0xx_hal.h"

extern "C" {

HAL_StatusTypeDef HAL_RTC_Init(RTC_HandleTypeDef* hrtc) {
  sim::board().halCall();
  if (hrtc == nullptr || hrtc->Instance == nullptr) return HAL_ERROR;
  if (hrtc->State == HAL_RTC_STATE_RESET) {
    hrtc->Lock = HAL_UNLOCKED;
    HAL_RTC_MspInit(hrtc);
  }
  if (hrtc->Init.AsynchPrediv > 0x7Fu || hrtc->Init.SynchPrediv > 0x7FFFu) {
    hrtc->State = HAL_RTC_STATE_ERROR;
    return HAL_ERROR;
  }
  sim::board().rtc().init(hrtc->Init.AsynchPrediv, hrtc->Init.SynchPrediv);
  hrtc->State = HAL_RTC_STATE_READY;
  return HAL_OK;
}

void HAL_RTCEx_BKUPWrite(RTC_HandleTypeDef*, uint32_t BackupRegister, uint32_t Data) {
  sim::board().halCall();
  sim::board().rtc().writeBackup(BackupRegister, Data);
}

uint32_t HAL_RTCEx_BKUPRead(RTC_HandleTypeDef*, uint32_t BackupRegister) {
  sim::board().halCall();
  return sim::board().rtc().readBackup(BackupRegister);
}

HAL_StatusTypeDef HAL_RTCEx_SetWakeUpTimer_IT(RTC_HandleTypeDef* hrtc, uint32_t WakeUpCounter, uint32_t WakeUpClock) {
  sim::board().halCall();
  if (hrtc == nullptr || hrtc->State != HAL_RTC_STATE_READY) return HAL_ERROR;
  if (!sim::board().rtc().armWakeUp(WakeUpCounter, WakeUpClock, true)) return HAL_ERROR;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_RTCEx_DeactivateWakeUpTimer(RTC_HandleTypeDef* hrtc) {
  sim::board().halCall();
  if (hrtc == nullptr) return HAL_ERROR;
  sim::board().rtc().disarmWakeUp();
  return HAL_OK;
}

}  // extern "C"
