// Low-power delay, standby and reset causes.
#include "sleep.h"

#include <cstdio>
#include <cstring>

#include "Debug.h"
#include "MCUState.h"
#include "RTCMem.h"
#include "main.h"
#include "stm32g0xx_hal.h"

volatile bool tim6_delay_elapsed = false;

namespace {

constexpr uint32_t kMaxChunkMs = 65535;  // TIM6 counts 16 bits
constexpr uint32_t kBusyWaitMaxMs = 2;

// Copies at most bufSize - 1 characters and always terminates.
void copyBounded(char* buf, size_t bufSize, const char* text) {
  if (buf == nullptr || bufSize == 0) return;
  std::strncpy(buf, text, bufSize - 1);
  buf[bufSize - 1] = '\0';
}

// Appends `text` (after ", " when buf already holds something) only if all of it fits.
void appendCause(char* buf, size_t bufSize, const char* text) {
  const size_t pos = std::strlen(buf);
  const size_t separator = pos > 0 ? 2 : 0;
  const size_t length = std::strlen(text);
  if (pos + separator + length + 1 > bufSize) return;
  if (separator != 0) std::memcpy(buf + pos, ", ", separator);
  std::memcpy(buf + pos + separator, text, length + 1);
}

struct FlagText {
  uint32_t mask;
  const char* text;
};

// In order of priority.
constexpr FlagText kResetFlags[] = {
    {HAL_RESET_FLAG_LOW_POWER, "LPWRRSTF (low-power reset)"},
    {HAL_RESET_FLAG_WWDG, "WWDGRSTF (window watchdog reset)"},
    {HAL_RESET_FLAG_IWDG, "IWDGRSTF (independent watchdog reset)"},
    {HAL_RESET_FLAG_SOFTWARE, "SFTRSTF (software reset)"},
    {HAL_RESET_FLAG_POWER_ON, "PWRRSTF (power-on/brownout reset)"},
    {HAL_RESET_FLAG_PIN, "PINRSTF (NRST pin reset)"},
    {HAL_RESET_FLAG_OPTION_BYTES, "OBLRSTF (option byte loader reset)"},
};

constexpr FlagText kWakeFlags[] = {
    {HAL_WAKE_FLAG_STANDBY, "SBF (standby flag set)"}, {HAL_WAKE_FLAG_PIN1, "WUF1 (wakeup flag 1)"},
    {HAL_WAKE_FLAG_PIN2, "WUF2 (wakeup flag 2)"},      {HAL_WAKE_FLAG_PIN4, "WUF4 (wakeup flag 4)"},
    {HAL_WAKE_FLAG_PIN5, "WUF5 (wakeup flag 5)"},
};

}  // namespace

void initDelayTimer() {
  htim6.Instance = TIM6;
  htim6.Init.Prescaler = HAL_RCC_GetPCLK1Freq() / 1000 - 1;
  htim6.Init.CounterMode = TIM_COUNTERMODE_UP;
  htim6.Init.Period = 0;
  htim6.Init.AutoReloadPreload = TIM_AUTORELOAD_PRELOAD_DISABLE;
  if (HAL_TIM_Base_Init(&htim6) != HAL_OK) Error_Handler();
  HAL_NVIC_SetPriority(TIM6_IRQn, 0, 0);
  HAL_NVIC_EnableIRQ(TIM6_IRQn);
}

extern "C" void HAL_TIM_PeriodElapsedCallback(TIM_HandleTypeDef* htim) {
  if (htim->Instance == TIM6) tim6_delay_elapsed = true;
}

void delayMsLowPower(uint32_t ms) {
  if (ms == 0) return;
  if (ms <= kBusyWaitMaxMs) {
    HAL_Delay(ms);
    return;
  }
  HAL_SuspendTick();
  uint32_t slept = 0;
  while (slept < ms) {
    const uint32_t left = ms - slept;
    uint32_t chunk = left > kMaxChunkMs ? kMaxChunkMs : left;
    // A last chunk of 1 ms would load an auto-reload of 0, which stops TIM6 for good; leave 2.
    if (left - chunk == 1) chunk -= 1;
    tim6_delay_elapsed = false;
    __HAL_TIM_SET_AUTORELOAD(&htim6, chunk - 1);
    __HAL_TIM_SET_COUNTER(&htim6, 0);
    __HAL_TIM_CLEAR_FLAG(&htim6, TIM_FLAG_UPDATE);
    if (HAL_TIM_Base_Start_IT(&htim6) != HAL_OK) {
      // Without its timer the delay still lasts, on the tick.
      HAL_ResumeTick();
      uwTick = uwTick + slept;
      HAL_Delay(ms - slept);
      return;
    }
    // Interrupts are masked around the test so that an update landing just before the
    // wait-for-interrupt still ends this chunk instead of the next one.
    for (;;) {
      __disable_irq();
      if (tim6_delay_elapsed) {
        __enable_irq();
        break;
      }
      HAL_PWR_EnterSLEEPMode(PWR_MAINREGULATOR_ON, PWR_SLEEPENTRY_WFI);
      __enable_irq();
    }
    (void)HAL_TIM_Base_Stop_IT(&htim6);
    slept += chunk;
  }
  HAL_ResumeTick();
  uwTick = uwTick + ms;
}

void standBy(uint16_t sleep) {
  (void)HAL_TIM_Base_Stop_IT(&htim6);
  if (mcustate().hadc1 != nullptr) {
    (void)HAL_ADC_DeInit(mcustate().hadc1);
    (void)HAL_ADC_Stop(mcustate().hadc1);
  }
  HAL_PWREx_WriteSCR(HAL_WAKE_FLAG_PIN1 | HAL_WAKE_FLAG_PIN2 | HAL_WAKE_FLAG_PIN4 | HAL_WAKE_FLAG_PIN5 |
                     HAL_WAKE_FLAG_PIN6 | HAL_WAKE_FLAG_STANDBY);
  if (HAL_RTCEx_SetWakeUpTimer_IT(&hrtc, sleep, RTC_WAKEUPCLOCK_CK_SPRE_16BITS) != HAL_OK) {
    debug("Failed to set wake up timer");
    return;
  }
  // In standby the chip lets go of its pins: the supply switches' enables would float. Held low,
  // the radio and the front end stay off until a start switches them on.
  const detail::PinLayout::Switch& supplies = mcustate().pin.switch_;
  HAL_PWREx_HoldLowInStandby(supplies.lora.pin_.h.bus, supplies.lora.pin_.h.pinN);
  HAL_PWREx_HoldLowInStandby(supplies.stage1.psu.h.bus, supplies.stage1.psu.h.pinN);
  HAL_SuspendTick();
  HAL_PWR_EnterSTANDBYMode();
  // Still running: an interrupt was pending, so the core never went down.
  HAL_ResumeTick();
}

void getResetCauseString(uint32_t csr, char* buf, size_t bufSize) {
  if (buf == nullptr || bufSize == 0) return;
  std::memset(buf, 0, bufSize);
  for (const FlagText& f : kResetFlags) {
    if (csr & f.mask) {
      copyBounded(buf, bufSize, f.text);
      return;
    }
  }
  std::snprintf(buf, bufSize, "unhandled reason CSR=0x%08lX", static_cast<unsigned long>(csr));
}

void getBootCauseMaskString(uint32_t sr1, char* buf, size_t bufSize) {
  if (buf == nullptr || bufSize == 0) return;
  std::memset(buf, 0, bufSize);
  const FlagText* found = nullptr;
  for (const FlagText& f : kWakeFlags) {
    if (sr1 & f.mask) {
      found = &f;
      break;
    }
  }
  if (found != nullptr) {
    appendCause(buf, bufSize, found->text);
  } else {
    char scratch[32];
    std::snprintf(scratch, sizeof scratch, "unhandled reason SR1=0x%08lX", static_cast<unsigned long>(sr1));
    appendCause(buf, bufSize, scratch);
  }
  if (buf[0] == '\0') copyBounded(buf, bufSize, "none (no RCC/PWR reset-wakeup flags)");
}

void resetCauseDecoder(uint32_t resetCause, uint32_t bootCause) {
  char text[512];
  getResetCauseString(resetCause, text, sizeof text);
  debugV2("Reset cause: %s\n", text);
  getBootCauseMaskString(bootCause, text, sizeof text);
  debugV2("boot cause: %s\n", text);
  // A fault the start-up code recorded before its reset: told once, then the record is cleared.
  const uint32_t record = RTCMem::readReg(HAL_FAULT_RECORD_REGISTER);
  if ((record & HAL_FAULT_RECORD_MARK_MASK) != HAL_FAULT_RECORD_MARK) return;
  RTCMem::writeReg(HAL_FAULT_RECORD_REGISTER, 0);
  const uint32_t exception = record & 0xFFu;
  debugV2("Fault before this start: exception %lu (%s) at PC 0x%08lX\n", static_cast<unsigned long>(exception),
          exception == 3 ? "HardFault" : "unexpected interrupt",
          static_cast<unsigned long>(RTCMem::readReg(HAL_FAULT_PC_REGISTER)));
}
