// Core, tick, interrupt controller, clocks and power of the simulated STM32G070.
#include "board.h"
#include "hal_backend_ops.h"
#include "stm32g0xx_hal.h"
#include "systick_model.h"

GPIO_TypeDef simGpioPorts[6] = {{0}, {1}, {2}, {3}, {4}, {5}};
USART_TypeDef simUsart1 = {1};
DMA_Channel_TypeDef simDmaChannels[7] = {{1}, {2}, {3}, {4}, {5}, {6}, {7}};
TIM_TypeDef simTim6 = {6};
ADC_TypeDef simAdc1 = {1};
SPI_TypeDef simSpi1 = {1};
RTC_TypeDef simRtc = {0};

volatile uint32_t uwTick = 0;

namespace {
uint32_t gSysClockHz = 16000000;  // HSI16 undivided at reset
uint32_t gApbenr1 = 0;
}  // namespace

void halCallBegins() { sim::board().halCall(); }

extern "C" {

HAL_StatusTypeDef HAL_Init(void) {
  sim::board().halCall();
  sim::board().sysTick().start(1000);
  HAL_NVIC_SetPriority(SysTick_IRQn, 3, 0);
  HAL_MspInit();
  return HAL_OK;
}

HAL_StatusTypeDef HAL_DeInit(void) { return HAL_OK; }

void HAL_IncTick(void) { uwTick = uwTick + 1; }

uint32_t HAL_GetTick(void) {
  sim::board().halPoll();
  return uwTick;
}

void HAL_Delay(uint32_t delayMs) {
  const uint32_t start = HAL_GetTick();
  uint32_t wait = delayMs;
  if (wait < HAL_MAX_DELAY) wait += 1;  // at least the requested time, as the chip maker's HAL
  while ((HAL_GetTick() - start) < wait) sim::board().busyWait(50);
}

void HAL_SuspendTick(void) { sim::board().sysTick().suspend(); }
void HAL_ResumeTick(void) { sim::board().sysTick().resume(); }

uint32_t HAL_SYSTICK_Config(uint32_t ticks) {
  const uint64_t us = static_cast<uint64_t>(ticks) * 1000000ull / (gSysClockHz ? gSysClockHz : 1);
  sim::board().sysTick().start(static_cast<uint32_t>(us));
  return 0;
}

void HAL_NVIC_SetPriority(IRQn_Type, uint32_t, uint32_t) { sim::board().halCall(); }
void HAL_NVIC_EnableIRQ(IRQn_Type irq) { sim::board().enableIrq(irq, true); }
void HAL_NVIC_DisableIRQ(IRQn_Type irq) { sim::board().enableIrq(irq, false); }
void HAL_NVIC_ClearPendingIRQ(IRQn_Type) {}

void NVIC_SystemReset(void) { sim::board().restart(sim::ResetKind::software); }
void __disable_irq(void) { sim::board().setPrimask(true); }
void __enable_irq(void) { sim::board().setPrimask(false); }
void __WFI(void) { sim::board().waitForInterrupt(); }
void __DSB(void) {}
void __ISB(void) {}
void __NOP(void) { sim::board().halCall(); }

HAL_StatusTypeDef HAL_RCC_OscConfig(RCC_OscInitTypeDef* osc) {
  sim::board().halCall();
  if (osc == nullptr) return HAL_ERROR;
  if ((osc->OscillatorType & RCC_OSCILLATORTYPE_HSI) && osc->HSIState == RCC_HSI_ON) {
    const uint32_t div = 1u << ((osc->HSIDiv >> 11) & 7u);
    gSysClockHz = 16000000u / div;
  }
  return HAL_OK;
}

HAL_StatusTypeDef HAL_RCC_ClockConfig(RCC_ClkInitTypeDef* clk, uint32_t) {
  sim::board().halCall();
  return clk == nullptr ? HAL_ERROR : HAL_OK;
}

HAL_StatusTypeDef HAL_RCCEx_PeriphCLKConfig(RCC_PeriphCLKInitTypeDef* periph) {
  sim::board().halCall();
  return periph == nullptr ? HAL_ERROR : HAL_OK;
}

uint32_t HAL_RCC_GetSysClockFreq(void) { return gSysClockHz; }
uint32_t HAL_RCC_GetHCLKFreq(void) { return gSysClockHz; }
uint32_t HAL_RCC_GetPCLK1Freq(void) { return gSysClockHz; }

void HAL_RCC_ClockGate(RCC_ClockGate gate, int enable) {
  sim::board().halCall();
  if (gate == RCC_CLK_PWR) {
    if (enable)
      gApbenr1 |= HAL_PWR_CLOCK_ON;
    else
      gApbenr1 &= ~HAL_PWR_CLOCK_ON;
  }
}

uint32_t HAL_RCCEx_ReadCSR(void) { return sim::board().csr(); }
void HAL_RCCEx_WriteCSR(uint32_t value) { sim::board().writeCsr(value); }
uint32_t HAL_RCCEx_EnablePwrClockReadBack(void) {
  gApbenr1 |= HAL_PWR_CLOCK_ON;
  return gApbenr1;
}

HAL_StatusTypeDef HAL_PWREx_ControlVoltageScaling(uint32_t) { return HAL_OK; }
uint32_t HAL_PWREx_ReadSR1(void) { return sim::board().sr1(); }
void HAL_PWREx_WriteSCR(uint32_t value) { sim::board().clearSr1(value); }

void HAL_PWR_EnterSLEEPMode(uint32_t, uint8_t) { sim::board().waitForInterrupt(); }

}  // extern "C"
