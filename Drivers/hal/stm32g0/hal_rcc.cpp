// Reset and clock control: oscillators, system clock switch and bus dividers, kernel clock and
// RTC clock selection, peripheral clock gates, reset flags. Frequencies are read back from the
// registers, so they are right whoever configured the clocks.
#include "hal_backend.h"

// The added API's reset flags are RCC_CSR's own bits: the register is handed over as it is.
static_assert(HAL_RESET_FLAG_OPTION_BYTES == RCC_CSR_OBLRSTF && HAL_RESET_FLAG_PIN == RCC_CSR_PINRSTF &&
              HAL_RESET_FLAG_POWER_ON == RCC_CSR_PWRRSTF && HAL_RESET_FLAG_SOFTWARE == RCC_CSR_SFTRSTF &&
              HAL_RESET_FLAG_IWDG == RCC_CSR_IWDGRSTF && HAL_RESET_FLAG_WWDG == RCC_CSR_WWDGRSTF &&
              HAL_RESET_FLAG_LOW_POWER == RCC_CSR_LPWRRSTF && HAL_RESET_FLAGS_CLEAR == RCC_CSR_RMVF &&
              HAL_PWR_CLOCK_ON == RCC_APBENR1_PWREN);

#ifndef HSE_VALUE
#define HSE_VALUE 8000000U  // no crystal is fitted on this board; one that has it sets its frequency
#endif

namespace {

constexpr uint32_t kOscillatorTimeoutMs = 2;  // HSI and LSI start in microseconds
constexpr uint32_t kPllTimeoutMs = 2;
constexpr uint32_t kClockSwitchTimeoutMs = 5000;
constexpr uint32_t kBackupAccessTimeoutMs = 2;
constexpr uint32_t kLseTimeoutMs = 5000;

// Shift of each RCC_CFGR.HPRE and RCC_CFGR.PPRE code (dividers are powers of two).
constexpr uint8_t kAhbShift[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 6, 7, 8, 9};
constexpr uint8_t kApbShift[8] = {0, 0, 0, 0, 1, 2, 3, 4};

uint32_t sysclkSource() { return (RCC->CFGR & RCC_CFGR_SWS) >> RCC_CFGR_SWS_Pos; }

uint32_t pllSource() { return RCC->PLLCFGR & RCC_PLLCFGR_PLLSRC; }

uint32_t hsisysHz() { return HSI16_VALUE >> ((RCC->CR & RCC_CR_HSIDIV) >> RCC_CR_HSIDIV_Pos); }

// PLLRCLK = PLL input / (PLLM + 1) * PLLN / (PLLR + 1)
uint32_t pllrclkHz() {
  const uint32_t cfg = RCC->PLLCFGR;
  uint32_t input = 0;
  if ((cfg & RCC_PLLCFGR_PLLSRC) == RCC_PLLCFGR_PLLSRC_HSI) input = HSI16_VALUE;
  if ((cfg & RCC_PLLCFGR_PLLSRC) == RCC_PLLCFGR_PLLSRC_HSE) input = HSE_VALUE;
  const uint32_t m = ((cfg & RCC_PLLCFGR_PLLM) >> RCC_PLLCFGR_PLLM_Pos) + 1U;
  const uint32_t n = (cfg & RCC_PLLCFGR_PLLN) >> RCC_PLLCFGR_PLLN_Pos;
  const uint32_t r = ((cfg & RCC_PLLCFGR_PLLR) >> RCC_PLLCFGR_PLLR_Pos) + 1U;
  return input / m * n / r;
}

bool sourceReady(uint32_t sw) {
  switch (sw) {
    case RCC_CFGR_SW_HSISYS: return (RCC->CR & RCC_CR_HSIRDY) != 0U;
    case RCC_CFGR_SW_HSE: return (RCC->CR & RCC_CR_HSERDY) != 0U;
    case RCC_CFGR_SW_PLLRCLK: return (RCC->CR & RCC_CR_PLLRDY) != 0U;
    case RCC_CFGR_SW_LSI: return (RCC->CSR & RCC_CSR_LSIRDY) != 0U;
    case RCC_CFGR_SW_LSE: return (RCC->BDCR & RCC_BDCR_LSERDY) != 0U;
    default: return false;
  }
}

HAL_StatusTypeDef configureHsi(const RCC_OscInitTypeDef& osc) {
  const uint32_t trim = (osc.HSICalibrationValue << RCC_ICSCR_HSITRIM_Pos) & RCC_ICSCR_HSITRIM;
  const uint32_t div = osc.HSIDiv & RCC_CR_HSIDIV;
  const bool clocksSysclk = sysclkSource() == RCC_CFGR_SW_HSISYS;
  const bool clocksPll = sysclkSource() == RCC_CFGR_SW_PLLRCLK && pllSource() == RCC_PLLCFGR_PLLSRC_HSI;
  if (clocksSysclk || clocksPll) {
    // In use: it cannot stop, but trimming and the HSISYS divider may change on the fly.
    if (osc.HSIState != RCC_HSI_ON) return HAL_ERROR;
    regModify(RCC->ICSCR, RCC_ICSCR_HSITRIM, trim);
    if (!clocksSysclk) return HAL_OK;
    regModify(RCC->CR, RCC_CR_HSIDIV, div);
    return HAL_InitTick(HAL_GetTickPrio());  // the core clock changed: keep the tick at 1 ms
  }
  if (osc.HSIState == RCC_HSI_ON) {
    regModify(RCC->CR, RCC_CR_HSIDIV, div);
    regSet(RCC->CR, RCC_CR_HSION);
    if (regWait(RCC->CR, RCC_CR_HSIRDY, RCC_CR_HSIRDY, kOscillatorTimeoutMs) != HAL_OK) return HAL_TIMEOUT;
    regModify(RCC->ICSCR, RCC_ICSCR_HSITRIM, trim);
    return HAL_OK;
  }
  regClear(RCC->CR, RCC_CR_HSION);
  return regWait(RCC->CR, RCC_CR_HSIRDY, 0U, kOscillatorTimeoutMs);
}

HAL_StatusTypeDef configureLsi(uint32_t state) {
  if (state == RCC_LSI_ON) {
    regSet(RCC->CSR, RCC_CSR_LSION);
    return regWait(RCC->CSR, RCC_CSR_LSIRDY, RCC_CSR_LSIRDY, kOscillatorTimeoutMs);
  }
  regClear(RCC->CSR, RCC_CSR_LSION);
  return regWait(RCC->CSR, RCC_CSR_LSIRDY, 0U, kOscillatorTimeoutMs);
}

// Only switching the PLL off is offered: the product runs from HSI, and the API carries no PLL
// source or divider codes.
HAL_StatusTypeDef configurePll(uint32_t state) {
  if (state != RCC_PLL_OFF) return HAL_ERROR;
  if (sysclkSource() == RCC_CFGR_SW_PLLRCLK) return HAL_ERROR;
  regClear(RCC->CR, RCC_CR_PLLON);
  if (regWait(RCC->CR, RCC_CR_PLLRDY, 0U, kPllTimeoutMs) != HAL_OK) return HAL_TIMEOUT;
  regClear(RCC->PLLCFGR, RCC_PLLCFGR_PLLPEN | RCC_PLLCFGR_PLLQEN | RCC_PLLCFGR_PLLREN);
  return HAL_OK;
}

HAL_StatusTypeDef setFlashLatency(uint32_t latency) {
  regModify(FLASH->ACR, FLASH_ACR_LATENCY, latency);
  return (FLASH->ACR & FLASH_ACR_LATENCY) == latency ? HAL_OK : HAL_ERROR;
}

// RTC clock source, in the RTC domain: write access through PWR_CR1.DBP. Changing an already
// selected source needs an RTC domain reset, which also clears the backup registers; selecting
// the source that is already there (every start after the first) leaves the domain alone.
HAL_StatusTypeDef configureRtcClock(uint32_t selection) {
  const bool pwrWasOff = (RCC->APBENR1 & RCC_APBENR1_PWREN) == 0U;
  if (pwrWasOff) {
    regSet(RCC->APBENR1, RCC_APBENR1_PWREN);
    (void)RCC->APBENR1;
  }
  regSet(PWR->CR1, PWR_CR1_DBP);
  HAL_StatusTypeDef status = regWait(PWR->CR1, PWR_CR1_DBP, PWR_CR1_DBP, kBackupAccessTimeoutMs);
  if (status == HAL_OK) {
    const uint32_t wanted = selection & RCC_BDCR_RTCSEL;
    const uint32_t current = RCC->BDCR & RCC_BDCR_RTCSEL;
    if (current != 0U && current != wanted) {
      const uint32_t keep = RCC->BDCR & ~RCC_BDCR_RTCSEL;
      regSet(RCC->BDCR, RCC_BDCR_BDRST);
      regClear(RCC->BDCR, RCC_BDCR_BDRST);
      RCC->BDCR = keep;
      if ((keep & RCC_BDCR_LSEON) != 0U) status = regWait(RCC->BDCR, RCC_BDCR_LSERDY, RCC_BDCR_LSERDY, kLseTimeoutMs);
    }
    if (status == HAL_OK) regModify(RCC->BDCR, RCC_BDCR_RTCSEL, wanted);
  }
  if (pwrWasOff) regClear(RCC->APBENR1, RCC_APBENR1_PWREN);
  return status;
}

// Register and bit of each clock gate.
struct Gate {
  volatile uint32_t* reg;
  uint32_t bit;
};

Gate gateOf(RCC_ClockGate gate) {
  switch (gate) {
    case RCC_CLK_GPIOA: return {&RCC->IOPENR, RCC_IOPENR_GPIOAEN};
    case RCC_CLK_GPIOB: return {&RCC->IOPENR, RCC_IOPENR_GPIOBEN};
    case RCC_CLK_GPIOC: return {&RCC->IOPENR, RCC_IOPENR_GPIOCEN};
    case RCC_CLK_GPIOD: return {&RCC->IOPENR, RCC_IOPENR_GPIODEN};
    case RCC_CLK_GPIOF: return {&RCC->IOPENR, RCC_IOPENR_GPIOFEN};
    case RCC_CLK_DMA1: return {&RCC->AHBENR, RCC_AHBENR_DMA1EN};
    case RCC_CLK_SYSCFG: return {&RCC->APBENR2, RCC_APBENR2_SYSCFGEN};
    case RCC_CLK_PWR: return {&RCC->APBENR1, RCC_APBENR1_PWREN};
    case RCC_CLK_USART1: return {&RCC->APBENR2, RCC_APBENR2_USART1EN};
    case RCC_CLK_SPI1: return {&RCC->APBENR2, RCC_APBENR2_SPI1EN};
    case RCC_CLK_ADC: return {&RCC->APBENR2, RCC_APBENR2_ADCEN};
    case RCC_CLK_TIM6: return {&RCC->APBENR1, RCC_APBENR1_TIM6EN};
    case RCC_CLK_RTCAPB: return {&RCC->APBENR1, RCC_APBENR1_RTCAPBEN};
    case RCC_CLK_RTC: return {&RCC->BDCR, RCC_BDCR_RTCEN};  // RTC domain: needs PWR_CR1.DBP
  }
  return {nullptr, 0U};
}

}  // namespace

extern "C" {

// HSI (state, divider, trimming), LSI and switching the PLL off. HSE and LSE are refused: no
// crystal is fitted.
HAL_StatusTypeDef HAL_RCC_OscConfig(RCC_OscInitTypeDef* osc) {
  if (osc == nullptr) return HAL_ERROR;
  const uint32_t type = osc->OscillatorType;
  if ((type & (RCC_OSCILLATORTYPE_HSE | RCC_OSCILLATORTYPE_LSE)) != 0U) return HAL_ERROR;
  if ((type & RCC_OSCILLATORTYPE_HSI) != 0U) {
    const HAL_StatusTypeDef status = configureHsi(*osc);
    if (status != HAL_OK) return status;
  }
  if ((type & RCC_OSCILLATORTYPE_LSI) != 0U) {
    const HAL_StatusTypeDef status = configureLsi(osc->LSIState);
    if (status != HAL_OK) return status;
  }
  if (osc->PLL.PLLState != RCC_PLL_NONE) return configurePll(osc->PLL.PLLState);
  return HAL_OK;
}

// AHB divider, system clock switch and APB divider, with the flash wait states raised before a
// faster clock and lowered after a slower one.
HAL_StatusTypeDef HAL_RCC_ClockConfig(RCC_ClkInitTypeDef* clk, uint32_t flashLatency) {
  if (clk == nullptr || flashLatency > FLASH_LATENCY_2) return HAL_ERROR;
  const uint32_t type = clk->ClockType;
  if (flashLatency > (FLASH->ACR & FLASH_ACR_LATENCY) && setFlashLatency(flashLatency) != HAL_OK) return HAL_ERROR;

  if ((type & RCC_CLOCKTYPE_HCLK) != 0U) {
    // APB at its slowest while HCLK changes, so PCLK never exceeds its limit in between.
    if ((type & RCC_CLOCKTYPE_PCLK1) != 0U) regSet(RCC->CFGR, RCC_CFGR_PPRE);
    regModify(RCC->CFGR, RCC_CFGR_HPRE, clk->AHBCLKDivider & RCC_CFGR_HPRE);
  }
  if ((type & RCC_CLOCKTYPE_SYSCLK) != 0U) {
    const uint32_t sw = clk->SYSCLKSource & RCC_CFGR_SW;
    if (!sourceReady(sw)) return HAL_ERROR;
    regModify(RCC->CFGR, RCC_CFGR_SW, sw);
    if (regWait(RCC->CFGR, RCC_CFGR_SWS, sw << RCC_CFGR_SWS_Pos, kClockSwitchTimeoutMs) != HAL_OK) return HAL_TIMEOUT;
  }
  if (flashLatency < (FLASH->ACR & FLASH_ACR_LATENCY) && setFlashLatency(flashLatency) != HAL_OK) return HAL_ERROR;
  if ((type & RCC_CLOCKTYPE_PCLK1) != 0U) regModify(RCC->CFGR, RCC_CFGR_PPRE, clk->APB1CLKDivider & RCC_CFGR_PPRE);
  return HAL_InitTick(HAL_GetTickPrio());
}

HAL_StatusTypeDef HAL_RCCEx_PeriphCLKConfig(RCC_PeriphCLKInitTypeDef* periph) {
  if (periph == nullptr) return HAL_ERROR;
  if ((periph->PeriphClockSelection & RCC_PERIPHCLK_RTC) != 0U) {
    const HAL_StatusTypeDef status = configureRtcClock(periph->RTCClockSelection);
    if (status != HAL_OK) return status;
  }
  if ((periph->PeriphClockSelection & RCC_PERIPHCLK_USART1) != 0U) {
    regModify(RCC->CCIPR, RCC_CCIPR_USART1SEL,
              (periph->Usart1ClockSelection << RCC_CCIPR_USART1SEL_Pos) & RCC_CCIPR_USART1SEL);
  }
  return HAL_OK;
}

uint32_t HAL_RCC_GetSysClockFreq(void) {
  switch (sysclkSource()) {
    case RCC_CFGR_SW_HSISYS: return hsisysHz();
    case RCC_CFGR_SW_HSE: return HSE_VALUE;
    case RCC_CFGR_SW_PLLRCLK: return pllrclkHz();
    case RCC_CFGR_SW_LSI: return LSI_VALUE;
    case RCC_CFGR_SW_LSE: return LSE_VALUE;
    default: return 0U;
  }
}

uint32_t HAL_RCC_GetHCLKFreq(void) {
  return HAL_RCC_GetSysClockFreq() >> kAhbShift[(RCC->CFGR & RCC_CFGR_HPRE) >> RCC_CFGR_HPRE_Pos];
}

uint32_t HAL_RCC_GetPCLK1Freq(void) {
  return HAL_RCC_GetHCLKFreq() >> kApbShift[(RCC->CFGR & RCC_CFGR_PPRE) >> RCC_CFGR_PPRE_Pos];
}

void HAL_RCC_ClockGate(RCC_ClockGate gate, int enable) {
  const Gate g = gateOf(gate);
  if (g.reg == nullptr) return;
  if (enable) {
    regSet(*g.reg, g.bit);
    (void)*g.reg;  // read back: the clock runs before the peripheral is touched
  } else {
    regClear(*g.reg, g.bit);
  }
}

uint32_t HAL_RCCEx_ReadCSR(void) { return RCC->CSR; }

// A plain write: besides RMVF the only writable bit is LSION, off after every reset.
void HAL_RCCEx_WriteCSR(uint32_t value) { RCC->CSR = value; }

uint32_t HAL_RCCEx_EnablePwrClockReadBack(void) {
  regSet(RCC->APBENR1, RCC_APBENR1_PWREN);
  return RCC->APBENR1;
}

}  // extern "C"
