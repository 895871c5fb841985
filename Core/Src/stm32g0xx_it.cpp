// Interrupt handlers: they only pass the interrupt to the hardware layer, which moves data and
// sets flags through the application's callbacks. A HardFault and any interrupt without a handler
// here go to the start-up code's fault handler: it records the fault and resets the chip.
#include "main.h"

extern "C" {

// The NMI of a flash read that failed its ECC check (a double word a power cut broke): the read got
// what the cells hold, and its reader, which asked for a checked read, treats the data as torn. Any
// other NMI (no clock security or parity check is enabled) has no way out but a reset.
void NMI_Handler(void) {
  if (!HAL_FLASHEx_TakeEccDoubleError()) NVIC_SystemReset();
}

void SVC_Handler(void) {}
void PendSV_Handler(void) {}
void SysTick_Handler(void) { HAL_IncTick(); }
void DMA1_Channel1_IRQHandler(void) { HAL_DMA_IRQHandler(&hdma_adc1); }
void DMA1_Channel2_3_IRQHandler(void) { HAL_DMA_IRQHandler(&hdma_usart1_rx); }
void TIM6_IRQHandler(void) { HAL_TIM_IRQHandler(&htim6); }
void USART1_IRQHandler(void) { HAL_UART_IRQHandler(&huart1); }

}  // extern "C"
