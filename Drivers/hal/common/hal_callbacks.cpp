// The hooks the hardware layer calls and the firmware may define (low-level set-up, completion and
// error callbacks): their do-nothing defaults, the same for both backends, written once.
#include "stm32g0xx_hal.h"

extern "C" {

__attribute__((weak)) void HAL_MspInit(void) {}
__attribute__((weak)) void HAL_ADC_MspInit(ADC_HandleTypeDef*) {}
__attribute__((weak)) void HAL_ADC_MspDeInit(ADC_HandleTypeDef*) {}
__attribute__((weak)) void HAL_ADC_ConvCpltCallback(ADC_HandleTypeDef*) {}
__attribute__((weak)) void HAL_RTC_MspInit(RTC_HandleTypeDef*) {}
__attribute__((weak)) void HAL_SPI_MspInit(SPI_HandleTypeDef*) {}
__attribute__((weak)) void HAL_SPI_MspDeInit(SPI_HandleTypeDef*) {}
__attribute__((weak)) void HAL_TIM_Base_MspInit(TIM_HandleTypeDef*) {}
__attribute__((weak)) void HAL_TIM_PeriodElapsedCallback(TIM_HandleTypeDef*) {}
__attribute__((weak)) void HAL_UART_MspInit(UART_HandleTypeDef*) {}
__attribute__((weak)) void HAL_UART_MspDeInit(UART_HandleTypeDef*) {}
__attribute__((weak)) void HAL_UARTEx_RxEventCallback(UART_HandleTypeDef*, uint16_t) {}
__attribute__((weak)) void HAL_UART_ErrorCallback(UART_HandleTypeDef*) {}

}  // extern "C"
