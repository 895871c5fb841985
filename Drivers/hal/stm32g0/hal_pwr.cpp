// Power control: regulator range, sleep and standby entry, RTC domain write access and the
// wake-up flags.
#include "hal_backend.h"

// The added API's wake-up flags are PWR_SR1's own bits, and PWR_SCR clears them at the same places.
static_assert(HAL_WAKE_FLAG_PIN1 == PWR_SR1_WUF1 && HAL_WAKE_FLAG_PIN2 == PWR_SR1_WUF2 &&
              HAL_WAKE_FLAG_PIN4 == PWR_SR1_WUF4 && HAL_WAKE_FLAG_PIN5 == PWR_SR1_WUF5 &&
              HAL_WAKE_FLAG_PIN6 == PWR_SR1_WUF6 && HAL_WAKE_FLAG_STANDBY == PWR_SR1_SBF &&
              HAL_WAKE_FLAG_INTERNAL == PWR_SR1_WUFI);
static_assert(PWR_SCR_CWUF1 == PWR_SR1_WUF1 && PWR_SCR_CWUF2 == PWR_SR1_WUF2 && PWR_SCR_CWUF4 == PWR_SR1_WUF4 &&
              PWR_SCR_CWUF5 == PWR_SR1_WUF5 && PWR_SCR_CWUF6 == PWR_SR1_WUF6 && PWR_SCR_CSBF == PWR_SR1_SBF);

namespace {
constexpr uint32_t kRegulatorTimeoutMs = 2;  // range change takes tens of microseconds

void waitForEvent() {
  __asm volatile("sev" ::: "memory");  // set the event register, so the first WFE clears it
  __asm volatile("wfe" ::: "memory");
  __asm volatile("wfe" ::: "memory");  // this one sleeps
}

template <typename Access>
void withPwrClock(Access access) {
  const bool gated = (RCC->APBENR1 & RCC_APBENR1_PWREN) == 0U;
  if (gated) {
    regSet(RCC->APBENR1, RCC_APBENR1_PWREN);
    (void)RCC->APBENR1;  // the clock runs before the access
  }
  access();
  if (gated) regClear(RCC->APBENR1, RCC_APBENR1_PWREN);
}

}  // namespace

extern "C" {

HAL_StatusTypeDef HAL_PWREx_ControlVoltageScaling(uint32_t voltageScaling) {
  if (voltageScaling != PWR_REGULATOR_VOLTAGE_SCALE1 && voltageScaling != PWR_REGULATOR_VOLTAGE_SCALE2)
    return HAL_ERROR;
  if ((PWR->CR1 & PWR_CR1_VOS) == voltageScaling) return HAL_OK;
  regModify(PWR->CR1, PWR_CR1_VOS, voltageScaling);
  // Going up to range 1 the regulator needs time before the clock may rise.
  if (voltageScaling == PWR_REGULATOR_VOLTAGE_SCALE1) return regWait(PWR->SR2, PWR_SR2_VOSF, 0U, kRegulatorTimeoutMs);
  return HAL_OK;
}

// Sleep: the core stops until an interrupt (WFI) or event (WFE); peripherals run on. With
// interrupts masked, WFI still returns on a pending interrupt. The low-power regulator needs
// SYSCLK at most 2 MHz (the caller's choice) and stays in force after the wake-up.
void HAL_PWR_EnterSLEEPMode(uint32_t regulator, uint8_t sleepEntry) {
  if (regulator == PWR_LOWPOWERREGULATOR_ON) {
    regSet(PWR->CR1, PWR_CR1_LPR);
  } else if ((PWR->CR1 & PWR_CR1_LPR) != 0U) {
    regClear(PWR->CR1, PWR_CR1_LPR);
    (void)regWait(PWR->SR2, PWR_SR2_REGLPF, 0U, kRegulatorTimeoutMs);
  }
  regClear(SCB->SCR, SCB_SCR_SLEEPDEEP);
  if (sleepEntry == PWR_SLEEPENTRY_WFI) {
    __WFI();
  } else {
    waitForEvent();
  }
}

// Standby: the core domain is switched off and the next start is a reset, with RAM lost and
// the RTC domain (RTC, backup registers) kept. Returns only if standby could not be entered.
// Only standby's own wake-up sources end it; a pending interrupt would end the WFI at once (even
// with interrupts masked, as on the fatal-error path, where the tick falls due in the meantime), so
// the interrupt lines are disabled and cleared first, and enabled again should the WFI return.
void HAL_PWR_EnterSTANDBYMode(void) {
  regModify(PWR->CR1, PWR_CR1_LPMS, PWR_CR1_LPMS_STANDBY);
  regSet(SCB->SCR, SCB_SCR_SLEEPDEEP);
  const uint32_t enabled = NVIC->ISER;
  NVIC->ICER = enabled;
  NVIC->ICPR = enabled;
  SCB->ICSR = SCB_ICSR_PENDSTCLR;
  __WFI();
  NVIC->ISER = enabled;
  regClear(SCB->SCR, SCB_SCR_SLEEPDEEP);  // later sleeps stay ordinary sleeps
}

void HAL_PWR_EnableBkUpAccess(void) { regSet(PWR->CR1, PWR_CR1_DBP); }

// PWR_PUCRx and PWR_PDCRx come in pairs, one pair per port, in port order (E included).
void HAL_PWREx_HoldLowInStandby(GPIO_TypeDef* port, uint32_t pins) {
  const uint32_t index = (reinterpret_cast<uintptr_t>(port) - IOPORT_BASE) / 0x400U;
  regSet((&PWR->PDCRA)[2U * index], pins);
  regSet(PWR->CR3, PWR_CR3_APC);
}
void HAL_PWR_DisableBkUpAccess(void) { regClear(PWR->CR1, PWR_CR1_DBP); }

// The boot sequence reads the wake-up flags before anything has enabled the PWR interface
// clock, and a register read with its clock gated returns 0: these two open the clock for the
// access and leave the gate as they found it.
uint32_t HAL_PWREx_ReadSR1(void) {
  uint32_t value = 0;
  withPwrClock([&value]() { value = PWR->SR1; });
  return value;
}

void HAL_PWREx_WriteSCR(uint32_t value) {
  withPwrClock([value]() { PWR->SCR = value; });
}

}  // extern "C"
