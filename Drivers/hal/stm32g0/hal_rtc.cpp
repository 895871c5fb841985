// Real-time clock (RTC) and the backup registers of the tamper block (TAMP). RTC registers are
// unlocked with the RTC_WPR keys around each change; every write here also needs PWR_CR1.DBP.
#include "stm32g0xx_hal.h"

namespace {

// INITF, RSF and WUTWF follow within two RTCCLK periods (about 63 us on the LSI); the bound
// only ends a wait on an RTC without a clock. No tick: the fatal-error path runs with interrupts off.
constexpr uint32_t kPolls = 100000;

bool waitSet(volatile uint32_t& reg, uint32_t mask) {
  for (uint32_t i = 0; i < kPolls; ++i) {
    if (reg & mask) return true;
  }
  return false;
}

void unlockWrites() {
  RTC->WPR = RTC_WPR_KEY1;
  RTC->WPR = RTC_WPR_KEY2;
}

void lockWrites() { RTC->WPR = RTC_WPR_LOCK; }

volatile uint32_t* backupRegister(uint32_t index) { return index < TAMP_BKP_COUNT ? &TAMP->BKP0R + index : nullptr; }

HAL_StatusTypeDef fail(RTC_HandleTypeDef* hrtc, HAL_StatusTypeDef status) {
  lockWrites();
  hrtc->State = HAL_RTC_STATE_ERROR;
  return status;
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_RTC_Init(RTC_HandleTypeDef* hrtc) {
  if (hrtc == nullptr || hrtc->Instance == nullptr) return HAL_ERROR;
  if (hrtc->Init.AsynchPrediv > 0x7Fu || hrtc->Init.SynchPrediv > 0x7FFFu) return HAL_ERROR;
  if (hrtc->State == HAL_RTC_STATE_RESET) {
    hrtc->Lock = HAL_UNLOCKED;
    HAL_RTC_MspInit(hrtc);
  }
  hrtc->State = HAL_RTC_STATE_BUSY;
  unlockWrites();
  // Prescalers change only in initialisation mode.
  RTC->ICSR |= RTC_ICSR_INIT;
  if (!waitSet(RTC->ICSR, RTC_ICSR_INITF)) return fail(hrtc, HAL_TIMEOUT);
  RTC->CR &= ~(RTC_CR_FMT | RTC_CR_OSEL | RTC_CR_POL | RTC_CR_COE | RTC_CR_TAMPOE | RTC_CR_TAMPALRM_TYPE |
               RTC_CR_TAMPALRM_PU | RTC_CR_OUT2EN);
  RTC->CR |= hrtc->Init.HourFormat | hrtc->Init.OutPut | hrtc->Init.OutPutPolarity | hrtc->Init.OutPutType |
             hrtc->Init.OutPutPullUp | hrtc->Init.OutPutRemap;
  RTC->PRER = hrtc->Init.SynchPrediv << RTC_PRER_PREDIV_S_Pos;  // PREDIV_S first, then PREDIV_A
  RTC->PRER |= hrtc->Init.AsynchPrediv << RTC_PRER_PREDIV_A_Pos;
  RTC->ICSR &= ~RTC_ICSR_INIT;
  // Calendar shadow registers resynchronise after initialisation mode.
  RTC->ICSR &= ~RTC_ICSR_RSF;
  if (!waitSet(RTC->ICSR, RTC_ICSR_RSF)) return fail(hrtc, HAL_TIMEOUT);
  lockWrites();
  hrtc->State = HAL_RTC_STATE_READY;
  return HAL_OK;
}

void HAL_RTCEx_BKUPWrite(RTC_HandleTypeDef*, uint32_t BackupRegister, uint32_t Data) {
  if (volatile uint32_t* reg = backupRegister(BackupRegister)) *reg = Data;
}

uint32_t HAL_RTCEx_BKUPRead(RTC_HandleTypeDef*, uint32_t BackupRegister) {
  volatile uint32_t* reg = backupRegister(BackupRegister);
  return reg != nullptr ? *reg : 0;
}

HAL_StatusTypeDef HAL_RTCEx_SetWakeUpTimer_IT(RTC_HandleTypeDef* hrtc, uint32_t WakeUpCounter, uint32_t WakeUpClock) {
  if (hrtc == nullptr || hrtc->State != HAL_RTC_STATE_READY) return HAL_ERROR;
  if (WakeUpCounter > RTC_WUTR_WUT || WakeUpClock > RTC_CR_WUCKSEL) return HAL_ERROR;
  hrtc->State = HAL_RTC_STATE_BUSY;
  unlockWrites();
  // The reload value and clock change only with the timer stopped and WUTWF set.
  RTC->CR &= ~(RTC_CR_WUTE | RTC_CR_WUTIE);
  if (!waitSet(RTC->ICSR, RTC_ICSR_WUTWF)) {
    lockWrites();
    hrtc->State = HAL_RTC_STATE_READY;
    return HAL_TIMEOUT;
  }
  RTC->WUTR = WakeUpCounter;
  RTC->CR = (RTC->CR & ~RTC_CR_WUCKSEL) | WakeUpClock;
  // A flag left from an earlier wake-up would end the next standby at once.
  RTC->SCR = RTC_SCR_CWUTF;
  RTC->CR |= RTC_CR_WUTIE | RTC_CR_WUTE;
  lockWrites();
  hrtc->State = HAL_RTC_STATE_READY;
  return HAL_OK;
}

HAL_StatusTypeDef HAL_RTCEx_DeactivateWakeUpTimer(RTC_HandleTypeDef* hrtc) {
  if (hrtc == nullptr) return HAL_ERROR;
  unlockWrites();
  RTC->CR &= ~(RTC_CR_WUTE | RTC_CR_WUTIE);
  RTC->SCR = RTC_SCR_CWUTF;
  lockWrites();
  return HAL_OK;
}

}  // extern "C"
